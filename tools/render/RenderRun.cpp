// RunRender: the audio through the plug-in, block by block, into the output.
#include <unistd.h>

#include <algorithm>

#include "ParamSettings.h"
#include "Progress.h"
#include "RenderSteps.h"

namespace render {

bool RunRender(const Options& options, const Job& job, RenderPlan& plan, BatchProgress* batch, size_t slot,
               RenderOutcome& outcome, Failure& failure) {
  std::string error;
  const double sampleRate = plan.sampleRate;
  const int channels = plan.channels;
  const int64_t claimed = plan.claimedFrames;
  const double claimedSeconds = claimed > 0 ? static_cast<double>(claimed) / sampleRate : 0;
  const bool showProgress =
      options.progress == 1 ||
      (options.progress == -1 && !options.quiet && isatty(STDERR_FILENO) && (claimed < 0 || claimedSeconds > 20.0));
  ProgressBar progress(showProgress && !batch, sampleRate, claimed);
  if (batch) batch->Start(slot, sampleRate, claimed);
  // The summary gives the levels the file holds: integer samples stop at full scale.
  const bool integerOutput = IntegerBits(plan.encoding.format) > 0;
  outcome.levels.SetClipAtFullScale(integerOutput);
  outcome.makeupDb = MakeupGainDb(plan.host->Parameters());
  outcome.levels.SetMakeupGainDb(outcome.makeupDb);

  const size_t block = static_cast<size_t>(options.block);
  std::vector<std::vector<double>> in(2, std::vector<double>(block)), side(2, std::vector<double>(block, 0.0)),
      out(2, std::vector<double>(block));
  size_t& frames = outcome.frames;
  size_t& sidechainFrames = outcome.sidechainFrames;
  const int sidechainChannels = options.sidechain.empty() ? 0 : plan.sidechain.Info().channels;
  const auto started = std::chrono::steady_clock::now();
  for (;;) {
    double* inPtrs[2] = {in[0].data(), in[1].data()};
    size_t n = 0;
    if (plan.embedded) {
      n = std::min(block, plan.material.FrameCount() - frames);
      for (int c = 0; c < channels; ++c) {
        std::copy_n(plan.material.channels[static_cast<size_t>(c)].begin() + static_cast<long>(frames), n,
                    in[c].begin());
      }
    } else {
      n = plan.reader.Read(inPtrs, block);
    }
    if (n == 0) break;
    outcome.inputNonFinite.Scan(inPtrs, channels, n, frames);
    if (channels == 1) std::copy_n(in[0].begin(), n, in[1].begin());
    if (!options.sidechain.empty()) {
      double* sidePtrs[2] = {side[0].data(), side[1].data()};
      const size_t got = plan.sidechainSource->Read(sidePtrs, n);
      outcome.sidechainNonFinite.Scan(sidePtrs, sidechainChannels, got, sidechainFrames);
      sidechainFrames += got;
      if (sidechainChannels == 1) std::copy_n(side[0].begin(), got, side[1].begin());
      for (auto& channel : side) std::fill(channel.begin() + static_cast<long>(got), channel.begin() + static_cast<long>(n), 0.0);
    }
    const double* ins[4] = {in[0].data(), in[1].data(), side[0].data(), side[1].data()};
    double* outs[2] = {out[0].data(), out[1].data()};
    plan.host->Process(ins, outs, static_cast<int>(n));
    const double* mainIns[2] = {ins[0], ins[1]};
    const double* analysedOuts[2] = {outs[0], outs[1]};
    outcome.levels.Add(mainIns, analysedOuts, n);
    outcome.inputLoudness.Add(mainIns, n);
    outcome.outputLoudness.Add(analysedOuts, n, integerOutput);
    if (!plan.writer.Write(analysedOuts, n, error)) {
      progress.Finish();
      failure = {kExitOutput, error};
      return false;
    }
    frames += n;
    progress.Update(frames);
    if (batch) batch->Update(slot, frames);
  }
  outcome.elapsedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  progress.Finish();
  outcome.levels.Finish();
  // An empty file gives an empty file, as sox does; a damaged one is refused.
  if (frames == 0 && !plan.reader.DamageReport().empty()) {
    failure = {kExitInput, "input '" + job.input + "' contains no audio that can be read (" +
                               plan.reader.DamageReport() + ")"};
    return false;
  }
  return true;
}

}  // namespace render
