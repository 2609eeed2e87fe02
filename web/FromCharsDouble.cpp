#include "FromCharsDouble.h"

#if defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 200000
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace std {

// What the core hands it: an optional '-', digits with an optional point,
// an optional exponent. strtod reads that the same way, correctly rounded
// (wasi-libc has only the "C" locale); what strtod would take beyond it
// (leading space, '+', hexadecimal, "inf", "nan") is refused.
from_chars_result from_chars(const char* first, const char* last, double& value,
                             chars_format) {
  char text[128];
  const size_t length = first && last > first ? static_cast<size_t>(last - first) : 0;
  if (length == 0 || length >= sizeof text) return {first, errc::invalid_argument};
  memcpy(text, first, length);
  text[length] = '\0';
  const char* digits = text[0] == '-' ? text + 1 : text;
  if (!isdigit(static_cast<unsigned char>(digits[0])) && digits[0] != '.')
    return {first, errc::invalid_argument};
  for (const char* c = digits; *c; ++c)
    if (*c == 'x' || *c == 'X') return {first, errc::invalid_argument};
  char* end = nullptr;
  errno = 0;
  const double parsed = strtod(text, &end);
  if (end == text) return {first, errc::invalid_argument};
  const char* stop = first + (end - text);
  if (errno == ERANGE) return {stop, errc::result_out_of_range};
  value = parsed;
  return {stop, errc()};
}

}  // namespace std
#endif
