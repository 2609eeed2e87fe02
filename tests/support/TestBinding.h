// A stand-in format binding for tests: plays the host, records what the
// plug-in tells it (gestures, automation, preset notifications) and answers
// transport queries with fixed values.
#pragma once

#include <string>
#include <vector>

#include "IEffectBase.h"

struct TestHost {
  struct Event {
    std::string what;   // "begin", "automate", "end", "preset"
    int index = -1;
    double value = 0;
  };
  std::vector<Event> events;
  HostTimeInfo time;
  int samplePosition = 0;
};

class TestBinding : public IEffectBase {
 public:
  TestBinding(TestHost* host, const EffectIdentity& identity)
      : IEffectBase(identity, kApiVst2), host_(host) {
    ConnectInputs(0, InputChannelCount(), true);
    ConnectOutputs(0, OutputChannelCount(), true);
    ChangeBlockSize(1024);
  }

  void BeginParamGesture(int index) override { Record("begin", index, 0); }
  void NotifyHostParam(int index, double normalized) override {
    Record("automate", index, normalized);
  }
  void EndParamGesture(int index) override { Record("end", index, 0); }
  void NotifyHostPresetChange() override { Record("preset", -1, 0); }
  int HostSamplePosition() override { return host_ ? host_->samplePosition : 0; }
  double HostTempo() override { return host_ ? host_->time.tempo : 0; }
  void HostTimeSignature(int* numerator, int* denominator) override {
    if (host_ && numerator && denominator) {
      *numerator = host_->time.numerator;
      *denominator = host_->time.denominator;
    }
  }
  void HostTimeInfo(::HostTimeInfo* info) override {
    if (host_ && info) *info = host_->time;
  }
  void ResizeEditor() override {}
  bool SendMidiOut(const MidiMessage&) override { return false; }
  bool SendSysExOut(const SysExMessage&) override { return false; }

 private:
  void Record(const char* what, int index, double value) {
    if (host_) host_->events.push_back({what, index, value});
  }
  TestHost* host_;
};
