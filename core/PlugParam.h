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

// How hosts show and type a parameter's value, in the musician's unit. The
// plain value stays in the parameter's own unit (seconds negated, shelf
// value negated, index of a choice); only the host-facing text differs.
enum class ParamHostFormat : int32_t {
  Number = 0,          // FormatValue and the label, as the editor shows them
  Decibels,            // "+6.00" dB, signed
  DecibelsNegated,     // the plain value negated, shown as signed dB
  DriveDecibels,       // "18.00" dB, no sign
  Percent,             // "50.00" %
  Hertz,               // "120.0" Hz, "2.50" kHz from 1000 Hz up
  MillisecondsNegated, // plain seconds negated, shown as positive ms
  Choices,             // one text per whole value: hostChoices[value - minValue]
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

  // Stepped kinds (integer and unset) move in whole steps; continuous ones
  // take any value in their range.
  bool IsStepped() const { return kind != ParamKindContinuous; }
  // The value a plain value stands for: limited to the range (a NaN reads as
  // the minimum) and, for a stepped kind, the nearest step, half up. The one
  // rule every path follows, so what is shown, saved and processed agree.
  double Constrained(double plain) const;
  // The value a normalised value selects: the curve, then Constrained.
  double ValueAtNormalized(double normalized) const;

  // Conversions between the plain value and the normalised [0, 1] value.
  double NormalizedValue() const { return NormalizedFromPlain(value); }
  // Any plain value, constrained as above, mapped through the curve.
  double NormalizedFromPlain(double plain) const;
  double PlainFromNormalized(double normalized) const;
  // Host automation and editor gestures. A NaN is ignored: it would
  // otherwise become the value and reach the audio.
  void SetFromNormalized(double normalized);
  // True when `normalized` is the current value as a host keeps it (exactly,
  // or at a float's precision): an echo, which changes nothing.
  bool IsCurrentNormalized(double normalized) const;
  // Hosts' normalised value (VST2, VST3, and the table CLAP reads): it
  // rises with the value hosts show, so a slider's left end is the lowest
  // shown value in every format, as LV2's ports (in the shown unit) run.
  // Where the shown unit runs against the plain value (a time held as
  // negated seconds, a boost held as a negated gain) it is the normalised
  // value above mirrored, 1 - n, along the same curve; elsewhere the same.
  // The editor keeps the normalised value, which turns its knobs the way
  // the panel is printed (SLOW to FAST).
  bool HostRunsReversed() const;
  double HostNormalizedFromNormalized(double normalized) const;  // its own inverse
  double HostNormalizedValue() const { return HostNormalizedFromPlain(value); }
  double HostNormalizedFromPlain(double plain) const;
  double ValueAtHostNormalized(double hostNormalized) const;
  // As SetFromNormalized, an echo of the current value included.
  void SetFromHostNormalized(double hostNormalized);
  // Restored state and typed values: the value becomes Constrained(plain).
  void SetClamped(double plain);

  // Display. `out` must hold at least `outSize` bytes; the text is always
  // terminated and never longer than outSize - 1.
  void FormatValue(double v, bool isNormalized, bool useValueTexts, char* out,
                   size_t outSize) const;
  const char* HostLabel() const;
  const char* ValueTextFor(int value) const;   // nullptr when none matches
  bool ParseForHost(const char* text, double* plainOut) const;
  void AddValueText(int value, const char* text);

  // Host-facing text (VST2 label/display/text entry, VST3 value texts and
  // plain values). See ParamHostFormat.
  void SetHostFormat(ParamHostFormat format, std::vector<const char*> choices = {});
  // The unit shown next to `plain` ("kHz" or "Hz" depend on the value).
  const char* HostUnit(double plain) const;
  // The value as hosts show it, with or without its unit after a space.
  void HostDisplay(double plain, bool withUnit, char* out, size_t outSize) const;
  // Reads what HostDisplay writes, with or without the unit. A number is
  // always in the unit shown, bare or not. Refused: text of more than
  // kMaxHostText characters, any byte outside printable ASCII, a space
  // inside a number or a word ("1 6x", "EX T"), a negative number where the
  // shown value is never negative (a time, a boost, a frequency), and
  // anything else that is not plainly a value. A stepped parameter takes
  // its step texts, and a bare number as a value in the unit its steps show
  // ("3" on 4:1/8:1/12:1/20:1 is 3:1): the step NearestShownStep picks; a
  // number on steps that show none (Off/On) is refused. Otherwise the
  // result is not limited to the range: a number beyond it is for the
  // caller to clamp.
  static constexpr int kMaxHostText = 127;
  bool HostParse(const char* text, double* plainOut) const;

  // The value as a number in the unit hosts show (VST3 plain values, which
  // automation lanes and host scripts show): milliseconds for a time held
  // as negated seconds, the boost for a negated gain, the step for stepped
  // kinds; otherwise the plain value itself. And back.
  double HostPlainFromValue(double plain) const;
  double ValueFromHostPlain(double hostPlain) const;

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
  ParamHostFormat hostFormat = ParamHostFormat::Number;
  std::vector<const char*> hostChoices;  // static texts, for Choices
};

// The step a typed number selects when the steps show numbers (`shown[i]`
// for step i: 4, 8, 12, 20 for ratios, 4 and 16 for 4x/16x; NaN for a step
// showing none): the nearest one, an exact tie going to the higher value,
// so a number beyond the steps is held at the end. -1 when no step shows a
// number, or for a negative or non-finite number on steps that are all
// positive (a negative ratio is not a ratio). The one rule for host text
// entry and kestrune-render's --set.
int NearestShownStep(const std::vector<double>& shown, double number);

// Copies `src` into `dst` (of `dstSize` bytes), cutting it to fit and always
// terminating it. Shared by every fixed-size text field of the core.
void CopyText(char* dst, size_t dstSize, const char* src);
