#include "PluginHost.h"

#include <cmath>
#include <cstdlib>

namespace render {

bool ParseDisplayNumber(const std::string& text, double& value) {
  const char* start = text.c_str();
  while (*start == ' ' || *start == '\t') ++start;
  char* end = nullptr;
  double parsed = std::strtod(start, &end);
  if (end == start || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

}  // namespace render
