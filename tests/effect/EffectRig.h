// Drives the Kestrune effect (compiled against the test binding) the way a
// host would: sample rate, parameter values, host blocks of any length, and
// an attached stand-in editor that records the meter reading after each block.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "EditorLink.h"
#include "EffectFingerprint.h"
#include "Kestrune.h"

namespace kestrune_test {

// An editor that has `controls` controls and records every reading it takes
// from the feed it follows (one per tick).
class RecordingEditor : public IEditorLink {
 public:
  explicit RecordingEditor(int controls) : controls_(controls) {}
  void FollowFeed(int controlIndex, EditorFeed* feed) override {
    if (controlIndex < 0 || controlIndex >= controls_) return;
    lastIndex = controlIndex;
    feed_ = feed;
  }
  void ShowPendingValues() override {
    double value;
    if (!feed_ || !feed_->Take(&value)) return;
    values.push_back(value);
    hash.Add(value);
  }
  int ControlCount() const override { return controls_; }

  int lastIndex = -1;
  std::vector<double> values;
  kestrune_fingerprint::Hash64 hash;

 private:
  int controls_;
  EditorFeed* feed_ = nullptr;
};

inline void SetParam(Kestrune& plug, int index, double plain) {
  plug.ParamAt(index)->SetClamped(plain);
  plug.ParamChanged(index);
}

// A plug-in as a host would have it after opening: rate set, every
// parameter reported once, processing reset. With `meterControl` >= 0 a
// recording editor with three controls is attached and the meter shown on
// that control.
struct Rig {
  explicit Rig(double sampleRate, int meterControl = -1) : plug(&host) {
    plug.SetSampleRate(sampleRate);
    if (meterControl >= 0) {
      editor = new RecordingEditor(3);
      plug.AttachEditor(editor);
      plug.meterControlIndex = meterControl;
      plug.ShowReadingIn(meterControl);
    }
    plug.NotifyAllParamsChanged();
    plug.ResetProcessing();
  }

  // Processes `frames` frames of the four input channels through host blocks
  // of at most the block size; outputs resized to fit.
  void Process(const double* const* inputs, int frames) {
    outLeft.assign(static_cast<size_t>(frames), 0.0);
    outRight.assign(static_cast<size_t>(frames), 0.0);
    double* outs[2] = {outLeft.data(), outRight.data()};
    plug.ProcessHostBlock(inputs, 4, outs, 2, frames);
    if (editor) editor->ShowPendingValues();  // the editor's tick
  }

  // The same signal on both main inputs and both sidechain inputs.
  void ProcessMono(const std::vector<double>& signal) {
    const double* ins[4] = {signal.data(), signal.data(), signal.data(), signal.data()};
    Process(ins, static_cast<int>(signal.size()));
  }

  TestHost host;
  Kestrune plug;
  RecordingEditor* editor = nullptr;  // owned by the plug-in
  std::vector<double> outLeft, outRight;
};

struct CaseResult {
  uint64_t output = 0;
  uint64_t meter = 0;
  bool anySubnormalOrNonFinite = false;
};

// `code`: the compiled copy of the signal path the effect runs.
inline CaseResult RunFingerprintCase(const kestrune_fingerprint::FingerprintCase& c,
                                     kestrune::PathCode code = kestrune::PathCode::Automatic) {
  using namespace kestrune_fingerprint;
  const Signal signal = MakeSignal(c.signal, c.sampleRate, c.frames);
  Rig rig(c.sampleRate, 1);
  rig.plug.path.SelectCode(code);
  kestrune_fingerprint::Hash64 output;
  CaseResult result;
  std::vector<double> left, right;
  int position = 0;
  for (int block = 0; position < signal.frames; ++block) {
    for (const ParamSetting& s : c.settings)
      if (s.beforeBlock == block) SetParam(rig.plug, s.index, s.plain);
    if (block == c.resetBeforeBlock) rig.plug.ResetProcessing();
    const int frames = std::min(HostBlockSize(block), signal.frames - position);
    const double* ins[4];
    for (int ch = 0; ch < 4; ++ch) ins[ch] = signal.channel[ch].data() + position;
    rig.Process(ins, frames);
    for (int f = 0; f < frames; ++f) {
      output.Add(rig.outLeft[f]);
      output.Add(rig.outRight[f]);
      for (double v : {rig.outLeft[f], rig.outRight[f]})
        if (!std::isfinite(v) || (v != 0 && std::fabs(v) < 2.2250738585072014e-308))
          result.anySubnormalOrNonFinite = true;
    }
    position += frames;
  }
  result.output = output.Value();
  result.meter = rig.editor->hash.Value();
  return result;
}

}  // namespace kestrune_test
