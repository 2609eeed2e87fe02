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

bool HostTextToAscii(char* out, int size, const TChar* text) {
  if (!out || size <= 0 || !text) return false;
  for (int i = 0; i < size; ++i) {
    if (text[i] == 0) {
      out[i] = '\0';
      return true;
    }
    if (text[i] > 0x7F) return false;
    out[i] = static_cast<char>(text[i]);
  }
  out[size - 1] = '\0';
  return false;
}

IEffectParameter::IEffectParameter(PlugParam* param, ParamID id, UnitID unitId, bool isBypass)
    : param_(param) {
  WidenText(info.title, 128, param->name);
  WidenText(info.shortTitle, 128, "");
  WidenText(info.units, 128, "");
  info.id = id;
  double steps = (param->maxValue - param->minValue) / param->step;
  info.stepCount = param->IsStepped() ? static_cast<int32>(std::lround(steps)) : 0;
  info.defaultNormalizedValue = param->HostNormalizedFromPlain(param->defaultValue);
  info.flags = param->automatable ? ParameterInfo::kCanAutomate : 0;
  if (param->IsStepped() && param->hostFormat == ParamHostFormat::Choices)
    info.flags |= ParameterInfo::kIsList;
  if (isBypass) info.flags |= ParameterInfo::kIsBypass;
  info.unitId = unitId;
  valueNormalized = info.defaultNormalizedValue;
  precision = param->displayPrecision;
}

void IEffectParameter::toString(ParamValue valueNormalized, String128 string) const {
  if (!string) return;
  char text[128];
  param_->HostDisplay(param_->ValueAtHostNormalized(ClampNormalized(valueNormalized)), true, text,
                      sizeof text);
  WidenText(string, 128, text);
}

bool IEffectParameter::fromString(const TChar* string, ParamValue& valueNormalized) const {
  // A String128: the parser's longest text and the terminator. A longer
  // text is refused, never cut.
  char text[PlugParam::kMaxHostText + 1];
  if (!HostTextToAscii(text, sizeof text, string)) return false;
  double plain = 0;
  if (!param_->HostParse(text, &plain)) return false;
  valueNormalized = param_->HostNormalizedFromPlain(plain);
  return true;
}

ParamValue IEffectParameter::toPlain(ParamValue valueNormalized) const {
  return param_->HostPlainFromValue(param_->ValueAtHostNormalized(ClampNormalized(valueNormalized)));
}

ParamValue IEffectParameter::toNormalized(ParamValue plainValue) const {
  return param_->HostNormalizedFromPlain(param_->ValueFromHostPlain(plainValue));
}
