// Extension data beyond the state interface (the inline display, the UI's
// needs): the hook the module's entry calls. Each extension adds its URI to
// ExtensionData and, if it follows the audio, its work to AfterRun.
#pragma once

class Kestrune;

namespace lv2extensions {

// The extension's data for `uri`, or null when the module offers none.
const void* ExtensionData(const char* uri);

// After each run, on the audio thread, with the plug-in lock released.
void AfterRun(Kestrune& plug);

}  // namespace lv2extensions
