#include "ParamSettings.h"

#include <algorithm>
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

}  // namespace

void Warn(const std::string& message) { fprintf(stderr, "%s: warning: %s\n", kTool, message.c_str()); }

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
  const std::string expected = " (expected a value from " + param->minText + " to " + param->maxText + ")";
  if (LooksHexadecimal(valueText)) {
    failure = {kExitUsage, "'" + valueText + "' is not a value for " + shownName +
                               ": hexadecimal numbers are not accepted" + expected};
    return false;
  }
  double normalized = 0;
  if (!host.ParseText(param->index, valueText, normalized)) {
    failure = {kExitUsage, "'" + valueText + "' is not a value for " + shownName + expected};
    return false;
  }
  if (AtRangeEnd(normalized) && BeyondRange(host, *param, valueText)) {
    Warn(shownName + "=" + valueText + " is outside " + param->minText + " .. " + param->maxText + "; using " +
         (normalized < 0.5 ? param->minText : param->maxText));
  }
  if (!host.SetParameterText(param->index, valueText, error)) {
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
    rows.push_back({std::to_string(p.id), ShownName(p), p.minText + " .. " + p.maxText, p.defaultText, p.currentText});
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
