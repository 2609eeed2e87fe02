// The host's side of a VST2 plug-in: the callback the plug-in calls into
// (Vst2HostCallback) and one plug-in created through a module's entry
// (Vst2Plugin). Used by kestrune-render's offline host and by the scripted
// hosts of the tests and fuzz targets, which extend the answers.
//
// Routing of the callback: a plug-in calls audioMasterCallback with its
// AEffect. The call goes to the host whose pointer the AEffect's
// host-reserved resvd1 holds (a host that claims its plug-ins), else to the
// current host: the one creating a plug-in during VSTPluginMain, or the one
// a harness made current for its lifetime. No current host: the call
// answers 0. One thread creates plug-ins and switches the current host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vst2/Vst2Abi.h"

namespace host {

class Vst2HostCallback {
 public:
  Vst2HostCallback() = default;
  Vst2HostCallback(const Vst2HostCallback&) = delete;
  Vst2HostCallback& operator=(const Vst2HostCallback&) = delete;
  virtual ~Vst2HostCallback() = default;

  // The function handed to VSTPluginMain.
  static intptr_t VSTCALLBACK Callback(vst2::AEffect* effect, int32_t opcode, int32_t index,
                                       intptr_t value, void* ptr, float opt);

  // Makes `host` (may be null) answer plug-ins that name no host; returns
  // the host it replaces. Switch back in reverse order.
  static Vst2HostCallback* SetCurrent(Vst2HostCallback* host);

  // What the default answers say.
  std::string product;            // audioMasterGetProductString; empty: not answered
  std::string vendor;             // audioMasterGetVendorString; empty: not answered
  intptr_t vendorVersion = 0;     // audioMasterGetVendorVersion
  intptr_t processLevel = 0;      // audioMasterGetCurrentProcessLevel
  double sampleRate = 0;          // audioMasterGetSampleRate (16); 0: not answered
  intptr_t blockSize = 0;         // audioMasterGetBlockSize (17); 0: not answered

 protected:
  // One call from a plug-in. The default answers the version, the fields
  // above and Time(); everything else (automation, edits, window sizes)
  // answers 0.
  virtual intptr_t Answer(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                          void* ptr, float opt);
  // The transport for audioMasterGetTime; null: none.
  virtual const vst2::VstTimeInfo* Time() { return nullptr; }
};

class Vst2Plugin {
 public:
  using EntryProc = vst2::AEffect*(VSTCALLBACK*)(vst2::audioMasterCallback);

  Vst2Plugin() = default;
  Vst2Plugin(const Vst2Plugin&) = delete;
  Vst2Plugin& operator=(const Vst2Plugin&) = delete;
  ~Vst2Plugin() { Close(); }

  // Creates one plug-in through `entry`, with `host` current while the entry
  // runs. `claim` writes the host into the AEffect's resvd1, so later calls
  // reach it whichever host is current. False with a one-line reason when
  // the entry returns nothing or something without the VST2 magic (left
  // alone: not safe to call into).
  bool Create(EntryProc entry, Vst2HostCallback& host, bool claim, std::string& error);

  intptr_t Dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                    float opt = 0.0f) {
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
  }
  float Get(int32_t index) { return effect->getParameter(effect, index); }
  void Set(int32_t index, float value) { effect->setParameter(effect, index, value); }

  // A text the plug-in writes for `index` (name, label, display...), read
  // from a buffer larger than the nominal 8 or 64 bytes, as plug-ins
  // often write past them.
  std::string Text(int32_t opcode, int32_t index);
  // The chunk the plug-in hands out for `index` (0 bank, 1 program), copied;
  // empty when it hands out none.
  std::vector<uint8_t> Chunk(int32_t index);
  // effSetChunk with a copy of `bytes` (plug-ins may write into it); the
  // plug-in's answer.
  intptr_t SetChunk(int32_t index, std::vector<uint8_t> bytes);

  // effOpen, sample rate, block size, mains on: the usual start of a session.
  void Start(float sampleRate, int blockSize);
  // Mains on and effStartProcess; Close then stops and switches mains off.
  void StartProcess();
  // Stops processing if started, then effClose; the plug-in is gone.
  void Close();

  vst2::AEffect* effect = nullptr;

 private:
  bool processing_ = false;
};

}  // namespace host
