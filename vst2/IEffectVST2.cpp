#include "IEffectVST2.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <type_traits>

#include "EditorIdle.h"

using namespace vst2;

namespace {

constexpr int32_t kChunkMagic = 0x70666674;
constexpr int32_t kBankVersionWithPresets = 0x10000;

// Which of the vendor-extension capabilities the host asked about.
constexpr int32_t kHostAskedVendorExtensions = 1 << 0;
constexpr int32_t kHostAskedEmbeddedViewConfig = 1 << 1;

// The answer that tells a host the vendor extensions are understood.
constexpr intptr_t kVendorExtensionsAnswer = static_cast<intptr_t>(0xBEEF0000u);
constexpr intptr_t kVendorSpecificAnswer = 0xBEEF;

// Host integers narrowed to an index only when they really are one.
bool IndexBelow(intptr_t value, int count) { return value >= 0 && value < count; }

// Exact comparison with a known text that reads no further into the host's
// string than the known text plus its terminator.
bool SameText(const char* hostText, const char* known) {
  return strncmp(hostText, known, strlen(known) + 1) == 0;
}

int32_t ArrangementFor(int channels) {
  if (channels <= 0) return kSpeakerArrEmpty;
  if (channels == 1) return kSpeakerArrMono;
  if (channels == 2) return kSpeakerArrStereo;
  return kSpeakerArrUserDefined;
}

int16_t ToRectCoordinate(int pixels) {
  return static_cast<int16_t>(std::min(std::max(pixels, 0), 32767));
}

}  // namespace

IEffectVST2::IEffectVST2(audioMasterCallback host, const EffectIdentity& identity)
    : IEffectBase(identity, kApiVst2), host_(host) {
  memset(&effect_, 0, sizeof effect_);
  effect_.magic = kEffectMagic;
  effect_.dispatcher = &IEffectVST2::VSTDispatcher;
  effect_.process = &IEffectVST2::VSTProcessAdd;
  effect_.setParameter = &IEffectVST2::VSTWriteParameter;
  effect_.getParameter = &IEffectVST2::VSTReadParameter;
  effect_.numPrograms = PresetCount();
  effect_.numParams = ParamCount();
  effect_.numInputs = InputChannelCount();
  effect_.numOutputs = OutputChannelCount();
  // Program chunks: hosts then save the exact state, and load the factory
  // .fxp files (opaque program chunks), which hosts checking this flag
  // refused. Projects saved earlier as parameter values are restored as such.
  effect_.flags = effFlagsCanReplacing | effFlagsCanDoubleReplacing | effFlagsProgramChunks;
  if (LegalIO(1, -1)) effect_.flags |= effFlagsCanMono;
  effect_.ioRatio = 1.0f;
  effect_.object = this;
  effect_.uniqueID = UniqueId();
  // The version as VST2 hosts decode it: one byte per part, 0x00MMmmrr
  // (Audacity and JUCE's host show 3.1.0; the decimal 30100 showed as
  // "117.148", its bytes 0x75 and 0x94).
  effect_.version = Version();
  effect_.processReplacing = &IEffectVST2::VSTProcessFloat;
  effect_.processDoubleReplacing = &IEffectVST2::VSTProcessDouble;

  inputArrangement_.type = ArrangementFor(InputChannelCount());
  inputArrangement_.numChannels = InputChannelCount();
  outputArrangement_.type = ArrangementFor(OutputChannelCount());
  outputArrangement_.numChannels = OutputChannelCount();

  ConnectInputs(0, InputChannelCount(), true);
  ConnectOutputs(0, OutputChannelCount(), true);
  if (BlockSize() != kDefaultBlockSize) ChangeBlockSize(kDefaultBlockSize);
}

IEffectVST2::~IEffectVST2() {
  // A host that keeps using the record after effClose finds it invalid
  // rather than pointing at a destroyed instance.
  effect_.magic = 0;
  effect_.object = nullptr;
  effect_.dispatcher = nullptr;
}

IEffectVST2* IEffectVST2::FromEffect(AEffect* effect) {
  if (!effect || effect->magic != kEffectMagic || effect->dispatcher != &VSTDispatcher)
    return nullptr;
  auto* plug = static_cast<IEffectVST2*>(effect->object);
  if (!plug || plug->Effect() != effect) return nullptr;
  return plug;
}

intptr_t IEffectVST2::CallHost(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                               float opt) {
  if (!host_) return 0;
  return host_(&effect_, opcode, index, value, ptr, opt);
}

// ---------------------------------------------------------------- dispatcher

intptr_t VSTCALLBACK IEffectVST2::VSTDispatcher(AEffect* effect, int32_t opcode, int32_t index,
                                                intptr_t value, void* ptr, float opt) {
  IEffectVST2* plug = FromEffect(effect);
  if (!plug) return 0;
  try {
    if (opcode == effClose) {
      // An editor the host left open closes while the instance is still
      // whole, so a drag in progress ends its gesture with the host.
      if (plug->Editor()) plug->Editor()->CloseWindow();
      // The lock lives inside the instance: wait for any call in progress,
      // release it, then destroy.
      plug->Lock();
      plug->Unlock();
      delete plug;
      return 0;
    }
    // The editor's calls come on the user-interface thread and only reach
    // the editor: drawing (tens of milliseconds at 2x) and a modal popup menu
    // must not keep the audio thread waiting. What the editor changes goes
    // through SetParamFromEditor, which takes the lock itself.
    if (IsEditorOpcode(opcode)) return plug->DispatchEditor(opcode, ptr);
    // The host's idle, asked for at effOpen: outside any loading call, and
    // the host may read every value when told, so no lock is held.
    if (opcode == effIdle) {
      plug->TellHostOfStateLoad();
      return 1;  // idle me again
    }
    PlugLockGuard guard(*plug);
    return plug->Dispatch(opcode, index, value, ptr, opt);
  } catch (...) {
    // Nothing may unwind into the host (allocation failures included).
    return 0;
  }
}

intptr_t IEffectVST2::Dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                               float opt) {
  switch (opcode) {
    case effOpen:
      FirstOpenSetup();
      NotifyAllParamsChanged();
      return 0;

    case effSetProgram:
      // The program chosen loads as stored; the one left is not overwritten
      // with the current values (the first factory program, picked from a
      // fresh instance, would otherwise load the defaults).
      if (IndexBelow(value, PresetCount())) ApplyPreset(static_cast<int>(value));
      return 0;

    case effGetProgram:
      return CurrentPresetIndex();

    case effSetProgramName:
      if (ptr) {
        ModifyCurrentPreset(static_cast<const char*>(ptr));
        PresetStoreChanged();
      }
      return 0;

    case effGetProgramName:
      if (ptr) {
        PresetSlot* slot = PresetAt(CurrentPresetIndex());
        CopyText(static_cast<char*>(ptr), kProgramNameBytes, slot ? slot->name : "");
      }
      return 0;

    case effGetParamLabel:
      if (PlugParam* param = ParamAt(index); param && ptr)
        CopyText(static_cast<char*>(ptr), kParamTextBytes, param->HostUnit(param->value));
      return 0;

    case effGetParamDisplay:
      if (PlugParam* param = ParamAt(index); param && ptr)
        param->HostDisplayBesideUnit(param->value, static_cast<char*>(ptr), kParamTextBytes);
      return 0;

    case effGetParamName:
      if (PlugParam* param = ParamAt(index); param && ptr)
        CopyText(static_cast<char*>(ptr), kParamNameBytes, param->name);
      return 0;

    case effSetSampleRate:
      // A rate of zero, below zero or not a number would poison every filter.
      if (std::isfinite(opt) && opt > 0.0f) {
        SetSampleRate(static_cast<double>(opt));
        ResetProcessing();
      }
      return 0;

    case effSetBlockSize:
      if (value > 0) {
        ChangeBlockSize(static_cast<int>(std::min<intptr_t>(value, kMaxBlockSize)));
        ResetProcessing();
      }
      return 0;

    case effMainsChanged:
      if (value != 0) {
        ActivationChanged(true);
      } else {
        ActivationChanged(false);
        ResetProcessing();
      }
      return 0;

    case effIdentify:
      return kEffectIdentity;

    case effGetChunk:
      return GetChunk(index, ptr);

    case effSetChunk:
      return SetChunk(index, value, ptr);

    case effProcessEvents:
      return ProcessEvents(static_cast<const VstEvents*>(ptr));

    case effCanBeAutomated:
      return 1;

    case effString2Parameter:
      return StringToParameter(index, static_cast<const char*>(ptr));

    case effGetProgramNameIndexed: {
      if (!ptr) return 0;
      PresetSlot* slot = PresetAt(index);
      char* out = static_cast<char*>(ptr);
      CopyText(out, kProgramNameBytes, slot ? slot->name : "");
      return out[0] ? 1 : 0;
    }

    case effGetInputProperties:
      return PinProperties(index, static_cast<VstPinProperties*>(ptr), true);

    case effGetOutputProperties:
      return PinProperties(index, static_cast<VstPinProperties*>(ptr), false);

    case effGetPlugCategory:
      // The category VST2 has for dynamics, as VST3's "Fx|Dynamics" and
      // LV2's CompressorPlugin say (Carla lists it under "dynamics").
      return IsInstrument() ? kPlugCategSynth : kPlugCategMastering;

    case effSetSpeakerArrangement:
      SetSpeakerArrangement(reinterpret_cast<const VstSpeakerArrangement*>(value),
                            static_cast<const VstSpeakerArrangement*>(ptr));
      return 1;

    case effGetEffectName:
      if (!ptr) return 0;
      CopyText(static_cast<char*>(ptr), kEffectNameBytes, EffectName());
      return 1;

    case effGetVendorString:
      if (!ptr) return 0;
      CopyText(static_cast<char*>(ptr), kVendorTextBytes, MakerName());
      return 1;

    case effGetProductString:
      if (!ptr) return 0;
      // Hosts list the plug-in by it (Carla's label): the effect's name
      // when there is no product name of its own.
      CopyText(static_cast<char*>(ptr), kVendorTextBytes,
               ProductName()[0] ? ProductName() : EffectName());
      return 1;

    case effGetVendorVersion:
      return Version();

    case effVendorSpecific:
      return VendorSpecific(index, value, ptr, opt);

    case effCanDo:
      return CanDo(static_cast<const char*>(ptr));

    case effGetTailSize:
      return TailSize();

    case effGetVstVersion:
      return kVstVersion;

    case effGetMidiKeyName: {
      if (!ptr) return 0;
      auto* key = static_cast<vst2::MidiKeyName*>(ptr);
      key->keyName[0] = '\0';
      return MidiKeyName(key->thisKeyNumber, key->keyName, sizeof key->keyName) ? 1 : 0;
    }

    case effGetParameterProperties:
      return ParameterProperties(index, static_cast<VstParameterProperties*>(ptr));

    case effGetSpeakerArrangement:
      if (value) *reinterpret_cast<VstSpeakerArrangement**>(value) = &inputArrangement_;
      if (ptr) *static_cast<VstSpeakerArrangement**>(ptr) = &outputArrangement_;
      return 1;

    default:
      // Bypass, start/stop, precision and
      // every opcode this plug-in does not implement.
      return 0;
  }
}

bool IEffectVST2::IsEditorOpcode(int32_t opcode) {
  return opcode == effEditGetRect || opcode == effEditOpen || opcode == effEditClose ||
         opcode == effEditIdle;
}

intptr_t IEffectVST2::DispatchEditor(int32_t opcode, void* ptr) {
  IEditorLink* editor = Editor();
  if (!editor) return 0;
  switch (opcode) {
    case effEditGetRect:
      if (!ptr) return 0;
      if (!(effect_.flags & effFlagsHasEditor)) AdoptEditor();
      *static_cast<ERect**>(ptr) = &editorRect_;
      return 1;
    case effEditOpen:
      if (!editor->OpenWindow(ptr)) return 0;
      EditorOpened();
      return 1;
    case effEditClose:
      EditorClosed();
      editor->CloseWindow();
      return 1;
    case effEditIdle:
      IdleEditorWindow(editor);
      return 0;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------- chunks

intptr_t IEffectVST2::GetChunk(int32_t index, void* ptr) {
  if (!ptr) return 0;
  StateChunk& chunk = index != 0 ? programChunk_ : bankChunk_;
  BeginChunk(chunk, index != 0 ? kChunkVersion : kBankVersion);
  bool ok;
  if (index != 0) {
    ok = SaveState(chunk);
  } else {
    ModifyCurrentPreset();
    ok = SerializePresets(chunk);
  }
  if (!ok || chunk.Size() <= 0) return 0;
  *static_cast<void**>(ptr) = chunk.Data();
  return chunk.Size();
}

intptr_t IEffectVST2::SetChunk(int32_t index, intptr_t size, const void* data) {
  // Refused before anything is allocated or read.
  if (!data || size < 0 || size > kMaxChunkBytes) return 0;

  // What a failed read must leave behind: the parameters and every preset.
  StateChunk savedState, savedPresets;
  SaveState(savedState);
  SerializePresets(savedPresets);

  StateChunk& chunk = index != 0 ? programChunk_ : bankChunk_;
  if (!chunk.Assign(data, static_cast<size_t>(size))) return 0;

  int32_t version = 0;
  int position = 0;
  int32_t magic = 0;
  if (chunk.Get(&magic, 0) > 0 && magic == kChunkMagic) {
    position = chunk.Get(&version, 4);  // -1 when the version word is missing
    if (position < 0) version = 0;
  }

  bool bank = index == 0 && version >= kBankVersionWithPresets;
  position = bank ? UnserializePresets(chunk, position, version) : LoadState(chunk, position);

  if (position < 0) {
    UnserializePresets(savedPresets, 0);
    LoadState(savedState, 0);
    RefreshEditorFromParams();
    return 0;
  }
  if (!bank) ModifyCurrentPreset();
  RefreshEditorFromParams();
  MarkHostStateLoad();
  return 1;
}

// ---------------------------------------------------------------- events and texts

intptr_t IEffectVST2::ProcessEvents(const VstEvents* events) {
  if (!events) return 0;
  int32_t count = events->numEvents;
  if (count < 0 || count > kMaxEvents) return 0;
  // The record declares two pointers, but hosts send lists of any length
  // laid out in one piece: read them through a pointer, not the array.
  const VstEvent* const* list = events->events;
  for (int32_t i = 0; i < count; ++i) {
    const VstEvent* event = list[i];
    if (!event) continue;
    if (event->type == kVstMidiType) {
      const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
      MidiMessage message;
      message.sampleOffset = midi->deltaFrames;
      message.status = static_cast<uint8_t>(midi->midiData[0]);
      message.data1 = static_cast<uint8_t>(midi->midiData[1]);
      message.data2 = static_cast<uint8_t>(midi->midiData[2]);
      MidiIn(message);
    } else if (event->type == kVstSysExType) {
      const auto* sysex = reinterpret_cast<const VstMidiSysexEvent*>(event);
      // A dump with a negative size, or bytes promised behind a null pointer,
      // cannot be read safely.
      if (sysex->dumpBytes < 0 || (sysex->dumpBytes > 0 && !sysex->sysexDump)) continue;
      SysExMessage message;
      message.sampleOffset = sysex->deltaFrames;
      message.size = sysex->dumpBytes;
      message.data = reinterpret_cast<const uint8_t*>(sysex->sysexDump);
      SysExIn(message);
    }
  }
  return 1;
}

intptr_t IEffectVST2::StringToParameter(int32_t index, const char* text) {
  PlugParam* param = ParamAt(index);
  if (!param) return 0;
  if (!text) return 1;  // the host only asks whether texts are understood
  double plain = 0;
  if (!param->HostParse(text, &plain)) return 0;
  // Applied as the normalized value the text gives, as a VST3 host applies
  // the same text: both formats end up with the same value.
  return SetParamFromHost(index, param->HostNormalizedFromPlain(plain)) ? 1 : 0;
}

intptr_t IEffectVST2::ParameterProperties(int32_t index, VstParameterProperties* properties) {
  const PlugParam* param = ParamAt(index);
  // Continuous parameters: the host's own defaults suit them.
  if (!param || !properties || !param->IsStepped()) return 0;
  memset(properties, 0, sizeof *properties);
  CopyText(properties->label, sizeof properties->label, param->name);
  CopyText(properties->shortLabel, sizeof properties->shortLabel, param->name);
  double steps = std::round((param->maxValue - param->minValue) / param->step);
  if (steps == 1) {
    properties->flags = kVstParameterIsSwitch;
    return 1;
  }
  properties->flags = kVstParameterUsesIntegerMinMax | kVstParameterUsesIntStep;
  properties->minInteger = 0;
  properties->maxInteger = static_cast<int32_t>(steps);
  properties->stepInteger = 1;
  properties->largeStepInteger = 1;
  return 1;
}

intptr_t IEffectVST2::PinProperties(int32_t index, VstPinProperties* pin, bool input) {
  int count = input ? InputChannelCount() : OutputChannelCount();
  if (!pin || index < 0 || index >= count) return 0;
  pin->flags = kVstPinIsActive;
  if (index % 2 == 0 && index < count - 1) pin->flags |= kVstPinIsStereo;
  snprintf(pin->label, sizeof pin->label, input ? "Input %d" : "Output %d", index + 1);
  return 1;
}

void IEffectVST2::SetSpeakerArrangement(const VstSpeakerArrangement* inputs,
                                        const VstSpeakerArrangement* outputs) {
  if (inputs) {
    int n = InputChannelCount();
    int k = std::min(std::max(inputs->numChannels, 0), n);
    ConnectInputs(0, k, true);
    ConnectInputs(k, n - k, false);
  }
  if (outputs) {
    int n = OutputChannelCount();
    int k = std::min(std::max(outputs->numChannels, 0), n);
    ConnectOutputs(0, k, true);
    ConnectOutputs(k, n - k, false);
  }
}

intptr_t IEffectVST2::CanDo(const char* capability) {
  if (!capability) return 0;
  TraceLine("IEffectVST2::VSTDispatcher", 720, "VSTCanDo(%s)", capability);
  if (SameText(capability, "receiveVstTimeInfo")) return 1;
  if (HandlesMidi() &&
      (SameText(capability, "sendVstEvents") || SameText(capability, "sendVstMidiEvent") ||
       SameText(capability, "receiveVstEvents") || SameText(capability, "receiveVstMidiEvent")))
    return 1;
  if (SameText(capability, "hasCockosExtensions")) {
    hostExtensions_ |= kHostAskedVendorExtensions;
    return kVendorExtensionsAnswer;
  }
  if (SameText(capability, "hasCockosViewAsConfig")) {
    hostExtensions_ |= kHostAskedEmbeddedViewConfig;
    return kVendorExtensionsAnswer;
  }
  return 0;
}

intptr_t IEffectVST2::VendorSpecific(int32_t index, intptr_t value, void* ptr, float opt) {
  if (index == effGetParamDisplay) {
    // Display text of an arbitrary normalised value of parameter `value`.
    if (!ptr) return 0;
    if (IndexBelow(value, ParamCount())) {
      double normalized = std::isnan(opt) ? 0.0 : std::min(std::max<double>(opt, 0.0), 1.0);
      PlugParam* param = ParamAt(static_cast<int>(value));
      param->HostDisplayBesideUnit(param->ValueAtHostNormalized(normalized),
                                   static_cast<char*>(ptr), kParamTextBytes);
    }
    return kVendorSpecificAnswer;
  }
  if (index == effGetParamName) {
    // Asks whether parameter `value` moves in steps.
    if (IndexBelow(value, ParamCount()) &&
        ParamAt(static_cast<int>(value))->kind != ParamKindContinuous)
      return kVendorSpecificAnswer;
    return 0;
  }
  return 0;
}

// ---------------------------------------------------------------- processing

int IEffectVST2::ConnectedInputCount() const {
  int n = 0;
  for (int i = 0; i < InputChannelCount(); ++i) n += IsInputConnected(i) ? 1 : 0;
  return n;
}

int IEffectVST2::ConnectedOutputCount() const {
  int n = 0;
  for (int i = 0; i < OutputChannelCount(); ++i) n += IsOutputConnected(i) ? 1 : 0;
  return n;
}

template <typename Sample>
void IEffectVST2::ProcessFromHost(Sample** inputs, Sample** outputs, int32_t frames,
                                  bool accumulate) {
  PlugLockGuard guard(*this);
  if (HandlesMidi()) CallHost(audioMasterWantMidi);
  // Only connected channels take host arrays, so only that many are read:
  // a host that announced two inputs may pass an array of two pointers.
  if constexpr (std::is_same<Sample, float>::value)
    ProcessHostBlock(inputs, ConnectedInputCount(), outputs, ConnectedOutputCount(), frames,
                     accumulate);
  else
    ProcessHostBlock(inputs, ConnectedInputCount(), outputs, ConnectedOutputCount(), frames);
}

void VSTCALLBACK IEffectVST2::VSTProcessFloat(AEffect* effect, float** inputs, float** outputs,
                                              int32_t frames) {
  if (IEffectVST2* plug = FromEffect(effect))
    plug->ProcessFromHost(inputs, outputs, frames, false);
}

void VSTCALLBACK IEffectVST2::VSTProcessDouble(AEffect* effect, double** inputs,
                                               double** outputs, int32_t frames) {
  if (IEffectVST2* plug = FromEffect(effect))
    plug->ProcessFromHost(inputs, outputs, frames, false);
}

void VSTCALLBACK IEffectVST2::VSTProcessAdd(AEffect* effect, float** inputs, float** outputs,
                                            int32_t frames) {
  if (IEffectVST2* plug = FromEffect(effect)) plug->ProcessFromHost(inputs, outputs, frames, true);
}

// ---------------------------------------------------------------- parameters

float VSTCALLBACK IEffectVST2::VSTReadParameter(AEffect* effect, int32_t index) {
  IEffectVST2* plug = FromEffect(effect);
  if (!plug) return 0.0f;
  PlugLockGuard guard(*plug);
  const PlugParam* param = plug->ParamAt(index);
  return param ? static_cast<float>(param->HostNormalizedValue()) : 0.0f;
}

void VSTCALLBACK IEffectVST2::VSTWriteParameter(AEffect* effect, int32_t index, float value) {
  if (IEffectVST2* plug = FromEffect(effect)) plug->SetParamFromHost(index, value);
}

// ---------------------------------------------------------------- automation

void IEffectVST2::BeginParamGesture(int index) { CallHost(audioMasterBeginEdit, index); }

void IEffectVST2::NotifyHostParam(int index, double normalized) {
  CallHost(audioMasterAutomate, index, 0, nullptr, static_cast<float>(normalized));
}

void IEffectVST2::EndParamGesture(int index) { CallHost(audioMasterEndEdit, index); }

void IEffectVST2::NotifyHostPresetChange() { CallHost(audioMasterUpdateDisplay); }

// ---------------------------------------------------------------- host queries

bool IEffectVST2::IsOfflineRender() {
  return CallHost(audioMasterGetCurrentProcessLevel) == kVstProcessLevelOffline;
}

const VstTimeInfo* IEffectVST2::HostTime(int32_t filter) {
  return reinterpret_cast<const VstTimeInfo*>(CallHost(audioMasterGetTime, 0, filter));
}

int IEffectVST2::HostSamplePosition() {
  const VstTimeInfo* time = HostTime(0);
  if (!time || !(time->samplePos >= 0)) return 0;
  double rounded = time->samplePos + 0.5;
  // Beyond the int range the position saturates instead of wrapping.
  if (rounded >= static_cast<double>(std::numeric_limits<int>::max()))
    return std::numeric_limits<int>::max();
  return static_cast<int>(rounded);
}

double IEffectVST2::HostTempo() {
  if (!host_) return 0;
  const VstTimeInfo* time = HostTime(kVstTempoValid);
  if (time && (time->flags & kVstTempoValid) && time->tempo >= 0) return time->tempo;
  return 0;
}

void IEffectVST2::HostTimeSignature(int* numerator, int* denominator) {
  if (numerator) *numerator = 0;
  if (denominator) *denominator = 0;
  const VstTimeInfo* time = HostTime(kVstTimeSigValid);
  if (!time || !(time->flags & kVstTimeSigValid)) return;
  if (time->timeSigNumerator >= 0 && time->timeSigDenominator >= 0) {
    if (numerator) *numerator = time->timeSigNumerator;
    if (denominator) *denominator = time->timeSigDenominator;
  }
}

void IEffectVST2::HostTimeInfo(::HostTimeInfo* info) {
  constexpr int32_t kWanted =
      kVstPpqPosValid | kVstTempoValid | kVstBarsValid | kVstCyclePosValid | kVstTimeSigValid;
  if (!info) return;
  const VstTimeInfo* time = HostTime(kWanted);
  if (!time || !(time->flags & kWanted)) return;

  info->samplePosition = time->samplePos;
  if ((time->flags & kVstPpqPosValid) && time->ppqPos >= 0) info->musicalPosition = time->ppqPos;
  // A tempo or a signature of zero means the host has none: strict tests.
  if ((time->flags & kVstTempoValid) && time->tempo > 0) info->tempo = time->tempo;
  if ((time->flags & kVstBarsValid) && time->barStartPos >= 0)
    info->lastBarPosition = time->barStartPos;
  if ((time->flags & kVstCyclePosValid) && time->cycleStartPos >= 0 && time->cycleEndPos >= 0) {
    info->cycleStart = time->cycleStartPos;
    info->cycleEnd = time->cycleEndPos;
  }
  if ((time->flags & kVstTimeSigValid) && time->timeSigNumerator > 0 &&
      time->timeSigDenominator > 0) {
    info->numerator = time->timeSigNumerator;
    info->denominator = time->timeSigDenominator;
  }
  info->transportRunning = (time->flags & kVstTransportPlaying) != 0;
  info->cycleActive = (time->flags & kVstTransportCycleActive) != 0;
}

HostId IEffectVST2::HostIdentity() {
  if (StoredHost() != HostUnidentified) return StoredHost();
  char product[kHostProductBytes] = {};
  CallHost(audioMasterGetProductString, 0, 0, product);
  product[sizeof product - 1] = '\0';  // the host may fill the buffer without terminating it
  int32_t version = 0;
  if (product[0]) {
    intptr_t decimal = CallHost(audioMasterGetVendorVersion);
    // Larger answers cannot be packed into 0xMMmmrr without overflowing.
    if (decimal >= 0 && decimal <= 99999999) version = PackVendorVersion(static_cast<int32_t>(decimal));
  }
  HostId host = HostIdFromName(product);
  SetHost(host, version);
  return host;
}

// ---------------------------------------------------------------- host setup, editor, latency

void IEffectVST2::FirstOpenSetup() {
  if (hostSetupDone_) return;
  hostSetupDone_ = true;
  if (HostNeedsStereoOnly(HostIdentity())) RestrictToStereo();
  inputArrangement_.numChannels = InputChannelCount();
  effect_.numInputs = InputChannelCount();
  outputArrangement_.numChannels = OutputChannelCount();
  effect_.numOutputs = OutputChannelCount();
  // effIdle calls from the host's user-interface thread: with no editor
  // open, the moment to tell the host of a chunk it loaded.
  CallHost(audioMasterNeedIdle);
  AfterHostSetup();
}

void IEffectVST2::SetEditorRect(int width, int height) {
  editorRect_.top = 0;
  editorRect_.left = 0;
  editorRect_.right = ToRectCoordinate(width);
  editorRect_.bottom = ToRectCoordinate(height);
}

void IEffectVST2::AttachEditor(IEditorLink* editor) {
  if (!editor) return;
  IEffectBase::AttachEditor(editor);
  AdoptEditor();
}

void IEffectVST2::AdoptEditor() {
  if (!Editor()) return;
  effect_.flags |= effFlagsHasEditor;
  SetEditorRect(Editor()->Width(), Editor()->Height());
}

void IEffectVST2::ResizeEditor() {
  if (!Editor()) return;
  SetEditorRect(Editor()->Width(), Editor()->Height());
  // The host is asked to fit its window (the editor changed its scale or
  // size on its own, from its redraw tick, never inside a host's call).
  CallHost(audioMasterSizeWindow, Editor()->Width(), Editor()->Height());
  EditorResized();
}

void IEffectVST2::ChangeLatency(int frames) {
  effect_.initialDelay = frames;
  IEffectBase::ChangeLatency(frames);
}

// ---------------------------------------------------------------- outgoing MIDI

bool IEffectVST2::SendMidiOut(const MidiMessage& message) {
  VstMidiEvent event{};
  event.type = kVstMidiType;
  event.byteSize = sizeof(VstMidiEvent);
  event.deltaFrames = message.sampleOffset;
  event.midiData[0] = static_cast<char>(message.status);
  event.midiData[1] = static_cast<char>(message.data1);
  event.midiData[2] = static_cast<char>(message.data2);
  VstEvents events{};
  events.numEvents = 1;
  events.events[0] = reinterpret_cast<VstEvent*>(&event);
  return CallHost(audioMasterProcessEvents, 0, 0, &events) == 1;
}

bool IEffectVST2::SendSysExOut(const SysExMessage& message) {
  VstMidiSysexEvent event{};
  event.type = kVstSysExType;
  event.byteSize = sizeof(VstMidiSysexEvent);
  event.deltaFrames = message.sampleOffset;
  event.dumpBytes = message.size;
  event.sysexDump = reinterpret_cast<char*>(const_cast<uint8_t*>(message.data));
  VstEvents events{};
  events.numEvents = 1;
  events.events[0] = reinterpret_cast<VstEvent*>(&event);
  return CallHost(audioMasterProcessEvents, 0, 0, &events) == 1;
}
