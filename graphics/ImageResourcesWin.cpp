// Image resources on Windows: PNG data of type "PNG" in the module's own
// resources, found by number in the module that holds this code (the
// plug-in, not the host).
#include <windows.h>

#include "IGraphics.h"

static HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
}

bool FindImageResource(int resourceId, const unsigned char** data, size_t* length) {
  if (!data || !length) return false;
  HMODULE module = ThisModule();
  HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(resourceId), "PNG");
  if (!resource) return false;
  DWORD size = SizeofResource(module, resource);
  HGLOBAL handle = LoadResource(module, resource);
  const void* bytes = handle ? LockResource(handle) : nullptr;
  if (!bytes) return false;
  *data = static_cast<const unsigned char*>(bytes);
  *length = size;
  return true;
}
