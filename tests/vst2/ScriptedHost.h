// A scripted VST2 host for the harness: records every call the plug-in makes
// into it, answers with configurable product string, version, transport and
// process level, and loads the built plug-in module with dlopen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vst2/Vst2Abi.h"

struct HostCall {
  int32_t opcode = 0;
  int32_t index = 0;
  intptr_t value = 0;
  float opt = 0;
  std::vector<uint8_t> midi;  // for audioMasterProcessEvents: status, data1, data2
  int32_t deltaFrames = 0;
  int32_t eventType = 0;
  int32_t dumpBytes = 0;
};

class ScriptedHost {
 public:
  ScriptedHost();
  ~ScriptedHost();

  // The callback handed to the plug-in. Calls land in the active host.
  static intptr_t VSTCALLBACK Callback(vst2::AEffect* effect, int32_t opcode, int32_t index,
                                       intptr_t value, void* ptr, float opt);

  int CountOf(int32_t opcode) const;
  const HostCall* Last(int32_t opcode) const;

  // What the host answers.
  std::string product = "REAPER";
  bool fillProductUnterminated = false;  // writes 256 non-zero bytes instead
  intptr_t vendorVersion = 6029;
  intptr_t processLevel = 2;
  intptr_t eventsAnswer = 1;
  bool hasTime = false;
  vst2::VstTimeInfo time{};

  std::vector<HostCall> calls;

 private:
  intptr_t Answer(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
  ScriptedHost* previous_;
};

// The plug-in module, loaded once per test program.
struct Vst2Module {
  using EntryProc = vst2::AEffect*(VSTCALLBACK*)(vst2::audioMasterCallback);
  static Vst2Module& Get();
  void* handle = nullptr;
  EntryProc pluginMain = nullptr;
  EntryProc legacyMain = nullptr;
};

// One plug-in instance created through the module's VSTPluginMain.
class PluginInstance {
 public:
  explicit PluginInstance(ScriptedHost& host);
  ~PluginInstance();
  PluginInstance(const PluginInstance&) = delete;
  PluginInstance& operator=(const PluginInstance&) = delete;

  intptr_t Dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                    float opt = 0.0f);
  float Get(int32_t index) { return effect->getParameter(effect, index); }
  void Set(int32_t index, float value) { effect->setParameter(effect, index, value); }
  // effOpen, sample rate, block size, mains on: the usual start of a session.
  void Start(float sampleRate, int blockSize);
  void Close();

  vst2::AEffect* effect = nullptr;
};
