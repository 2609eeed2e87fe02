#include "Lv2Extensions.h"

#include "Kestrune.h"

namespace lv2extensions {

const void* ExtensionData(const char*) { return nullptr; }

void AfterRun(Kestrune&) {}

}  // namespace lv2extensions
