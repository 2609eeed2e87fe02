// One input's render in three steps, each in its own file:
//   PlanRender   (RenderPlan.cpp)   opens the input and the sidechain (with a
//                                   resampler when its rate differs), loads
//                                   the plug-in and opens the output with the
//                                   encoding it will have;
//   RunRender    (RenderRun.cpp)    streams the audio through the plug-in
//                                   into the output, measuring levels and
//                                   loudness on the way;
//   ReportRender (RenderReport.cpp) warns about what went through, writes the
//                                   pictures and the preset, makes every
//                                   file appear and prints the summary.
// Each returns false with `failure` set, and the run stops there; files
// not yet committed are removed.
#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "AudioFile.h"
#include "AudioReader.h"
#include "AudioWriter.h"
#include "BatchOutput.h"
#include "JobFiles.h"
#include "LevelAnalysis.h"
#include "Loudness.h"
#include "PluginSetup.h"
#include "RenderOptions.h"
#include "Resampler.h"

namespace render {

// What a render works with, opened and ready. Members are released in
// reverse order: the output, then the plug-in, then the inputs.
struct RenderPlan {
  bool embedded = false;             // the embedded material, no input file
  AudioFileReader reader;            // the input file, unless embedded
  AudioBuffer material;              // the embedded material
  double sampleRate = 0;
  int channels = 0;
  int64_t claimedFrames = 0;         // the input's length as its header says; < 0 unknown
  AudioFileReader sidechain;         // opened when --sidechain is given
  std::unique_ptr<SidechainSource> sidechainSource;
  HostPtr host;
  OutputEncoding encoding;
  AudioFileWriter writer;
  std::shared_ptr<const FlacTags> flacTags;  // FLAC to FLAC: the input's tags and pictures
};

// Counts non-finite samples in a stream and remembers the first.
struct NonFiniteCount {
  size_t count = 0;
  SamplePosition first;
  void Scan(const double* const* channels, int channelCount, size_t frames, size_t position) {
    for (int c = 0; c < channelCount; ++c) {
      for (size_t n = 0; n < frames; ++n) {
        if (!std::isfinite(channels[c][n]) && count++ == 0) first = {position + n, c};
      }
    }
  }
  // A warning naming `what` when there were any.
  void Report(const std::string& what, int channels, double sampleRate) const;
};

// What went through the plug-in.
struct RenderOutcome {
  RenderOutcome(double sampleRate, int channels)
      : levels(sampleRate), inputLoudness(channels, sampleRate), outputLoudness(channels, sampleRate) {}

  LevelAnalysis levels;
  LoudnessMeter inputLoudness, outputLoudness;
  double makeupDb = 0;               // the OUTPUT gain the level change leaves out
  NonFiniteCount inputNonFinite, sidechainNonFinite;
  size_t frames = 0, sidechainFrames = 0;
  double elapsedSeconds = 0;
};

// `text` as a JSON string, quoted and escaped, for --json.
std::string JsonString(const std::string& text);

bool PlanRender(const Options& options, const Job& job, const std::vector<uint8_t>& presetBlob, RenderPlan& plan,
                Failure& failure);

// In a batch, `batch` shows the progress as input number `slot`; else a
// progress bar of its own may.
bool RunRender(const Options& options, const Job& job, RenderPlan& plan, BatchProgress* batch, size_t slot,
               RenderOutcome& outcome, Failure& failure);

bool ReportRender(const Options& options, const Job& job, RenderPlan& plan, RenderOutcome& outcome,
                  Failure& failure);

}  // namespace render
