// EditorLink: what the plug-in base needs of its editor.
//
// The base owns the editor object but must not depend on the graphics
// library, so the editor (IGraphics) implements this small interface.
//
// Threads: the editor's controls belong to the user-interface thread. Values
// from the plug-in side cross to it only through EditorFeeds: any thread (the
// audio thread included) posts a value into a feed without waiting, and the
// editor takes the latest of each feed on its redraw tick (ShowPendingValues)
// or before it draws. Nothing else of the editor is touched from another
// thread.
#pragma once

#include <atomic>

// One value crossing to the editor, lock-free: a later post replaces an
// earlier one the editor has not taken yet.
class EditorFeed {
 public:
  void Post(double value) {
    value_.store(value, std::memory_order_relaxed);
    fresh_.store(true, std::memory_order_release);
  }
  // The latest value, when one was posted since the last call.
  bool Take(double* value) {
    if (!fresh_.exchange(false, std::memory_order_acquire)) return false;
    *value = value_.load(std::memory_order_relaxed);
    return true;
  }

 private:
  std::atomic<double> value_{0.0};
  std::atomic<bool> fresh_{false};
};
static_assert(std::atomic<double>::is_always_lock_free, "the audio thread must not lock");

// Every operation has a do-nothing default (no controls, no window, size
// 0 x 0), for an editor without a window such as the web page's.
class IEditorLink {
 public:
  virtual ~IEditorLink() = default;

  // Posts a parameter's value for every control bound to it, and for the
  // first auxiliary binding on it of each control that has such bindings. A
  // plain value is first converted to its normalised form. Any thread.
  virtual void ShowParameterValue(int paramIndex, double value, bool isNormalized) {
    (void)paramIndex;
    (void)value;
    (void)isNormalized;
  }
  // From now on the control shows the values posted into `feed` (a meter);
  // the feed outlives the editor. Called before the editor is shared.
  virtual void FollowFeed(int controlIndex, EditorFeed* feed) {
    (void)controlIndex;
    (void)feed;
  }
  // Hands what was posted since the last call to the controls. The
  // user-interface thread, or the owner before the editor is shared.
  virtual void ShowPendingValues() {}

  // Number of controls, and a direct value for one of them. The
  // user-interface thread.
  virtual int ControlCount() const { return 0; }
  virtual void SetControlValue(int controlIndex, double normalized) {
    (void)controlIndex;
    (void)normalized;
  }

  // Creates the back buffer the editor composes into; called once on attach.
  virtual void CreateBackBuffer() {}

  // Editor size in pixels, reported to hosts.
  virtual int Width() const { return 0; }
  virtual int Height() const { return 0; }

  // Opens the editor window as a child of the host's native window (an HWND
  // on Windows); false when it cannot. Called on the user-interface thread.
  virtual bool OpenWindow(void* parentWindow) {
    (void)parentWindow;
    return false;
  }
  virtual void CloseWindow() {}
};
