// The host-facing text of a parameter: what hosts show in their parameter
// lists and automation lanes, and what they hand back when a user types a
// value. Numbers are written and read with the C++ character conversions,
// which ignore the host process's locale (a host running with a comma as
// decimal separator still gets "2.50" and may type it back).
//
// Both formats hand their texts to HostParse, so a text means the same in
// VST2 and VST3; the bindings only convert the host's string to bytes.
#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>

#include "PlugParam.h"

namespace {

// Printable ASCII only: control characters, and bytes of other encodings,
// are not part of any value.
bool Printable(const std::string& text) {
  for (char c : text)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

std::string Trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return std::string();
  return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

bool Alphanumeric(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

// Lower case, spaces next to punctuation dropped ("4 : 1" and "4:1", "kHz"
// and "khz" compare equal). A space between two letters or digits stays:
// "1 6x" is not "16x", nor "EX T" "EXT".
std::string Folded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == ' ') {
      size_t next = text.find_first_not_of(' ', i);
      if (!out.empty() && next != std::string::npos && Alphanumeric(out.back()) &&
          Alphanumeric(text[next]))
        out += ' ';
      i = next == std::string::npos ? text.size() : next - 1;
      continue;
    }
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

// A unit after a number: spaces before it are fine, none inside it.
bool UnitWord(const std::string& rest, std::string* unit) {
  std::string word = Trimmed(rest);
  if (word.find(' ') != std::string::npos) return false;
  *unit = Folded(word);
  return true;
}

// A decimal number at the start of `text`: optional sign, digits with an
// optional fraction, optional exponent. Hexadecimal, "inf" and "nan" are not
// numbers here. Returns the characters read, 0 when there is no number.
size_t ReadDecimal(const std::string& text, double* out) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  size_t digitsStart = i;
  size_t digits = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    size_t expStart = j;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
    if (j > expStart) i = j;  // "2e" is the number 2 followed by text
  }
  double magnitude = 0;
  auto result = std::from_chars(text.data() + digitsStart, text.data() + i, magnitude);
  if (result.ec != std::errc() || !std::isfinite(magnitude)) return 0;
  *out = negative ? -magnitude : magnitude;
  return i;
}

// `v` with `decimals` decimals; a value that rounds to zero shows as "0.00",
// never "-0.00". `sign` writes "+" before positive values.
std::string Fixed(double v, int decimals, bool sign) {
  if (!std::isfinite(v)) return "0";
  double half = 0.5 * std::pow(10.0, -decimals);
  if (std::fabs(v) < half) v = 0.0;
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) return "0";
  std::string text(buffer, result.ptr);
  if (sign && v > 0) text.insert(text.begin(), '+');
  return text;
}

// From 999.95 Hz on, "1000.0 Hz" would show: kHz then, so that the text
// read back shows the same.
bool InKilohertz(double plain) { return std::fabs(plain) >= 999.95; }

// Leading whole number of a choice text ("4:1" -> 4, "16x" -> 16), or -1.
int LeadingWholeNumber(const char* text) {
  int n = -1;
  for (; text && std::isdigit(static_cast<unsigned char>(*text)) && n < 1000000; ++text)
    n = (n < 0 ? 0 : n * 10) + (*text - '0');
  return n;
}

}  // namespace

int NearestShownStep(const std::vector<double>& shown, double number) {
  if (!std::isfinite(number)) return -1;
  int best = -1;
  bool allPositive = true;
  for (size_t i = 0; i < shown.size(); ++i) {
    if (std::isnan(shown[i])) continue;
    if (shown[i] < 0) allPositive = false;
    if (best < 0) {
      best = static_cast<int>(i);
      continue;
    }
    double distance = std::fabs(shown[i] - number);
    double bestDistance = std::fabs(shown[static_cast<size_t>(best)] - number);
    if (distance < bestDistance ||
        (distance == bestDistance && shown[i] > shown[static_cast<size_t>(best)]))
      best = static_cast<int>(i);
  }
  if (best >= 0 && allPositive && number < 0) return -1;
  return best;
}

void PlugParam::SetHostFormat(ParamHostFormat format, std::vector<const char*> choices) {
  hostFormat = format;
  hostChoices = std::move(choices);
}

const char* PlugParam::HostUnit(double plain) const {
  switch (hostFormat) {
    case ParamHostFormat::Number: return HostLabel();
    case ParamHostFormat::Decibels:
    case ParamHostFormat::DecibelsNegated:
    case ParamHostFormat::DriveDecibels: return "dB";
    case ParamHostFormat::Percent: return "%";
    case ParamHostFormat::Hertz: return InKilohertz(plain) ? "kHz" : "Hz";
    case ParamHostFormat::MillisecondsNegated: return "ms";
    case ParamHostFormat::Choices: return "";
  }
  return "";
}

void PlugParam::HostDisplay(double plain, bool withUnit, char* out, size_t outSize) const {
  if (!out || outSize == 0) return;
  // A stepped parameter shows the step it is at, as processing uses it.
  if (IsStepped()) plain = Constrained(plain);
  std::string text;
  switch (hostFormat) {
    case ParamHostFormat::Number: {
      char number[64];
      FormatValue(plain, false, true, number, sizeof number);
      text = number;
      break;
    }
    case ParamHostFormat::Decibels: text = Fixed(plain, 2, true); break;
    case ParamHostFormat::DecibelsNegated: text = Fixed(-plain, 2, true); break;
    case ParamHostFormat::DriveDecibels:
    case ParamHostFormat::Percent: text = Fixed(plain, 2, false); break;
    case ParamHostFormat::Hertz:
      text = InKilohertz(plain) ? Fixed(plain / 1000.0, 2, false) : Fixed(plain, 1, false);
      break;
    case ParamHostFormat::MillisecondsNegated: {
      double ms = -plain * 1000.0;
      text = Fixed(ms, ms < 9.995 ? 2 : ms < 99.95 ? 1 : 0, false);
      break;
    }
    case ParamHostFormat::Choices: {
      double index = std::round((plain - minValue) / step);
      int last = static_cast<int>(hostChoices.size()) - 1;
      int i = !(index > 0) ? 0 : index >= last ? last : static_cast<int>(index);
      text = i >= 0 ? hostChoices[static_cast<size_t>(i)] : "";
      break;
    }
  }
  const char* unit = HostUnit(plain);
  if (withUnit && unit[0]) text = text + " " + unit;
  CopyText(out, outSize, text.c_str());
}

bool PlugParam::HostParse(const char* text, double* plainOut) const {
  if (!text || !plainOut) return false;
  size_t length = strnlen(text, kMaxHostText + 1);
  if (length > static_cast<size_t>(kMaxHostText)) return false;
  std::string typed(text, length);
  if (!Printable(typed)) return false;
  // Value texts are matched exactly, as the editor's own entry does.
  if (hostFormat == ParamHostFormat::Number && !valueTexts.empty())
    return ParseForHost(typed.c_str(), plainOut);
  std::string trimmed = Trimmed(typed);
  if (IsStepped()) {
    // Choice texts first, then a number in the unit the choices show.
    std::string folded = Folded(trimmed);
    for (size_t i = 0; i < hostChoices.size(); ++i)
      if (folded == Folded(hostChoices[i])) {
        *plainOut = minValue + static_cast<double>(i) * step;
        return true;
      }
  }
  double number = 0;
  size_t used = ReadDecimal(trimmed, &number);
  std::string unit;
  if (used && !UnitWord(trimmed.substr(used), &unit)) return false;

  if (IsStepped()) {
    if (!used || !unit.empty()) return false;
    if (hostChoices.empty()) {
      *plainOut = number;
      return true;
    }
    std::vector<double> shown;
    for (const char* choice : hostChoices) {
      int n = LeadingWholeNumber(choice);
      shown.push_back(n < 0 ? std::nan("") : n);
    }
    int i = NearestShownStep(shown, number);
    if (i < 0) return false;
    *plainOut = minValue + static_cast<double>(i) * step;
    return true;
  }

  if (!used) return false;
  // A sign the shown quantity never has (a negative time or boost) is not a
  // value: refused rather than clamped, since it is most likely a plain
  // number of the old convention ("-0.0008" for 0.8 ms) and clamping would
  // quietly set something else.
  if (number < 0 && std::min(HostPlainFromValue(minValue), HostPlainFromValue(maxValue)) >= 0)
    return false;
  bool bare = unit.empty();
  switch (hostFormat) {
    case ParamHostFormat::Number:
      if (!bare && unit != Folded(label)) return false;
      *plainOut = negateDisplay ? -number : number;
      return true;
    case ParamHostFormat::Decibels:
    case ParamHostFormat::DriveDecibels:
      if (!bare && unit != "db") return false;
      *plainOut = number;
      return true;
    case ParamHostFormat::DecibelsNegated:
      if (!bare && unit != "db") return false;
      *plainOut = -number;
      return true;
    case ParamHostFormat::Percent:
      if (!bare && unit != "%") return false;
      *plainOut = number;
      return true;
    case ParamHostFormat::Hertz:
      // A display that switches to kHz shows "2.50" next to the unit; typed
      // back bare, a number below the range that fits it in kHz means kHz.
      if (bare && InKilohertz(maxValue) && number < minValue && number * 1000.0 >= 999.95 &&
          number * 1000.0 <= maxValue) {
        *plainOut = number * 1000.0;
      } else if (bare || unit == "hz") {
        *plainOut = number;
      } else if (unit == "khz" || unit == "k") {
        *plainOut = number * 1000.0;
      } else {
        return false;
      }
      return true;
    case ParamHostFormat::MillisecondsNegated:
      if (bare || unit == "ms") {
        *plainOut = -number / 1000.0;
      } else if (unit == "s") {
        *plainOut = -number;
      } else {
        return false;
      }
      return true;
    case ParamHostFormat::Choices:
      return false;
  }
  return false;
}

double PlugParam::HostPlainFromValue(double plain) const {
  if (IsStepped()) return Constrained(plain);
  switch (hostFormat) {
    case ParamHostFormat::Number: return negateDisplay ? -plain : plain;
    case ParamHostFormat::MillisecondsNegated: return -plain * 1000.0;
    case ParamHostFormat::DecibelsNegated: return -plain;
    default: return plain;
  }
}

double PlugParam::ValueFromHostPlain(double hostPlain) const {
  if (IsStepped()) return Constrained(hostPlain);
  switch (hostFormat) {
    case ParamHostFormat::Number: return negateDisplay ? -hostPlain : hostPlain;
    case ParamHostFormat::MillisecondsNegated: return -hostPlain / 1000.0;
    case ParamHostFormat::DecibelsNegated: return -hostPlain;
    default: return hostPlain;
  }
}
