// The yardstick of the tests and benchmarks: the straightforward
// implementation (see PathState.h) behind the same interface as SignalPath,
// so that both run side by side on the same input. Nothing shipped includes
// this header.
#pragma once

#include "PathState.h"

namespace kestrune {

class ReferencePath : public PathState {
 public:
  void Process(const BlockSettings& settings, const double* const* inputs,
               double* const* outputs, int frames) {
    RunStraightforward(*this, settings, inputs, outputs, frames);
  }
};

}  // namespace kestrune
