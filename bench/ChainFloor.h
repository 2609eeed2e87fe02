// The floor under the signal path's cost (see ChainFloorBench.cpp): the two
// Bessel filters' dependent chains alone, in their exact order, for blocks
// of 512 frames at 4x or 16x.
#pragma once

#include <memory>

class ChainFloor {
 public:
  explicit ChainFloor(int oversampling);
  ~ChainFloor();
  // One block of 512 frames of the two channels.
  void Process(const double* left, const double* right);

 private:
  struct State;
  std::unique_ptr<State> state_;
};
