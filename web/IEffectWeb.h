// IEffectWeb: the binding of an instance that a web page runs.
//
// The page compiles nothing of its own: the same core and effect sources as
// the modules, built for WebAssembly, with this binding and the functions in
// WebExports.cpp, which the page's JavaScript calls. One instance lives in
// the AudioWorklet that plays (or renders) the audio; the page's main thread
// makes another only to read the parameter table, the factory presets and
// the embedded material.
//
// Life cycle, as for any binding: construction connects all four inputs and
// both outputs (IEffectHeadless); Prepare sets the sample rate and the
// largest block (the worklet's render quantum, 128 frames) and resets the
// signal path; then Process runs each quantum from the float buffers the
// page fills.
//
// Threads: WebAssembly here has one thread per instance (no shared memory),
// so every call, processing and parameter changes alike, comes in turn from
// the worklet's thread: the plug-in lock is never contended. Parameter
// changes arrive between quanta, through the one operation every binding
// uses (SetParamFromHost).
//
// The editor: where the page has handed in the editor's images (the page's
// main thread does), the modules' own editor, window-less (IGraphicsOffscreen);
// the page draws its back buffer into a canvas and passes it the pointer's
// drags and wheel turns (WebExports.cpp). Elsewhere (the worklet's
// instances) the effect builds none and the binding attaches PageLink
// instead, a window-less IEditorLink with no controls. With either attached
// the base hands the signal path the meter's feed, so the path runs its
// gain-reduction meter as it does while a module's editor exists, and the
// page reads it with TakeMeterReading after a quantum.
#pragma once

#include <vector>

#include "IEffectHeadless.h"

class IGraphicsOffscreen;

// As an instance that no host loads (IEffectHeadless: no gestures,
// automation or preset notices go anywhere, the transport stands still, no
// MIDI leaves), with the page's buffers and meter.
class IEffectWeb : public IEffectHeadless {
 public:
  // The largest block the page may ask for in one call.
  static constexpr int kMaxFrames = 8192;

  // `apiNumber`: the format whose state layout the instance keeps.
  IEffectWeb(int apiNumber, const EffectIdentity& identity);
  ~IEffectWeb() override;

  // Sample rate, largest block, and whether the page renders offline (a
  // download) or plays live; resets the signal path. False for a rate that
  // is not a positive finite number or a block outside 1..kMaxFrames.
  bool Prepare(double sampleRate, int maxFrames, bool offline);
  // Runs `frames` frames from InputBuffer(0..3) into OutputBuffer(0..1).
  // Refused (nothing runs, false) before Prepare or beyond its block size.
  bool Process(int frames);
  // The buffers Process reads and writes: inputs 0/1 the signal, 2/3 the
  // external sidechain; null for any other channel.
  float* InputBuffer(int channel);
  float* OutputBuffer(int channel);

  // The gain-reduction meter's latest reading (0 none, 1 all), when the
  // signal path posted one since the last call.
  bool TakeMeterReading(double* reading);

  // The effect's editor, or PageLink where it built none.
  void AttachEditor(IEditorLink* graphics) override;
  // The editor the page draws; null where the effect built none.
  IGraphicsOffscreen* PictureEditor() const { return picture_; }

  bool IsOfflineRender() override { return offline_; }

 private:
  std::vector<float> inputs_[4];
  std::vector<float> outputs_[2];
  int maxFrames_ = 0;
  bool offline_ = false;
  IGraphicsOffscreen* picture_ = nullptr;  // owned by the base, as its editor
};
