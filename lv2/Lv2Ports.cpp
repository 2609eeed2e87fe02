#include "Lv2Ports.h"

#include <cmath>
#include <cstring>

namespace lv2ports {

const AudioPort kAudioPorts[6] = {
    {kMainInLeft, "in_left", "In Left", true, false},
    {kMainInRight, "in_right", "In Right", true, false},
    {kSideInLeft, "sidechain_left", "Sidechain Left", true, true},
    {kSideInRight, "sidechain_right", "Sidechain Right", true, true},
    {kOutLeft, "out_left", "Out Left", false, false},
    {kOutRight, "out_right", "Out Right", false, false},
};

namespace {

const char* const kParamSymbols[kestrune::kParamCount] = {
    "input",     // kInput
    "output",    // kOutput
    "attack",    // kAttack
    "release",   // kRelease
    "ratio",     // kRatio
    "hpf",       // kHpf
    "mix",       // kMix
    "mid_freq",  // kMidFreq
    "mid_gain",  // kMidGain
    "hf",        // kHf
    "enabled",   // kBypass, as lv2:enabled
    "slam",      // kSlam
    "oversampling",  // kOversampling
    "sidechain",     // kSidechain
};

bool IsEnabledPort(const IEffectBase& plug, int index) {
  return index >= 0 && index == plug.BypassParamIndex();
}

bool IsOffOnSwitch(const PlugParam& p) {
  return p.IsStepped() && p.minValue == 0 && p.maxValue == 1 && p.hostChoices.size() == 2 &&
         std::strcmp(p.hostChoices[0], "Off") == 0 && std::strcmp(p.hostChoices[1], "On") == 0;
}

PortUnit UnitOf(const PlugParam& p) {
  switch (p.hostFormat) {
    case ParamHostFormat::Decibels:
    case ParamHostFormat::DecibelsNegated:
    case ParamHostFormat::DriveDecibels: return PortUnit::Decibels;
    case ParamHostFormat::Percent: return PortUnit::Percent;
    case ParamHostFormat::Hertz: return PortUnit::Hertz;
    case ParamHostFormat::MillisecondsNegated: return PortUnit::Milliseconds;
    default: return PortUnit::None;
  }
}

// The decimal with the fewest digits that reads back as `value`, as the
// nearest double: the number a host shows and stores for a port ("0.8", not
// 0.800000011920929), so a typed or saved value means what it says in every
// format. No text formatting: this runs on the audio thread.
double ShortestDecimal(float value) {
  if (!std::isfinite(value) || value == 0.0f) return value;
  const double v = value;
  const int magnitude = static_cast<int>(std::floor(std::log10(std::fabs(v))));
  for (int digits = 1; digits <= 9; ++digits) {
    const int decimals = digits - 1 - magnitude;
    if (decimals < -22 || decimals > 22) break;
    const double scale = std::pow(10.0, std::abs(decimals));  // exact up to 1e22
    const double mantissa = decimals >= 0 ? std::nearbyint(v * scale) : std::nearbyint(v / scale);
    const double candidate = decimals >= 0 ? mantissa / scale : mantissa * scale;
    if (static_cast<float>(candidate) == value) return candidate;
  }
  return v;
}

}  // namespace

float GainReductionDb(double meterReading) {
  // The meter follows 1 - gain; at or past full scale the reduction is off
  // the port's range.
  if (!(meterReading > 0)) return 0.0f;
  if (meterReading >= 1) return kMaxGainReductionDb;
  const double db = -20.0 * std::log10(1.0 - meterReading);
  return static_cast<float>(std::fmin(db, kMaxGainReductionDb));
}

const char* ParamSymbol(int index) {
  return index >= 0 && index < kestrune::kParamCount ? kParamSymbols[index] : nullptr;
}

bool IsValidSymbol(const std::string& symbol) {
  if (symbol.empty()) return false;
  for (size_t i = 0; i < symbol.size(); ++i) {
    const char c = symbol[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    if (!letter && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return true;
}

float PortValueFor(const IEffectBase& plug, int index, double plain) {
  const PlugParam* p = plug.ParamAt(index);
  if (!p) return 0.0f;
  const double v = p->Constrained(plain);
  if (IsEnabledPort(plug, index)) return static_cast<float>(p->maxValue + p->minValue - v);
  return static_cast<float>(p->HostPlainFromValue(v));
}

bool PlainFromPortValue(const IEffectBase& plug, int index, float portValue, double* plain) {
  const PlugParam* p = plug.ParamAt(index);
  if (!p || !plain || std::isnan(portValue)) return false;
  if (IsEnabledPort(plug, index)) {
    // The step of the enabled value, then the bypass that is its opposite.
    *plain = p->maxValue + p->minValue - p->Constrained(portValue);
    return true;
  }
  *plain = p->Constrained(p->ValueFromHostPlain(ShortestDecimal(portValue)));
  return true;
}

ControlPort DescribeParamPort(const IEffectBase& plug, int index) {
  ControlPort port;
  const PlugParam* p = plug.ParamAt(index);
  if (!p) return port;
  port.index = kFirstParamPort + static_cast<uint32_t>(index);
  port.symbol = ParamSymbol(index) ? ParamSymbol(index) : "";
  port.enabledDesignation = IsEnabledPort(plug, index);
  port.name = port.enabledDesignation ? "Enabled" : p->name;
  if (port.name.empty()) port.name = "Parameter " + std::to_string(index);
  const double atMin = PortValueFor(plug, index, p->minValue);
  const double atMax = PortValueFor(plug, index, p->maxValue);
  port.minimum = std::fmin(atMin, atMax);
  port.maximum = std::fmax(atMin, atMax);
  port.defaultValue = PortValueFor(plug, index, p->defaultValue);
  port.unit = UnitOf(*p);
  port.integer = p->IsStepped();
  port.toggled = port.enabledDesignation || IsOffOnSwitch(*p);
  port.logarithmic = !p->IsStepped() && p->hostFormat == ParamHostFormat::Hertz && port.minimum > 0;
  if (p->IsStepped() && !port.toggled && p->hostFormat == ParamHostFormat::Choices) {
    port.enumeration = true;
    for (size_t c = 0; c < p->hostChoices.size(); ++c) {
      const double plainValue = p->minValue + static_cast<double>(c) * p->step;
      if (plainValue > p->maxValue) break;
      port.scalePoints.push_back({PortValueFor(plug, index, plainValue), p->hostChoices[c]});
    }
  }
  return port;
}

}  // namespace lv2ports
