#include "IEffectCLAP.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "ClapEvents.h"
#include "ClapParams.h"
#include "HostState.h"

namespace {

IEffectCLAP* Self(const clap_plugin* plugin) { return IEffectCLAP::FromPlugin(plugin); }

// ---------------------------------------------------------------- clap_plugin

bool PluginInit(const clap_plugin* p) { return Self(p) && Self(p)->Init(); }

void PluginDestroy(const clap_plugin* p) { delete Self(p); }

bool PluginActivate(const clap_plugin* p, double rate, uint32_t minFrames, uint32_t maxFrames) {
  return Self(p) && Self(p)->Activate(rate, minFrames, maxFrames);
}

void PluginDeactivate(const clap_plugin* p) {
  if (Self(p)) Self(p)->Deactivate();
}

bool PluginStartProcessing(const clap_plugin* p) { return Self(p) && Self(p)->IsActive(); }

void PluginStopProcessing(const clap_plugin*) {}

void PluginReset(const clap_plugin* p) {
  if (Self(p)) Self(p)->Reset();
}

clap_process_status PluginProcess(const clap_plugin* p, const clap_process* process) {
  return Self(p) ? Self(p)->Process(process) : CLAP_PROCESS_ERROR;
}

const void* PluginExtension(const clap_plugin* p, const char* id) {
  return Self(p) ? Self(p)->Extension(id) : nullptr;
}

void PluginOnMainThread(const clap_plugin* p) {
  if (Self(p)) Self(p)->OnMainThread();
}

// ---------------------------------------------------------------- extensions

uint32_t PortsCount(const clap_plugin* p, bool isInput) {
  return Self(p) ? Self(p)->AudioPortCount(isInput) : 0;
}

bool PortsGet(const clap_plugin* p, uint32_t index, bool isInput, clap_audio_port_info* info) {
  return Self(p) && Self(p)->AudioPortInfo(index, isInput, info);
}

uint32_t ParamsCount(const clap_plugin* p) {
  return Self(p) ? static_cast<uint32_t>(Self(p)->ParamCount()) : 0;
}

bool ParamsInfo(const clap_plugin* p, uint32_t index, clap_param_info* info) {
  return Self(p) && Self(p)->ParamInfo(index, info);
}

bool ParamsValue(const clap_plugin* p, clap_id id, double* value) {
  return Self(p) && Self(p)->ParamValue(id, value);
}

bool ParamsValueToText(const clap_plugin* p, clap_id id, double value, char* text,
                       uint32_t capacity) {
  return Self(p) && Self(p)->ParamValueToText(id, value, text, capacity);
}

bool ParamsTextToValue(const clap_plugin* p, clap_id id, const char* text, double* value) {
  return Self(p) && Self(p)->ParamTextToValue(id, text, value);
}

void ParamsFlush(const clap_plugin* p, const clap_input_events* in, const clap_output_events* out) {
  if (Self(p)) Self(p)->Flush(in, out);
}

bool StateSave(const clap_plugin* p, const clap_ostream* stream) {
  return Self(p) && Self(p)->SaveClapState(stream);
}

bool StateLoad(const clap_plugin* p, const clap_istream* stream) {
  return Self(p) && Self(p)->LoadClapState(stream);
}

uint32_t LatencyGet(const clap_plugin* p) {
  return Self(p) ? static_cast<uint32_t>(std::max(Self(p)->Latency(), 0)) : 0;
}

bool RenderHardRealtime(const clap_plugin*) { return false; }

double GainMeteringGet(const clap_plugin* p) { return Self(p) ? Self(p)->GainAdjustmentDb() : 0.0; }

bool RenderSet(const clap_plugin* p, clap_plugin_render_mode mode) {
  return Self(p) && Self(p)->SetRenderMode(mode);
}

bool PresetLoadFromLocation(const clap_plugin* p, uint32_t kind, const char* location,
                            const char* loadKey) {
  return Self(p) && Self(p)->LoadPreset(kind, location, loadKey);
}

const clap_plugin_audio_ports kAudioPorts = {PortsCount, PortsGet};
const clap_plugin_params kParams = {ParamsCount,       ParamsInfo,        ParamsValue,
                                    ParamsValueToText, ParamsTextToValue, ParamsFlush};
const clap_plugin_state kState = {StateSave, StateLoad};
const clap_plugin_latency kLatency = {LatencyGet};
const clap_plugin_render kRender = {RenderHardRealtime, RenderSet};
const clap_plugin_gain_adjustment_metering kGainMetering = {GainMeteringGet};
const clap_plugin_preset_load kPresetLoad = {PresetLoadFromLocation};

// ---------------------------------------------------------------- helpers

template <typename Sample>
Sample* const* ChannelArrays(const clap_audio_buffer& buffer);
template <>
float* const* ChannelArrays<float>(const clap_audio_buffer& buffer) { return buffer.data32; }
template <>
double* const* ChannelArrays<double>(const clap_audio_buffer& buffer) { return buffer.data64; }

// Channel `channel` of a host port, or null when the host gave none.
template <typename Sample>
Sample* HostChannel(const clap_audio_buffer* buffers, uint32_t count, uint32_t port,
                    uint32_t channel) {
  if (!buffers || port >= count) return nullptr;
  const clap_audio_buffer& buffer = buffers[port];
  Sample* const* arrays = ChannelArrays<Sample>(buffer);
  if (!arrays || channel >= buffer.channel_count) return nullptr;
  return arrays[channel];
}

template <typename Sample>
std::vector<const Sample*>& InputArrays(std::vector<const float*>& in32,
                                        std::vector<const double*>& in64);
template <>
std::vector<const float*>& InputArrays<float>(std::vector<const float*>& in32,
                                              std::vector<const double*>&) {
  return in32;
}
template <>
std::vector<const double*>& InputArrays<double>(std::vector<const float*>&,
                                                std::vector<const double*>& in64) {
  return in64;
}

template <typename Sample>
std::vector<Sample*>& OutputArrays(std::vector<float*>& out32, std::vector<double*>& out64);
template <>
std::vector<float*>& OutputArrays<float>(std::vector<float*>& out32, std::vector<double*>&) {
  return out32;
}
template <>
std::vector<double*>& OutputArrays<double>(std::vector<float*>&, std::vector<double*>& out64) {
  return out64;
}

bool PushParamEvent(const clap_output_events* out, uint16_t type, uint32_t time, clap_id id,
                    double value) {
  if (!out || !out->try_push) return false;
  if (type == CLAP_EVENT_PARAM_VALUE) {
    const auto event = ClapParamEvent<clap_event_param_value>(type, id, value, time, CLAP_EVENT_IS_LIVE);
    return out->try_push(out, &event.header);
  }
  const clap_event_param_gesture event = ClapGestureEvent(type, id, time, CLAP_EVENT_IS_LIVE);
  return out->try_push(out, &event.header);
}

}  // namespace

// ---------------------------------------------------------------- construction

IEffectCLAP::IEffectCLAP(const ClapCreationArg& arg, const EffectIdentity& identity)
    : IEffectBase(identity, kApiClap), host_(arg.host) {
  plugin_.desc = arg.descriptor;
  plugin_.plugin_data = this;
  plugin_.init = PluginInit;
  plugin_.destroy = PluginDestroy;
  plugin_.activate = PluginActivate;
  plugin_.deactivate = PluginDeactivate;
  plugin_.start_processing = PluginStartProcessing;
  plugin_.stop_processing = PluginStopProcessing;
  plugin_.reset = PluginReset;
  plugin_.process = PluginProcess;
  plugin_.get_extension = PluginExtension;
  plugin_.on_main_thread = PluginOnMainThread;

  ConnectInputs(0, InputChannelCount(), true);
  ConnectOutputs(0, OutputChannelCount(), true);
  in32_.assign(static_cast<size_t>(InputChannelCount()), nullptr);
  in64_.assign(static_cast<size_t>(InputChannelCount()), nullptr);
  out32_.assign(static_cast<size_t>(OutputChannelCount()), nullptr);
  out64_.assign(static_cast<size_t>(OutputChannelCount()), nullptr);
}

IEffectCLAP::~IEffectCLAP() { GuiDestroy(); }

IEffectCLAP* IEffectCLAP::FromPlugin(const clap_plugin* plugin) {
  return plugin ? static_cast<IEffectCLAP*>(plugin->plugin_data) : nullptr;
}

// ---------------------------------------------------------------- life cycle

bool IEffectCLAP::Init() {
  if (!host_ || !host_->get_extension) return true;
  hostParams_ = static_cast<const clap_host_params*>(host_->get_extension(host_, CLAP_EXT_PARAMS));
  if (hostParams_ && (!hostParams_->rescan || !hostParams_->request_flush)) hostParams_ = nullptr;
  hostThreadCheck_ = static_cast<const clap_host_thread_check*>(
      host_->get_extension(host_, CLAP_EXT_THREAD_CHECK));
  if (hostThreadCheck_ && !hostThreadCheck_->is_audio_thread) hostThreadCheck_ = nullptr;
  hostPresetLoad_ = static_cast<const clap_host_preset_load*>(
      host_->get_extension(host_, CLAP_EXT_PRESET_LOAD));
  if (!hostPresetLoad_)
    hostPresetLoad_ = static_cast<const clap_host_preset_load*>(
        host_->get_extension(host_, CLAP_EXT_PRESET_LOAD_COMPAT));
  hostGui_ = static_cast<const clap_host_gui*>(host_->get_extension(host_, CLAP_EXT_GUI));
  if (hostGui_ && !hostGui_->request_resize) hostGui_ = nullptr;
  hostTimer_ = static_cast<const clap_host_timer_support*>(
      host_->get_extension(host_, CLAP_EXT_TIMER_SUPPORT));
  if (hostTimer_ && (!hostTimer_->register_timer || !hostTimer_->unregister_timer)) hostTimer_ = nullptr;
  hostFd_ = static_cast<const clap_host_posix_fd_support*>(
      host_->get_extension(host_, CLAP_EXT_POSIX_FD_SUPPORT));
  if (hostFd_ && (!hostFd_->register_fd || !hostFd_->unregister_fd)) hostFd_ = nullptr;
  AfterHostSetup();
  // The effect's derived values follow the parameters from the start.
  NotifyAllParamsChanged();
  return true;
}

bool IEffectCLAP::Activate(double sampleRate, uint32_t /*minFrames*/, uint32_t maxFrames) {
  if (!std::isfinite(sampleRate) || !(sampleRate > 0.0) || maxFrames == 0) return false;
  PlugLockGuard guard(*this);
  SetSampleRate(sampleRate);
  const int blockSize = static_cast<int>(std::min<uint32_t>(maxFrames, kMaxBlockSize));
  if (blockSize != BlockSize()) ChangeBlockSize(blockSize);
  ResetProcessing();
  ActivationChanged(true);
  active_ = true;
  return true;
}

void IEffectCLAP::Deactivate() {
  PlugLockGuard guard(*this);
  active_ = false;
  ActivationChanged(false);
}

void IEffectCLAP::Reset() { ResetProcessing(); }

void IEffectCLAP::OnMainThread() {
  if (rescanValues_.exchange(false) && hostParams_)
    hostParams_->rescan(host_, CLAP_PARAM_RESCAN_VALUES);
}

const void* IEffectCLAP::Extension(const char* id) {
  if (!id) return nullptr;
  if (std::strcmp(id, CLAP_EXT_AUDIO_PORTS) == 0) return &kAudioPorts;
  if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &kParams;
  if (std::strcmp(id, CLAP_EXT_STATE) == 0) return &kState;
  if (std::strcmp(id, CLAP_EXT_LATENCY) == 0) return &kLatency;
  if (std::strcmp(id, CLAP_EXT_RENDER) == 0) return &kRender;
  if (std::strcmp(id, CLAP_EXT_GAIN_ADJUSTMENT_METERING) == 0) return gainReading_ ? &kGainMetering : nullptr;
  if (std::strcmp(id, CLAP_EXT_PRESET_LOAD) == 0 || std::strcmp(id, CLAP_EXT_PRESET_LOAD_COMPAT) == 0)
    return presetReader_ ? &kPresetLoad : nullptr;
  return Editor() ? GuiExtension(id) : nullptr;
}

double IEffectCLAP::GainAdjustmentDb() const {
  const double reading = gainReading_ ? gainReading_(*this) : 0.0;
  if (!(reading > 0)) return 0.0;
  if (reading >= 1) return -kMaxGainReductionDb;
  return std::max(20.0 * std::log10(1.0 - reading), -kMaxGainReductionDb);
}

bool IEffectCLAP::SetRenderMode(clap_plugin_render_mode mode) {
  if (mode != CLAP_RENDER_REALTIME && mode != CLAP_RENDER_OFFLINE) return false;
  offline_.store(mode == CLAP_RENDER_OFFLINE, std::memory_order_relaxed);
  return true;
}

// ---------------------------------------------------------------- audio ports

uint32_t IEffectCLAP::AudioPortCount(bool isInput) const { return isInput ? 2 : 1; }

bool IEffectCLAP::AudioPortInfo(uint32_t index, bool isInput, clap_audio_port_info* info) const {
  if (!info || index >= AudioPortCount(isInput)) return false;
  *info = clap_audio_port_info();
  info->id = index;
  const char* name = !isInput ? "Output" : index == 0 ? "Main Input" : "Sidechain Input";
  CopyText(info->name, sizeof info->name, name);
  info->flags = CLAP_AUDIO_PORT_SUPPORTS_64BITS | CLAP_AUDIO_PORT_REQUIRES_COMMON_SAMPLE_SIZE;
  if (index == 0) info->flags |= CLAP_AUDIO_PORT_IS_MAIN;
  info->channel_count = 2;
  info->port_type = CLAP_PORT_STEREO;
  // The main input and the output may share buffers: the signal path
  // reads a frame's inputs before it writes that frame's outputs, as VST3
  // hosts that process in place already need.
  info->in_place_pair = index == 0 ? 0 : CLAP_INVALID_ID;
  return true;
}

// ---------------------------------------------------------------- parameters

bool IEffectCLAP::ParamInfo(uint32_t index, clap_param_info* info) {
  if (!info || index >= static_cast<uint32_t>(ParamCount())) return false;
  PlugLockGuard guard(*this);
  const PlugParam& param = *ParamAt(static_cast<int>(index));
  *info = clap_param_info();
  info->id = index;
  if (param.automatable) info->flags |= CLAP_PARAM_IS_AUTOMATABLE;
  if (param.IsStepped()) {
    info->flags |= CLAP_PARAM_IS_STEPPED;
    if (param.hostFormat == ParamHostFormat::Choices) info->flags |= CLAP_PARAM_IS_ENUM;
  }
  if (static_cast<int>(index) == BypassParamIndex()) info->flags |= CLAP_PARAM_IS_BYPASS;
  info->cookie = nullptr;
  CopyText(info->name, sizeof info->name, param.name);
  CopyText(info->module, sizeof info->module, param.groupName);
  info->min_value = clapparams::MinValue(param);
  info->max_value = clapparams::MaxValue(param);
  info->default_value = clapparams::DefaultValue(param);
  return true;
}

bool IEffectCLAP::ParamValue(clap_id id, double* value) {
  if (!value || id >= static_cast<clap_id>(ParamCount())) return false;
  PlugLockGuard guard(*this);
  *value = clapparams::CurrentValue(*ParamAt(static_cast<int>(id)));
  return true;
}

bool IEffectCLAP::ParamValueToText(clap_id id, double value, char* text, uint32_t capacity) {
  if (!text || capacity == 0 || std::isnan(value) || id >= static_cast<clap_id>(ParamCount()))
    return false;
  PlugLockGuard guard(*this);
  clapparams::ValueText(*ParamAt(static_cast<int>(id)), value, text, capacity);
  return true;
}

bool IEffectCLAP::ParamTextToValue(clap_id id, const char* text, double* value) {
  if (!text || !value || id >= static_cast<clap_id>(ParamCount())) return false;
  PlugLockGuard guard(*this);
  return clapparams::ValueFromText(*ParamAt(static_cast<int>(id)), text, value);
}

void IEffectCLAP::ApplyEvent(const clap_event_header* header) {
  if (!header || header->space_id != CLAP_CORE_EVENT_SPACE_ID) return;
  if (header->type == CLAP_EVENT_PARAM_VALUE && header->size >= sizeof(clap_event_param_value)) {
    const auto* event = reinterpret_cast<const clap_event_param_value*>(header);
    if (event->param_id < static_cast<clap_id>(ParamCount()))
      clapparams::ApplyValue(*this, static_cast<int>(event->param_id), event->value);
  } else if (header->type == CLAP_EVENT_TRANSPORT &&
             header->size >= sizeof(clap_event_transport)) {
    ReadTransport(reinterpret_cast<const clap_event_transport*>(header));
  }
}

void IEffectCLAP::Flush(const clap_input_events* in, const clap_output_events* out) {
  PlugLockGuard guard(*this);
  const uint32_t count = in && in->size && in->get ? in->size(in) : 0;
  for (uint32_t i = 0; i < count; ++i) ApplyEvent(in->get(in, i));
  DrainEditorEvents(out, 0);
}

// ---------------------------------------------------------------- editor events

void IEffectCLAP::QueueEditorEvent(uint16_t type, int index, double normalized) {
  if (index < 0 || index >= ParamCount()) return;
  const uint32_t write = editorWrite_.load(std::memory_order_relaxed);
  const uint32_t read = editorRead_.load(std::memory_order_acquire);
  if (write - read >= static_cast<uint32_t>(kEditorQueueSize)) return;  // full: dropped
  EditorEvent& slot = editorEvents_[write % kEditorQueueSize];
  slot.type = type;
  slot.index = index;
  slot.normalized = normalized;
  editorWrite_.store(write + 1, std::memory_order_release);
  // Off the audio thread only; the host then calls flush or process.
  const bool onAudioThread = hostThreadCheck_ && hostThreadCheck_->is_audio_thread(host_);
  if (hostParams_ && !onAudioThread) hostParams_->request_flush(host_);
}

void IEffectCLAP::DrainEditorEvents(const clap_output_events* out, uint32_t time) {
  uint32_t read = editorRead_.load(std::memory_order_relaxed);
  const uint32_t write = editorWrite_.load(std::memory_order_acquire);
  for (; read != write; ++read) {
    const EditorEvent& event = editorEvents_[read % kEditorQueueSize];
    const PlugParam* param = ParamAt(event.index);
    if (!param) continue;
    const double value = event.type == CLAP_EVENT_PARAM_VALUE
                             ? clapparams::ValueFromNormalized(*param, event.normalized)
                             : 0.0;
    PushParamEvent(out, event.type, time, static_cast<clap_id>(event.index), value);
  }
  editorRead_.store(read, std::memory_order_release);
}

void IEffectCLAP::BeginParamGesture(int index) {
  QueueEditorEvent(CLAP_EVENT_PARAM_GESTURE_BEGIN, index, 0.0);
}

void IEffectCLAP::NotifyHostParam(int index, double normalized) {
  QueueEditorEvent(CLAP_EVENT_PARAM_VALUE, index, normalized);
}

void IEffectCLAP::EndParamGesture(int index) {
  QueueEditorEvent(CLAP_EVENT_PARAM_GESTURE_END, index, 0.0);
}

// ---------------------------------------------------------------- processing

void IEffectCLAP::ReadTransport(const clap_event_transport* transport) {
  hasTransport_ = transport != nullptr;
  if (transport) transport_ = *transport;
}

void IEffectCLAP::UpdateSidechainConnection(const clap_process* process) {
  // A sidechain port with neither sample type's buffers is not connected.
  bool connected = false;
  if (process->audio_inputs && process->audio_inputs_count > 1) {
    const clap_audio_buffer& side = process->audio_inputs[1];
    connected = side.channel_count > 0 && (side.data32 || side.data64);
  }
  if (connected == sidechainConnected_) return;
  ConnectInputs(2, 2, connected);
  sidechainConnected_ = connected;
}

template <typename Sample>
void IEffectCLAP::ProcessAudio(const clap_process* process, int frames) {
  std::vector<const Sample*>& in = InputArrays<Sample>(in32_, in64_);
  std::vector<Sample*>& out = OutputArrays<Sample>(out32_, out64_);
  const uint32_t inCount = process->audio_inputs_count;
  const uint32_t outCount = process->audio_outputs_count;
  const int inputs = sidechainConnected_ ? 4 : 2;

  const clap_input_events* events = process->in_events;
  const uint32_t eventCount = events && events->size && events->get ? events->size(events) : 0;
  uint32_t nextEvent = 0;
  int done = 0;
  while (done < frames) {
    // Events up to this point apply before the piece that starts here.
    int pieceEnd = frames;
    for (; nextEvent < eventCount; ++nextEvent) {
      const clap_event_header* header = events->get(events, nextEvent);
      if (!header) continue;
      const int time = static_cast<int>(std::min<uint32_t>(header->time, static_cast<uint32_t>(frames)));
      if (time > done) {
        pieceEnd = time;
        break;
      }
      ApplyEvent(header);
    }
    const int n = pieceEnd - done;
    const uint32_t offset = static_cast<uint32_t>(done);
    auto advanced = [offset](Sample* channel) { return channel ? channel + offset : nullptr; };
    in[0] = advanced(HostChannel<Sample>(process->audio_inputs, inCount, 0, 0));
    in[1] = advanced(HostChannel<Sample>(process->audio_inputs, inCount, 0, 1));
    in[2] = advanced(HostChannel<Sample>(process->audio_inputs, inCount, 1, 0));
    in[3] = advanced(HostChannel<Sample>(process->audio_inputs, inCount, 1, 1));
    out[0] = advanced(HostChannel<Sample>(process->audio_outputs, outCount, 0, 0));
    out[1] = advanced(HostChannel<Sample>(process->audio_outputs, outCount, 0, 1));
    ProcessHostBlock(in.data(), inputs, out.data(), 2, n);
    done = pieceEnd;
  }
  // Events at or after the block's end (a host's mistake) still count.
  for (; nextEvent < eventCount; ++nextEvent) ApplyEvent(events->get(events, nextEvent));

  // Output channels beyond the two the plug-in writes get silence.
  for (uint32_t port = 0; process->audio_outputs && port < outCount; ++port) {
    const clap_audio_buffer& buffer = process->audio_outputs[port];
    Sample* const* arrays = ChannelArrays<Sample>(buffer);
    for (uint32_t c = port == 0 ? 2 : 0; arrays && c < buffer.channel_count; ++c)
      if (arrays[c]) std::fill(arrays[c], arrays[c] + frames, Sample(0));
  }
}

clap_process_status IEffectCLAP::Process(const clap_process* process) {
  if (!process) return CLAP_PROCESS_ERROR;
  PlugLockGuard guard(*this);
  if (!active_) return CLAP_PROCESS_ERROR;
  ReadTransport(process->transport);
  const int frames = static_cast<int>(
      std::min<uint32_t>(process->frames_count, static_cast<uint32_t>(std::numeric_limits<int>::max())));
  UpdateSidechainConnection(process);
  const bool useDouble = process->audio_outputs && process->audio_outputs_count > 0 &&
                         !process->audio_outputs[0].data32 && process->audio_outputs[0].data64;
  if (useDouble)
    ProcessAudio<double>(process, frames);
  else
    ProcessAudio<float>(process, frames);
  for (uint32_t port = 0; process->audio_outputs && port < process->audio_outputs_count; ++port)
    process->audio_outputs[port].constant_mask = 0;
  DrainEditorEvents(process->out_events, 0);
  return CLAP_PROCESS_CONTINUE;
}

// ---------------------------------------------------------------- state

bool IEffectCLAP::SaveClapState(const clap_ostream* stream) {
  if (!stream || !stream->write) return false;
  StateChunk chunk;
  if (!SaveHostState(*this, chunk)) return false;
  const uint8_t* data = chunk.Data();
  uint64_t left = static_cast<uint64_t>(chunk.Size());
  while (left > 0) {
    const int64_t written = stream->write(stream, data, left);
    if (written <= 0 || static_cast<uint64_t>(written) > left) return false;
    data += written;
    left -= static_cast<uint64_t>(written);
  }
  return true;
}

bool IEffectCLAP::LoadClapState(const clap_istream* stream) {
  if (!stream || !stream->read) return false;
  // The whole stream is read before anything is applied: a blob cut short
  // changes nothing.
  std::vector<uint8_t> blob;
  uint8_t buffer[4096];
  for (;;) {
    const int64_t got = stream->read(stream, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0 || static_cast<uint64_t>(got) > sizeof buffer) return false;
    if (blob.size() + static_cast<size_t>(got) > kMaxStateBytes) return false;
    blob.insert(blob.end(), buffer, buffer + got);
  }
  if (!LoadHostState(*this, blob.data(), blob.size())) return false;
  // The host re-reads the values from the next main-thread callback, not
  // from inside its own call.
  rescanValues_.store(true);
  if (host_ && host_->request_callback) host_->request_callback(host_);
  return true;
}

// ---------------------------------------------------------------- presets

bool IEffectCLAP::LoadPreset(uint32_t locationKind, const char* location, const char* loadKey) {
  bool loaded = false;
  if (presetReader_ && locationKind == CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN && loadKey) {
    std::vector<double> values(static_cast<size_t>(ParamCount()));
    for (int i = 0; i < ParamCount(); ++i) values[static_cast<size_t>(i)] = ParamAt(i)->defaultValue;
    if (presetReader_(loadKey, values.data(), ParamCount())) {
      PlugLockGuard guard(*this);
      for (int i = 0; i < ParamCount(); ++i) ParamAt(i)->SetClamped(values[static_cast<size_t>(i)]);
      NotifyAllParamsChanged();
      RefreshEditorFromParams();
      loaded = true;
    }
  }
  if (!loaded) {
    if (hostPresetLoad_ && hostPresetLoad_->on_error)
      hostPresetLoad_->on_error(host_, locationKind, location, loadKey, 0, "no such preset in this plug-in");
    return false;
  }
  rescanValues_.store(true);
  if (host_ && host_->request_callback) host_->request_callback(host_);
  return true;
}

// ---------------------------------------------------------------- host time

int IEffectCLAP::HostSamplePosition() {
  if (!hasTransport_ || !(transport_.flags & CLAP_TRANSPORT_HAS_SECONDS_TIMELINE)) return 0;
  const double seconds = static_cast<double>(transport_.song_pos_seconds) / CLAP_SECTIME_FACTOR;
  return static_cast<int>(std::max(0.0, std::min(seconds * SampleRate(), 2147483647.0)));
}

double IEffectCLAP::HostTempo() {
  if (!hasTransport_ || !(transport_.flags & CLAP_TRANSPORT_HAS_TEMPO)) return 120.0;
  return transport_.tempo;
}

void IEffectCLAP::HostTimeSignature(int* numerator, int* denominator) {
  const bool known = hasTransport_ && (transport_.flags & CLAP_TRANSPORT_HAS_TIME_SIGNATURE);
  if (numerator) *numerator = known ? transport_.tsig_num : 4;
  if (denominator) *denominator = known ? transport_.tsig_denom : 4;
}

void IEffectCLAP::HostTimeInfo(::HostTimeInfo* info) {
  if (!info) return;
  *info = ::HostTimeInfo();
  if (!hasTransport_) return;
  info->samplePosition = HostSamplePosition();
  info->tempo = HostTempo();
  if (transport_.flags & CLAP_TRANSPORT_HAS_BEATS_TIMELINE) {
    info->musicalPosition = static_cast<double>(transport_.song_pos_beats) / CLAP_BEATTIME_FACTOR;
    info->lastBarPosition = static_cast<double>(transport_.bar_start) / CLAP_BEATTIME_FACTOR;
    info->cycleStart = static_cast<double>(transport_.loop_start_beats) / CLAP_BEATTIME_FACTOR;
    info->cycleEnd = static_cast<double>(transport_.loop_end_beats) / CLAP_BEATTIME_FACTOR;
  }
  HostTimeSignature(&info->numerator, &info->denominator);
  info->transportRunning = (transport_.flags & CLAP_TRANSPORT_IS_PLAYING) != 0;
  info->cycleActive = (transport_.flags & CLAP_TRANSPORT_IS_LOOP_ACTIVE) != 0;
}
