#include "ClapParams.h"

#include <algorithm>
#include <cmath>

namespace clapparams {

namespace {
double ClampUnit(double normalized) {
  if (!(normalized >= 0.0)) return 0.0;
  return std::min(normalized, 1.0);
}
}  // namespace

double MinValue(const PlugParam& param) { return param.IsStepped() ? param.minValue : 0.0; }

double MaxValue(const PlugParam& param) { return param.IsStepped() ? param.maxValue : 1.0; }

double DefaultValue(const PlugParam& param) {
  return param.IsStepped() ? param.Constrained(param.defaultValue)
                           : param.HostNormalizedFromPlain(param.defaultValue);
}

double CurrentValue(const PlugParam& param) {
  return param.IsStepped() ? param.value : param.HostNormalizedValue();
}

double ValueFromNormalized(const PlugParam& param, double normalized) {
  return param.IsStepped() ? param.ValueAtHostNormalized(ClampUnit(normalized)) : ClampUnit(normalized);
}

double PlainFromValue(const PlugParam& param, double value) {
  return param.IsStepped() ? param.Constrained(value) : param.ValueAtHostNormalized(ClampUnit(value));
}

bool ApplyValue(IEffectBase& plug, int index, double value) {
  const PlugParam* param = plug.ParamAt(index);
  if (!param || std::isnan(value)) return false;
  if (param->IsStepped())
    return plug.SetParamFromHost(index, value, IEffectBase::ValueDomain::Plain);
  return plug.SetParamFromHost(index, value, IEffectBase::ValueDomain::Normalized);
}

void ValueText(const PlugParam& param, double value, char* text, size_t size) {
  param.HostDisplay(PlainFromValue(param, value), true, text, size);
}

bool ValueFromText(const PlugParam& param, const char* text, double* value) {
  double plain = 0;
  if (!text || !value || !param.HostParse(text, &plain)) return false;
  *value = param.IsStepped() ? param.Constrained(plain) : param.HostNormalizedFromPlain(plain);
  return true;
}

}  // namespace clapparams
