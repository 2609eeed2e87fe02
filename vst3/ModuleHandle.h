// The plug-in module's own handle (an HMODULE on Windows, the dlopen handle
// on Linux), recorded by the module entry. The editor window needs it to find
// the module's image resources: the host's own module handle would find none.
#pragma once

void SetPluginModuleHandle(void* handle);
void* PluginModuleHandle();
