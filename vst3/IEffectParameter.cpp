#include "IEffectParameter.h"

#include <cmath>
#include <cstdlib>

#include "SingleComponentEffect.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

double ClampNormalized(double normalized) {
  if (!(normalized >= 0.0)) return 0.0;
  return normalized > 1.0 ? 1.0 : normalized;
}

IEffectParameter::IEffectParameter(PlugParam* param, ParamID id, UnitID unitId) : param_(param) {
  WidenText(info.title, 128, param->name);
  WidenText(info.shortTitle, 128, "");
  WidenText(info.units, 128, param->HostFixedUnit());
  info.id = id;
  info.stepCount =
      param->kind == ParamKindContinuous ? 0 : static_cast<int32>(param->maxValue - param->minValue);
  info.defaultNormalizedValue = param->NormalizedFromPlain(param->defaultValue);
  info.flags = param->automatable ? ParameterInfo::kCanAutomate : 0;
  info.unitId = unitId;
  valueNormalized = info.defaultNormalizedValue;
  precision = param->displayPrecision;
}

void IEffectParameter::toString(ParamValue valueNormalized, String128 string) const {
  if (!string) return;
  char text[128];
  // The unit travels in the parameter information when it is the same for
  // every value; otherwise ("Hz" / "kHz") the text carries it.
  bool unitInText = param_->HostFixedUnit()[0] == '\0';
  param_->HostDisplay(param_->PlainFromNormalized(ClampNormalized(valueNormalized)), unitInText,
                      text, sizeof text);
  WidenText(string, 128, text);
}

bool IEffectParameter::fromString(const TChar* string, ParamValue& valueNormalized) const {
  if (!string) return false;
  char text[128];
  NarrowText(text, sizeof text, string);
  double plain = 0;
  if (!param_->HostParse(text, &plain)) return false;
  valueNormalized = toNormalized(plain);
  return true;
}

ParamValue IEffectParameter::toPlain(ParamValue valueNormalized) const {
  return param_->PlainFromNormalized(ClampNormalized(valueNormalized));
}

ParamValue IEffectParameter::toNormalized(ParamValue plainValue) const {
  return param_->NormalizedFromPlain(plainValue);
}
