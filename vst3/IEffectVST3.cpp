#include "IEffectVST3.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "HostState.h"
#include "IEffectParameter.h"
#include "IEffectVST3View.h"
#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstcontextmenu.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivsthostapplication.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/vstspeaker.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// Speaker arrangement the plug-in declares for a channel count.
SpeakerArrangement ArrangementForCount(int channels) {
  switch (channels) {
    case 1: return SpeakerArr::kMono;    // 0x80000
    case 2: return SpeakerArr::kStereo;  // 3
    case 3: return 0x103;
    case 4: return 0x33;
    case 5: return 0x37;
    case 6: return 0x3F;
    default: return SpeakerArr::kEmpty;
  }
}

int CountOf(SpeakerArrangement arr) { return SpeakerArr::getChannelCount(arr); }

// Reads up to `count` bytes, as many as the stream really delivers. A stream
// that reports more bytes than were asked for is broken: what it delivered
// in that call is not counted.
int ReadFully(IBStream* stream, uint8_t* out, int count) {
  int total = 0;
  while (total < count) {
    int32 asked = count - total;
    int32 got = 0;
    if (stream->read(out + total, asked, &got) != kResultOk || got <= 0 || got > asked) break;
    total += got;
  }
  return total;
}

template <typename Sample>
Sample** ChannelArrays(const AudioBusBuffers& bus);
template <>
Sample32** ChannelArrays<Sample32>(const AudioBusBuffers& bus) { return bus.channelBuffers32; }
template <>
Sample64** ChannelArrays<Sample64>(const AudioBusBuffers& bus) { return bus.channelBuffers64; }

// Channel `channel` of a host bus, or null when the host gave none.
template <typename Sample>
Sample* HostChannel(const AudioBusBuffers* bus, int channel) {
  if (!bus || channel >= bus->numChannels) return nullptr;
  Sample** arrays = ChannelArrays<Sample>(*bus);
  return arrays ? arrays[channel] : nullptr;
}

}  // namespace

IEffectVST3::IEffectVST3(FUnknown* /*factoryContext*/, const EffectIdentity& identity)
    : IEffectBase(identity, kApiVst3) {
  // The inputs beyond the smallest configuration form the sidechain
  // ("2-2 4-2": two main channels, two sidechain channels).
  int fewestInputs = InputChannelCount();
  for (const ChannelPair& pair : ChannelPairs()) fewestInputs = std::min(fewestInputs, pair.inputs);
  sidechainChannels_ = std::min(std::max(InputChannelCount() - std::max(fewestInputs, 0), 0), 2);

  InputBusLabels().push_back("Main Input");
  if (sidechainChannels_ != 0) InputBusLabels().push_back("Aux Input");
  if (IsInstrument()) {
    for (int pair = 0; pair < (OutputChannelCount() + 1) / 2; ++pair) {
      char label[32];
      snprintf(label, sizeof label, "Output %i", pair + 1);
      OutputBusLabels().push_back(label);
    }
  } else {
    OutputBusLabels().push_back("Output");
  }

  processSetup_.maxSamplesPerBlock = 1024;
  processSetup_.sampleRate = 44100.0;
  ConnectInputs(0, InputChannelCount(), true);
  ConnectOutputs(0, OutputChannelCount(), true);
  if (InputChannelCount() > 0) CreatePassThroughDelay();

  in32_.assign(static_cast<size_t>(InputChannelCount()), nullptr);
  in64_.assign(static_cast<size_t>(InputChannelCount()), nullptr);
  out32_.assign(static_cast<size_t>(OutputChannelCount()), nullptr);
  out64_.assign(static_cast<size_t>(OutputChannelCount()), nullptr);
  outByChannel32_.assign(static_cast<size_t>(OutputChannelCount()), nullptr);
  outByChannel64_.assign(static_cast<size_t>(OutputChannelCount()), nullptr);
}

IEffectVST3::~IEffectVST3() {
  // A host that releases without terminate still gets its handler released.
  if (IsInitialized()) IEffectVST3::terminate();
}

// ---------------------------------------------------------------- life cycle

tresult PLUGIN_API IEffectVST3::initialize(FUnknown* context) {
  PlugLockGuard guard(*this);
  tresult result = SingleComponentEffect::initialize(context);
  if (result != kResultOk) return result;

  if (context) {
    FUnknownPtr<IHostApplication> app(context);
    String128 wideName = {};
    if (app && app->getName(wideName) == kResultOk) {
      char name[128];
      NarrowText(name, sizeof name, wideName);
      SetHost(HostIdFromName(name), 0);
    }
  }

  BuildBuses();
  RegisterParameters();
  AfterHostSetup();
  // The instance starts at the defaults, which program 0 (Default) holds,
  // without loading it; the effect derives its values from them now.
  NotifyAllParamsChanged();
  RefreshEditorFromParams();
  SyncControllerParams();
  return kResultOk;
}

tresult PLUGIN_API IEffectVST3::terminate() {
  PlugLockGuard guard(*this);
  groups_.clear();
  return SingleComponentEffect::terminate();
}

void IEffectVST3::BuildBuses() {
  int mainInputs = InputChannelCount() - sidechainChannels_;
  if (mainInputs > 0)
    AddAudioInput(InputBusLabels()[0].c_str(), ArrangementForCount(mainInputs), kMain,
                  BusInfo::kDefaultActive);
  if (IsInstrument()) {
    for (size_t pair = 0; pair < OutputBusLabels().size(); ++pair)
      AddAudioOutput(OutputBusLabels()[pair].c_str(), SpeakerArr::kStereo, kMain,
                     BusInfo::kDefaultActive);
  } else {
    AddAudioOutput(OutputBusLabels()[0].c_str(), ArrangementForCount(OutputChannelCount()), kMain,
                   BusInfo::kDefaultActive);
  }
  if (sidechainChannels_ != 0)
    AddAudioInput(InputBusLabels()[1].c_str(), ArrangementForCount(sidechainChannels_), kAux, 0);
  if (HandlesMidi()) AddEventInput("MIDI Input", 1);
}

void IEffectVST3::RegisterParameters() {
  String128 title;
  if (PresetCount() > 0) {
    // One entry per preset: a list of n entries has n - 1 steps.
    int32 steps = PresetCount() - 1;
    WidenText(title, 128, "Preset");
    int32 flags = ParameterInfo::kIsProgramChange | (steps > 0 ? ParameterInfo::kIsList : 0);
    parameters.addParameter(new Parameter(title, kPresetParamId, nullptr, 0.0, steps, flags));
  }
  // An effect with a bypass parameter of its own shows that one as the
  // host's bypass; only an effect without one gets a separate switch.
  if (!IsInstrument() && BypassParamIndex() < 0) {
    WidenText(title, 128, "Bypass");
    auto* bypass = new StringListParameter(
        title, kBypassParamId, nullptr,
        ParameterInfo::kCanAutomate | ParameterInfo::kIsList | ParameterInfo::kIsBypass);
    String128 entry;
    WidenText(entry, 128, "Off");
    bypass->appendString(entry);
    WidenText(entry, 128, "On");
    bypass->appendString(entry);
    parameters.addParameter(bypass);
  }
  for (int i = 0; i < ParamCount(); ++i) {
    PlugParam* param = ParamAt(i);
    UnitID unit = kRootUnitId;
    if (param->groupName[0]) {
      auto found = std::find(groups_.begin(), groups_.end(), std::string(param->groupName));
      if (found == groups_.end()) found = groups_.insert(groups_.end(), param->groupName);
      unit = static_cast<UnitID>(found - groups_.begin()) + 1;
    }
    parameters.addParameter(
        new IEffectParameter(param, static_cast<ParamID>(i), unit, i == BypassParamIndex()));
  }
}

void IEffectVST3::SyncControllerParams() {
  for (int i = 0; i < ParamCount(); ++i)
    if (Parameter* object = ParameterObject(static_cast<ParamID>(i)))
      object->setNormalized(ParamAt(i)->HostNormalizedValue());
  if (Parameter* bypass = ParameterObject(kBypassParamId))
    bypass->setNormalized(IsBypassed() ? 1.0 : 0.0);
  if (Parameter* preset = ParameterObject(kPresetParamId))
    preset->setNormalized(PresetNormalized(CurrentPresetIndex()));
}

tresult PLUGIN_API IEffectVST3::activateBus(MediaType type, BusDirection dir, int32 index,
                                            TBool state) {
  // Processing reads the activation of the buses: wait for the block.
  PlugLockGuard guard(*this);
  return SingleComponentEffect::activateBus(type, dir, index, state);
}

tresult PLUGIN_API IEffectVST3::setActive(TBool state) {
  ActivationChanged(state != 0);
  return kResultOk;
}

// ---------------------------------------------------------------- buses and setup

tresult PLUGIN_API IEffectVST3::setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                   SpeakerArrangement* outputs, int32 numOuts) {
  PlugLockGuard guard(*this);
  if (!inputs || !outputs || numIns < 1 || numOuts != 1) return kResultFalse;
  int mainCount = CountOf(inputs[0]);
  int outCount = CountOf(outputs[0]);
  // Everything is checked before anything changes: a refused arrangement
  // leaves the buses as they were. Only what the processing really handles
  // is accepted: the main input and the output at their declared widths,
  // and a sidechain of one channel up to its declared width.
  // Speakers are matched exactly: a two-channel surround pair is not stereo.
  int mainInputs = InputChannelCount() - sidechainChannels_;
  if (mainCount != mainInputs || outCount != OutputChannelCount()) return kResultFalse;
  if (inputs[0] != ArrangementForCount(mainCount) || outputs[0] != ArrangementForCount(outCount))
    return kResultFalse;
  if (!LegalIO(mainCount + sidechainChannels_, outCount)) return kResultFalse;
  if (numIns != (sidechainChannels_ != 0 ? 2 : 1)) return kResultFalse;
  if (sidechainChannels_ != 0) {
    int sideCount = CountOf(inputs[1]);
    if (sideCount < 1 || sideCount > sidechainChannels_) return kResultFalse;
    if (inputs[1] != ArrangementForCount(sideCount)) return kResultFalse;
  }

  ConnectInputs(0, InputChannelCount(), false);
  ConnectOutputs(0, OutputChannelCount(), false);

  AudioBus* mainBus = AudioInput(0);
  if (!mainBus || CountOf(mainBus->getArrangement()) != mainCount) {
    RemoveAudioInputs();
    AddAudioInput("Input", inputs[0], kMain, BusInfo::kDefaultActive);
  }
  AudioBus* outBus = AudioOutput(0);
  if (!outBus || CountOf(outBus->getArrangement()) != outCount) {
    RemoveAudioOutputs();
    AddAudioOutput("Output", outputs[0], kMain, BusInfo::kDefaultActive);
  }
  if (sidechainChannels_ != 0) {
    AudioBus* sideBus = AudioInput(1);
    if (!sideBus || CountOf(sideBus->getArrangement()) != CountOf(inputs[1])) {
      RemoveAudioInputs();
      AddAudioInput("Input", inputs[0], kMain, BusInfo::kDefaultActive);
      AddAudioInput("Sidechain Input", inputs[1], kAux, 0);
    }
  }
  return kResultOk;
}

tresult PLUGIN_API IEffectVST3::canProcessSampleSize(int32 symbolicSampleSize) {
  return symbolicSampleSize == kSample32 || symbolicSampleSize == kSample64 ? kResultTrue
                                                                           : kResultFalse;
}

uint32 PLUGIN_API IEffectVST3::getLatencySamples() {
  return static_cast<uint32>(std::max(Latency(), 0));
}

uint32 PLUGIN_API IEffectVST3::getTailSamples() {
  return static_cast<uint32>(std::max(TailSize(), 0));
}

tresult PLUGIN_API IEffectVST3::setupProcessing(ProcessSetup& setup) {
  PlugLockGuard guard(*this);
  if (setup.symbolicSampleSize > kSample64 || setup.symbolicSampleSize < kSample32)
    return kResultFalse;
  // A rate the effect cannot design filters for, or no block at all, is
  // refused and the previous setup stays.
  if (!std::isfinite(setup.sampleRate) || !(setup.sampleRate > 0.0)) return kResultFalse;
  if (setup.maxSamplesPerBlock <= 0) return kResultFalse;

  SetSampleRate(setup.sampleRate);
  // The bypass switch is the user's setting: hosts call this on every
  // block-size change and before offline renders, and it must survive them.
  int blockSize = std::min(static_cast<int>(setup.maxSamplesPerBlock), kMaxBlockSize);
  if (blockSize != BlockSize()) ChangeBlockSize(blockSize);
  ResetProcessing();
  processSetup_ = setup;
  return kResultOk;
}

// ---------------------------------------------------------------- processing

bool IEffectVST3::EditPredatesLoad(ParamID id) const {
  return id < setBeforeLoad_.size() && setBeforeLoad_[id] && !setSinceBlock_[id];
}

void IEffectVST3::ApplyParameterChanges(IParameterChanges* changes, bool afterLoad) {
  if (!changes) return;
  int32 queues = changes->getParameterCount();
  // A program chosen in this block replaces every value: the host's other
  // changes queued with it (its controls echoing the program before) are
  // older than the choice and are not applied over it. A program change
  // queued with the block after a load is older than the state.
  for (int32 q = 0; q < queues && !afterLoad; ++q) {
    IParamValueQueue* queue = changes->getParameterData(q);
    if (!queue || queue->getParameterId() != kPresetParamId || queue->getPointCount() <= 0) continue;
    int32 offset = 0;
    ParamValue value = 0;
    if (queue->getPoint(queue->getPointCount() - 1, offset, value) != kResultOk || std::isnan(value))
      continue;
    if (ApplyPreset(PresetIndexFor(value))) presetAppliedInBlock_ = true;
    return;
  }
  for (int32 q = 0; q < queues; ++q) {
    IParamValueQueue* queue = changes->getParameterData(q);
    if (!queue) continue;
    int32 points = queue->getPointCount();
    if (points <= 0) continue;
    // Only the last point of a queue counts: the block is not split.
    int32 offset = 0;
    ParamValue value = 0;
    if (queue->getPoint(points - 1, offset, value) != kResultOk || std::isnan(value)) continue;
    value = ClampNormalized(value);
    ParamID id = queue->getParameterId();
    if (afterLoad && (id == kPresetParamId || EditPredatesLoad(id))) continue;
    // Projects saved while the host bypass was a parameter of its own still
    // send it: it is the effect's bypass now.
    if (id == kBypassParamId && BypassParamIndex() >= 0)
      id = static_cast<ParamID>(BypassParamIndex());
    if (id == kBypassParamId) {
      SetHostBypass(value >= 0.5);  // the step a list of two shows
    } else if (id < static_cast<ParamID>(ParamCount())) {
      SetParamFromHost(static_cast<int>(id), value);
    }
  }
}

void IEffectVST3::ApplyMidiEvents(IEventList* events) {
  if (!events || !HandlesMidi()) return;
  int32 count = events->getEventCount();
  for (int32 i = 0; i < count; ++i) {
    Event event = {};
    if (events->getEvent(i, event) != kResultOk) continue;
    MidiMessage message;
    message.sampleOffset = event.sampleOffset;
    if (event.type == Event::kNoteOnEvent) {
      double velocity = std::min(std::max(static_cast<double>(event.noteOn.velocity), 0.0), 1.0);
      message.status = static_cast<uint8_t>(0x90 | (event.noteOn.channel & 0x0F));
      message.data1 = static_cast<uint8_t>(event.noteOn.pitch & 0x7F);
      message.data2 = static_cast<uint8_t>(velocity * 127.0);
    } else if (event.type == Event::kNoteOffEvent) {
      message.status = static_cast<uint8_t>(0x80 | (event.noteOff.channel & 0x0F));
      message.data1 = static_cast<uint8_t>(event.noteOff.pitch & 0x7F);
      message.data2 = 0;
    } else {
      continue;
    }
    MidiIn(message);
  }
}

void IEffectVST3::UpdateSidechainConnection() {
  int mainInputs = InputChannelCount() - sidechainChannels_;
  ConnectInputs(0, mainInputs, true);
  if (sidechainChannels_ == 0) return;
  AudioBus* sideBus = AudioInput(1);
  bool active = sideBus && sideBus->isActive();
  // Disconnecting zeroes the sidechain scratch once, on the transition, so
  // a released sidechain reads silence rather than its last samples.
  ConnectInputs(mainInputs, sidechainChannels_, active);
  sidechainActive_ = active;
}

template <typename Sample>
void IEffectVST3::ProcessAudio(ProcessData& data, int frames, std::vector<Sample*>& hostIn,
                               std::vector<Sample*>& hostOut, std::vector<Sample*>& outByChannel) {
  UpdateSidechainConnection();

  // Inputs, in channel order: the main bus, then the sidechain bus while it
  // is active. Channels the host leaves out read silence.
  int mainInputs = InputChannelCount() - sidechainChannels_;
  const AudioBusBuffers* mainBus = data.inputs && data.numInputs > 0 ? &data.inputs[0] : nullptr;
  const AudioBusBuffers* sideBus = data.inputs && data.numInputs > 1 ? &data.inputs[1] : nullptr;
  int inputCount = 0;
  for (int c = 0; c < mainInputs; ++c) hostIn[inputCount++] = HostChannel<Sample>(mainBus, c);
  if (sidechainActive_)
    for (int c = 0; c < sidechainChannels_; ++c)
      hostIn[inputCount++] = HostChannel<Sample>(sideBus, c);

  // Outputs: channel numbers run on from bus to bus; an inactive bus's
  // channels are unconnected.
  std::fill(outByChannel.begin(), outByChannel.end(), nullptr);
  int outputCount = 0;
  int channel = 0;
  for (int32 b = 0; b < AudioOutputCount() && channel < OutputChannelCount(); ++b) {
    AudioBus* bus = AudioOutput(b);
    int n = std::min(CountOf(bus->getArrangement()), OutputChannelCount() - channel);
    bool active = bus->isActive() != 0;
    ConnectOutputs(channel, n, active);
    const AudioBusBuffers* hostBus = data.outputs && b < data.numOutputs ? &data.outputs[b] : nullptr;
    if (active) {
      for (int k = 0; k < n; ++k) {
        Sample* host = HostChannel<Sample>(hostBus, k);
        outByChannel[static_cast<size_t>(channel + k)] = host;
        hostOut[outputCount++] = host;
      }
    }
    channel += n;
  }
  ConnectOutputs(channel, OutputChannelCount() - channel, false);

  if (IsBypassed()) {
    // The latency is 0, so bypass is a straight copy of input c to output c.
    for (int c = 0; c < OutputChannelCount(); ++c) {
      Sample* out = outByChannel[static_cast<size_t>(c)];
      if (!out) continue;
      const Sample* in = c < mainInputs ? hostIn[static_cast<size_t>(c)] : nullptr;
      if (in)
        memmove(out, in, sizeof(Sample) * static_cast<size_t>(frames));
      else
        std::fill(out, out + frames, Sample(0));
    }
  } else {
    ProcessHostBlock(hostIn.data(), inputCount, hostOut.data(), outputCount, frames);
  }

  // Host channels the plug-in did not write (inactive buses, channels beyond
  // a bus's width) get silence rather than whatever they held.
  // Only the buses the plug-in declared are touched: a host count beyond
  // them may not be backed by memory.
  int32 hostBuses = std::min(data.numOutputs, AudioOutputCount());
  for (int32 b = 0; data.outputs && b < hostBuses; ++b) {
    const AudioBusBuffers& hostBus = data.outputs[b];
    Sample** arrays = ChannelArrays<Sample>(hostBus);
    if (!arrays) continue;
    AudioBus* bus = AudioOutput(b);
    int written = bus && bus->isActive() ? CountOf(bus->getArrangement()) : 0;
    for (int32 k = std::max(written, 0); k < hostBus.numChannels; ++k)
      if (arrays[k]) std::fill(arrays[k], arrays[k] + frames, Sample(0));
  }
}

tresult PLUGIN_API IEffectVST3::process(ProcessData& data) {
  PlugLockGuard guard(*this);
  if (data.processContext) processContext_ = *data.processContext;
  // The host's edits queued before a state load it made are older than the
  // state: applied now they would overwrite part of it. Those it made after
  // the load (set on the controller since, or only sent with this block)
  // are applied.
  ApplyParameterChanges(data.inputParameterChanges, stateLoadedBeforeBlock_);
  ApplyMidiEvents(data.inputEvents);

  if (presetAppliedInBlock_ || stateLoadedBeforeBlock_) {
    ReportParamsToHost(data.outputParameterChanges);
    presetAppliedInBlock_ = false;
    stateLoadedBeforeBlock_ = false;
  }
  std::fill(setSinceBlock_.begin(), setSinceBlock_.end(), false);
  std::fill(setBeforeLoad_.begin(), setBeforeLoad_.end(), false);

  int frames = data.numSamples;
  if (frames <= 0) return kResultOk;
  if (data.symbolicSampleSize == kSample32)
    ProcessAudio<Sample32>(data, frames, in32_, out32_, outByChannel32_);
  else if (data.symbolicSampleSize == kSample64)
    ProcessAudio<Sample64>(data, frames, in64_, out64_, outByChannel64_);
  return kResultOk;
}

// ---------------------------------------------------------------- state

tresult IEffectVST3::getControllerState(IBStream* state) {
  if (!state) return kResultFalse;
  PlugLockGuard guard(*this);
  StateChunk chunk;
  if (!SaveHostState(*this, chunk)) return kResultFalse;
  int32 written = 0;
  if (state->write(chunk.Data(), chunk.Size(), &written) != kResultOk || written != chunk.Size())
    return kResultFalse;
  return kResultOk;
}

tresult IEffectVST3::setControllerState(IBStream* state) {
  if (!state) return kResultFalse;
  {
    PlugLockGuard guard(*this);
    // The whole blob is read before anything is applied: a stream that ends
    // inside the parameters or before the bypass word changes nothing.
    StateChunk chunk;
    const int size = HostStateSize(*this);
    if (size <= 0 || !chunk.Resize(static_cast<size_t>(size))) return kResultFalse;
    if (ReadFully(state, chunk.Data(), size) < size) return kResultFalse;
    if (!LoadHostState(*this, chunk.Data(), static_cast<size_t>(size))) return kResultFalse;
    SyncControllerParams();
    stateLoadedBeforeBlock_ = true;
    for (size_t p = 0; p < setSinceBlock_.size(); ++p) {
      if (setSinceBlock_[p]) setBeforeLoad_[p] = true;
      setSinceBlock_[p] = false;
    }
    MarkHostStateLoad();
  }
  // Nothing is said to the host from here: it may hold its locks around
  // this call (a restart from here deadlocked Ardour loading a preset). The
  // next block and the editor's next tick tell it.
  return kResultOk;
}

tresult PLUGIN_API IEffectVST3::setComponentState(IBStream* state) {
  if (!state) return kResultFalse;
  PlugLockGuard guard(*this);
  SyncControllerParams();
  return kResultOk;
}

void IEffectVST3::ReportParamsToHost(IParameterChanges* changes) {
  if (!changes) return;
  auto report = [changes](ParamID id, ParamValue value) {
    int32 queueIndex = 0;
    IParamValueQueue* queue = changes->addParameterData(id, queueIndex);
    int32 pointIndex = 0;
    if (queue) queue->addPoint(0, value, pointIndex);
  };
  for (int i = 0; i < ParamCount(); ++i) report(static_cast<ParamID>(i), ParamAt(i)->HostNormalizedValue());
  if (ParameterObject(kBypassParamId)) report(kBypassParamId, IsBypassed() ? 1.0 : 0.0);
}

// ---------------------------------------------------------------- controller

tresult PLUGIN_API IEffectVST3::getParamStringByValue(ParamID tag, ParamValue valueNormalized,
                                                      String128 string) {
  if (!string || std::isnan(valueNormalized)) return kResultFalse;
  valueNormalized = ClampNormalized(valueNormalized);
  if (tag == kPresetParamId) {
    PlugLockGuard guard(*this);
    PresetSlot* slot = PresetAt(PresetIndexFor(valueNormalized));
    if (!slot || !ParameterObject(tag)) return kResultFalse;
    WidenText(string, 128, slot->name);
    return kResultTrue;
  }
  return SingleComponentEffect::getParamStringByValue(tag, valueNormalized, string);
}

tresult PLUGIN_API IEffectVST3::getParamValueByString(ParamID tag, TChar* string,
                                                      ParamValue& valueNormalized) {
  if (!string) return kResultFalse;
  if (tag == kPresetParamId) {
    // A preset by its name or its number.
    char text[PlugParam::kMaxHostText + 1];
    if (!HostTextToAscii(text, sizeof text, string)) return kResultFalse;
    PlugLockGuard guard(*this);
    for (int i = 0; i < PresetCount(); ++i) {
      PresetSlot* slot = PresetAt(i);
      char number[16];
      snprintf(number, sizeof number, "%d", i);
      if (slot && (std::strcmp(text, slot->name) == 0 || std::strcmp(text, number) == 0)) {
        valueNormalized = PresetNormalized(i);
        return kResultTrue;
      }
    }
    return kResultFalse;
  }
  ParamValue parsed = 0;
  tresult result = SingleComponentEffect::getParamValueByString(tag, string, parsed);
  if (result != kResultTrue || std::isnan(parsed)) return kResultFalse;
  valueNormalized = ClampNormalized(parsed);
  return kResultTrue;
}

ParamValue PLUGIN_API IEffectVST3::normalizedParamToPlain(ParamID tag, ParamValue valueNormalized) {
  return SingleComponentEffect::normalizedParamToPlain(tag, ClampNormalized(valueNormalized));
}

ParamValue PLUGIN_API IEffectVST3::plainParamToNormalized(ParamID tag, ParamValue plainValue) {
  if (std::isnan(plainValue)) return 0.0;
  return ClampNormalized(SingleComponentEffect::plainParamToNormalized(tag, plainValue));
}

ParamValue PLUGIN_API IEffectVST3::getParamNormalized(ParamID tag) {
  PlugLockGuard guard(*this);
  return SingleComponentEffect::getParamNormalized(tag);
}

tresult PLUGIN_API IEffectVST3::setParamNormalized(ParamID tag, ParamValue value) {
  if (std::isnan(value)) return kResultFalse;
  value = ClampNormalized(value);
  tresult result = kResultFalse;
  bool blockRanSinceLoad = false;
  {
    // The controller's parameter objects change under the plug-in lock, as
    // a state load's do: a host may set a value on one thread while it loads
    // a state on another.
    PlugLockGuard guard(*this);
    result = SingleComponentEffect::setParamNormalized(tag, value);
    if (result != kResultTrue) return result;
    // The host's edit is the plug-in's value at once, not only from the next
    // block: a host whose engine is stopped saves right after an edit, and
    // the editor shows what the host set. Nothing goes back to the host.
    if (tag == kBypassParamId) {
      SetHostBypass(value >= 0.5);  // the step a list of two shows, as in process
    } else if (tag == kPresetParamId) {
      // A program picked in the host's list is loaded by the block the host
      // sends the same change to (hosts send both), and that block hands
      // every new value back as output parameter changes. Loaded here, the
      // values would change under a host that is not told until its call
      // returns, and without an editor there is no later moment to tell it:
      // a host that saved before its next block would keep the old values
      // beside a state holding the new ones.
    } else if (tag < static_cast<ParamID>(ParamCount())) {
      SetParamFromHost(static_cast<int>(tag), value);
      if (setSinceBlock_.size() != static_cast<size_t>(ParamCount())) {
        setSinceBlock_.assign(static_cast<size_t>(ParamCount()), false);
        setBeforeLoad_.assign(static_cast<size_t>(ParamCount()), false);
      }
      setSinceBlock_[tag] = true;
    }
    blockRanSinceLoad = !stateLoadedBeforeBlock_;
  }
  // A state the host loaded and has not been asked to read back yet, and the
  // block after it has already sent the new values out: a host that hands
  // those values to the controller (JUCE does, from its user-interface
  // thread, and reads its own copies only when asked) is asked now, after
  // its load call has returned, as the editor's tick would ask it. Without
  // an editor there is no tick (IEffectBase::TellHostOfStateLoad).
  if (blockRanSinceLoad) TellHostOfStateLoad();
  return result;
}

int IEffectVST3::PresetIndexFor(ParamValue normalized) const {
  int steps = std::max(PresetCount() - 1, 0);
  return std::min(static_cast<int>(ClampNormalized(normalized) * steps + 0.5), steps);
}

ParamValue IEffectVST3::PresetNormalized(int index) const {
  int steps = PresetCount() - 1;
  return steps > 0 ? static_cast<double>(index) / steps : 0.0;
}

IPlugView* PLUGIN_API IEffectVST3::createView(FIDString name) {
  if (!name || std::strcmp(name, ViewType::kEditor) != 0) return nullptr;
  auto* view = new IEffectVST3View(this);
  views_.push_back(view);
  return view;
}

void IEffectVST3::ResizeEditor() {
  if (!Editor() || views_.empty()) return;
  views_.front()->RequestResize(Editor()->Width(), Editor()->Height());
}

void IEffectVST3::ShowHostParamMenu(int index, int x, int y) {
  if (views_.empty() || !componentHandler || index < 0 || index >= ParamCount()) return;
  FUnknownPtr<IComponentHandler3> handler(componentHandler);
  if (!handler) return;
  ParamID id = static_cast<ParamID>(index);
  IContextMenu* menu = handler->createContextMenu(views_.front(), &id);
  if (!menu) return;
  menu->popup(x, y);
  menu->release();
}

// ---------------------------------------------------------------- units and programs

int32 PLUGIN_API IEffectVST3::getUnitCount() { return static_cast<int32>(groups_.size()) + 1; }

tresult PLUGIN_API IEffectVST3::getUnitInfo(int32 unitIndex, UnitInfo& info) {
  if (unitIndex == 0) {
    tresult result = SingleComponentEffect::getUnitInfo(0, info);
    if (result == kResultTrue && PresetCount() > 0)
      info.programListId = static_cast<ProgramListID>(kPresetParamId);
    return result;
  }
  if (unitIndex < 1 || unitIndex > static_cast<int32>(groups_.size())) return kResultFalse;
  info.id = unitIndex;
  info.parentUnitId = kRootUnitId;
  WidenText(info.name, 128, groups_[static_cast<size_t>(unitIndex - 1)].c_str());
  info.programListId = kNoProgramListId;
  return kResultTrue;
}

tresult PLUGIN_API IEffectVST3::getProgramListInfo(int32 listIndex, ProgramListInfo& info) {
  if (listIndex != 0) return kResultFalse;
  info.id = static_cast<ProgramListID>(kPresetParamId);
  WidenText(info.name, 128, "Factory Presets");
  info.programCount = PresetCount();
  return kResultTrue;
}

tresult PLUGIN_API IEffectVST3::getProgramName(ProgramListID listId, int32 programIndex,
                                               String128 name) {
  if (!name || listId != static_cast<ProgramListID>(kPresetParamId)) return kResultFalse;
  PlugLockGuard guard(*this);
  PresetSlot* slot = PresetAt(programIndex);
  if (!slot) return kResultFalse;
  WidenText(name, 128, slot->name);
  return kResultTrue;
}

// ---------------------------------------------------------------- host-facing operations

void IEffectVST3::BeginParamGesture(int index) { beginEdit(static_cast<ParamID>(index)); }

void IEffectVST3::NotifyHostParam(int index, double normalized) {
  performEdit(static_cast<ParamID>(index), normalized);
}

void IEffectVST3::EndParamGesture(int index) { endEdit(static_cast<ParamID>(index)); }

bool IEffectVST3::IsOfflineRender() { return processSetup_.processMode == kOffline; }

int IEffectVST3::HostSamplePosition() {
  return static_cast<int>(processContext_.projectTimeSamples);
}

double IEffectVST3::HostTempo() { return processContext_.tempo; }

void IEffectVST3::HostTimeSignature(int* numerator, int* denominator) {
  if (numerator) *numerator = processContext_.timeSigNumerator;
  if (denominator) *denominator = processContext_.timeSigDenominator;
}

void IEffectVST3::HostTimeInfo(::HostTimeInfo* info) {
  if (!info) return;
  const ProcessContext& c = processContext_;
  info->samplePosition = static_cast<double>(c.projectTimeSamples);
  info->musicalPosition = c.projectTimeMusic;
  info->tempo = c.tempo;
  info->lastBarPosition = c.barPositionMusic;
  info->cycleStart = c.cycleStartMusic;
  info->cycleEnd = c.cycleEndMusic;
  info->numerator = c.timeSigNumerator;
  info->denominator = c.timeSigDenominator;
  info->transportRunning = (c.state & ProcessContext::kPlaying) != 0;
  info->cycleActive = (c.state & ProcessContext::kCycleActive) != 0;
}

void IEffectVST3::NotifyHostPresetChange() {
  if (componentHandler) componentHandler->restartComponent(kParamValuesChanged);
}

void IEffectVST3::ChangeLatency(int frames) {
  IEffectBase::ChangeLatency(frames);
  if (componentHandler) componentHandler->restartComponent(kLatencyChanged);
}
