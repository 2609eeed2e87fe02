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
}

}  // namespace kestrune
