// Xlib for the window layer. Xlib's typedef KeyCode collides with the
// editor's own KeyCode enumeration: inside the window layer Xlib's is seen
// as XlibKeyCode (the same unsigned char). Include this after the editor's
// headers, so that Xlib's macros (None, True, Status, ...) cannot touch them.
#pragma once

#define KeyCode XlibKeyCode
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/Xresource.h>
#include <X11/keysym.h>
#include <X11/extensions/XShm.h>
#undef KeyCode
