// IEffectVST2: the VST2 format binding.
//
// The effect class derives from this binding, which derives from IEffectBase.
// The binding embeds the AEffect record the host holds and turns every call
// the host makes through it into operations of the base; it holds no DSP, no
// parameter rules and no state formats of its own.
//
// Who calls what:
//   - VSTPluginMain (Vst2Entry.cpp) constructs one instance under the
//     process-wide creation lock and hands the host the embedded AEffect.
//   - The host's user-interface thread drives VSTDispatcher: effOpen runs the
//     one-time host setup, then sample rate, block size (also possibly before
//     effOpen), mains on/off, editor, chunks, names. effClose destroys the
//     instance; the AEffect is dead afterwards.
//   - The host's audio thread calls VSTProcessFloat, VSTProcessDouble and
//     VSTProcessAdd between effOpen and effClose; any thread may call
//     VSTReadParameter and VSTWriteParameter.
//
// Locking: every entry holds the base's recursive plug-in lock for its whole
// run, so a control request never lands inside an audio block, except the
// editor's four opcodes (effEditGetRect, effEditOpen, effEditClose,
// effEditIdle) and effIdle: they run on the user-interface thread, reach only
// the editor or the host and take no lock, so the audio thread never waits
// while the editor draws or shows a menu, or while the host answers.
//
// Telling the host of a load: effOpen asks the host for effIdle calls
// (audioMasterNeedIdle); effIdle, which comes from the host's idle on its
// user-interface thread and so after any loading call has returned, tells
// the host of a chunk it loaded (audioMasterUpdateDisplay, through
// IEffectBase::TellHostOfStateLoad) when no editor's tick has told it. An edit made in the editor takes the lock for the value only
// (SetParamFromEditor). Host callbacks from other entries are made with the
// lock held.
//
// Hosts are not trusted: an entry reached through a null AEffect, one that is
// not ours or one whose instance is gone does nothing and answers 0. Strings
// written into host buffers stay within the documented limits, block lengths
// above the block size are processed in pieces, chunk sizes and event counts
// are checked before anything is allocated or read.
//
// Editor: the effect attaches its editor through AttachEditor, which this
// binding overrides to raise effFlagsHasEditor and record the editor
// rectangle. The editor is reached only through IEditorLink.
#pragma once

#include <cstdint>

#include "IEffectBase.h"
#include "Vst2Abi.h"

class IEffectVST2 : public IEffectBase {
 public:
  // Limits of the texts written into host buffers, terminator included.
  static constexpr size_t kProgramNameBytes = 24;   // program names
  static constexpr size_t kParamTextBytes = 8;      // parameter label and display: 7 + NUL
  static constexpr size_t kParamNameBytes = 32;     // parameter name: 31 + NUL
  static constexpr size_t kEffectNameBytes = 32;    // effect name
  static constexpr size_t kVendorTextBytes = 64;    // vendor and product strings
  static constexpr size_t kHostProductBytes = 256;  // buffer offered to the host

  // Bounds on host-supplied sizes; beyond them a request is refused (or, for
  // the block size, clamped: longer host blocks are cut into pieces anyway).
  static constexpr intptr_t kMaxChunkBytes = 16 * 1024 * 1024;
  static constexpr int32_t kMaxEvents = 1 << 16;
  static constexpr int kMaxBlockSize = 1 << 16;
  static constexpr int kDefaultBlockSize = 1024;

  IEffectVST2(vst2::audioMasterCallback host, const EffectIdentity& identity);
  ~IEffectVST2() override;

  vst2::AEffect* Effect() { return &effect_; }

  // The instance behind an AEffect the host passes, or null when the record
  // is null, not one of ours, or already destroyed.
  static IEffectVST2* FromEffect(vst2::AEffect* effect);

  // ---- AEffect entries ----
  static intptr_t VSTCALLBACK VSTDispatcher(vst2::AEffect* effect, int32_t opcode, int32_t index,
                                            intptr_t value, void* ptr, float opt);
  static void VSTCALLBACK VSTProcessFloat(vst2::AEffect* effect, float** inputs, float** outputs,
                                          int32_t frames);
  static void VSTCALLBACK VSTProcessDouble(vst2::AEffect* effect, double** inputs,
                                           double** outputs, int32_t frames);
  static void VSTCALLBACK VSTProcessAdd(vst2::AEffect* effect, float** inputs, float** outputs,
                                        int32_t frames);
  static float VSTCALLBACK VSTReadParameter(vst2::AEffect* effect, int32_t index);
  static void VSTCALLBACK VSTWriteParameter(vst2::AEffect* effect, int32_t index, float value);

  // ---- Host-facing operations of the base ----
  void BeginParamGesture(int index) override;
  void NotifyHostParam(int index, double normalized) override;
  void EndParamGesture(int index) override;
  void NotifyHostPresetChange() override;
  bool IsOfflineRender() override;
  int HostSamplePosition() override;
  double HostTempo() override;
  void HostTimeSignature(int* numerator, int* denominator) override;
  void HostTimeInfo(::HostTimeInfo* info) override;
  HostId HostIdentity() override;
  void ResizeEditor() override;
  void FirstOpenSetup() override;
  void AttachEditor(IEditorLink* editor) override;
  void ChangeLatency(int frames) override;
  bool SendMidiOut(const MidiMessage& message) override;
  bool SendSysExOut(const SysExMessage& message) override;

 protected:
  const vst2::ERect& EditorRect() const { return editorRect_; }

 private:
  intptr_t Dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
  // The editor's opcodes, dispatched without the plug-in lock.
  static bool IsEditorOpcode(int32_t opcode);
  intptr_t DispatchEditor(int32_t opcode, void* ptr);
  intptr_t CallHost(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                    float opt = 0.0f);
  const vst2::VstTimeInfo* HostTime(int32_t filter);

  template <typename Sample>
  void ProcessFromHost(Sample** inputs, Sample** outputs, int32_t frames, bool accumulate);
  int ConnectedInputCount() const;
  int ConnectedOutputCount() const;

  intptr_t GetChunk(int32_t index, void* ptr);
  intptr_t SetChunk(int32_t index, intptr_t size, const void* data);
  intptr_t ProcessEvents(const vst2::VstEvents* events);
  intptr_t StringToParameter(int32_t index, const char* text);
  intptr_t PinProperties(int32_t index, vst2::VstPinProperties* pin, bool input);
  // Switches and stepped parameters, so hosts show buttons and steps, not
  // sliders; 0 for continuous ones.
  intptr_t ParameterProperties(int32_t index, vst2::VstParameterProperties* properties);
  void SetSpeakerArrangement(const vst2::VstSpeakerArrangement* inputs,
                             const vst2::VstSpeakerArrangement* outputs);
  intptr_t CanDo(const char* capability);
  intptr_t VendorSpecific(int32_t index, intptr_t value, void* ptr, float opt);
  void SetEditorRect(int width, int height);
  // Raises effFlagsHasEditor and takes the editor's size. Run by AttachEditor,
  // and by effEditGetRect for an editor attached without this override.
  void AdoptEditor();

  vst2::audioMasterCallback host_ = nullptr;
  vst2::ERect editorRect_{};
  vst2::VstSpeakerArrangement inputArrangement_{};
  vst2::VstSpeakerArrangement outputArrangement_{};
  bool hostSetupDone_ = false;
  int32_t hostExtensions_ = 0;  // bit 0: asked hasCockosExtensions, bit 1: ...ViewAsConfig
  StateChunk programChunk_;
  StateChunk bankChunk_;
  vst2::AEffect effect_{};
};
