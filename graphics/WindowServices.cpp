#include "WindowServices.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "PlugParam.h"

namespace window_services {

bool EntryAcceptsChar(const PlugParam* param, unsigned int character) {
  if (!param) return true;
  if (character == '+' || character == '-' || (character >= '0' && character <= '9')) return true;
  return character == '.' && param->kind == ParamKindContinuous;
}

double PlainFromEntryText(const PlugParam& param, const char* text) {
  if (!text) return 0.0;
  if (param.kind != ParamKindContinuous && !param.valueTexts.empty()) {
    for (const ValueText& vt : param.valueTexts)
      if (std::strcmp(vt.text, text) == 0) return vt.value;
    return 0.0;
  }
  double plain = std::strtod(text, nullptr);
  return param.negateDisplay ? -plain : plain;
}

std::string MenuItemLabel(int prefixKind, int number, const std::string& text) {
  static const char* const formats[] = {"%1d: %s", "%02d: %s", "%03d: %s"};
  if (prefixKind < 1 || prefixKind > 3) return text;
  int size = std::snprintf(nullptr, 0, formats[prefixKind - 1], number, text.c_str());
  if (size < 0) return text;
  std::string out(static_cast<size_t>(size) + 1, '\0');
  std::snprintf(&out[0], out.size(), formats[prefixKind - 1], number, text.c_str());
  out.resize(static_cast<size_t>(size));
  return out;
}

}  // namespace window_services
