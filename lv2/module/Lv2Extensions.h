// Extension data beyond the state interface (the inline display, the UI's
// needs): the hook the module's entry calls. Each extension adds its URI to
// ExtensionData and, if it follows the audio, its work to AfterRun.
#pragma once

#include <lv2/core/lv2.h>

class Kestrune;

namespace lv2extensions {

// At the end of instantiate, with the host's features: what each extension
// keeps per instance. False when it could not be made (out of memory).
bool Attach(Kestrune& plug, const LV2_Feature* const* features);

// The extension's data for `uri`, or null when the module offers none.
const void* ExtensionData(const char* uri);

// After each run, on the audio thread, with the plug-in lock released.
void AfterRun(Kestrune& plug);

}  // namespace lv2extensions
