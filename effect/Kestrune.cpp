#include "Kestrune.h"

#include "FactoryPresets.h"
#include "KestruneEditor.h"

#include "PlugParam.h"

Kestrune::Kestrune(EffectCreationArg creationArg)
    : EffectBinding(creationArg, kestrune::Identity()) {
  kestrune::InitParameters(*this);

  AttachEditor(kestrune::BuildEditor(this, &meterControlIndex));
  ShowReadingIn(meterControlIndex);

  // The programs hosts list (FactoryPresets.h): each slot holds the
  // defaults with the program's settings over them. The instance itself
  // stays at the defaults, at program 0.
  static_assert(kestrune::kPresetCount == kestrune::kProgramCount, "one slot per program");
  static_assert(kestrune::kProgramCount - kestrune::kFactoryPresetCount ==
                    kestrune::kProgramsAheadOfOldBanks,
                "older banks hold the factory programs only");
  double defaults[kestrune::kParamCount];
  for (int i = 0; i < kestrune::kParamCount; ++i) defaults[i] = ParamAt(i)->value;
  for (int p = 0; p < kestrune::kProgramCount; ++p) {
    const kestrune::FactoryPreset& program = *kestrune::ProgramAt(p);
    for (int s = 0; s < program.settingCount; ++s)
      ParamAt(program.settings[s].param)->SetClamped(program.settings[s].plainValue);
    FillEmptyPresetSlots(program.name, 1);
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
