#include "TallyingSignalPath.h"

#include "SignalPathFrames.h"

namespace kestrune_test {

namespace {
struct Counter {
  TallyingSignalPath::TargetCounts block;
  void Above(int frames) { block.aboveThreshold += frames; }
  void Exact() { ++block.exact; }
};
}  // namespace

void TallyingSignalPath::Process(const kestrune::BlockSettings& settings,
                                 const double* const* inputs, double* const* outputs,
                                 int frames) {
  Counter counter;
  ProcessTallying(settings, inputs, outputs, frames, counter);
  counts_.aboveThreshold += counter.block.aboveThreshold;
  counts_.exact += counter.block.exact;
}

}  // namespace kestrune_test
