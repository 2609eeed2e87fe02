// IEffectVST3: the VST3 face of a plug-in instance.
//
// One object is the component, the audio processor and the edit controller
// (SingleComponentEffect) and the plug-in base (IEffectBase); the effect
// class derives from it. The binding only translates: host calls become calls
// on the base, the base's host-facing operations become VST3 host calls.
//
// Who calls what, and when:
//   - The factory constructs the instance (reference count 1). The
//     constructor names the buses, marks every channel connected and creates
//     the base's pass-through delay; the block size stays 0 until
//     setupProcessing, so nothing is processed before the host configures it.
//   - initialize (user-interface thread) identifies the host from its
//     IHostApplication name, builds the buses, registers the parameters
//     ('prst', 'bpas' unless the effect has a bypass parameter, which then is
//     the host's bypass, then one IEffectParameter per plug-in parameter) and
//     reports the current values to the effect (ParamChanged for each; the
//     instance starts at the defaults, program 0). terminate removes
//     buses and parameters; a later
//     initialize builds them again.
//   - setBusArrangements, setupProcessing, setActive, getState/setState and
//     every controller query come from the user-interface thread;
//     process comes from the audio thread, which may be a different thread
//     from the one that set up processing.
//   - process, getState, setState, setupProcessing, setBusArrangements and
//     activateBus hold the plug-in lock, so an audio block never overlaps a
//     parameter, bus or state change.
//   - The plug-in never calls back into the host from inside the host's own
//     call (setState, a preset it sends): hosts hold their locks there.
//     After a load, the next block drops the host's parameter changes queued
//     before it and sends every value out as output parameter changes, and
//     the editor's next redraw tick (user-interface thread) asks the host to
//     read every value (restartComponent, through UserInterfaceTick); with
//     no editor open, a state load is asked about at the host's first
//     setParamNormalized after that block (JUCE hands the block's output
//     values back that way, from its user-interface thread).
//
// What stays constant between calls: the parameter IDs (the plug-in's
// parameter index, plus 'prst', and 'bpas' whose changes go to the effect's
// bypass parameter when it has one), the state format (the base's
// parameter state followed by a 32-bit bypass flag), and the rule that host
// buffers are bound to connected channels in order. Host blocks may be of any
// length from 0 up; longer blocks than the block size are processed in pieces.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "IEffectBase.h"
#include "SingleComponentEffect.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"

class IEffectParameter;
class IEffectVST3View;

class IEffectVST3 : public IEffectBase, public SingleComponentEffect {
 public:
  static constexpr Steinberg::Vst::ParamID kPresetParamId = 0x70727374;  // 'prst'
  static constexpr Steinberg::Vst::ParamID kBypassParamId = 0x62706173;  // 'bpas'
  // Host block-size requests above this are clamped: the scratch arrays are
  // only a processing frame, and longer blocks run in pieces anyway.
  static constexpr int kMaxBlockSize = 1 << 16;

  // `factoryContext` is the host context the factory was given (may be null);
  // the instance takes its own context in initialize.
  IEffectVST3(Steinberg::FUnknown* factoryContext, const EffectIdentity& identity);
  ~IEffectVST3() override;

  // ---- IPluginBase ----
  tresult PLUGIN_API initialize(Steinberg::FUnknown* context) SMTG_OVERRIDE;
  tresult PLUGIN_API terminate() SMTG_OVERRIDE;

  // ---- IComponent ----
  tresult PLUGIN_API activateBus(Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
                                 int32 index, Steinberg::TBool state) SMTG_OVERRIDE;
  tresult PLUGIN_API setActive(Steinberg::TBool state) SMTG_OVERRIDE;

  // ---- IAudioProcessor ----
  tresult PLUGIN_API setBusArrangements(Steinberg::Vst::SpeakerArrangement* inputs, int32 numIns,
                                        Steinberg::Vst::SpeakerArrangement* outputs,
                                        int32 numOuts) SMTG_OVERRIDE;
  tresult PLUGIN_API canProcessSampleSize(int32 symbolicSampleSize) SMTG_OVERRIDE;
  uint32 PLUGIN_API getLatencySamples() SMTG_OVERRIDE;
  tresult PLUGIN_API setupProcessing(Steinberg::Vst::ProcessSetup& setup) SMTG_OVERRIDE;
  tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) SMTG_OVERRIDE;
  uint32 PLUGIN_API getTailSamples() SMTG_OVERRIDE;

  // ---- IComponent and IEditController state ----
  // The state blob: the base's parameter state, then a 32-bit little-endian
  // bypass flag. The component and the controller are one object, so both
  // sides save and load the same blob: hosts that read the controller's
  // values from the component state (JUCE) see the plug-in's values, and
  // projects that hold only the controller's state still load.
  tresult getProcessorState(Steinberg::IBStream* state) override { return getControllerState(state); }
  tresult setProcessorState(Steinberg::IBStream* state) override { return setControllerState(state); }
  tresult getControllerState(Steinberg::IBStream* state) override;
  tresult setControllerState(Steinberg::IBStream* state) override;
  // The component state was loaded into this same object already: the
  // controller only brings its copies up to date.
  tresult PLUGIN_API setComponentState(Steinberg::IBStream* state) SMTG_OVERRIDE;

  // ---- IEditController ----
  tresult PLUGIN_API getParamStringByValue(Steinberg::Vst::ParamID tag,
                                           Steinberg::Vst::ParamValue valueNormalized,
                                           Steinberg::Vst::String128 string) SMTG_OVERRIDE;
  // Text of any parameter, 'prst' included (the preset's name).
  tresult PLUGIN_API getParamValueByString(Steinberg::Vst::ParamID tag,
                                           Steinberg::Vst::TChar* string,
                                           Steinberg::Vst::ParamValue& valueNormalized) SMTG_OVERRIDE;
  // Every normalized value from the host is limited to 0..1; NaN is refused
  // where the call can refuse, and read as 0 where it cannot.
  Steinberg::Vst::ParamValue PLUGIN_API normalizedParamToPlain(
      Steinberg::Vst::ParamID tag, Steinberg::Vst::ParamValue valueNormalized) SMTG_OVERRIDE;
  Steinberg::Vst::ParamValue PLUGIN_API plainParamToNormalized(
      Steinberg::Vst::ParamID tag, Steinberg::Vst::ParamValue plainValue) SMTG_OVERRIDE;
  Steinberg::Vst::ParamValue PLUGIN_API getParamNormalized(Steinberg::Vst::ParamID tag) SMTG_OVERRIDE;
  tresult PLUGIN_API setParamNormalized(Steinberg::Vst::ParamID tag,
                                        Steinberg::Vst::ParamValue value) SMTG_OVERRIDE;
  Steinberg::IPlugView* PLUGIN_API createView(Steinberg::FIDString name) SMTG_OVERRIDE;

  // ---- IUnitInfo: a unit per parameter group, one program list ----
  int32 PLUGIN_API getUnitCount() SMTG_OVERRIDE;
  // The root unit holds the program list of the presets, so hosts that list
  // programs by unit (JUCE) show one entry per preset.
  tresult PLUGIN_API getUnitInfo(int32 unitIndex, Steinberg::Vst::UnitInfo& info) SMTG_OVERRIDE;
  int32 PLUGIN_API getProgramListCount() SMTG_OVERRIDE { return PresetCount() > 0 ? 1 : 0; }
  tresult PLUGIN_API getProgramListInfo(int32 listIndex,
                                        Steinberg::Vst::ProgramListInfo& info) SMTG_OVERRIDE;
  tresult PLUGIN_API getProgramName(Steinberg::Vst::ProgramListID listId, int32 programIndex,
                                    Steinberg::Vst::String128 name) SMTG_OVERRIDE;

  // ---- Host-facing operations of the base ----
  void BeginParamGesture(int index) override;
  void NotifyHostParam(int index, double normalized) override;
  void EndParamGesture(int index) override;
  // restartComponent(kParamValuesChanged): the host reads every value back.
  void NotifyHostPresetChange() override;
  bool IsOfflineRender() override;
  HostId HostIdentity() override { return StoredHost(); }
  int HostSamplePosition() override;
  double HostTempo() override;
  void HostTimeSignature(int* numerator, int* denominator) override;
  void HostTimeInfo(::HostTimeInfo* info) override;
  // Asks the first view's plug frame to resize it to the editor's size.
  void ResizeEditor() override;
  // The host's context menu for a parameter, through IComponentHandler3.
  void ShowHostParamMenu(int index, int x, int y) override;
  void ChangeLatency(int frames) override;
  bool SendMidiOut(const MidiMessage&) override { return false; }
  bool SendSysExOut(const SysExMessage&) override { return false; }

  int SidechainChannelCount() const { return sidechainChannels_; }

  // Views made by createView, in creation order. A view's destructor empties
  // the list (ForgetViews); views are used only on the user-interface thread.
  int ViewCount() const { return static_cast<int>(views_.size()); }
  void ForgetViews() { views_.clear(); }

 private:
  void BuildBuses();
  void RegisterParameters();
  // Brings the controller's parameter objects to the plug-in's current
  // values, so hosts read back what the plug-in really has.
  void SyncControllerParams();
  // afterLoad: the first block after a state load, whose queued changes
  // the host made before the load are older than the state.
  void ApplyParameterChanges(Steinberg::Vst::IParameterChanges* changes, bool afterLoad = false);
  // Whether a change queued for this parameter in the block after a load
  // was made before it: the host set it on the controller before the load
  // and not since.
  bool EditPredatesLoad(Steinberg::Vst::ParamID id) const;
  // From the audio thread: every parameter's value (and the bypass) as
  // output parameter changes, after the plug-in changed them itself.
  void ReportParamsToHost(Steinberg::Vst::IParameterChanges* changes);
  // The preset a 'prst' value selects, limited to the existing presets.
  int PresetIndexFor(Steinberg::Vst::ParamValue normalized) const;
  // The 'prst' value of a preset: its index over the list's step count.
  Steinberg::Vst::ParamValue PresetNormalized(int index) const;
  void ApplyMidiEvents(Steinberg::Vst::IEventList* events);
  void UpdateSidechainConnection();
  // One host block of 32- or 64-bit samples; the vectors are this sample
  // type's preallocated arrays of host channel pointers.
  template <typename Sample>
  void ProcessAudio(Steinberg::Vst::ProcessData& data, int frames, std::vector<Sample*>& hostIn,
                    std::vector<Sample*>& hostOut, std::vector<Sample*>& outByChannel);

  std::vector<IEffectVST3View*> views_;
  int sidechainChannels_ = 0;
  bool sidechainActive_ = false;
  bool presetAppliedInBlock_ = false;
  // A state was loaded since the last block: the host's changes queued for
  // that block predate it and are not applied over it.
  bool stateLoadedBeforeBlock_ = false;
  // Parameters the host set on the controller since the last block, and of
  // those the ones set before the last state load. Sized when the host
  // first sets a value (never on the audio thread); read by the block.
  std::vector<bool> setSinceBlock_, setBeforeLoad_;
  Steinberg::Vst::ProcessContext processContext_{};
  std::vector<std::string> groups_;
  // Host channel arrays gathered for one block, sized once at construction
  // so the audio path allocates nothing.
  std::vector<float*> in32_, out32_, outByChannel32_;
  std::vector<double*> in64_, out64_, outByChannel64_;
};
