// The signal path with a tally of the gain computer's targets: the plug-in's
// processing loop (SignalPathFrames.h), compiled into the tests and
// benchmarks with a tally that counts. The plug-in's copy counts nothing.
#pragma once

#include "SignalPath.h"

namespace kestrune_test {

class TallyingSignalPath : public kestrune::SignalPath {
 public:
  // Since construction: the frames whose level was above the threshold
  // (INPUT not 0), and those of them whose exact target gain was computed.
  struct TargetCounts {
    long long aboveThreshold = 0;
    long long exact = 0;
  };

  void Process(const kestrune::BlockSettings& settings, const double* const* inputs,
               double* const* outputs, int frames);
  const TargetCounts& TargetGainCounts() const { return counts_; }

 private:
  TargetCounts counts_;
};

}  // namespace kestrune_test
