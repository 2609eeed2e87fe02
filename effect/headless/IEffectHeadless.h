// IEffectHeadless: the binding of an instance that no host loads.
//
// The tools that write the plug-in's shipped files or draw it without a
// window make one in-process: kestrune-lv2ttl reads the parameter table and
// the saved state of LV2 instances, kestrune-render draws its editor picture
// with the loaded module's settings. The instance speaks for one
// format (the API number it is made with), so anything that depends on the
// format behaves as it would in that format's module.
//
// There is no host behind it: gestures, automation and preset notices go
// nowhere, the transport stands still at its start (HostTimeInfo's
// defaults), no MIDI leaves and the editor has no window to resize. Every
// channel is connected and the block size is kDefaultBlockSize until the
// caller changes it; the base's threads and locking hold unchanged.
#pragma once

#include "IEffectBase.h"

class IEffectHeadless : public IEffectBase {
 public:
  static constexpr int kDefaultBlockSize = 1024;

  // `apiNumber`: IEffectBase::kApiVst2, kApiVst3 or kApiLv2.
  IEffectHeadless(int apiNumber, const EffectIdentity& identity);
  ~IEffectHeadless() override;

  void BeginParamGesture(int index) override;
  void NotifyHostParam(int index, double normalized) override;
  void EndParamGesture(int index) override;
  void NotifyHostPresetChange() override;
  // Nothing is played live: whatever runs through the instance is offline.
  bool IsOfflineRender() override { return true; }
  int HostSamplePosition() override;
  double HostTempo() override;
  void HostTimeSignature(int* numerator, int* denominator) override;
  void HostTimeInfo(::HostTimeInfo* info) override;
  void ResizeEditor() override;
  bool SendMidiOut(const MidiMessage& message) override;
  bool SendSysExOut(const SysExMessage& message) override;
};
