#include "X11ErrorTrap.h"

#include "XlibIncludes.h"

namespace {

// The innermost trap (traps form a stack through outer_) and the handler in
// force before the outermost one. Only touched on the user-interface thread.
X11ErrorTrap* gInnermost = nullptr;
XErrorHandler gPrevious = nullptr;

int X11ErrorTrapHandler(Display* display, XErrorEvent* event);

}  // namespace

namespace {
int X11ErrorTrapHandler(Display* display, XErrorEvent* event) {
  if (X11ErrorTrap::Claim(display)) return 0;
  return gPrevious ? gPrevious(display, event) : 0;
}
}  // namespace

bool X11ErrorTrap::Claim(Display* display) {
  for (X11ErrorTrap* trap = gInnermost; trap; trap = trap->outer_) {
    if (trap->display_ == display) {
      ++trap->errors_;
      return true;
    }
  }
  return false;
}

void X11ErrorTrap::Forget(Display* display) {
  for (X11ErrorTrap* trap = gInnermost; trap; trap = trap->outer_)
    if (trap->display_ == display) trap->display_ = nullptr;
}

X11ErrorTrap::X11ErrorTrap(Display* display) : display_(display), outer_(gInnermost) {
  if (!outer_) gPrevious = XSetErrorHandler(X11ErrorTrapHandler);
  gInnermost = this;
}

X11ErrorTrap::~X11ErrorTrap() {
  if (display_) XSync(display_, False);
  gInnermost = outer_;
  if (!outer_) {
    XSetErrorHandler(gPrevious);
    gPrevious = nullptr;
  }
}

bool X11ErrorTrap::Failed() {
  if (!display_) return true;
  XSync(display_, False);
  const bool failed = errors_ != 0;
  errors_ = 0;
  return failed;
}
