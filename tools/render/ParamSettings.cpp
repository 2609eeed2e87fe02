#include "ParamSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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

// Whether `value` lies in the range, with the range's own rounding: a value
// written as the range end shows (or computes to, within rounding) is in it.
bool InsideRange(const ParamDescription& param, double value) {
  const double low = std::min(param.minValue, param.maxValue);
  const double high = std::max(param.minValue, param.maxValue);
  const double slack = 1e-9 * std::max({std::fabs(low), std::fabs(high), 1.0});
  if (value >= low - slack && value <= high + slack) return true;
  double shownMin = 0, shownMax = 0;
  return (ParseDisplayNumber(param.minText, shownMin) && value == shownMin) ||
         (ParseDisplayNumber(param.maxText, shownMax) && value == shownMax);
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
  const std::string expected =
      " (expected " +
      (param->numeric ? "a number from " + param->minText + " to " + param->maxText
                      : param->minText + " .. " + param->maxText) +
      ")";
  if (LooksHexadecimal(valueText)) {
    failure = {kExitUsage, "'" + valueText + "' is not a value for " + shownName +
                               ": hexadecimal numbers are not accepted" + expected};
    return false;
  }
  double value = 0;
  if (param->numeric && ParsePlainNumber(valueText, value)) {
    if (!InsideRange(*param, value)) {
      const double clamped = std::clamp(value, std::min(param->minValue, param->maxValue),
                                        std::max(param->minValue, param->maxValue));
      Warn(shownName + "=" + valueText + " is outside " + param->minText + " .. " + param->maxText +
           "; using " + FormatValue(clamped));
      value = clamped;
    }
    if (param->integerValued && value != std::round(value)) {
      Warn(shownName + " takes whole numbers; using " + FormatValue(std::round(value)) + " for " + valueText);
      value = std::round(value);
    }
    if (!host.SetParameter(param->index, value, error)) {
      failure = {kExitUsage, "cannot set " + shownName + " to " + valueText + ": " + error};
      return false;
    }
    return true;
  }
  // Units, words and display texts: the plug-in's own text entry decides;
  // for a parameter shown as a number, the text must at least start with one.
  double leading = 0;
  const bool startsWithNumber = ParseDisplayNumber(valueText, leading) && !LooksHexadecimal(valueText);
  if ((!param->numeric || startsWithNumber) && host.SetParameterText(param->index, valueText, error)) return true;
  failure = {kExitUsage, "'" + valueText + "' is not a value for " + shownName + expected};
  return false;
}

double MakeupGainDb(const std::vector<ParamDescription>& params) {
  double outputDb = 0, bypass = 0;
  bool haveOutput = false;
  for (const auto& p : params) {
    if (p.name == "OUTPUT") haveOutput = ParseDisplayNumber(p.currentText, outputDb);
    if (p.name == "BYPASS" && !ParseDisplayNumber(p.currentText, bypass)) {
      bypass = Lower(p.currentText).find("on") != std::string::npos ? 1 : 0;
    }
  }
  return haveOutput && bypass == 0 ? outputDb : 0.0;
}

void ListParams(PluginHost& host) {
  const std::vector<ParamDescription> params = host.Parameters();
  printf("%s (%s), %zu parameters:\n", host.PluginName().c_str(), host.FormatName(), params.size());
  printf("  %-3s %-14s %-20s %-10s %-10s %s\n", "#", "name", "range", "default", "current", "unit");
  for (const auto& p : params) {
    std::string name = p.name.empty() ? std::string(kUnnamedAlias) + "*" : p.name;
    std::string index = std::to_string(p.id);
    std::string range = p.minText + " .. " + p.maxText;
    printf("  %-3s %-14s %-20s %-10s %-10s %s\n", index.c_str(), name.c_str(), range.c_str(),
           p.defaultText.c_str(), p.currentText.c_str(), p.unit.c_str());
  }
  for (const auto& p : params) {
    if (p.name.empty()) {
      printf("  * parameter %u has no name of its own: it is the oversampling switch, set it with "
             "--set %s=0|1\n",
             p.id, kUnnamedAlias);
    }
  }
}

}  // namespace render
