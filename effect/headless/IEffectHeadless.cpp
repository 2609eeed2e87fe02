#include "IEffectHeadless.h"

IEffectHeadless::IEffectHeadless(int apiNumber, const EffectIdentity& identity)
    : IEffectBase(identity, apiNumber) {
  ConnectInputs(0, InputChannelCount(), true);
  ConnectOutputs(0, OutputChannelCount(), true);
  ChangeBlockSize(kDefaultBlockSize);
}

IEffectHeadless::~IEffectHeadless() = default;

void IEffectHeadless::BeginParamGesture(int) {}
void IEffectHeadless::NotifyHostParam(int, double) {}
void IEffectHeadless::EndParamGesture(int) {}
void IEffectHeadless::NotifyHostPresetChange() {}

int IEffectHeadless::HostSamplePosition() { return 0; }
double IEffectHeadless::HostTempo() { return ::HostTimeInfo().tempo; }

void IEffectHeadless::HostTimeSignature(int* numerator, int* denominator) {
  const ::HostTimeInfo still;
  if (numerator) *numerator = still.numerator;
  if (denominator) *denominator = still.denominator;
}

void IEffectHeadless::HostTimeInfo(::HostTimeInfo* info) {
  if (info) *info = ::HostTimeInfo();
}

void IEffectHeadless::ResizeEditor() {}
bool IEffectHeadless::SendMidiOut(const MidiMessage&) { return false; }
bool IEffectHeadless::SendSysExOut(const SysExMessage&) { return false; }
