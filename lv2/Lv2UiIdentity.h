// The LV2 UI's identity, shared by the UI module and the TTL generator.
#pragma once

namespace lv2ui {

constexpr const char* kUiUri = "urn:marlowind:kestrune#ui";
constexpr const char* kUiBinaryName = "Kestrune_ui.so";

}  // namespace lv2ui
