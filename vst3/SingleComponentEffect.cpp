#include "SingleComponentEffect.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

void WidenText(TChar* out, int size, const char* text) {
  if (!out || size <= 0) return;
  int i = 0;
  if (text)
    for (; i < size - 1 && text[i]; ++i) out[i] = static_cast<TChar>(static_cast<unsigned char>(text[i]));
  out[i] = 0;
}

void NarrowText(char* out, int size, const TChar* text) {
  if (!out || size <= 0) return;
  int i = 0;
  if (text)
    for (; i < size - 1 && text[i]; ++i) out[i] = static_cast<char>(text[i] & 0xFF);
  out[i] = 0;
}

SingleComponentEffect::SingleComponentEffect()
    : audioInputs_(kAudio, kInput),
      audioOutputs_(kAudio, kOutput),
      eventInputs_(kEvent, kInput),
      eventOutputs_(kEvent, kOutput) {
  processSetup_.processMode = kRealtime;
  processSetup_.symbolicSampleSize = kSample32;
  processSetup_.maxSamplesPerBlock = 1024;
  processSetup_.sampleRate = 44100.0;
}

SingleComponentEffect::~SingleComponentEffect() = default;

tresult PLUGIN_API SingleComponentEffect::initialize(FUnknown* context) {
  if (initialized_) return kResultFalse;
  tresult result = EditController::initialize(context);
  if (result != kResultOk) return result;
  initialized_ = true;
  return kResultOk;
}

tresult PLUGIN_API SingleComponentEffect::terminate() {
  RemoveAllBuses();
  initialized_ = false;
  return EditController::terminate();
}

// ---------------------------------------------------------------- buses

BusList* SingleComponentEffect::ListFor(MediaType type, BusDirection dir) {
  if (type == kAudio) {
    if (dir == kInput) return &audioInputs_;
    if (dir == kOutput) return &audioOutputs_;
  } else if (type == kEvent) {
    if (dir == kInput) return &eventInputs_;
    if (dir == kOutput) return &eventOutputs_;
  }
  return nullptr;
}

AudioBus* SingleComponentEffect::AddAudioInput(const char* name, SpeakerArrangement arr,
                                               BusType type, int32 flags) {
  String128 wide;
  WidenText(wide, 128, name);
  auto* bus = new AudioBus(wide, type, flags, arr);
  audioInputs_.push_back(IPtr<Vst::Bus>(bus, false));
  return bus;
}

AudioBus* SingleComponentEffect::AddAudioOutput(const char* name, SpeakerArrangement arr,
                                                BusType type, int32 flags) {
  String128 wide;
  WidenText(wide, 128, name);
  auto* bus = new AudioBus(wide, type, flags, arr);
  audioOutputs_.push_back(IPtr<Vst::Bus>(bus, false));
  return bus;
}

EventBus* SingleComponentEffect::AddEventInput(const char* name, int32 channels) {
  String128 wide;
  WidenText(wide, 128, name);
  auto* bus = new EventBus(wide, kMain, BusInfo::kDefaultActive, channels);
  eventInputs_.push_back(IPtr<Vst::Bus>(bus, false));
  return bus;
}

AudioBus* SingleComponentEffect::AudioInput(int32 index) const {
  if (index < 0 || index >= AudioInputCount()) return nullptr;
  return static_cast<AudioBus*>(audioInputs_[static_cast<size_t>(index)].get());
}

AudioBus* SingleComponentEffect::AudioOutput(int32 index) const {
  if (index < 0 || index >= AudioOutputCount()) return nullptr;
  return static_cast<AudioBus*>(audioOutputs_[static_cast<size_t>(index)].get());
}

void SingleComponentEffect::RemoveAllBuses() {
  audioInputs_.clear();
  audioOutputs_.clear();
  eventInputs_.clear();
  eventOutputs_.clear();
}

int32 PLUGIN_API SingleComponentEffect::getBusCount(MediaType type, BusDirection dir) {
  BusList* list = ListFor(type, dir);
  return list ? static_cast<int32>(list->size()) : 0;
}

tresult PLUGIN_API SingleComponentEffect::getBusInfo(MediaType type, BusDirection dir, int32 index,
                                                     BusInfo& info) {
  BusList* list = ListFor(type, dir);
  if (!list || index < 0 || index >= static_cast<int32>(list->size())) return kInvalidArgument;
  Vst::Bus* bus = (*list)[static_cast<size_t>(index)].get();
  info.mediaType = type;
  info.direction = dir;
  return bus && bus->getInfo(info) ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API SingleComponentEffect::activateBus(MediaType type, BusDirection dir, int32 index,
                                                      TBool state) {
  BusList* list = ListFor(type, dir);
  if (!list || index < 0 || index >= static_cast<int32>(list->size())) return kInvalidArgument;
  (*list)[static_cast<size_t>(index)]->setActive(state);
  return kResultTrue;
}

tresult PLUGIN_API SingleComponentEffect::getBusArrangement(BusDirection dir, int32 index,
                                                            SpeakerArrangement& arr) {
  AudioBus* bus = dir == kInput ? AudioInput(index) : dir == kOutput ? AudioOutput(index) : nullptr;
  if (!bus) return kInvalidArgument;
  arr = bus->getArrangement();
  return kResultTrue;
}

tresult PLUGIN_API SingleComponentEffect::getRoutingInfo(RoutingInfo&, RoutingInfo&) {
  return kNotImplemented;
}

// ---------------------------------------------------------------- component defaults

tresult PLUGIN_API SingleComponentEffect::getControllerClassId(TUID) { return kNotImplemented; }
tresult PLUGIN_API SingleComponentEffect::setIoMode(IoMode) { return kNotImplemented; }
tresult PLUGIN_API SingleComponentEffect::setActive(TBool) { return kResultOk; }
tresult SingleComponentEffect::setProcessorState(IBStream*) { return kNotImplemented; }
tresult SingleComponentEffect::getProcessorState(IBStream*) { return kNotImplemented; }
tresult SingleComponentEffect::setControllerState(IBStream*) { return kNotImplemented; }
tresult SingleComponentEffect::getControllerState(IBStream*) { return kNotImplemented; }
tresult PLUGIN_API SingleComponentEffect::setComponentState(IBStream*) { return kNotImplemented; }

// ---------------------------------------------------------------- processor defaults

tresult PLUGIN_API SingleComponentEffect::setBusArrangements(SpeakerArrangement*, int32,
                                                             SpeakerArrangement*, int32) {
  return kResultFalse;
}

tresult PLUGIN_API SingleComponentEffect::canProcessSampleSize(int32 symbolicSampleSize) {
  return symbolicSampleSize == kSample32 ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API SingleComponentEffect::setupProcessing(ProcessSetup& setup) {
  processSetup_ = setup;
  return kResultOk;
}

tresult PLUGIN_API SingleComponentEffect::setProcessing(TBool) { return kNotImplemented; }

tresult PLUGIN_API SingleComponentEffect::process(ProcessData&) { return kResultOk; }

// ---------------------------------------------------------------- controller queries

tresult PLUGIN_API SingleComponentEffect::getParameterInfo(int32 paramIndex, ParameterInfo& info) {
  if (paramIndex < 0 || paramIndex >= parameters.getParameterCount()) return kResultFalse;
  return EditController::getParameterInfo(paramIndex, info);
}

tresult PLUGIN_API SingleComponentEffect::getParamValueByString(ParamID tag, TChar* string,
                                                                ParamValue& valueNormalized) {
  if (!string) return kResultFalse;
  return EditController::getParamValueByString(tag, string, valueNormalized);
}

tresult PLUGIN_API SingleComponentEffect::getParamStringByValue(ParamID tag,
                                                                ParamValue valueNormalized,
                                                                String128 string) {
  if (!string) return kResultFalse;
  return EditController::getParamStringByValue(tag, valueNormalized, string);
}

// ---------------------------------------------------------------- unit defaults

tresult PLUGIN_API SingleComponentEffect::getUnitInfo(int32 unitIndex, UnitInfo& info) {
  if (unitIndex != 0) return kResultFalse;
  info.id = kRootUnitId;
  info.parentUnitId = kNoParentUnitId;
  WidenText(info.name, 128, "Root Unit");
  info.programListId = kNoProgramListId;
  return kResultTrue;
}

tresult PLUGIN_API SingleComponentEffect::getProgramListInfo(int32, ProgramListInfo&) {
  return kResultFalse;
}

tresult PLUGIN_API SingleComponentEffect::getProgramName(ProgramListID, int32, String128) {
  return kResultFalse;
}

tresult PLUGIN_API SingleComponentEffect::getProgramInfo(ProgramListID, int32, Vst::CString,
                                                         String128) {
  return kNotImplemented;
}

tresult PLUGIN_API SingleComponentEffect::hasProgramPitchNames(ProgramListID, int32) {
  return kNotImplemented;
}

tresult PLUGIN_API SingleComponentEffect::getProgramPitchName(ProgramListID, int32, int16,
                                                              String128) {
  return kNotImplemented;
}

tresult PLUGIN_API SingleComponentEffect::selectUnit(UnitID) { return kNotImplemented; }

tresult PLUGIN_API SingleComponentEffect::getUnitByBus(MediaType, BusDirection, int32, int32,
                                                       UnitID&) {
  return kNotImplemented;
}

tresult PLUGIN_API SingleComponentEffect::setUnitProgramData(int32, int32, IBStream*) {
  return kNotImplemented;
}
