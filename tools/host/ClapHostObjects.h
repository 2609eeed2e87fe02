// The host side of CLAP, as kestrune-render and the CLAP conformance suite
// use it: the module (dlopen, clap_entry, the plug-in factory), the host
// object with the extensions a plug-in may ask for, event lists, streams,
// audio buffers laid out from the plug-in's own audio ports, and one
// created plug-in with its life cycle.
//
// Everything here runs on the caller's thread, which plays both the main
// and the audio thread: the host's thread-check says which one a call is
// (ClapHostContext::SetAudioThread). Nothing here knows the effect.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ClapAbi.h"

namespace host {

// A loaded .clap module: dlopen'ed with RTLD_NOW (LoadLibrary on Windows), clap_entry initialised
// with the module's path. Deinitialised and closed on destruction.
class ClapModule {
 public:
  ClapModule() = default;
  ~ClapModule();
  ClapModule(const ClapModule&) = delete;
  ClapModule& operator=(const ClapModule&) = delete;

  bool Load(const std::string& path, std::string& error);
  const clap_plugin_entry* Entry() const { return entry_; }
  // The plug-in factory, or null when the module offers none.
  const clap_plugin_factory* Factory() const;

 private:
  void* handle_ = nullptr;
  const clap_plugin_entry* entry_ = nullptr;
  bool initialised_ = false;
};

// The clap_host handed to plug-ins, with params, state, thread-check,
// latency, gui, timer-support and posix-fd-support extensions that record
// what the plug-in asks of them. The host's main loop is the caller's: it
// runs the timers and watches the descriptors recorded here.
class ClapHostContext {
 public:
  ClapHostContext();
  ClapHostContext(const ClapHostContext&) = delete;
  ClapHostContext& operator=(const ClapHostContext&) = delete;

  const clap_host* Host() const { return &host_; }
  // While set, thread-check reports the audio thread, else the main thread.
  void SetAudioThread(bool audio) { audioThread_ = audio; }
  bool OnAudioThread() const { return audioThread_; }

  // Cleared: no extension at all, as hosts offer while they scan.
  bool offersExtensions = true;
  int rescanValueCount = 0;     // rescan with CLAP_PARAM_RESCAN_VALUES
  int requestFlushCount = 0;
  int requestCallbackCount = 0;
  int requestRestartCount = 0;
  int markDirtyCount = 0;
  // The editor's requests: sizes asked for, timers and descriptors held.
  struct Size {
    uint32_t width, height;
  };
  std::vector<Size> resizeRequests;
  struct Timer {
    clap_id id;
    uint32_t periodMs;
  };
  std::vector<Timer> timers;
  std::vector<int> fds;
  clap_id nextTimerId = 1;
  // Log messages the plug-in sent, most recent last.
  std::vector<std::string> log;

 private:
  clap_host host_ = {};
  bool audioThread_ = false;
};

// A time-sorted input event list the host fills.
class ClapInputEvents {
 public:
  ClapInputEvents();
  // Copies `header->size` bytes; kept in time order, stable for equal times.
  void Add(const clap_event_header* header);
  void AddParamValue(clap_id id, double value, uint32_t time = 0, void* cookie = nullptr,
                     uint16_t space = CLAP_CORE_EVENT_SPACE_ID);
  void AddParamMod(clap_id id, double amount, uint32_t time = 0);
  void Clear();
  uint32_t Size() const { return static_cast<uint32_t>(offsets_.size()); }
  const clap_input_events* List() const { return &list_; }

 private:
  static uint32_t ListSize(const clap_input_events* list);
  static const clap_event_header* ListGet(const clap_input_events* list, uint32_t index);
  clap_input_events list_ = {};
  std::vector<uint64_t> storage_;  // 8-byte aligned event bytes
  std::vector<size_t> offsets_;    // in 8-byte words, in time order
};

// An output event list that keeps what the plug-in pushes.
class ClapOutputEvents {
 public:
  ClapOutputEvents();
  const clap_output_events* List() const { return &list_; }
  // The pushed events' bytes, in push order.
  std::vector<std::vector<uint8_t>> events;
  bool refuse = false;  // answers every push with false

 private:
  static bool TryPush(const clap_output_events* list, const clap_event_header* event);
  clap_output_events list_ = {};
};

// Memory streams; `maxPerCall` > 0 moves at most that many bytes per call,
// as hosts that buffer in small pieces do.
class ClapOutputStream {
 public:
  explicit ClapOutputStream(uint64_t maxPerCall = 0);
  const clap_ostream* Stream() const { return &stream_; }
  std::vector<uint8_t> data;
  int calls = 0;

 private:
  static int64_t Write(const clap_ostream* stream, const void* buffer, uint64_t size);
  clap_ostream stream_ = {};
  uint64_t maxPerCall_ = 0;
};

class ClapInputStream {
 public:
  explicit ClapInputStream(std::vector<uint8_t> bytes, uint64_t maxPerCall = 0);
  const clap_istream* Stream() const { return &stream_; }
  int calls = 0;

 private:
  static int64_t Read(const clap_istream* stream, void* buffer, uint64_t size);
  clap_istream stream_ = {};
  std::vector<uint8_t> data_;
  size_t position_ = 0;
  uint64_t maxPerCall_ = 0;
};

// Planar audio for every port the plug-in declares, `frames` long; 32- or
// 64-bit. With `inPlace`, each output port that names an input port as its
// in-place pair (and has its channel count) shares that port's arrays.
template <typename Sample>
class ClapAudioBuffers {
 public:
  void Build(const clap_plugin* plugin, const clap_plugin_audio_ports* ports, uint32_t frames,
             bool inPlace);
  // [port][channel][frame]
  std::vector<std::vector<std::vector<Sample>>> inputs;
  std::vector<std::vector<std::vector<Sample>>> outputs;
  std::vector<clap_audio_buffer> inputBuffers;
  std::vector<clap_audio_buffer> outputBuffers;
  // The arrays the plug-in writes: an output's own, or its pair's.
  Sample* OutputChannel(size_t port, size_t channel);
  Sample* InputChannel(size_t port, size_t channel);

 private:
  std::vector<std::vector<Sample*>> inputPointers_;
  std::vector<std::vector<Sample*>> outputPointers_;
};

// One plug-in created from a module's factory, with the extensions it offers.
class ClapInstance {
 public:
  ClapInstance() = default;
  ~ClapInstance();
  ClapInstance(const ClapInstance&) = delete;
  ClapInstance& operator=(const ClapInstance&) = delete;

  // create_plugin and init; false with `error` when either fails.
  bool Create(const ClapModule& module, ClapHostContext& host, const std::string& pluginId,
              std::string& error);
  // The same for a plug-in created by other means (an in-process test);
  // the instance owns it from here and destroys it.
  bool Attach(const clap_plugin* created, ClapHostContext& host, std::string& error);
  bool Activate(double sampleRate, uint32_t maxFrames);
  void Deactivate();
  bool Active() const { return active_; }

  // One process call on the audio thread: start_processing first if needed.
  template <typename Sample>
  clap_process_status Process(ClapAudioBuffers<Sample>& buffers, uint32_t frames,
                              const clap_input_events* in, const clap_output_events* out,
                              const clap_event_transport* transport = nullptr,
                              int64_t steadyTime = -1);
  void Reset();

  // clap.params, main thread.
  std::vector<clap_param_info> ParamInfos() const;
  bool ParamValue(clap_id id, double* value) const;
  bool Flush(const clap_input_events* in, const clap_output_events* out);
  // clap.state, main thread.
  bool Save(std::vector<uint8_t>& blob, uint64_t maxPerCall = 0) const;
  bool Load(const std::vector<uint8_t>& blob, uint64_t maxPerCall = 0) const;
  // Answers the plug-in's request_callback, as a host's main loop does.
  void RunMainThreadCallbacks();

  const clap_plugin* plugin = nullptr;
  const clap_plugin_params* params = nullptr;
  const clap_plugin_state* state = nullptr;
  const clap_plugin_audio_ports* audioPorts = nullptr;

 private:
  ClapHostContext* host_ = nullptr;
  bool active_ = false;
  bool processing_ = false;
};

}  // namespace host
