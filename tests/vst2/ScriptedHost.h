// The scripted VST2 host of the harness: the host library's callback,
// current for its lifetime, recording every call the plug-in makes into it
// and answering with configurable product string, version, transport,
// process level and events answer; plug-in instances of the built module.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Vst2Plugin.h"

struct HostCall {
  const vst2::AEffect* effect = nullptr;  // the instance that called
  int32_t opcode = 0;
  int32_t index = 0;
  intptr_t value = 0;
  float opt = 0;
  std::vector<uint8_t> midi;  // for audioMasterProcessEvents: status, data1, data2
  int32_t deltaFrames = 0;
  int32_t eventType = 0;
  int32_t dumpBytes = 0;
};

class ScriptedHost : public host::Vst2HostCallback {
 public:
  ScriptedHost();
  ~ScriptedHost() override;

  int CountOf(int32_t opcode) const;
  const HostCall* Last(int32_t opcode) const;

  // What the host answers, besides the library's fields (product,
  // vendorVersion, processLevel).
  bool fillProductUnterminated = false;  // writes 256 non-zero bytes instead
  intptr_t eventsAnswer = 1;
  bool hasTime = false;
  vst2::VstTimeInfo time{};

  std::vector<HostCall> calls;

 protected:
  intptr_t Answer(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                  float opt) override;
  const vst2::VstTimeInfo* Time() override { return hasTime ? &time : nullptr; }

 private:
  host::Vst2HostCallback* previous_;
};

// The plug-in module, loaded once per test program.
struct Vst2Module {
  using EntryProc = host::Vst2Plugin::EntryProc;
  static Vst2Module& Get();
  void* handle = nullptr;
  EntryProc pluginMain = nullptr;
  EntryProc legacyMain = nullptr;
};

// One plug-in instance created through the module's VSTPluginMain.
class PluginInstance : public host::Vst2Plugin {
 public:
  explicit PluginInstance(ScriptedHost& host);
};
