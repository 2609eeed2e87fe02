// Processing runs with flush-to-zero and denormals-are-zero, from the first
// input conversion to the last output conversion, and the host gets its own
// floating-point control state back afterwards.
#include <gtest/gtest.h>

#include <vector>

#include "DenormalGuard.h"
#include "TestBinding.h"

#if defined(__SSE__)
#include <xmmintrin.h>

namespace {

constexpr unsigned int kFlushToZero = 0x8000;
constexpr unsigned int kDenormalsAreZero = 0x0040;
constexpr unsigned int kRoundDown = 0x2000;
// The six sticky exception flags change with any inexact arithmetic; only
// the rest of the register is the host's state.
constexpr unsigned int kControlBits = ~0x3Fu;

EffectIdentity ProbeIdentity() {
  EffectIdentity id;
  id.paramCount = 1;
  id.channelConfig = "2-2";
  id.presetCount = 1;
  id.effectName = "Probe";
  id.makerName = "Maker";
  return id;
}

// Writes a double that is a subnormal as a float, and notes the control state
// it ran under; it also takes a guard of its own, as the effect does.
class TinyOutputPlug : public TestBinding {
 public:
  TinyOutputPlug() : TestBinding(&host, ProbeIdentity()) { ChangeBlockSize(16); }
  void ProcessBlock(double**, double** outputs, int frames) override {
    DenormalGuard inner;
    seenControl = _mm_getcsr();
    for (int f = 0; f < frames; ++f) {
      outputs[0][f] = 1e-40;
      outputs[1][f] = -1e-40;
    }
  }
  TestHost host;
  unsigned int seenControl = 0;
};

// Runs `body` with the host's control register set to `hostControl` and
// returns the register as the body left it; the test's own state is put back.
template <class Body>
unsigned int RunUnderHostControl(unsigned int hostControl, Body body) {
  const unsigned int saved = _mm_getcsr();
  _mm_setcsr(hostControl);
  body();
  const unsigned int after = _mm_getcsr();
  _mm_setcsr(saved);
  return after;
}

}  // namespace

TEST(DenormalHandling, FloatHostReceivesZeroWhereTheDoubleResultIsSubnormalAsFloat) {
  // Without flushing, the conversion really does give a subnormal float.
  volatile double tiny = 1e-40;
  float unflushed = 0;
  RunUnderHostControl(0x1F80, [&] { unflushed = static_cast<float>(tiny); });
  ASSERT_NE(unflushed, 0.0f);

  for (bool accumulate : {false, true}) {
    TinyOutputPlug plug;
    std::vector<float> inLeft(40, 0.25f), inRight(40, 0.25f);
    std::vector<float> outLeft(40, 0.0f), outRight(40, 0.0f);
    const float* ins[2] = {inLeft.data(), inRight.data()};
    float* outs[2] = {outLeft.data(), outRight.data()};
    const unsigned int hostControl = 0x1F80 | kRoundDown;  // no FTZ, no DAZ
    const unsigned int after = RunUnderHostControl(hostControl, [&] {
      plug.ProcessHostBlock(ins, 2, outs, 2, 40, accumulate);  // three pieces of at most 16
    });
    for (int f = 0; f < 40; ++f) {
      ASSERT_EQ(outLeft[f], 0.0f) << "frame " << f << (accumulate ? " accumulating" : "");
      ASSERT_EQ(outRight[f], 0.0f) << "frame " << f << (accumulate ? " accumulating" : "");
    }
    EXPECT_EQ(after & kControlBits, hostControl & kControlBits);
    EXPECT_EQ(plug.seenControl & (kFlushToZero | kDenormalsAreZero),
              kFlushToZero | kDenormalsAreZero);
  }
}

TEST(DenormalHandling, DoubleHostBlocksRunFlushedAndRestoreTheHostState) {
  TinyOutputPlug plug;
  std::vector<double> in(20, 0.5), outLeft(20, 1.0), outRight(20, 1.0);
  const double* ins[2] = {in.data(), in.data()};
  double* outs[2] = {outLeft.data(), outRight.data()};
  const unsigned int hostControl = 0x1F80;
  const unsigned int after =
      RunUnderHostControl(hostControl, [&] { plug.ProcessHostBlock(ins, 2, outs, 2, 20); });
  EXPECT_EQ(after & kControlBits, hostControl & kControlBits);
  EXPECT_EQ(plug.seenControl & (kFlushToZero | kDenormalsAreZero),
            kFlushToZero | kDenormalsAreZero);
  EXPECT_EQ(outLeft[19], 1e-40);  // doubles pass as they are: 1e-40 is normal there
}

TEST(DenormalHandling, NestedGuardsEachRestoreWhatTheyFound) {
  const unsigned int hostControl = 0x1F80 | kRoundDown;
  unsigned int insideOuter = 0, afterInner = 0;
  const unsigned int after = RunUnderHostControl(hostControl, [&] {
    DenormalGuard outer;
    insideOuter = _mm_getcsr();
    {
      DenormalGuard inner;
    }
    afterInner = _mm_getcsr();
  });
  EXPECT_EQ(afterInner & kControlBits, insideOuter & kControlBits);
  EXPECT_EQ(insideOuter & (kFlushToZero | kDenormalsAreZero), kFlushToZero | kDenormalsAreZero);
  EXPECT_EQ(insideOuter & kRoundDown, kRoundDown);  // the host's rounding mode stays
  EXPECT_EQ(after & kControlBits, hostControl & kControlBits);
}

#endif
