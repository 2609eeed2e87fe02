// IEffectBase: the base class of every plug-in instance.
//
// Class structure: the effect (Kestrune) derives from a format binding
// (IEffectVST2 or IEffectVST3), which derives from this base. The base owns
// the parameters, the preset slots, the channel model, the plug-in lock, the
// identity reported to hosts and, once attached, the editor.
//
// Life cycle:
//   1. Construction records identity, channel configurations ("2-2 4-2"),
//      parameters and preset slots. The binding then connects channels and
//      sets the block size; the effect initialises its parameters, builds
//      and attaches its editor and fills its preset slot.
//   2. The host configures sample rate and block size (ChangeBlockSize,
//      `sampleRate`) and the binding calls ResetProcessing.
//   3. Processing: for each host block the binding binds the host's channel
//      buffers (BindInputs..., BindOutputs...) and runs the block
//      (RunBlock...), or uses ProcessHostBlock, which also splits blocks
//      longer than the block size. The block size is only a hint from the
//      host: ProcessHostBlock accepts any frame count.
//   4. Parameter changes arrive between blocks from any thread; every path
//      calls ParamChanged(index) after changing a value.
//
// Threads and locking: the host's audio thread (processing) and its
// user-interface thread (control calls, the editor) both enter. Each instance
// has one recursive plug-in lock (PlugMutex). The bindings hold it around
// every host call and every processing call, except the editor's own calls,
// which never hold it while drawing; SaveState, LoadState, SetParamFromHost,
// SetParamFromEditor and AttachEditor take it themselves; the base bodies of
// ResetProcessing, ParamChanged and ActivationChanged take and release it so
// they wait for any block in progress. A thread that holds the lock takes it
// again without a system call, so a hard real-time audio thread that only
// try-locks (LV2) runs these hooks without ever waiting. The audio path takes
// no other lock and allocates nothing once the block size is known. The
// editor draws on the user-interface thread, with or without the plug-in
// lock: values reach it only through its lock-free feeds (EditorLink.h),
// never by a call into its controls.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "EditorLink.h"
#include "HostId.h"
#include "HostMessages.h"
#include "PlugMutex.h"
#include "PlugParam.h"
#include "PresetSlot.h"
#include "StateChunk.h"
#include "Trace.h"

// One legal channel configuration.
struct ChannelPair {
  int32_t inputs = 0;
  int32_t outputs = 0;
};

struct InputChannel {
  bool connected = false;
  int slot = 0;                    // index into the input pointer array
  std::vector<double> scratch;     // zeros while unconnected; float conversion target
  std::string label;
};

struct OutputChannel {
  bool connected = false;
  int slot = 0;                    // index into the output pointer array
  float* floatDestination = nullptr;
  std::vector<double> scratch;
  std::string label;
};

// Delay line used to keep a bypassed plug-in's latency (VST3 bypass).
struct PassThroughDelay {
  std::vector<double> samples;     // inputChannels x length
  int writePosition = 0;
  int inputChannels = 0;
  int outputChannels = 0;
  int length = 0;
};

// Four characters packed first character highest: 'K','r','n','1' -> 0x4B726E31.
constexpr int32_t PackFourChars(const char (&id)[5]) {
  return static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint8_t>(id[0])) << 24) |
                              (static_cast<uint32_t>(static_cast<uint8_t>(id[1])) << 16) |
                              (static_cast<uint32_t>(static_cast<uint8_t>(id[2])) << 8) |
                              static_cast<uint32_t>(static_cast<uint8_t>(id[3])));
}

// Everything the effect hands its base at construction.
struct EffectIdentity {
  int paramCount = 0;
  const char* channelConfig = "";
  int presetCount = 0;
  const char* effectName = "";
  const char* productName = "";
  const char* makerName = "";
  int32_t version = 0;             // 0xMMmmrr
  int32_t uniqueId = 0;
  int32_t makerId = 0;
  bool usesStateChunks = false;
  bool isInstrument = false;
  bool handlesMidi = false;
  // The effect's own bypass switch among its parameters, or -1. Hosts then
  // show one bypass: their bypass switch drives this parameter.
  int bypassParam = -1;
  // Preset slots the effect put ahead of those a bank of the first bank
  // version (kChunkVersion) holds: such a bank fills the slots after them,
  // and the current preset moves with its slot.
  int presetsAheadOfOldBanks = 0;
};

class IEffectBase {
 public:
  static constexpr int kNameSize = 128;        // names: 127 characters + terminator
  static constexpr int kApiVst2 = 0;
  static constexpr int kApiVst3 = 1;
  static constexpr int kApiLv2 = 2;
  static constexpr int kApiClap = 3;

  IEffectBase(const EffectIdentity& identity, int apiNumber);
  virtual ~IEffectBase();
  IEffectBase(const IEffectBase&) = delete;
  IEffectBase& operator=(const IEffectBase&) = delete;

  // ---- Effect hooks (the effect overrides these three) ----
  // After a sample-rate or block-size change, or deactivation.
  virtual void ResetProcessing();
  // After parameter `index` changed, on any path; the caller may hold the lock.
  virtual void ParamChanged(int index);
  // One block: inputs[channel][frame] to outputs[channel][frame]. Runs inside
  // the plug-in lock; frames never exceed the block size when called through
  // ProcessHostBlock. The base copies input i to output i and zeros the rest.
  virtual void ProcessBlock(double** inputs, double** outputs, int frames);

  // ---- Further hooks with base behaviour ----
  virtual void EditorOpened() {}
  virtual void EditorClosed() {}
  virtual bool EditorKey(int /*x*/, int /*y*/, int /*key*/) { return false; }
  virtual void ActivationChanged(bool active);
  virtual void MidiIn(const MidiMessage& message) { SendMidiOut(message); }
  virtual void SysExIn(const SysExMessage& /*message*/) {}
  virtual bool MidiKeyName(int key, char* name, size_t nameSize);
  virtual bool SaveState(StateChunk& chunk) { return SerializeParams(chunk); }
  virtual int LoadState(const StateChunk& chunk, int position);
  virtual bool StateMatches(const double* values, int first) const;
  virtual void EditorResized() {}
  virtual void AfterHostSetup() {}
  virtual void ShowHostParamMenu(int /*index*/, int /*x*/, int /*y*/) {}
  // A value change from the editor: set (as SetParamFromHost does, without
  // showing it back to the editor), tell the host, react.
  virtual void SetParamFromEditor(int index, double normalized);

  // ---- Host-facing operations each binding supplies ----
  virtual void BeginParamGesture(int index) = 0;
  virtual void NotifyHostParam(int index, double normalized) = 0;
  virtual void EndParamGesture(int index) = 0;
  // Tells the host that every value may have changed, so it reads them
  // again (VST2 audioMasterUpdateDisplay, VST3 restartComponent with
  // kParamValuesChanged). Run only by UserInterfaceTick, never inside a
  // host's call.
  virtual void NotifyHostPresetChange() = 0;
  virtual bool IsOfflineRender() { return false; }
  virtual int HostSamplePosition() = 0;
  virtual double HostTempo() = 0;
  virtual void HostTimeSignature(int* numerator, int* denominator) = 0;
  virtual void HostTimeInfo(HostTimeInfo* info) = 0;
  virtual HostId HostIdentity() { return host_; }
  virtual int PluginApi() const { return apiNumber_; }
  virtual void ResizeEditor() = 0;
  virtual void FirstOpenSetup() {}
  virtual void AttachEditor(IEditorLink* graphics);
  virtual void ChangeLatency(int frames);
  virtual bool SendMidiOut(const MidiMessage& message) = 0;
  virtual bool SendSysExOut(const SysExMessage& message) = 0;
  virtual void RefreshEditorFromParams();
  virtual void PresetStoreChanged() {}
  virtual void ChangeBlockSize(int frames);

  // ---- Channel model ----
  bool LegalIO(int inputs, int outputs) const;
  void ConnectInputs(int first, int count, bool connected);
  void ConnectOutputs(int first, int count, bool connected);
  int InputChannelCount() const { return static_cast<int>(inputs_.size()); }
  int OutputChannelCount() const { return static_cast<int>(outputs_.size()); }
  bool IsInputConnected(int channel) const;
  bool IsOutputConnected(int channel) const;
  const std::vector<ChannelPair>& ChannelPairs() const { return channelPairs_; }
  // Inputs from the third on unconnected, outputs from the third on connected.
  void RestrictToStereo();

  // ---- Processing frame (all under the lock; frames <= block size) ----
  void BindInputs(int first, int count, double* const* hostArrays);
  void BindInputsFromFloat(int first, int count, const float* const* hostArrays, int frames);
  void BindOutputs(double* const* hostArrays);
  void BindOutputsToFloat(float* const* hostArrays);
  void RunBlock(int frames);
  void RunBlockToFloat(int frames);
  void RunBlockAccumulating(int frames);
  void PassThrough(int frames);

  // A whole host block of any length: takes the lock, binds the host arrays to
  // the connected channels in order and runs the block in pieces of at most
  // the block size. `accumulate` adds to the host's float outputs instead of
  // replacing them. With no block size set yet, the outputs are silenced.
  void ProcessHostBlock(const float* const* inputs, int inputCount, float* const* outputs,
                        int outputCount, int frames, bool accumulate = false);
  void ProcessHostBlock(const double* const* inputs, int inputCount, double* const* outputs,
                        int outputCount, int frames);
  // The same without taking the lock, for a binding whose format lets
  // nothing that changes the parameters or the signal path run beside its
  // audio thread (LV2: only a state save, which reads them, may) and that
  // found the lock held: the block runs instead of waiting.
  void ProcessHostBlockWithoutLock(const float* const* inputs, int inputCount,
                                   float* const* outputs, int outputCount, int frames,
                                   bool accumulate = false);

  // ---- Parameters ----
  // How a value is handed: the host's normalised value in [0, 1] (VST2,
  // VST3: PlugParam::HostNormalizedFromPlain), the editor's (a knob's
  // position, PlugParam::NormalizedFromPlain), or plain, in the
  // parameter's own unit (LV2 control ports).
  enum class ValueDomain { Normalized, EditorNormalized, Plain };
  // A value the host sets for parameter `index`; every binding applies host
  // values through this one operation. A NaN is refused (false, nothing
  // changes), as is an unknown index. A normalised value outside [0, 1] is
  // taken as the nearer end; a plain one as PlugParam::Constrained gives. The
  // parameter takes it (a stepped kind the step it selects; a continuous one
  // handed its own normalised value back, at a float's precision, stays
  // exactly as it is, so a project's restored values survive the host's
  // echo), the editor shows the value as processed and ParamChanged runs:
  // every time, also when the value equals the current one. Takes the lock.
  bool SetParamFromHost(int index, double value, ValueDomain domain = ValueDomain::Normalized);
  PlugParam* ParamAt(int index);
  const PlugParam* ParamAt(int index) const;
  int ParamCount() const { return static_cast<int>(params_.size()); }
  void NotifyAllParamsChanged();

  // ---- Telling the host about a load ----
  // A state, preset or program load (LoadState) changes every value, mostly
  // inside a call the host made, during which it may hold its own locks: a
  // call back from there hung Ardour. LoadState only marks the load (any
  // thread, no wait); the editor's redraw tick, on the user-interface thread
  // and outside any host call, runs UserInterfaceTick, which tells the host
  // once through NotifyHostPresetChange.
  void UserInterfaceTick();
  bool HostToldOfLoadPending() const { return loadUntold_.load(std::memory_order_acquire); }
  // With no editor open nothing ticks. A state the host handed over (VST2
  // effSetChunk, VST3 setState) is then told at the host's next call on its
  // user-interface thread after the loading call returned: the binding
  // marks the load (MarkHostStateLoad, inside the loading call) and calls
  // TellHostOfStateLoad from that later call (VST2 effIdle, VST3
  // setParamNormalized after the block that sent the values out). A program
  // the host picked is not told there: the host chose it, and a host that
  // re-reads its program list on the request (Carla's JUCE) would do so
  // under its own edits. Any thread, no wait.
  void MarkHostStateLoad() { stateLoadUntold_.store(true, std::memory_order_release); }
  void TellHostOfStateLoad();

  // ---- Presets and state ----
  bool SerializeParams(StateChunk& chunk);
  int UnserializeParams(const StateChunk& chunk, int position);
  // Chunk versions: a program chunk carries kChunkVersion, as the first
  // bank format did; a bank written now carries kBankVersion.
  static constexpr int32_t kChunkVersion = 0x00010000;
  static constexpr int32_t kBankVersion = 0x00010001;
  // The header of a chunk the VST2 binding hands over (magic and version).
  static void BeginChunk(StateChunk& chunk, int32_t version = kChunkVersion);
  void ModifyCurrentPreset(const char* name = nullptr);
  bool ApplyPreset(int index);
  void FillEmptyPresetSlots(const char* name, int count);
  bool SerializePresets(StateChunk& chunk);
  // A bank of a version below kBankVersion fills the slots from the
  // identity's presetsAheadOfOldBanks on.
  int UnserializePresets(const StateChunk& chunk, int position, int32_t bankVersion = kBankVersion);
  int PresetCount() const { return static_cast<int>(presets_.size()); }
  PresetSlot* PresetAt(int index);
  int CurrentPresetIndex() const { return currentPreset_; }

  // ---- Identity and host ----
  const char* EffectName() const { return effectName_; }
  const char* ProductName() const { return productName_; }
  const char* MakerName() const { return makerName_; }
  int32_t UniqueId() const { return uniqueId_; }
  int32_t MakerId() const { return makerId_; }
  int32_t Version() const { return version_; }
  bool UsesStateChunks() const { return usesStateChunks_; }
  bool IsInstrument() const { return isInstrument_; }
  bool HandlesMidi() const { return handlesMidi_; }
  void SetHost(HostId host, int32_t version) { host_ = host; hostVersion_ = version; }
  HostId StoredHost() const { return host_; }
  int32_t HostVersion() const { return hostVersion_; }

  // ---- Processing settings ----
  double SampleRate() const { return sampleRate_; }
  void SetSampleRate(double rate) { sampleRate_ = rate; }
  int BlockSize() const { return blockSize_; }
  int Latency() const { return latency_; }
  int TailSize() const { return tailSize_; }
  bool IsBypassed() const { return bypassed_; }
  void SetBypassed(bool bypassed) { bypassed_ = bypassed; }
  // The host's bypass switch: the effect's bypass parameter when it has one
  // (set, then ParamChanged), else the flag above.
  int BypassParamIndex() const { return bypassParam_; }
  bool HostBypass() const;
  void SetHostBypass(bool on);
  void CreatePassThroughDelay();
  PassThroughDelay* Delay() { return delay_.get(); }
  std::vector<std::string>& InputBusLabels() { return inputBusLabels_; }
  std::vector<std::string>& OutputBusLabels() { return outputBusLabels_; }

  // ---- Editor ----
  IEditorLink* Editor() const { return editor_.get(); }
  // A reading of the signal path the editor shows in one control (the
  // meter): the audio thread posts it into ReadingFeed() after each block,
  // and the editor takes the latest on its redraw tick. Call ShowReadingIn
  // after AttachEditor. ReadingFeed() is null while there is no editor.
  void ShowReadingIn(int controlIndex);
  EditorFeed* ReadingFeed() { return editor_ ? &readingFeed_ : nullptr; }

  // ---- Plug-in lock (recursive) ----
  void Lock() { lock_.lock(); }
  void Unlock() { lock_.unlock(); }
  PlugMutex& PlugLock() { return lock_; }

 protected:
  int currentPreset_ = 0;

 private:
  void ParseChannelConfig(const char* config);
  // The value step of SetParamFromHost and SetParamFromEditor: null when the
  // value is refused, else the parameter, now holding it.
  PlugParam* AssignParam(int index, double value, ValueDomain domain);
  // Host pointers advanced to one piece of a long block; sized at construction.
  template <typename Sample>
  struct PieceArrays {
    std::vector<Sample*> inputs;
    std::vector<Sample*> outputs;
  };
  template <typename Sample>
  void BindHostPieces(PieceArrays<Sample>& pieces, const Sample* const* inputs, int inputCount,
                      Sample* const* outputs, int outputCount, int offset);
  void SilenceHostOutputs(float* const* outputs, int outputCount, int frames, bool accumulate);
  void SilenceHostOutputs(double* const* outputs, int outputCount, int frames);

  std::vector<ChannelPair> channelPairs_;
  PlugMutex lock_;
  char effectName_[kNameSize] = {};
  char productName_[kNameSize] = {};
  char makerName_[kNameSize] = {};
  int32_t uniqueId_ = 0;
  int32_t makerId_ = 0;
  int32_t version_ = 0;
  int apiNumber_ = 0;
  HostId host_ = HostUnidentified;
  int32_t hostVersion_ = 0;
  bool usesStateChunks_ = false;
  bool isInstrument_ = false;
  bool handlesMidi_ = false;
  bool bypassed_ = false;
  int bypassParam_ = -1;
  int presetsAheadOfOldBanks_ = 0;
  double sampleRate_ = 44100.0;
  int blockSize_ = 0;
  int latency_ = 0;
  int tailSize_ = 0;
  std::unique_ptr<PassThroughDelay> delay_;
  std::atomic<bool> loadUntold_{false};
  std::atomic<bool> stateLoadUntold_{false};
  EditorFeed readingFeed_;  // before the editor: it outlives it
  std::unique_ptr<IEditorLink> editor_;
  std::vector<PlugParam> params_;
  std::vector<PresetSlot> presets_;
  std::vector<double*> inputPtrs_;
  std::vector<double*> outputPtrs_;
  std::vector<InputChannel> inputs_;
  std::vector<OutputChannel> outputs_;
  std::vector<std::string> inputBusLabels_;
  std::vector<std::string> outputBusLabels_;
  PieceArrays<float> floatPieces_;
  PieceArrays<double> doublePieces_;
};

// Holds the plug-in lock for a scope.
class PlugLockGuard {
 public:
  explicit PlugLockGuard(IEffectBase& plug) : guard_(plug.PlugLock()) {}

 private:
  std::lock_guard<PlugMutex> guard_;
};
