// Bit-level checks on doubles shared by the signal path tests.
#pragma once

#include <cmath>
#include <cstring>
#include <limits>

namespace kestrune_test {

// True for a nonzero value below the smallest normal double.
inline bool IsSubnormal(double v) { return v != 0 && std::fabs(v) < std::numeric_limits<double>::min(); }
// The same 64 bits: equal values with different signs or NaN payloads differ.
inline bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace kestrune_test
