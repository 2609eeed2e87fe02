// The plug-in module's own instance handle (an HMODULE on Windows, captured
// by DllMain; null on Linux). The editor window loads the editor's images
// from the resources of this module, not of the host executable.
#pragma once

extern void* gKestruneModule;
