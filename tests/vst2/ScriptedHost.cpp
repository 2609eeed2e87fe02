#include "ScriptedHost.h"

#include <cstring>
#include <stdexcept>

#include "Vst2ModuleHandle.h"

ScriptedHost::ScriptedHost() : previous_(SetCurrent(this)) {
  product = "REAPER";
  vendorVersion = 6029;
  processLevel = 2;
}

ScriptedHost::~ScriptedHost() { SetCurrent(previous_); }

intptr_t ScriptedHost::Answer(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                              void* ptr, float opt) {
  HostCall call{effect, opcode, index, value, opt, {}, 0, 0, 0};
  if (opcode == vst2::audioMasterProcessEvents && ptr) {
    const auto* events = static_cast<const vst2::VstEvents*>(ptr);
    if (events->numEvents > 0 && events->events[0]) {
      const vst2::VstEvent* event = events->events[0];
      call.eventType = event->type;
      call.deltaFrames = event->deltaFrames;
      if (event->type == vst2::kVstMidiType) {
        const auto* midi = reinterpret_cast<const vst2::VstMidiEvent*>(event);
        for (int i = 0; i < 3; ++i) call.midi.push_back(static_cast<uint8_t>(midi->midiData[i]));
      } else if (event->type == vst2::kVstSysExType) {
        const auto* sysex = reinterpret_cast<const vst2::VstMidiSysexEvent*>(event);
        call.dumpBytes = sysex->dumpBytes;
        call.midi.assign(sysex->sysexDump, sysex->sysexDump + sysex->dumpBytes);
      }
    }
  }
  calls.push_back(call);

  switch (opcode) {
    case vst2::audioMasterGetProductString:
      // Answered even when empty, as some hosts do.
      if (fillProductUnterminated)
        memset(ptr, 'x', 256);
      else
        strcpy(static_cast<char*>(ptr), product.c_str());
      return 1;
    case vst2::audioMasterProcessEvents:
      return eventsAnswer;
    default:
      break;
  }
  return Vst2HostCallback::Answer(effect, opcode, index, value, ptr, opt);
}

int ScriptedHost::CountOf(int32_t opcode) const {
  int n = 0;
  for (const HostCall& c : calls) n += c.opcode == opcode ? 1 : 0;
  return n;
}

const HostCall* ScriptedHost::Last(int32_t opcode) const {
  for (auto it = calls.rbegin(); it != calls.rend(); ++it)
    if (it->opcode == opcode) return &*it;
  return nullptr;
}

Vst2Module& Vst2Module::Get() {
  static Vst2Module module = [] {
    // Kept loaded for the whole program, as hosts keep a module.
    static host::Vst2ModuleHandle library;
    std::string error;
    if (!library.Load(KESTRUNE_VST2_MODULE, error)) throw std::runtime_error(error);
    Vst2Module m;
    m.handle = library.Handle();
    m.pluginMain = library.Entry();
    m.legacyMain = reinterpret_cast<EntryProc>(library.Find("main"));
    return m;
  }();
  return module;
}

PluginInstance::PluginInstance(ScriptedHost& host) {
  std::string error;
  if (!Create(Vst2Module::Get().pluginMain, host, false, error)) throw std::runtime_error(error);
}
