// The editor view's link to a Linux VST3 host's run loop.
//
// On Linux a VST3 host has no global event loop to offer; it hands out a
// Steinberg::Linux::IRunLoop through the view's IPlugFrame. While the view is
// attached, this link is registered there twice: as the event handler of the
// editor's display connection (the host calls onFDIsSet when X events are
// waiting) and as a timer at the editor's frame rate (redraw ticks). Both run
// on the host's user-interface thread and reach the editor through
// X11EventPump; nothing else drives it. Detach unregisters both, and an
// unregistered link never calls the editor again, even if the host still
// holds a reference to it.
#pragma once

#include "pluginterfaces/gui/iplugview.h"

class X11EventPump;

class X11RunLoopLink : public Steinberg::Linux::IEventHandler,
                       public Steinberg::Linux::ITimerHandler {
 public:
  // Registers with the run loop of `frame`; null when the frame offers none
  // or refuses either registration (nothing stays registered then).
  static X11RunLoopLink* Attach(Steinberg::IPlugFrame* frame, X11EventPump* pump);
  // Unregisters, forgets the editor, and drops the creator's reference.
  void Detach();

  void PLUGIN_API onFDIsSet(Steinberg::Linux::FileDescriptor fd) SMTG_OVERRIDE;
  void PLUGIN_API onTimer() SMTG_OVERRIDE;

  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) SMTG_OVERRIDE;
  Steinberg::uint32 PLUGIN_API addRef() SMTG_OVERRIDE;
  Steinberg::uint32 PLUGIN_API release() SMTG_OVERRIDE;

 private:
  X11RunLoopLink() = default;
  virtual ~X11RunLoopLink() = default;

  Steinberg::Linux::IRunLoop* runLoop_ = nullptr;
  X11EventPump* pump_ = nullptr;
  bool eventsRegistered_ = false;
  bool timerRegistered_ = false;
  Steinberg::int32 refs_ = 1;
};
