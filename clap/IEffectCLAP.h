// IEffectCLAP: the CLAP face of a plug-in instance.
//
// The effect derives from this binding, which derives from the plug-in base.
// The binding only translates: the CLAP plug-in object and its extensions
// (audio-ports, params, state, latency, render, gain-adjustment-metering,
// preset-load, the host's thread-check) become calls on the base. Host values and texts: ClapParams.h.
//
// Who calls what, and when (CLAP's thread tags):
//   - The module's factory constructs the instance (no host call there) and
//     hands the host its `clap_plugin` (ClapPlugin()); everything below
//     comes through that object's function pointers.
//   - Main thread: init (caches the host's params, state, thread-check and
//     log extensions), activate / deactivate (sample rate and the largest
//     block; the signal path is reset), the audio-ports, params and state
//     queries, on_main_thread, destroy.
//   - Audio thread: start_processing, stop_processing, reset, process, and
//     params.flush while active. process holds the plug-in lock for the
//     block, as the other bindings do; the editor never holds it while
//     drawing, so the audio thread waits only for a host or state call.
//   - Input parameter events are applied at their time in the block: the
//     block is processed in pieces between events. Output events carry the
//     editor's changes: the editor (user-interface thread) queues gestures
//     and values into a lock-free ring and asks the host to flush; the next
//     process or flush drains the ring into the host's output list.
//   - The editor (clap.gui, main thread): embedded only, in an X11 window
//     (Win32 on Windows). On Linux it runs on the host's timer-support (a
//     redraw tick that also handles pending X events) and, where offered,
//     posix-fd-support for the display connection; a host offering no
//     timer gets no editor. It scales from 75 % to 300 % in its aspect
//     ratio; a size it chooses itself reaches the host as request_resize
//     from its next redraw tick, never from inside a host call.
//   - A state load (main thread, possibly while active) applies the blob
//     under the plug-in lock, so it waits for a block in progress and never
//     half-applies, then asks the host for a main-thread callback in which
//     it tells the host to re-read the values: never from inside the load.
//
// What stays constant: parameter ids are the parameter indices; the state
// blob is HostState.h's, the same as VST3 and LV2; the port layout is a
// main stereo input, a stereo sidechain input (not main) and a main stereo
// output. A sidechain port the host hands no buffers for is unconnected.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "ClapAbi.h"
#include "IEffectBase.h"

// What the factory passes to the effect's constructor.
struct ClapCreationArg {
  const clap_host* host = nullptr;
  const clap_plugin_descriptor* descriptor = nullptr;
};

class IEffectCLAP : public IEffectBase {
 public:
  // Blocks longer than this are processed in pieces: the scratch arrays are
  // only a processing frame.
  static constexpr int kMaxBlockSize = 1 << 16;
  // A state stream longer than this is refused (a broken host stream).
  static constexpr size_t kMaxStateBytes = 1 << 20;
  // Editor events waiting for the next process or flush.
  static constexpr int kEditorQueueSize = 256;

  IEffectCLAP(const ClapCreationArg& arg, const EffectIdentity& identity);
  ~IEffectCLAP() override;

  // The object the host holds; plugin_data points back at this instance.
  const clap_plugin* ClapPlugin() const { return &plugin_; }
  static IEffectCLAP* FromPlugin(const clap_plugin* plugin);

  // ---- clap_plugin ----
  bool Init();
  bool Activate(double sampleRate, uint32_t minFrames, uint32_t maxFrames);
  void Deactivate();
  void Reset();
  clap_process_status Process(const clap_process* process);
  const void* Extension(const char* id);
  void OnMainThread();
  bool IsActive() const { return active_; }

  // ---- clap.audio-ports ----
  uint32_t AudioPortCount(bool isInput) const;
  bool AudioPortInfo(uint32_t index, bool isInput, clap_audio_port_info* info) const;

  // ---- clap.params ----
  bool ParamInfo(uint32_t index, clap_param_info* info);
  bool ParamValue(clap_id id, double* value);
  bool ParamValueToText(clap_id id, double value, char* text, uint32_t capacity);
  bool ParamTextToValue(clap_id id, const char* text, double* value);
  void Flush(const clap_input_events* in, const clap_output_events* out);

  // ---- clap.state ----
  bool SaveClapState(const clap_ostream* stream);
  bool LoadClapState(const clap_istream* stream);

  // ---- clap.render ----
  bool SetRenderMode(clap_plugin_render_mode mode);

  // ---- clap.gain-adjustment-metering ----
  // The module names where its gain-reduction meter is read: the reading
  // the editor's meter shows (1 - gain), which the audio thread writes
  // after each block. Without one the extension is not offered.
  using GainReading = double (*)(const IEffectCLAP& plug);
  void SetGainReading(GainReading reading) { gainReading_ = reading; }
  // The gain applied now, in dB: 0 or negative (a reduction), at most
  // kMaxGainReductionDb down. Audio thread.
  static constexpr double kMaxGainReductionDb = 60.0;
  double GainAdjustmentDb() const;

  // ---- clap.preset-load ----
  // The module names how a preset's load key becomes values: `plainValues`
  // holds every parameter's default on entry, the reader sets the preset's
  // settings over them and answers false for a key it does not know.
  // Without one the extension is not offered.
  using PresetReader = bool (*)(const char* loadKey, double* plainValues, int count);
  void SetPresetReader(PresetReader reader) { presetReader_ = reader; }
  // Main thread. Only presets inside the module (the discovery factory's
  // plug-in location); the host re-reads the values from the next
  // main-thread callback, as after a state load.
  bool LoadPreset(uint32_t locationKind, const char* location, const char* loadKey);

  // ---- clap.gui, timer-support, posix-fd-support (IEffectCLAPGui.cpp) ----
  bool GuiApiSupported(const char* api, bool isFloating) const;
  bool GuiCreate(const char* api, bool isFloating);
  void GuiDestroy();
  bool GuiSetScale(double scale);
  bool GuiGetSize(uint32_t* width, uint32_t* height) const;
  bool GuiCanResize() const;
  bool GuiResizeHints(clap_gui_resize_hints* hints) const;
  bool GuiAdjustSize(uint32_t* width, uint32_t* height) const;
  bool GuiSetSize(uint32_t width, uint32_t height);
  bool GuiSetParent(const clap_window* window);
  void OnTimer(clap_id timerId);
  void OnFd(int fd, clap_posix_fd_flags_t flags);
  // The extension structs the gui part offers, or null for other ids.
  static const void* GuiExtension(const char* id);

  // ---- Host-facing operations of the base ----
  // From the editor (user-interface thread): queued for the host.
  void BeginParamGesture(int index) override;
  void NotifyHostParam(int index, double normalized) override;
  void EndParamGesture(int index) override;
  void NotifyHostPresetChange() override {}
  bool IsOfflineRender() override { return offline_.load(std::memory_order_relaxed); }
  int HostSamplePosition() override;
  double HostTempo() override;
  void HostTimeSignature(int* numerator, int* denominator) override;
  void HostTimeInfo(::HostTimeInfo* info) override;
  // Asks the host to fit its window to the editor (request_resize).
  void ResizeEditor() override;
  bool SendMidiOut(const MidiMessage&) override { return false; }
  bool SendSysExOut(const SysExMessage&) override { return false; }

 private:
  struct EditorEvent {
    uint16_t type = 0;  // CLAP_EVENT_PARAM_GESTURE_BEGIN, _VALUE or _END
    int32_t index = 0;
    double normalized = 0;
  };

  void QueueEditorEvent(uint16_t type, int index, double normalized);
  // Moves the editor's queued events into the host's list, at `time`.
  void DrainEditorEvents(const clap_output_events* out, uint32_t time);
  // Applies one input event; false when it is not the core space's.
  void ApplyEvent(const clap_event_header* header);
  void ReadTransport(const clap_event_transport* transport);
  // One host block of 32- or 64-bit samples, split at the input events.
  template <typename Sample>
  void ProcessAudio(const clap_process* process, int frames);
  void UpdateSidechainConnection(const clap_process* process);

  void CloseEditorWindow();

  clap_plugin plugin_ = {};
  // The editor's host links, main thread only.
  const clap_host_gui* hostGui_ = nullptr;
  const clap_host_timer_support* hostTimer_ = nullptr;
  const clap_host_posix_fd_support* hostFd_ = nullptr;
  bool guiCreated_ = false;
  bool windowOpen_ = false;
  clap_id timerId_ = CLAP_INVALID_ID;
  int registeredFd_ = -1;
  const clap_host* host_ = nullptr;
  const clap_host_params* hostParams_ = nullptr;
  const clap_host_thread_check* hostThreadCheck_ = nullptr;
  const clap_host_preset_load* hostPresetLoad_ = nullptr;
  bool active_ = false;
  bool sidechainConnected_ = true;
  std::atomic<bool> offline_{false};
  GainReading gainReading_ = nullptr;
  PresetReader presetReader_ = nullptr;
  // Set by a state load; the next main-thread callback asks the host to
  // re-read the values.
  std::atomic<bool> rescanValues_{false};
  clap_event_transport transport_ = {};
  bool hasTransport_ = false;

  // The editor's events: one producer (the user-interface thread), one
  // consumer (whichever call holds the audio side: process or flush).
  EditorEvent editorEvents_[kEditorQueueSize];
  std::atomic<uint32_t> editorWrite_{0};
  std::atomic<uint32_t> editorRead_{0};

  // Host channel pointers for one piece of a block, sized once.
  std::vector<const float*> in32_;
  std::vector<float*> out32_;
  std::vector<const double*> in64_;
  std::vector<double*> out64_;
};
