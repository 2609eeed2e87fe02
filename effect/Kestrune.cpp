#include "Kestrune.h"

Kestrune::Kestrune(EffectCreationArg creationArg)
    : EffectBinding(creationArg, kestrune::Identity()) {
  kestrune::InitParameters(*this);

  // The editor is built and attached here once the graphics layer exists.

  FillEmptyPresetSlots("-", 1);
}

Kestrune::~Kestrune() = default;

void Kestrune::ResetProcessing() { EffectBinding::ResetProcessing(); }

void Kestrune::ParamChanged(int index) { EffectBinding::ParamChanged(index); }

void Kestrune::ProcessBlock(double** inputs, double** outputs, int frames) {
  EffectBinding::ProcessBlock(inputs, outputs, frames);
}
