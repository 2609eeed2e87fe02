// std::from_chars for double, which libc++ provides only from version 20 on
// (Debian's libc++ for wasm32-wasi is 19). The core reads typed values with
// it (PlugParamHostText.cpp); the web build includes this header there.
#pragma once

#include <charconv>

#if defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 200000
namespace std {
from_chars_result from_chars(const char* first, const char* last, double& value,
                             chars_format format = chars_format::general);
}  // namespace std
#endif
