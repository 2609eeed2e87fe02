// Small Windows facts shared by the window layer, the text code and the
// image loader.
#pragma once

#include <windows.h>

// True when the process runs under Wine (HKLM\Software\Wine exists); tested
// once per process.
bool RunningUnderWine();

// The plug-in module's own handle (not the host executable's): the one the
// module's entry recorded in gKestruneModule, else the module that holds
// this code, which is the same module.
HMODULE PluginModuleHandle();
