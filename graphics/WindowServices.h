// Pieces of the window layer's services that involve no window system: what
// the text-entry box accepts and what its text means, and the labels of
// popup menu items. Shared by every window layer (win/, x11/).
#pragma once

#include <string>

class PlugParam;

namespace window_services {

// True when the entry box of `param` takes this character: anything without
// a parameter; otherwise digits and signs, and the decimal point for
// continuous parameters.
bool EntryAcceptsChar(const PlugParam* param, unsigned int character);

// The plain value typed text stands for: for boolean and enumerated
// parameters with display texts the value of the text equal to it (0 when
// none is); otherwise the text read as a decimal number, negated when the
// parameter shows negated values.
double PlainFromEntryText(const PlugParam& param, const char* text);

// Item text with its number prefix: kind 1 "%1d: %s", 2 "%02d: %s",
// 3 "%03d: %s", otherwise the text alone. `number` counts from 1.
std::string MenuItemLabel(int prefixKind, int number, const std::string& text);

}  // namespace window_services
