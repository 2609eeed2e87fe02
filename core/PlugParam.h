// PlugParam: one host-visible parameter of the plug-in.
//
// Holds the plain value (in the parameter's own unit, which the effect reads),
// its range, step and normalisation curve, and the texts hosts and the editor
// show. Hosts and controls speak normalised values in [0, 1]; the parameter
// converts with a power curve of exponent `shape`.
//
// Threading: a PlugParam has no lock of its own. Every reader and writer holds
// the owning IEffectBase's plug-in lock while touching it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum ParamKind : int32_t {
  ParamKindUnset = 0,       // not yet initialised; behaves as a stepped kind
  ParamKindInteger = 2,
  ParamKindContinuous = 4,
};

struct ValueText {
  int32_t value = 0;
  char text[32] = {};
};

class PlugParam {
 public:
  static constexpr int kTextSize = 32;      // name, label, group: 31 chars + NUL
  static constexpr int kMaxPrecision = 6;

  // Initialisers, called once per parameter by the effect's constructor.
  void InitContinuous(const char* name, double defaultVal, double minVal, double maxVal,
                      double step, const char* label, const char* group, double shape);
  void InitInteger(const char* name, double defaultVal, double minVal, double maxVal,
                   const char* label);
  void SetCurveShape(double shape) { this->shape = shape; }

  // Conversions between the plain value and the normalised [0, 1] value.
  double NormalizedValue() const { return NormalizedFromPlain(value); }
  // Any plain value limited to the range and mapped through the curve; a NaN
  // reads as the minimum.
  double NormalizedFromPlain(double plain) const;
  double PlainFromNormalized(double normalized) const;
  // Host automation and editor gestures. A NaN is ignored: it would
  // otherwise become the value and reach the audio.
  void SetFromNormalized(double normalized);
  void SetClamped(double plain);               // restored state and typed values

  // Display. `out` must hold at least `outSize` bytes; the text is always
  // terminated and never longer than outSize - 1.
  void FormatValue(double v, bool isNormalized, bool useValueTexts, char* out,
                   size_t outSize) const;
  const char* HostLabel() const;
  const char* ValueTextFor(int value) const;   // nullptr when none matches
  bool ParseForHost(const char* text, double* plainOut) const;
  void AddValueText(int value, const char* text);

  ParamKind kind = ParamKindUnset;
  double value = 0;
  double minValue = 0;
  double maxValue = 1;
  double step = 1;
  double shape = 1;
  double defaultValue = 0;
  int32_t displayPrecision = 0;
  char name[kTextSize] = {};
  char label[kTextSize] = {};
  char groupName[kTextSize] = {};
  bool negateDisplay = false;
  bool automatable = true;
  std::vector<ValueText> valueTexts;
};

// Copies `src` into `dst` (of `dstSize` bytes), cutting it to fit and always
// terminating it. Shared by every fixed-size text field of the core.
void CopyText(char* dst, size_t dstSize, const char* src);
