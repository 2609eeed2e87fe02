// Kestrune: the stereo compressor with external sidechain, sidechain
// equaliser, oversampled saturation, dry/wet mix and gain-reduction meter.
//
// The same source is compiled once against each format binding. The
// deliverable puts its own "EffectBinding.h" on the include path, which names
// the binding class (`EffectBinding`, IEffectVST2 or IEffectVST3) and the
// host-side creation argument it takes (`EffectCreationArg`).
//
// The effect overrides three hooks of the base; they all run inside the
// plug-in lock:
//   ResetProcessing: after sample-rate/block-size changes and deactivation;
//   ParamChanged:    caches the value derived from one parameter;
//   ProcessBlock:    the signal path, frame by frame.
// The constructor does not run ParamChanged: derived values are first
// computed when the binding or a state restore reports parameter values.
#pragma once

#include "SignalPath.h"
#include "EffectBinding.h"
#include "KestruneIdentity.h"

class Kestrune : public EffectBinding {
 public:
  explicit Kestrune(EffectCreationArg creationArg);
  ~Kestrune() override;

  void ResetProcessing() override;
  void ParamChanged(int index) override;
  void ProcessBlock(double** inputs, double** outputs, int frames) override;

  // Index of the gain-reduction meter among the editor's controls; set when
  // the editor is built. The signal path posts the meter reading after each
  // block (ReadingFeed); the editor shows it there on its redraw tick.
  int meterControlIndex = -1;

  // The signal path with its parameter-derived values and filter states.
  kestrune::SignalPath path;
};
