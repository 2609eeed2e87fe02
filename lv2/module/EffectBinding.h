// Binds the Kestrune effect to the LV2 binding for the LV2 module.
#pragma once

#include <memory>

#include "IEffectLV2.h"

class InlineDisplay;

// The LV2 binding with what the module's extensions keep per instance
// (Lv2Extensions).
class Lv2ModuleBinding : public IEffectLV2 {
 public:
  // Both out of line, where InlineDisplay is complete (Lv2Extensions.cpp).
  Lv2ModuleBinding(const Lv2CreationArg& arg, const EffectIdentity& identity);
  ~Lv2ModuleBinding() override;

  // Ardour's inline display; null until Attach.
  std::unique_ptr<InlineDisplay> inlineDisplay;
};

using EffectBinding = Lv2ModuleBinding;
using EffectCreationArg = const Lv2CreationArg&;
