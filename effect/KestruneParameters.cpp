#include "KestruneIdentity.h"

namespace kestrune {

namespace {
void InitSwitch(PlugParam& p, const char* name, double defaultValue) {
  p.InitInteger(name, defaultValue, 0, 1, "");
  p.SetCurveShape(1);
}

void InitKnob(PlugParam& p, const char* name, double defaultValue, double minValue,
              double maxValue, double step, double shape) {
  p.InitContinuous(name, defaultValue, minValue, maxValue, step, "%", "", shape);
  p.SetCurveShape(shape);
}
}  // namespace

void InitParameters(IEffectBase& plug) {
  InitSwitch(*plug.ParamAt(kBypass), "BYPASS", 0);
  InitSwitch(*plug.ParamAt(kSlam), "SLAM", 0);
  InitSwitch(*plug.ParamAt(kSidechain), "Sidechain", 1);
  InitKnob(*plug.ParamAt(kOutput), "OUTPUT", 0, -30, 30, 0.01, 1);
  InitKnob(*plug.ParamAt(kInput), "INPUT", 0, 0, 80, 0.01, 1);
  InitKnob(*plug.ParamAt(kHpf), "HPF", 20, 20, 500, 0.01, 1);
  InitKnob(*plug.ParamAt(kMix), "MIX", 100, 0, 100, 0.01, 1);
  InitKnob(*plug.ParamAt(kAttack), "ATTACK", -0.0009, -0.001, 0, 0.001, 2);
  InitKnob(*plug.ParamAt(kRelease), "RELEASE", -0.4, -0.85, -0.02, 0.01, 2);

  PlugParam& ratio = *plug.ParamAt(kRatio);
  ratio.InitInteger("RATIO", 0, 0, 3, "");
  ratio.SetCurveShape(1);

  InitKnob(*plug.ParamAt(kHf), "HF", 0, -16, 0, 0.01, 1);
  InitKnob(*plug.ParamAt(kMidFreq), "MID FREQ", 500, 500, 10000, 0.01, 1);
  InitKnob(*plug.ParamAt(kMidGain), "MID GAIN", 0, -6, 6, 0.01, 1);

  // The oversampling switch keeps the base's defaults (an unset kind, which
  // behaves as stepped, range 0 to 1); it only gets the name hosts list it by.
  CopyText(plug.ParamAt(kOversampling)->name, PlugParam::kTextSize, "OVERSAMPLING");

  // What hosts show and accept, in the musician's units; the values, ranges
  // and curves above are unchanged by it.
  plug.ParamAt(kInput)->SetHostFormat(ParamHostFormat::DriveDecibels);
  plug.ParamAt(kOutput)->SetHostFormat(ParamHostFormat::Decibels);
  plug.ParamAt(kAttack)->SetHostFormat(ParamHostFormat::MillisecondsNegated);
  plug.ParamAt(kRelease)->SetHostFormat(ParamHostFormat::MillisecondsNegated);
  plug.ParamAt(kRatio)->SetHostFormat(ParamHostFormat::Choices, {"4:1", "8:1", "12:1", "20:1"});
  plug.ParamAt(kHpf)->SetHostFormat(ParamHostFormat::Hertz);
  plug.ParamAt(kMix)->SetHostFormat(ParamHostFormat::Percent);
  plug.ParamAt(kMidFreq)->SetHostFormat(ParamHostFormat::Hertz);
  plug.ParamAt(kMidGain)->SetHostFormat(ParamHostFormat::Decibels);
  plug.ParamAt(kHf)->SetHostFormat(ParamHostFormat::DecibelsNegated);
  plug.ParamAt(kBypass)->SetHostFormat(ParamHostFormat::Choices, {"Off", "On"});
  plug.ParamAt(kSlam)->SetHostFormat(ParamHostFormat::Choices, {"Off", "On"});
  plug.ParamAt(kOversampling)->SetHostFormat(ParamHostFormat::Choices, {"4x", "16x"});
  plug.ParamAt(kSidechain)->SetHostFormat(ParamHostFormat::Choices, {"EXT", "INT"});
}

}  // namespace kestrune
