#include "Kestrune.h"

#include "FactoryPresets.h"
#include "KestruneEditor.h"

#include "PlugParam.h"

Kestrune::Kestrune(EffectCreationArg creationArg)
    : EffectBinding(creationArg, kestrune::Identity()) {
  kestrune::InitParameters(*this);

  AttachEditor(kestrune::BuildEditor(this, &meterControlIndex));
  ShowReadingIn(meterControlIndex);

  // The factory presets are the programs hosts list: each slot holds the
  // defaults with the preset's settings over them. The instance itself stays
  // at the defaults.
  static_assert(kestrune::kPresetCount == kestrune::kFactoryPresetCount,
                "one program per factory preset");
  double defaults[kestrune::kParamCount];
  for (int i = 0; i < kestrune::kParamCount; ++i) defaults[i] = ParamAt(i)->value;
  for (const kestrune::FactoryPreset& preset : kestrune::kFactoryPresets) {
    for (int s = 0; s < preset.settingCount; ++s)
      ParamAt(preset.settings[s].param)->SetClamped(preset.settings[s].plainValue);
    FillEmptyPresetSlots(preset.name, 1);
    for (int i = 0; i < kestrune::kParamCount; ++i) ParamAt(i)->value = defaults[i];
  }
}

Kestrune::~Kestrune() = default;

void Kestrune::ResetProcessing() {
  PlugLockGuard guard(*this);
  path.Reset();
}

void Kestrune::ParamChanged(int index) {
  PlugLockGuard guard(*this);
  const PlugParam* param = ParamAt(index);
  if (param) kestrune::ApplyParamChange(path.params, index, param->value);
}

namespace {
int IntegerValue(const PlugParam* param) {
  return param ? kestrune::TruncateToInt32(param->value) : 0;
}
}  // namespace

void Kestrune::ProcessBlock(double** inputs, double** outputs, int frames) {
  if (!inputs || !outputs || InputChannelCount() < 4 || OutputChannelCount() < 2) return;
  for (int i = 0; i < 4; ++i)
    if (!inputs[i]) return;
  if (!outputs[0] || !outputs[1]) return;

  kestrune::BlockSettings settings;
  settings.sampleRate = SampleRate();
  settings.slam = IntegerValue(ParamAt(kestrune::kSlam));
  settings.sidechain = IntegerValue(ParamAt(kestrune::kSidechain));
  settings.bypass = IntegerValue(ParamAt(kestrune::kBypass));
  settings.meter = ReadingFeed();
  path.Process(settings, inputs, outputs, frames);
}
