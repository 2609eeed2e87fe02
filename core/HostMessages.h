// Records exchanged with hosts: MIDI and SysEx messages and transport state.
#pragma once

#include <cstdint>

struct MidiMessage {
  int32_t sampleOffset = 0;
  uint8_t status = 0;
  uint8_t data1 = 0;
  uint8_t data2 = 0;
};

struct SysExMessage {
  int32_t sampleOffset = 0;
  int32_t size = 0;
  const uint8_t* data = nullptr;  // not owned
};

// Transport and tempo as far as a host reports them. Fields the host does not
// report keep the values the caller put in.
struct HostTimeInfo {
  double tempo = 120.0;               // beats per minute
  double samplePosition = 0.0;
  double musicalPosition = 0.0;       // quarter notes
  double lastBarPosition = 0.0;       // quarter notes
  double cycleStart = 0.0;            // quarter notes
  double cycleEnd = 0.0;              // quarter notes
  int32_t numerator = 4;
  int32_t denominator = 4;
  bool transportRunning = false;
  bool cycleActive = false;
};
