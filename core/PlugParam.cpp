#include "PlugParam.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void CopyText(char* dst, size_t dstSize, const char* src) {
  if (!dst || dstSize == 0) return;
  if (!src) src = "";
  size_t n = strnlen(src, dstSize - 1);
  memcpy(dst, src, n);
  dst[n] = '\0';
}

void PlugParam::InitContinuous(const char* newName, double defaultVal, double minVal,
                               double maxVal, double newStep, const char* newLabel,
                               const char* group, double newShape) {
  if (kind == ParamKindUnset) kind = ParamKindContinuous;
  CopyText(name, sizeof name, newName);
  CopyText(label, sizeof label, newLabel);
  CopyText(groupName, sizeof groupName, group);
  minValue = minVal;
  value = defaultVal;
  defaultValue = defaultVal;
  step = newStep;
  maxValue = std::max(minVal + newStep, maxVal);

  // Decimals shown: how many times the step must be scaled by ten to become a
  // whole number, in double arithmetic, capped so inexact steps stop at 6.
  displayPrecision = 0;
  double s = newStep;
  while (s != std::floor(s) && displayPrecision < kMaxPrecision) {
    ++displayPrecision;
    s *= 10.0;
  }
  if (newShape != 0) shape = newShape;
}

void PlugParam::InitInteger(const char* newName, double defaultVal, double minVal,
                            double maxVal, const char* newLabel) {
  if (kind == ParamKindUnset) kind = ParamKindInteger;
  InitContinuous(newName, defaultVal, minVal, maxVal, 1.0, newLabel, "", 1.0);
}

double PlugParam::Constrained(double plain) const {
  // Written so that a NaN lands on the minimum rather than passing through.
  double v = !(plain >= minValue) ? minValue : plain > maxValue ? maxValue : plain;
  if (IsStepped()) v = std::fmin(std::floor(v / step + 0.5) * step, maxValue);
  return v;
}

double PlugParam::ValueAtNormalized(double normalized) const {
  return Constrained(PlainFromNormalized(normalized));
}

double PlugParam::NormalizedFromPlain(double plain) const {
  double v = Constrained(plain);
  return std::pow((v - minValue) / (maxValue - minValue), 1.0 / shape);
}

double PlugParam::PlainFromNormalized(double normalized) const {
  return std::pow(normalized, shape) * (maxValue - minValue) + minValue;
}

void PlugParam::SetFromNormalized(double normalized) {
  if (std::isnan(normalized)) return;
  if (IsStepped()) {
    value = ValueAtNormalized(normalized);
    return;
  }
  if (IsCurrentNormalized(normalized)) return;
  value = std::min(PlainFromNormalized(normalized), maxValue);
}

bool PlugParam::IsCurrentNormalized(double normalized) const {
  // Hosts hand back the normalized form of the current value (after a state
  // load, or echoing what they read), many of them kept as a float (Ardour
  // reopening a session, every VST2 host). Converting it back through the
  // curve can land a rounding step away; the value must stay exactly as it
  // is. A change smaller than a float's precision is no change to a host.
  const double current = NormalizedValue();
  return normalized == current || static_cast<float>(normalized) == static_cast<float>(current);
}

bool PlugParam::HostRunsReversed() const {
  return HostPlainFromValue(maxValue) < HostPlainFromValue(minValue);
}

double PlugParam::HostNormalizedFromNormalized(double normalized) const {
  return HostRunsReversed() ? 1.0 - normalized : normalized;
}

double PlugParam::HostNormalizedFromPlain(double plain) const {
  return HostNormalizedFromNormalized(NormalizedFromPlain(plain));
}

double PlugParam::ValueAtHostNormalized(double hostNormalized) const {
  return ValueAtNormalized(HostNormalizedFromNormalized(hostNormalized));
}

void PlugParam::SetFromHostNormalized(double hostNormalized) {
  if (!HostRunsReversed()) {
    SetFromNormalized(hostNormalized);
    return;
  }
  if (std::isnan(hostNormalized)) return;
  // The echo test in the host's own terms: the float a host keeps of
  // 1 - n is not the float of n mirrored.
  const double current = HostNormalizedValue();
  if (hostNormalized == current ||
      static_cast<float>(hostNormalized) == static_cast<float>(current))
    return;
  value = std::min(ValueAtHostNormalized(hostNormalized), maxValue);
}

void PlugParam::SetClamped(double plain) { value = Constrained(plain); }

static int TruncateToInt(double v) {
  if (!(v > -2147483648.0 && v < 2147483648.0)) return 0;
  return static_cast<int>(v);
}

void PlugParam::FormatValue(double v, bool isNormalized, bool useValueTexts, char* out,
                            size_t outSize) const {
  if (!out || outSize == 0) return;
  if (isNormalized) v = PlainFromNormalized(v);
  if (useValueTexts && !valueTexts.empty()) {
    const char* text = ValueTextFor(TruncateToInt(v));
    if (text && text[0]) {
      CopyText(out, outSize, text);
      return;
    }
  }
  if (negateDisplay) v = -v;
  if (displayPrecision > 0)
    snprintf(out, outSize, "%.*f", displayPrecision, v);
  else
    snprintf(out, outSize, "%d", TruncateToInt(v));
}

const char* PlugParam::HostLabel() const {
  const char* text = ValueTextFor(TruncateToInt(value));
  if (text && text[0]) return "";
  return label;
}

const char* PlugParam::ValueTextFor(int v) const {
  for (const ValueText& vt : valueTexts)
    if (vt.value == v) return vt.text;
  return nullptr;
}

bool PlugParam::ParseForHost(const char* text, double* plainOut) const {
  if (!text || !plainOut) return false;
  if (valueTexts.empty()) {
    double v = atof(text);
    *plainOut = negateDisplay ? -v : v;
    return true;
  }
  for (const ValueText& vt : valueTexts) {
    if (strcmp(vt.text, text) == 0) {
      *plainOut = vt.value;
      return true;
    }
  }
  return false;
}

void PlugParam::AddValueText(int v, const char* text) {
  ValueText vt;
  vt.value = v;
  CopyText(vt.text, sizeof vt.text, text);
  valueTexts.push_back(vt);
}
