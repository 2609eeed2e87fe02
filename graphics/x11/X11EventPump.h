// X11EventPump: what a Linux host's event loop has to drive in an open
// editor. The editor runs no thread and no timer of its own: the format
// bindings call these from the host's user-interface thread, the VST3 view
// from the host's run loop (the display connection's file descriptor and a
// timer), the VST2 binding from effEditIdle.
//
// Header only, so the bindings reach it through the editor object they hold
// (dynamic_cast) without linking the window layer themselves.
#pragma once

class X11EventPump {
 public:
  virtual ~X11EventPump() = default;

  // File descriptor of the editor's display connection; -1 while closed.
  virtual int ConnectionFd() const = 0;
  // Handles every X event that has arrived for the editor.
  virtual void HandlePendingEvents() = 0;
  // One redraw tick: the entry box's state, then the controls that changed.
  virtual void RedrawTick() = 0;
  // Milliseconds between redraw ticks: trunc(1000 / frame rate).
  virtual int TickIntervalMs() const = 0;
  // For hosts that only call an idle entry: events, then a redraw tick when
  // the interval has passed since the last one.
  virtual void Idle() = 0;
};
