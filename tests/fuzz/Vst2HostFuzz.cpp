// A VST2 host session: up to 64 host calls chosen by the input, each with
// host-chosen arguments (indices, numbers, texts, speaker arrangements, MIDI
// and SysEx events, host time), as dispatcher, setParameter, getParameter and
// process calls. Pointers are always valid and as large as the call's type:
// the input decides what a host may decide, not whether memory exists.
// Input, per call: an index byte (signed; the parameter or opcode index), an
// operation byte (modulo 16; see the cases below), then its arguments.
// Checks after every call: every parameter reads back normalized; a value set
// through setParameter lands on a step of a stepped parameter; audio output
// of a bounded test signal is finite.
#include <cstddef>

#include "Vst2Session.h"

using namespace vst2;

namespace {

// Opcodes whose pointer argument is a text buffer or a struct no larger than
// the buffer handed over; the editor opcodes are left out (no display).
constexpr int32_t kBufferOpcodes[] = {
    effGetProgramName, effGetParamLabel,  effGetParamDisplay,       effGetParamName,
    effGetEffectName,  effGetVendorString, effGetProductString,     effGetProgramNameIndexed,
    effGetInputProperties, effGetOutputProperties, effGetMidiKeyName, effVendorSpecific,
    effGetParameterProperties, effCanBeAutomated, effGetPlugCategory, effGetProgram,
    effIdentify, effGetTailSize, effGetVstVersion, effGetVendorVersion, effStartProcess,
    effStopProcess, effSetProcessPrecision, effSetBypass, effIdle, effProcessVarIo, 9, 16, 60, 79};

void SendEvents(PluginInstance& plug, fuzz::HostInput& in) {
  const int count = in.Choice(5);
  std::vector<VstMidiEvent> midi(count);
  std::vector<VstMidiSysexEvent> sysex(count);
  std::vector<std::vector<uint8_t>> dumps(count);
  std::vector<uint8_t> list(sizeof(VstEvents) + count * sizeof(VstEvent*));
  auto* events = reinterpret_cast<VstEvents*>(list.data());
  events->numEvents = count;
  // The list really is `count` pointers long, as hosts allocate it.
  auto* slots = reinterpret_cast<VstEvent**>(list.data() + offsetof(VstEvents, events));
  for (int i = 0; i < count; ++i) {
    if (in.Flag()) {
      midi[i] = {};
      midi[i].type = kVstMidiType;
      midi[i].byteSize = sizeof(VstMidiEvent);
      midi[i].deltaFrames = in.Take<int32_t>();
      for (int b = 0; b < 4; ++b) midi[i].midiData[b] = in.Take<char>();
      slots[i] = reinterpret_cast<VstEvent*>(&midi[i]);
    } else {
      dumps[i] = in.Bytes(in.Choice(65));
      sysex[i] = {};
      sysex[i].type = kVstSysExType;
      sysex[i].byteSize = sizeof(VstMidiSysexEvent);
      sysex[i].deltaFrames = in.Take<int32_t>();
      sysex[i].dumpBytes = static_cast<int32_t>(dumps[i].size());
      sysex[i].sysexDump = dumps[i].empty() ? nullptr : reinterpret_cast<char*>(dumps[i].data());
      slots[i] = reinterpret_cast<VstEvent*>(&sysex[i]);
    }
  }
  plug.Dispatch(effProcessEvents, 0, 0, events);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::HostInput in(data, size);
  fuzz::Vst2Session session;
  PluginInstance& plug = session.Plug();
  int hostBlock = fuzz::Vst2Session::kBlock;

  for (int call = 0; call < 64 && in.Left() > 0; ++call) {
    const int32_t index = in.Take<int8_t>();
    switch (in.Choice(16)) {
      case 0: {
        plug.Set(index, static_cast<float>(in.HostDouble()));
        if (index >= 0 && index < fuzz::kParamCount)
          FUZZ_REQUIRE(fuzz::OnStep(index, plug.Get(index), 1e-6));
        break;
      }
      case 1:
        plug.Dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(in.HostDouble()));
        break;
      case 2: {
        intptr_t frames = in.Flag() ? in.Take<int8_t>()
                                           : in.Take<intptr_t>();
        plug.Dispatch(effSetBlockSize, 0, frames);
        if (frames > 0) hostBlock = static_cast<int>(std::min<intptr_t>(frames, fuzz::Vst2Session::kBlock));
        break;
      }
      case 3:
        plug.Dispatch(effMainsChanged, 0, in.Take<int8_t>());
        break;
      case 4:
        plug.Dispatch(effSetProgram, 0, in.Take<int32_t>());
        break;
      case 5: {
        std::vector<char> name = fuzz::TextBuffer(in.Text(40));
        plug.Dispatch(effSetProgramName, 0, 0, name.data());
        break;
      }
      case 6: case 7: {
        // A buffer larger than any text or struct these opcodes fill.
        std::vector<char> buffer(512, 0);
        const int32_t opcode = kBufferOpcodes[in.Choice(sizeof kBufferOpcodes / sizeof kBufferOpcodes[0])];
        intptr_t value = in.Flag() ? in.Take<int8_t>() : in.Take<intptr_t>();
        plug.Dispatch(opcode, index, value, buffer.data(), static_cast<float>(in.HostDouble()));
        break;
      }
      case 8: {
        std::vector<char> text = fuzz::TextBuffer(in.Text(40));
        plug.Dispatch(in.Flag() ? effCanDo : effString2Parameter, index, 0, text.data());
        break;
      }
      case 9: {
        VstSpeakerArrangement inputs{}, outputs{};
        inputs.type = in.Take<int8_t>();
        inputs.numChannels = in.Take<int32_t>();
        outputs.type = in.Take<int8_t>();
        outputs.numChannels = in.Take<int32_t>();
        plug.Dispatch(effSetSpeakerArrangement, 0,
                      in.Flag() ? reinterpret_cast<intptr_t>(&inputs) : 0,
                      in.Flag() ? &outputs : nullptr);
        VstSpeakerArrangement* readIn = nullptr;
        VstSpeakerArrangement* readOut = nullptr;
        plug.Dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&readIn), &readOut);
        break;
      }
      case 10:
        SendEvents(plug, in);
        break;
      case 11:
        session.ProcessBlock(in.Choice(hostBlock + 1), in.Flag());
        break;
      case 12: {
        // Save and restore a chunk from the host's own copy.
        std::vector<uint8_t> chunk = session.Chunk(index & 1);
        if (!chunk.empty())
          plug.Dispatch(effSetChunk, index & 1, static_cast<intptr_t>(chunk.size()), chunk.data());
        break;
      }
      case 13: {
        // The host's transport, read by the plug-in while it processes.
        ScriptedHost& host = session.Host();
        host.hasTime = in.Flag();
        host.time.samplePos = in.HostDouble();
        host.time.sampleRate = in.HostDouble();
        host.time.ppqPos = in.HostDouble();
        host.time.tempo = in.HostDouble();
        host.time.timeSigNumerator = in.Take<int32_t>();
        host.time.timeSigDenominator = in.Take<int32_t>();
        host.time.flags = in.Take<int32_t>();
        host.processLevel = in.Choice(6);
        break;
      }
      default:
        // Opcodes the plug-in does not implement, with a valid buffer.
        std::vector<char> buffer(512, 0);
        plug.Dispatch(80 + in.Choice(121), index, in.Take<intptr_t>(),
                      buffer.data());
        break;
    }
    session.CheckValues();
  }
  session.ProcessBlock(std::min(hostBlock, fuzz::Vst2Session::kBlock), false);
  return 0;
}
