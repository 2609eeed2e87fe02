// One stored preset: its name, whether it holds anything, and its saved
// parameter state.
#pragma once

#include "StateChunk.h"

struct PresetSlot {
  static constexpr int kNameSize = 256;  // 255 characters + terminator

  PresetSlot();
  void SetName(const char* newName);

  bool used = false;
  char name[kNameSize];
  StateChunk chunk;
};
