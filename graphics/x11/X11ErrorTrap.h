// X11ErrorTrap: keeps X errors on the editor's own display connection from
// reaching Xlib's default handler, which would end the host process.
//
// A host may destroy its window (and with it the editor's child window)
// before it closes the editor; every request on the dead window then fails
// with BadWindow or BadDrawable. A trap installs an error handler for as long
// as it lives, counts the errors of its display, passes errors of every other
// connection to the handler that was installed before, and on destruction
// waits for the server (XSync) before it puts that handler back. Traps nest:
// only the outermost one installs and restores. Used on the host's
// user-interface thread only.
#pragma once

typedef struct _XDisplay Display;

class X11ErrorTrap {
 public:
  explicit X11ErrorTrap(Display* display);
  ~X11ErrorTrap();
  X11ErrorTrap(const X11ErrorTrap&) = delete;
  X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

  // Waits for the server, then tells whether any request of this display
  // failed since the trap was made (or since the last call).
  bool Failed();

  // Counts an error of `display` in the innermost trap of that display;
  // false when no trap holds it. Called by the installed error handler.
  static bool Claim(Display* display);
  // The display is about to be closed while traps of it are still open (the
  // editor closed from inside its own event handling): they stop using it.
  static void Forget(Display* display);

 private:
  Display* display_;
  int errors_ = 0;
  X11ErrorTrap* outer_;
};
