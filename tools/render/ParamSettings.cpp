#include "ParamSettings.h"

#include "BatchOutput.h"
#include "PlugParam.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace render {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), ::tolower);
  return text;
}

std::string ShownName(const ParamDescription& param) {
  return param.name.empty() ? kUnnamedAlias : param.name;
}

bool LooksHexadecimal(const std::string& text) {
  size_t i = text.find_first_not_of(" \t");
  if (i != std::string::npos && (text[i] == '+' || text[i] == '-')) ++i;
  return i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X');
}

bool AtRangeEnd(double normalized) { return normalized <= 1e-9 || normalized >= 1.0 - 1e-9; }

// Whether a text the plug-in clamped to a range end lies beyond it, found
// with the plug-in's own text entry: the same text with its number nudged a
// ten-thousandth either way (VST2 reports positions in single precision)
// still lands on the end when the value is beyond it,
// while one of them lands inside when the value is the end itself. A text
// whose nudged forms the plug-in does not read ("20:1") is not judged.
bool BeyondRange(PluginHost& host, const ParamDescription& param, const std::string& text) {
  const size_t start = text.find_first_not_of(" \t");
  if (start == std::string::npos) return false;
  const char* begin = text.c_str() + start;
  char* end = nullptr;
  const double number = std::strtod(begin, &end);
  if (end == begin || !std::isfinite(number)) return false;
  const std::string suffix = end;
  const double delta = std::max(std::fabs(number) * 1e-4, 1e-4);
  bool judged = false;
  for (double nudged : {number - delta, number + delta}) {
    char digits[64];
    snprintf(digits, sizeof(digits), "%.17g", nudged);
    double normalized = 0;
    if (!host.ParseText(param.index, digits + suffix, normalized)) continue;
    if (!AtRangeEnd(normalized)) return false;
    judged = true;
  }
  return judged;
}

std::string Trimmed(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return std::string();
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

std::string Joined(const std::vector<std::string>& texts) {
  std::string joined;
  for (size_t i = 0; i < texts.size(); ++i) joined += (i == 0 ? "" : i + 1 == texts.size() ? " or " : ", ") + texts[i];
  return joined;
}

// Digits after the decimal point in a display text ("0.80 ms" -> 2).
int Decimals(const std::string& text) {
  const size_t dot = text.find('.');
  if (dot == std::string::npos) return 0;
  int count = 0;
  while (dot + 1 + count < text.size() && std::isdigit(static_cast<unsigned char>(text[dot + 1 + count]))) ++count;
  return count;
}

// The unit a display text ends in ("0.80 ms" -> "ms").
std::string UnitOf(const std::string& text) {
  const size_t space = text.find_last_of(' ');
  return space == std::string::npos ? std::string() : text.substr(space + 1);
}

// A bare number for a stepped parameter is a value in the unit its steps
// show ("3" on RATIO is 3:1): the step the plug-in's own rule
// (NearestShownStep) picks, handed on as that step's text, so that every
// format reads it alike. False with `failure` for a number on steps that
// show none (Off/On) or below steps that are all positive.
bool ChoiceForNumber(const ParamDescription& param, const std::string& shownName, const std::string& valueText,
                     std::string& choice, Failure& failure) {
  double number = 0;
  if (param.choices.empty() || !ParsePlainNumber(Trimmed(valueText), number)) return true;
  std::vector<double> shown;
  for (const std::string& text : param.choices) {
    double value = 0;
    shown.push_back(ParseDisplayNumber(text, value) ? value : std::nan(""));
  }
  const int step = NearestShownStep(shown, number);
  if (step >= 0) {
    choice = param.choices[static_cast<size_t>(step)];
    size_t low = static_cast<size_t>(step), high = low;
    for (size_t i = 0; i < shown.size(); ++i) {
      if (shown[i] < shown[low]) low = i;
      if (shown[i] > shown[high]) high = i;
    }
    if (number < shown[low] || number > shown[high]) {
      Warn(shownName + "=" + valueText + " is outside " + param.choices[low] + " .. " + param.choices[high] +
           "; using " + choice);
    }
    return true;
  }
  failure = {kExitUsage, "'" + valueText + "' is not a value for " + shownName + "; write " + Joined(param.choices)};
  return false;
}

// A bare non-zero time that the plug-in would show as zero was almost
// certainly typed in seconds for a parameter set in milliseconds.
bool PlausibleTime(const ParamDescription& param, const std::string& shownName, const std::string& valueText,
                   Failure& failure) {
  double number = 0;
  if (!param.choices.empty() || UnitOf(param.maxText) != "ms" || !ParsePlainNumber(Trimmed(valueText), number)) {
    return true;
  }
  const int decimals = std::max({Decimals(param.minText), Decimals(param.maxText), Decimals(param.defaultText)});
  if (number == 0 || std::fabs(number) >= 0.5 * std::pow(10.0, -decimals)) return true;
  failure = {kExitUsage, "'" + valueText + "' is not a value for " + shownName + ": a bare number is in ms, and " +
                             valueText + " ms would show as 0 ms; write " + FormatValue(number * 1000.0) +
                             " (or " + FormatValue(number * 1000.0) + "ms, " + valueText + "s)"};
  return false;
}

}  // namespace

// The display range from its lower end to its upper, whichever way the
// plug-in's normalized range runs.
std::string LowText(const ParamDescription& param) {
  // "10.00 kHz" is above "500.0 Hz".
  auto value = [](const std::string& text, double& number) {
    if (!ParseDisplayNumber(text, number)) return false;
    if (UnitOf(text).rfind('k', 0) == 0) number *= 1000.0;
    return true;
  };
  double low = 0, high = 0;
  return value(param.minText, low) && value(param.maxText, high) && low > high ? param.maxText : param.minText;
}

std::string HighText(const ParamDescription& param) {
  return LowText(param) == param.minText ? param.maxText : param.minText;
}

void Warn(const std::string& message) { Say(stderr, std::string(kTool) + ": warning: " + message + "\n"); }

std::string FormatValue(double value) {
  char text[64];
  snprintf(text, sizeof(text), "%.10g", value);
  return text;
}

const ParamDescription* FindParam(const std::vector<ParamDescription>& params, const std::string& name,
                                  std::string& error) {
  for (const auto& p : params) {
    if (!p.name.empty() && p.name == name) return &p;
  }
  std::vector<const ParamDescription*> matches;
  for (const auto& p : params) {
    if (!p.name.empty() && Lower(p.name) == Lower(name)) matches.push_back(&p);
  }
  if (matches.size() == 1) return matches[0];
  if (matches.size() > 1) {
    error = "parameter name '" + name + "' is ambiguous: write it as '" + matches[0]->name + "' or '" +
            matches[1]->name + "'";
    return nullptr;
  }
  std::string digits = !name.empty() && name[0] == '#' ? name.substr(1) : name;
  int index = -1;
  if (ParseInt(digits, index)) {
    for (const auto& p : params) {
      if (static_cast<int>(p.id) == index) return &p;
    }
  }
  if (Lower(name) == Lower(kUnnamedAlias)) {
    const ParamDescription* unnamed = nullptr;
    int count = 0;
    for (const auto& p : params) {
      if (p.name.empty()) {
        unnamed = &p;
        ++count;
      }
    }
    if (count == 1) return unnamed;
  }
  std::string known;
  for (const auto& p : params) known += (known.empty() ? "" : ", ") + ShownName(p);
  error = "unknown parameter '" + name + "'; the plug-in has " + known;
  return nullptr;
}

bool ApplySetting(PluginHost& host, const std::vector<ParamDescription>& params, const std::string& name,
                  const std::string& valueText, Failure& failure) {
  std::string error;
  const ParamDescription* param = FindParam(params, name, error);
  if (!param) {
    failure = {kExitUsage, error};
    return false;
  }
  const std::string shownName = ShownName(*param);
  const std::string expected = " (expected a value from " + LowText(*param) + " to " + HighText(*param) + ")";
  if (LooksHexadecimal(valueText)) {
    failure = {kExitUsage, "'" + valueText + "' is not a value for " + shownName +
                               ": hexadecimal numbers are not accepted" + expected};
    return false;
  }
  std::string text = valueText;
  if (!ChoiceForNumber(*param, shownName, valueText, text, failure) ||
      !PlausibleTime(*param, shownName, valueText, failure)) {
    return false;
  }
  double normalized = 0;
  if (!host.ParseText(param->index, text, normalized)) {
    failure = {kExitUsage, "'" + valueText + "' is not a value for " + shownName + expected};
    return false;
  }
  if (AtRangeEnd(normalized) && BeyondRange(host, *param, text)) {
    Warn(shownName + "=" + valueText + " is outside " + LowText(*param) + " .. " + HighText(*param) + "; using " +
         (normalized < 0.5 ? param->minText : param->maxText));
  }
  if (!host.SetParameterText(param->index, text, error)) {
    failure = {kExitUsage, "cannot set " + shownName + " to " + valueText + ": " + error};
    return false;
  }
  return true;
}

double MakeupGainDb(const std::vector<ParamDescription>& params) {
  double outputDb = 0, bypass = 0;
  bool haveOutput = false;
  for (const auto& p : params) {
    if (p.name == "OUTPUT") haveOutput = ParseDisplayNumber(p.currentText, outputDb);
    if (p.name == "BYPASS" && !ParseDisplayNumber(p.currentText, bypass)) {
      bypass = Lower(p.currentText).find("on") != std::string::npos ? 1 : 0;
    }
    // LV2 hosts see BYPASS as the enable switch, the other way round.
    if (p.name == "Enabled") bypass = Lower(p.currentText) == "off" ? 1 : 0;
  }
  return haveOutput && bypass == 0 ? outputDb : 0.0;
}

void ListParams(PluginHost& host) {
  const std::vector<ParamDescription> params = host.Parameters();
  printf("%s (%s), %zu parameters:\n", host.PluginName().c_str(), host.FormatName(), params.size());
  std::vector<std::vector<std::string>> rows = {{"#", "name", "range", "default", "current"}};
  for (const auto& p : params) {
    rows.push_back({std::to_string(p.id), ShownName(p), LowText(p) + " .. " + HighText(p), p.defaultText, p.currentText});
  }
  std::vector<size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  for (const auto& row : rows) {
    std::string line = " ";
    for (size_t c = 0; c < row.size(); ++c) {
      line += " " + row[c];
      if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 1, ' ');
    }
    printf("%s\n", line.c_str());
  }
  printf("Values are set as shown, with or without the unit (--set ATTACK=0.8ms, RATIO=8:1, SLAM=on).\n");
}

}  // namespace render
