// SingleComponentEffect: one object that is at once the VST3 component, the
// audio processor and the edit controller with units.
//
// A VST3 host normally creates a processor and a controller separately; a
// plug-in whose processor and controller share their state (parameters, the
// plug-in lock) answers both from one object. The host then queries
// IComponent, IAudioProcessor, IEditController, IEditController2 and
// IUnitInfo from the same instance, and IComponent::getControllerClassId
// answers that there is no separate controller class.
//
// What this class supplies: the bus lists and their host queries
// (getBusCount, getBusInfo, activateBus, getBusArrangement), the stored
// process setup, the parameter container of the SDK's EditController and
// the interface table. Everything that depends on the plug-in (buses built in
// initialize, setBusArrangements, process, state, units and programs) is for
// the derived class; the defaults here refuse.
//
// Life cycle, as the host drives it: create (reference count 1) ->
// initialize(context) -> bus queries and setBusArrangements ->
// setupProcessing -> setActive(true) -> process ... -> setActive(false) ->
// terminate -> release. terminate followed by initialize builds everything
// again on the same object. All host-facing queries run on the host's
// user-interface thread except process, which runs on its audio thread.
#pragma once

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivstunits.h"
#include "public.sdk/source/vst/vstbus.h"
#include "public.sdk/source/vst/vsteditcontroller.h"

// IComponent and IEditController both declare getState/setState with the
// same signature but different meanings; one override in a class deriving
// from both would answer for both. These two shims give each side its own
// name, so the component's and the controller's state answer separately.
class ComponentStateSide : public Steinberg::Vst::IComponent {
 public:
  Steinberg::tresult PLUGIN_API setState(Steinberg::IBStream* state) final {
    return setProcessorState(state);
  }
  Steinberg::tresult PLUGIN_API getState(Steinberg::IBStream* state) final {
    return getProcessorState(state);
  }
  virtual Steinberg::tresult setProcessorState(Steinberg::IBStream* state) = 0;
  virtual Steinberg::tresult getProcessorState(Steinberg::IBStream* state) = 0;
};

class ControllerStateSide : public Steinberg::Vst::EditController {
 public:
  Steinberg::tresult PLUGIN_API setState(Steinberg::IBStream* state) final {
    return setControllerState(state);
  }
  Steinberg::tresult PLUGIN_API getState(Steinberg::IBStream* state) final {
    return getControllerState(state);
  }
  virtual Steinberg::tresult setControllerState(Steinberg::IBStream* state) = 0;
  virtual Steinberg::tresult getControllerState(Steinberg::IBStream* state) = 0;
};

class SingleComponentEffect : public ControllerStateSide,
                              public ComponentStateSide,
                              public Steinberg::Vst::IAudioProcessor,
                              public Steinberg::Vst::IUnitInfo {
 public:
  using tresult = Steinberg::tresult;
  using int32 = Steinberg::int32;
  using uint32 = Steinberg::uint32;

  SingleComponentEffect();
  ~SingleComponentEffect() override;

  // ---- IPluginBase (both the component's and the controller's) ----
  // A second initialize without terminate refuses and builds nothing; this
  // holds also for a null context, which the SDK's base would accept twice.
  tresult PLUGIN_API initialize(Steinberg::FUnknown* context) SMTG_OVERRIDE;
  tresult PLUGIN_API terminate() SMTG_OVERRIDE;

  // ---- IComponent ----
  tresult PLUGIN_API getControllerClassId(Steinberg::TUID classId) SMTG_OVERRIDE;
  tresult PLUGIN_API setIoMode(Steinberg::Vst::IoMode mode) SMTG_OVERRIDE;
  int32 PLUGIN_API getBusCount(Steinberg::Vst::MediaType type,
                               Steinberg::Vst::BusDirection dir) SMTG_OVERRIDE;
  tresult PLUGIN_API getBusInfo(Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
                                int32 index, Steinberg::Vst::BusInfo& bus) SMTG_OVERRIDE;
  tresult PLUGIN_API getRoutingInfo(Steinberg::Vst::RoutingInfo& inInfo,
                                    Steinberg::Vst::RoutingInfo& outInfo) SMTG_OVERRIDE;
  tresult PLUGIN_API activateBus(Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
                                 int32 index, Steinberg::TBool state) SMTG_OVERRIDE;
  tresult PLUGIN_API setActive(Steinberg::TBool state) SMTG_OVERRIDE;
  // IComponent::setState/getState: refused here; a derived class that saves
  // state answers them (IEffectVST3 with the controller's blob).
  tresult setProcessorState(Steinberg::IBStream* state) override;
  tresult getProcessorState(Steinberg::IBStream* state) override;
  // IEditController::setState/getState: nothing to save unless overridden.
  tresult setControllerState(Steinberg::IBStream* state) override;
  tresult getControllerState(Steinberg::IBStream* state) override;

  // ---- IAudioProcessor ----
  tresult PLUGIN_API setBusArrangements(Steinberg::Vst::SpeakerArrangement* inputs, int32 numIns,
                                        Steinberg::Vst::SpeakerArrangement* outputs,
                                        int32 numOuts) SMTG_OVERRIDE;
  tresult PLUGIN_API getBusArrangement(Steinberg::Vst::BusDirection dir, int32 index,
                                       Steinberg::Vst::SpeakerArrangement& arr) SMTG_OVERRIDE;
  tresult PLUGIN_API canProcessSampleSize(int32 symbolicSampleSize) SMTG_OVERRIDE;
  uint32 PLUGIN_API getLatencySamples() SMTG_OVERRIDE { return 0; }
  tresult PLUGIN_API setupProcessing(Steinberg::Vst::ProcessSetup& setup) SMTG_OVERRIDE;
  tresult PLUGIN_API setProcessing(Steinberg::TBool state) SMTG_OVERRIDE;
  tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) SMTG_OVERRIDE;
  uint32 PLUGIN_API getTailSamples() SMTG_OVERRIDE { return Steinberg::Vst::kNoTail; }

  // ---- IEditController: the controller half of the state and parameter
  // queries that index the parameter list (checked here: the SDK's container
  // would throw on a bad index).
  tresult PLUGIN_API setComponentState(Steinberg::IBStream* state) SMTG_OVERRIDE;
  tresult PLUGIN_API getParameterInfo(int32 paramIndex,
                                      Steinberg::Vst::ParameterInfo& info) SMTG_OVERRIDE;
  tresult PLUGIN_API getParamValueByString(Steinberg::Vst::ParamID tag, Steinberg::Vst::TChar* string,
                                           Steinberg::Vst::ParamValue& valueNormalized) SMTG_OVERRIDE;
  tresult PLUGIN_API getParamStringByValue(Steinberg::Vst::ParamID tag,
                                           Steinberg::Vst::ParamValue valueNormalized,
                                           Steinberg::Vst::String128 string) SMTG_OVERRIDE;

  // ---- IUnitInfo: one root unit and no program lists unless overridden ----
  int32 PLUGIN_API getUnitCount() SMTG_OVERRIDE { return 1; }
  tresult PLUGIN_API getUnitInfo(int32 unitIndex, Steinberg::Vst::UnitInfo& info) SMTG_OVERRIDE;
  int32 PLUGIN_API getProgramListCount() SMTG_OVERRIDE { return 0; }
  tresult PLUGIN_API getProgramListInfo(int32 listIndex,
                                        Steinberg::Vst::ProgramListInfo& info) SMTG_OVERRIDE;
  tresult PLUGIN_API getProgramName(Steinberg::Vst::ProgramListID listId, int32 programIndex,
                                    Steinberg::Vst::String128 name) SMTG_OVERRIDE;
  tresult PLUGIN_API getProgramInfo(Steinberg::Vst::ProgramListID listId, int32 programIndex,
                                    Steinberg::Vst::CString attributeId,
                                    Steinberg::Vst::String128 attributeValue) SMTG_OVERRIDE;
  tresult PLUGIN_API hasProgramPitchNames(Steinberg::Vst::ProgramListID listId,
                                          int32 programIndex) SMTG_OVERRIDE;
  tresult PLUGIN_API getProgramPitchName(Steinberg::Vst::ProgramListID listId, int32 programIndex,
                                         Steinberg::int16 midiPitch,
                                         Steinberg::Vst::String128 name) SMTG_OVERRIDE;
  Steinberg::Vst::UnitID PLUGIN_API getSelectedUnit() SMTG_OVERRIDE {
    return Steinberg::Vst::kRootUnitId;
  }
  tresult PLUGIN_API selectUnit(Steinberg::Vst::UnitID unitId) SMTG_OVERRIDE;
  tresult PLUGIN_API getUnitByBus(Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
                                  int32 busIndex, int32 channel,
                                  Steinberg::Vst::UnitID& unitId) SMTG_OVERRIDE;
  tresult PLUGIN_API setUnitProgramData(int32 listOrUnitId, int32 programIndex,
                                        Steinberg::IBStream* data) SMTG_OVERRIDE;

  OBJ_METHODS(SingleComponentEffect, ControllerStateSide)
  DEFINE_INTERFACES
    DEF_INTERFACE(Steinberg::Vst::IComponent)
    DEF_INTERFACE(Steinberg::Vst::IAudioProcessor)
    DEF_INTERFACE(Steinberg::Vst::IUnitInfo)
  END_DEFINE_INTERFACES(ControllerStateSide)
  REFCOUNT_METHODS(ControllerStateSide)

 protected:
  bool IsInitialized() const { return initialized_; }

  // Bus lists of the derived class's initialize and setBusArrangements.
  Steinberg::Vst::AudioBus* AddAudioInput(const char* name, Steinberg::Vst::SpeakerArrangement arr,
                                          Steinberg::Vst::BusType type, int32 flags);
  Steinberg::Vst::AudioBus* AddAudioOutput(const char* name,
                                           Steinberg::Vst::SpeakerArrangement arr,
                                           Steinberg::Vst::BusType type, int32 flags);
  Steinberg::Vst::EventBus* AddEventInput(const char* name, int32 channels);
  Steinberg::Vst::AudioBus* AudioInput(int32 index) const;
  Steinberg::Vst::AudioBus* AudioOutput(int32 index) const;
  int32 AudioInputCount() const { return static_cast<int32>(audioInputs_.size()); }
  int32 AudioOutputCount() const { return static_cast<int32>(audioOutputs_.size()); }
  void RemoveAudioInputs() { audioInputs_.clear(); }
  void RemoveAudioOutputs() { audioOutputs_.clear(); }
  void RemoveAllBuses();

  // The parameter object for `tag`, or null.
  Steinberg::Vst::Parameter* ParameterObject(Steinberg::Vst::ParamID tag) {
    return parameters.getParameter(tag);
  }

  Steinberg::Vst::ProcessSetup processSetup_{};

 private:
  Steinberg::Vst::BusList* ListFor(Steinberg::Vst::MediaType type,
                                   Steinberg::Vst::BusDirection dir);

  Steinberg::Vst::BusList audioInputs_;
  Steinberg::Vst::BusList audioOutputs_;
  Steinberg::Vst::BusList eventInputs_;
  Steinberg::Vst::BusList eventOutputs_;
  bool initialized_ = false;
};

// Text conversions between the SDK's 16-bit strings and 8-bit C strings.
// Widening copies each byte as one code unit; narrowing keeps the low 8 bits
// of each code unit. Both always terminate and never write past `size`.
void WidenText(Steinberg::Vst::TChar* out, int size, const char* text);
void NarrowText(char* out, int size, const Steinberg::Vst::TChar* text);
