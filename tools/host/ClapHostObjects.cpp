#include "ClapHostObjects.h"

#include <algorithm>
#include <cstring>

#include "ClapEvents.h"
#include "SharedLibrary.h"

namespace host {

// ---------------------------------------------------------------- module

ClapModule::~ClapModule() {
  if (entry_ && initialised_) entry_->deinit();
  if (handle_) library::Close(handle_);
}

bool ClapModule::Load(const std::string& path, std::string& error) {
  handle_ = library::Open(path);
  if (!handle_) {
    error = "cannot load CLAP module '" + path + "': " + library::LastError();
    return false;
  }
  entry_ = static_cast<const clap_plugin_entry*>(library::Find(handle_, "clap_entry"));
  if (!entry_ || !entry_->init || !entry_->deinit || !entry_->get_factory) {
    entry_ = nullptr;
    error = "'" + path + "' is not a CLAP module: it has no complete clap_entry";
    return false;
  }
  if (!clap_version_is_compatible(entry_->clap_version)) {
    error = "CLAP module '" + path + "' was built for an incompatible CLAP version";
    return false;
  }
  if (!entry_->init(path.c_str())) {
    error = "CLAP module '" + path + "' refused to start (clap_entry.init failed)";
    return false;
  }
  initialised_ = true;
  return true;
}

const clap_plugin_factory* ClapModule::Factory() const {
  return entry_ ? static_cast<const clap_plugin_factory*>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID))
                : nullptr;
}

// ---------------------------------------------------------------- host

namespace {

ClapHostContext* Context(const clap_host* host) {
  return host ? static_cast<ClapHostContext*>(host->host_data) : nullptr;
}

void ParamsRescan(const clap_host* host, clap_param_rescan_flags flags) {
  if (flags & CLAP_PARAM_RESCAN_VALUES) Context(host)->rescanValueCount++;
}
void ParamsClear(const clap_host*, clap_id, clap_param_clear_flags) {}
void ParamsRequestFlush(const clap_host* host) { Context(host)->requestFlushCount++; }
bool IsMainThread(const clap_host* host) { return !Context(host)->OnAudioThread(); }
bool IsAudioThread(const clap_host* host) { return Context(host)->OnAudioThread(); }
void StateMarkDirty(const clap_host* host) { Context(host)->markDirtyCount++; }
void LatencyChanged(const clap_host*) {}

void GuiResizeHintsChanged(const clap_host*) {}
bool GuiRequestResize(const clap_host* host, uint32_t width, uint32_t height) {
  Context(host)->resizeRequests.push_back({width, height});
  return true;
}
bool GuiRequestShow(const clap_host*) { return false; }
bool GuiRequestHide(const clap_host*) { return false; }
void GuiClosed(const clap_host*, bool) {}
bool RegisterTimer(const clap_host* host, uint32_t periodMs, clap_id* id) {
  if (!id) return false;
  ClapHostContext* context = Context(host);
  *id = context->nextTimerId++;
  context->timers.push_back({*id, periodMs});
  return true;
}
bool UnregisterTimer(const clap_host* host, clap_id id) {
  auto& timers = Context(host)->timers;
  const size_t before = timers.size();
  timers.erase(std::remove_if(timers.begin(), timers.end(), [id](const auto& t) { return t.id == id; }),
               timers.end());
  return timers.size() != before;
}
bool RegisterFd(const clap_host* host, int fd, clap_posix_fd_flags_t) {
  Context(host)->fds.push_back(fd);
  return true;
}
bool ModifyFd(const clap_host*, int, clap_posix_fd_flags_t) { return true; }
bool UnregisterFd(const clap_host* host, int fd) {
  auto& fds = Context(host)->fds;
  const size_t before = fds.size();
  fds.erase(std::remove(fds.begin(), fds.end(), fd), fds.end());
  return fds.size() != before;
}

const clap_host_gui kHostGui = {GuiResizeHintsChanged, GuiRequestResize, GuiRequestShow, GuiRequestHide,
                                GuiClosed};
const clap_host_timer_support kHostTimers = {RegisterTimer, UnregisterTimer};
const clap_host_posix_fd_support kHostFds = {RegisterFd, ModifyFd, UnregisterFd};
const clap_host_params kHostParams = {ParamsRescan, ParamsClear, ParamsRequestFlush};
const clap_host_thread_check kHostThreadCheck = {IsMainThread, IsAudioThread};
const clap_host_state kHostState = {StateMarkDirty};
const clap_host_latency kHostLatency = {LatencyChanged};

const void* HostExtension(const clap_host* host, const char* id) {
  const ClapHostContext* context = Context(host);
  if (!id || !context || !context->offersExtensions) return nullptr;
  if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &kHostParams;
  if (std::strcmp(id, CLAP_EXT_THREAD_CHECK) == 0) return &kHostThreadCheck;
  if (std::strcmp(id, CLAP_EXT_STATE) == 0) return &kHostState;
  if (std::strcmp(id, CLAP_EXT_LATENCY) == 0) return &kHostLatency;
  if (std::strcmp(id, CLAP_EXT_GUI) == 0) return &kHostGui;
  if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &kHostTimers;
  if (std::strcmp(id, CLAP_EXT_POSIX_FD_SUPPORT) == 0) return &kHostFds;
  return nullptr;
}

void RequestRestart(const clap_host* host) { Context(host)->requestRestartCount++; }
void RequestProcess(const clap_host*) {}
void RequestCallback(const clap_host* host) { Context(host)->requestCallbackCount++; }

}  // namespace

ClapHostContext::ClapHostContext() {
  host_.clap_version = CLAP_VERSION;
  host_.host_data = this;
  host_.name = "Kestrune host library";
  host_.vendor = "Marlowind";
  host_.url = "";
  host_.version = "1.0.0";
  host_.get_extension = HostExtension;
  host_.request_restart = RequestRestart;
  host_.request_process = RequestProcess;
  host_.request_callback = RequestCallback;
}

// ---------------------------------------------------------------- events

ClapInputEvents::ClapInputEvents() {
  list_.ctx = this;
  list_.size = ListSize;
  list_.get = ListGet;
}

void ClapInputEvents::Add(const clap_event_header* header) {
  if (!header || header->size < sizeof(clap_event_header)) return;
  const size_t words = (header->size + 7) / 8;
  const size_t offset = storage_.size();
  storage_.resize(offset + words, 0);
  std::memcpy(storage_.data() + offset, header, header->size);
  auto later = std::upper_bound(offsets_.begin(), offsets_.end(), header->time,
                                [this](uint32_t time, size_t o) {
                                  return time < reinterpret_cast<const clap_event_header*>(
                                                    storage_.data() + o)->time;
                                });
  offsets_.insert(later, offset);
}

void ClapInputEvents::AddParamValue(clap_id id, double value, uint32_t time, void* cookie,
                                    uint16_t space) {
  const auto event =
      ClapParamEvent<clap_event_param_value>(CLAP_EVENT_PARAM_VALUE, id, value, time, 0, cookie, space);
  Add(&event.header);
}

void ClapInputEvents::AddParamMod(clap_id id, double amount, uint32_t time) {
  const auto event = ClapParamEvent<clap_event_param_mod>(CLAP_EVENT_PARAM_MOD, id, amount, time);
  Add(&event.header);
}

void ClapInputEvents::Clear() {
  storage_.clear();
  offsets_.clear();
}

uint32_t ClapInputEvents::ListSize(const clap_input_events* list) {
  return static_cast<const ClapInputEvents*>(list->ctx)->Size();
}

const clap_event_header* ClapInputEvents::ListGet(const clap_input_events* list, uint32_t index) {
  const auto* self = static_cast<const ClapInputEvents*>(list->ctx);
  if (index >= self->offsets_.size()) return nullptr;
  return reinterpret_cast<const clap_event_header*>(self->storage_.data() + self->offsets_[index]);
}

ClapOutputEvents::ClapOutputEvents() {
  list_.ctx = this;
  list_.try_push = TryPush;
}

bool ClapOutputEvents::TryPush(const clap_output_events* list, const clap_event_header* event) {
  auto* self = static_cast<ClapOutputEvents*>(list->ctx);
  if (self->refuse || !event || event->size < sizeof(clap_event_header)) return false;
  const auto* bytes = reinterpret_cast<const uint8_t*>(event);
  self->events.emplace_back(bytes, bytes + event->size);
  return true;
}

// ---------------------------------------------------------------- streams

ClapOutputStream::ClapOutputStream(uint64_t maxPerCall) : maxPerCall_(maxPerCall) {
  stream_.ctx = this;
  stream_.write = Write;
}

int64_t ClapOutputStream::Write(const clap_ostream* stream, const void* buffer, uint64_t size) {
  auto* self = static_cast<ClapOutputStream*>(stream->ctx);
  self->calls++;
  if (!buffer) return -1;
  const uint64_t n = self->maxPerCall_ > 0 ? std::min(size, self->maxPerCall_) : size;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  self->data.insert(self->data.end(), bytes, bytes + n);
  return static_cast<int64_t>(n);
}

ClapInputStream::ClapInputStream(std::vector<uint8_t> bytes, uint64_t maxPerCall)
    : data_(std::move(bytes)), maxPerCall_(maxPerCall) {
  stream_.ctx = this;
  stream_.read = Read;
}

int64_t ClapInputStream::Read(const clap_istream* stream, void* buffer, uint64_t size) {
  auto* self = static_cast<ClapInputStream*>(stream->ctx);
  self->calls++;
  if (!buffer) return -1;
  uint64_t n = std::min<uint64_t>(size, self->data_.size() - self->position_);
  if (self->maxPerCall_ > 0) n = std::min(n, self->maxPerCall_);
  if (n == 0) return 0;  // the end (an empty state has no bytes to copy from)
  std::memcpy(buffer, self->data_.data() + self->position_, n);
  self->position_ += n;
  return static_cast<int64_t>(n);
}

// ---------------------------------------------------------------- buffers

template <typename Sample>
void ClapAudioBuffers<Sample>::Build(const clap_plugin* plugin, const clap_plugin_audio_ports* ports,
                                     uint32_t frames, bool inPlace) {
  inputs.clear();
  outputs.clear();
  inputPointers_.clear();
  outputPointers_.clear();
  std::vector<clap_audio_port_info> inInfo, outInfo;
  for (int dir = 0; ports && dir < 2; ++dir) {
    const bool isInput = dir == 0;
    for (uint32_t i = 0; i < ports->count(plugin, isInput); ++i) {
      clap_audio_port_info info = {};
      if (!ports->get(plugin, i, isInput, &info)) continue;
      (isInput ? inInfo : outInfo).push_back(info);
    }
  }
  for (const auto& info : inInfo)
    inputs.emplace_back(info.channel_count, std::vector<Sample>(frames, Sample(0)));
  for (const auto& info : outInfo)
    outputs.emplace_back(info.channel_count, std::vector<Sample>(frames, Sample(0)));
  for (auto& port : inputs) {
    inputPointers_.emplace_back();
    for (auto& channel : port) inputPointers_.back().push_back(channel.data());
  }
  for (size_t p = 0; p < outputs.size(); ++p) {
    outputPointers_.emplace_back();
    int pair = -1;
    for (size_t q = 0; inPlace && q < inInfo.size(); ++q)
      if (inInfo[q].id == outInfo[p].in_place_pair && inInfo[q].channel_count == outInfo[p].channel_count)
        pair = static_cast<int>(q);
    for (size_t c = 0; c < outputs[p].size(); ++c)
      outputPointers_.back().push_back(pair >= 0 ? inputPointers_[static_cast<size_t>(pair)][c]
                                                 : outputs[p][c].data());
  }
  auto fill = [](std::vector<clap_audio_buffer>& buffers, std::vector<std::vector<Sample*>>& pointers) {
    buffers.assign(pointers.size(), clap_audio_buffer());
    for (size_t p = 0; p < pointers.size(); ++p) {
      if constexpr (sizeof(Sample) == sizeof(float))
        buffers[p].data32 = pointers[p].data();
      else
        buffers[p].data64 = pointers[p].data();
      buffers[p].channel_count = static_cast<uint32_t>(pointers[p].size());
    }
  };
  fill(inputBuffers, inputPointers_);
  fill(outputBuffers, outputPointers_);
}

template <typename Sample>
Sample* ClapAudioBuffers<Sample>::OutputChannel(size_t port, size_t channel) {
  return outputPointers_.at(port).at(channel);
}

template <typename Sample>
Sample* ClapAudioBuffers<Sample>::InputChannel(size_t port, size_t channel) {
  return inputPointers_.at(port).at(channel);
}

template class ClapAudioBuffers<float>;
template class ClapAudioBuffers<double>;

// ---------------------------------------------------------------- instance

ClapInstance::~ClapInstance() {
  if (!plugin) return;
  if (active_) Deactivate();
  plugin->destroy(plugin);
}

bool ClapInstance::Create(const ClapModule& module, ClapHostContext& host,
                          const std::string& pluginId, std::string& error) {
  host_ = &host;
  const clap_plugin_factory* factory = module.Factory();
  if (!factory) {
    error = "the CLAP module has no plug-in factory";
    return false;
  }
  const clap_plugin* created = factory->create_plugin(factory, host.Host(), pluginId.c_str());
  if (!created) {
    error = "the CLAP module does not create '" + pluginId + "'";
    return false;
  }
  return Attach(created, host, error);
}

bool ClapInstance::Attach(const clap_plugin* created, ClapHostContext& host, std::string& error) {
  host_ = &host;
  plugin = created;
  if (!plugin) return false;
  if (!plugin->init(plugin)) {
    error = "the CLAP plug-in refused init";
    plugin->destroy(plugin);
    plugin = nullptr;
    return false;
  }
  params = static_cast<const clap_plugin_params*>(plugin->get_extension(plugin, CLAP_EXT_PARAMS));
  state = static_cast<const clap_plugin_state*>(plugin->get_extension(plugin, CLAP_EXT_STATE));
  audioPorts = static_cast<const clap_plugin_audio_ports*>(
      plugin->get_extension(plugin, CLAP_EXT_AUDIO_PORTS));
  return true;
}

bool ClapInstance::Activate(double sampleRate, uint32_t maxFrames) {
  if (!plugin || active_) return false;
  active_ = plugin->activate(plugin, sampleRate, 1, maxFrames);
  return active_;
}

void ClapInstance::Deactivate() {
  if (!plugin || !active_) return;
  if (processing_) {
    host_->SetAudioThread(true);
    plugin->stop_processing(plugin);
    host_->SetAudioThread(false);
    processing_ = false;
  }
  plugin->deactivate(plugin);
  active_ = false;
}

template <typename Sample>
clap_process_status ClapInstance::Process(ClapAudioBuffers<Sample>& buffers, uint32_t frames,
                                          const clap_input_events* in, const clap_output_events* out,
                                          const clap_event_transport* transport, int64_t steadyTime) {
  static const ClapInputEvents kNoEvents;
  static ClapOutputEvents discarded;
  host_->SetAudioThread(true);
  if (!processing_) processing_ = plugin->start_processing(plugin);
  clap_process process = {};
  process.steady_time = steadyTime;
  process.frames_count = frames;
  process.transport = transport;
  process.audio_inputs = buffers.inputBuffers.data();
  process.audio_outputs = buffers.outputBuffers.data();
  process.audio_inputs_count = static_cast<uint32_t>(buffers.inputBuffers.size());
  process.audio_outputs_count = static_cast<uint32_t>(buffers.outputBuffers.size());
  process.in_events = in ? in : kNoEvents.List();
  process.out_events = out ? out : discarded.List();
  const clap_process_status status =
      processing_ ? plugin->process(plugin, &process) : CLAP_PROCESS_ERROR;
  discarded.events.clear();
  host_->SetAudioThread(false);
  return status;
}

template clap_process_status ClapInstance::Process<float>(ClapAudioBuffers<float>&, uint32_t,
                                                          const clap_input_events*,
                                                          const clap_output_events*,
                                                          const clap_event_transport*, int64_t);
template clap_process_status ClapInstance::Process<double>(ClapAudioBuffers<double>&, uint32_t,
                                                           const clap_input_events*,
                                                           const clap_output_events*,
                                                           const clap_event_transport*, int64_t);

void ClapInstance::Reset() {
  host_->SetAudioThread(true);
  plugin->reset(plugin);
  host_->SetAudioThread(false);
}

std::vector<clap_param_info> ClapInstance::ParamInfos() const {
  std::vector<clap_param_info> infos;
  for (uint32_t i = 0; params && i < params->count(plugin); ++i) {
    clap_param_info info = {};
    if (params->get_info(plugin, i, &info)) infos.push_back(info);
  }
  return infos;
}

bool ClapInstance::ParamValue(clap_id id, double* value) const {
  return params && params->get_value(plugin, id, value);
}

bool ClapInstance::Flush(const clap_input_events* in, const clap_output_events* out) {
  if (!params) return false;
  ClapOutputEvents discarded;
  // Active, flush belongs to the audio thread; inactive, to the main thread.
  host_->SetAudioThread(active_);
  params->flush(plugin, in, out ? out : discarded.List());
  host_->SetAudioThread(false);
  return true;
}

bool ClapInstance::Save(std::vector<uint8_t>& blob, uint64_t maxPerCall) const {
  if (!state) return false;
  ClapOutputStream stream(maxPerCall);
  if (!state->save(plugin, stream.Stream())) return false;
  blob = stream.data;
  return true;
}

bool ClapInstance::Load(const std::vector<uint8_t>& blob, uint64_t maxPerCall) const {
  if (!state) return false;
  ClapInputStream stream(blob, maxPerCall);
  return state->load(plugin, stream.Stream());
}

void ClapInstance::RunMainThreadCallbacks() {
  while (host_ && host_->requestCallbackCount > 0) {
    host_->requestCallbackCount--;
    plugin->on_main_thread(plugin);
  }
}

}  // namespace host
