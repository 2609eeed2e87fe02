// The plug-in module's own handle: an HMODULE on Windows (recorded by DllMain
// and InitDll), the handle ModuleEntry receives on Linux. The editor window
// loads the editor's images from this module's resources, not from the host
// executable's. The VST2 module records its handle under the same name.
#pragma once

extern void* gKestruneModule;
