// Every output bit of the effect is pinned: a change to the arithmetic (an
// operation reordered, a coefficient cached wrongly, a filter step skipped)
// changes these hashes.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>

#include "EffectRig.h"

namespace kestrune_fingerprint {
// Names the case in failure messages instead of dumping its bytes.
inline void PrintTo(const FingerprintCase& c, std::ostream* os) { *os << c.name; }
}  // namespace kestrune_fingerprint

namespace {

using kestrune_fingerprint::FingerprintCase;

class GoldenFingerprint : public ::testing::TestWithParam<FingerprintCase> {};

TEST_P(GoldenFingerprint, OutputAndMeterMatchBitForBit) {
  const FingerprintCase& c = GetParam();
  const kestrune_test::CaseResult result = kestrune_test::RunFingerprintCase(c);
  char line[160];
  std::snprintf(line, sizeof line, "{\"%s\", 0x%016" PRIX64 "ull, 0x%016" PRIX64 "ull},", c.name,
                result.output, result.meter);
  EXPECT_FALSE(result.anySubnormalOrNonFinite) << c.name;
  const kestrune_fingerprint::GoldenHashes* golden = kestrune_fingerprint::FindGolden(c.name);
  ASSERT_NE(golden, nullptr) << "no golden hashes yet; measured: " << line;
  EXPECT_EQ(result.output, golden->output) << "measured: " << line;
  EXPECT_EQ(result.meter, golden->meter) << "measured: " << line;
}

INSTANTIATE_TEST_SUITE_P(AllCases, GoldenFingerprint,
                         ::testing::ValuesIn(kestrune_fingerprint::FingerprintCases()),
                         [](const ::testing::TestParamInfo<FingerprintCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
