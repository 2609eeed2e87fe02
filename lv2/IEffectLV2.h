// IEffectLV2: the LV2 face of a plug-in instance.
//
// The effect derives from this binding, which derives from the plug-in base.
// The binding only translates: LV2 ports and the state extension become
// calls on the base. Port layout and value mapping: Lv2Ports.h.
//
// Who calls what, and when (LV2's threading classes):
//   - The module's instantiate constructs the instance with the sample rate
//     and the host's features; the construction sets the block size (the
//     host's bufsz:maxBlockLength when it offers one), so run() never
//     allocates. Longer runs are processed in pieces anyway.
//   - ConnectPort may come at any time outside run(), from the audio thread
//     or not; it only records the pointer.
//   - Activate and Deactivate (instantiation class) reset the signal path.
//   - Run (audio thread; the plug-in declares lv2:hardRTCapable) never
//     waits and makes no system call: it try-locks the plug-in lock, and
//     holding it applies the control ports whose value changed since the
//     last run and processes; the hooks it runs re-enter the lock by
//     counting. It leaves the ports alone: the host owns them.
//   - SaveLv2State may run beside Run: the state extension gives save "its
//     own special threading class: ... it may be called concurrently with an
//     'Audio' function" (lv2/state/state.h). It takes the plug-in lock to
//     read one instant's values; a Run that finds the lock held processes
//     with the parameters as they are and applies the ports one run later
//     (nothing is half-applied; the save only reads).
//   - RestoreLv2State "is in the 'Instantiation' threading class ... it MUST
//     NOT be called concurrently with any other function on the same plugin
//     instance" (state.h). Ardour calls it for a preset while its engine
//     runs; it holds the plug-in lock, so a Run beside it processes with the
//     parameters as they are and reads the ports next time, as beside a
//     save. Neither save nor restore calls back into the host.
//
// The plug-in never writes its input ports, and it sees the host's settings
// only as port values, read at each run: a host writing the number a port
// already holds is no event it can see. A state restore changes the
// parameters at once and leaves the ports alone. Until the host catches up,
// each port whose parameter the restore changed still shows the host's old
// setting; Ardour sets a preset's port values only after restoring its
// state and hands them to the ports only when a block runs, and a block can
// run before, or halfway through, its setting them. So after a restore
// such a port waits for the host: a value unchanged since the last run, or
// the one the restore replaced, is the old setting and changes nothing;
// any other value (the restored one, an echo, or a new setting) ends the
// wait, and from then on every change counts, also a change back to the
// old value. A host that asks for the restored port values
// (PortValuesExtension.h) has caught up: every value it shows after that is
// its setting and is applied in the next run, even one equal to a value
// from before the restore.
#pragma once

#include <cstdint>
#include <vector>

#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include "IEffectBase.h"

struct Lv2CreationArg {
  double sampleRate = 0;
  const LV2_Feature* const* features = nullptr;
};

class IEffectLV2 : public IEffectBase {
 public:
  // Block size used when the host offers none; runs are split to fit it.
  static constexpr int kDefaultBlockSize = 4096;
  static constexpr int kMaxBlockSize = 1 << 16;

  IEffectLV2(const Lv2CreationArg& arg, const EffectIdentity& identity);
  ~IEffectLV2() override;

  // True when the host gave a usable sample rate; the module refuses the
  // instance otherwise. Without urid:map (lv2apply offers none) the plug-in
  // runs, and only its state cannot be saved or restored.
  bool Usable() const { return SampleRate() > 0; }

  void ConnectPort(uint32_t port, void* data);
  void Activate();
  void Deactivate();
  void Run(uint32_t frames);

  LV2_State_Status SaveLv2State(LV2_State_Store_Function store, LV2_State_Handle handle);
  LV2_State_Status RestoreLv2State(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle);
  // What parameter port `port` should show for the current settings; false
  // for any other port. Not on the audio thread (PortValuesExtension.h).
  bool ParamPortValue(uint32_t port, float* value);

  // ---- Host-facing operations of the base ----
  // LV2 hosts learn values only through ports, which the host owns: the
  // editor talks to the host through the UI's ports, not through these.
  // Nor is there a call to tell a host of a state load: hosts set the ports
  // from the state's own port values (lilv_state_restore, the bundle's
  // presets), and one that restores a bare blob asks PortValuesExtension.h.
  void BeginParamGesture(int) override {}
  void NotifyHostParam(int, double) override {}
  void EndParamGesture(int) override {}
  void NotifyHostPresetChange() override {}
  int HostSamplePosition() override { return 0; }
  double HostTempo() override { return 120.0; }
  void HostTimeSignature(int* numerator, int* denominator) override;
  void HostTimeInfo(::HostTimeInfo* info) override;
  void ResizeEditor() override {}
  bool SendMidiOut(const MidiMessage&) override { return false; }
  bool SendSysExOut(const SysExMessage&) override { return false; }

  // The gain-reduction output port, which the module writes after each
  // run from the effect's meter; null until the host connects it.
  float* GainReductionPort() const { return gainReduction_; }

 private:
  void ApplyPortChanges();

  LV2_URID_Map* map_ = nullptr;
  LV2_URID stateKey_ = 0;
  LV2_URID chunkType_ = 0;
  const float* audioIn_[4] = {};
  float* audioOut_[2] = {};
  std::vector<const float*> paramPorts_;
  // The port values last seen, bit for bit (NaN until the first run).
  std::vector<float> lastPortValues_;
  // Per parameter, the plain value the last state restore replaced, and
  // whether its port still waits for the host to catch up with a restore.
  std::vector<double> replacedValues_;
  std::vector<uint8_t> awaitingHost_;
  // The next run reads every port, changed or not: the host has asked for
  // the values the ports should show.
  bool readAll_ = false;
  float* gainReduction_ = nullptr;
};
