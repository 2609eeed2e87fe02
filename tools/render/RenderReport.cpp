// ReportRender: what the run tells and leaves behind once the audio is
// through: warnings, the pictures and the preset, every file made visible
// at once, and the summary (text or JSON).
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "Canvas.h"
#include "EditorPicture.h"
#include "LevelPlot.h"
#include "OutputSafety.h"
#include "ParamSettings.h"
#include "PendingFile.h"
#include "RenderSteps.h"

#ifndef KESTRUNE_VERSION
#define KESTRUNE_VERSION "unknown"
#endif

namespace render {
namespace {

// A figure as printed with two decimals, never "-0.00".
double Shown(double value) { return std::fabs(value) < 0.005 ? 0.0 : value; }

// A picture that could not be written (a full disk, a size limit): the run
// keeps nothing, so the audio already rendered is discarded too.
Failure PictureFailure(const std::string& picture) {
  const std::string reason = errno != 0 ? strerror(errno) : "the PNG encoder failed";
  return {kExitOutput, "cannot write '" + picture + "': " + reason + "; the audio was discarded with it"};
}

// JSON for --json: numbers (null where there is none, as for the loudness
// of silence) and strings.
std::string JsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char text[40];
  snprintf(text, sizeof(text), "%.10g", value);
  return text;
}


// A loudness figure with one decimal; silence has none.
std::string Lufs(double value) {
  if (!std::isfinite(value)) return "-inf";
  char text[32];
  snprintf(text, sizeof(text), "%.1f", std::fabs(value) < 0.05 ? 0.0 : value);
  return text;
}

void ReportClipping(const AudioFileWriter& writer, const std::string& name, int channels) {
  const size_t left = writer.ClippedSamples(0);
  const size_t right = channels > 1 ? writer.ClippedSamples(1) : 0;
  if (left + right == 0) return;
  std::string counts = channels > 1 ? std::to_string(left) + " samples in the left channel and " +
                                          std::to_string(right) + " in the right"
                                    : std::to_string(left) + " samples";
  char peak[32];
  snprintf(peak, sizeof(peak), "%+.2f", 20.0 * std::log10(writer.LargestMagnitude()));
  Warn("'" + name + "' clipped " + counts + " beyond full scale (peak " + peak +
       " dBFS); write float output (--sample-format float) or lower OUTPUT");
}

std::string InputName(const Job& job, const RenderPlan& plan) {
  return plan.embedded ? "embedded drums and bass" : job.input == "-" ? "standard input" : BaseNameOf(job.input);
}

// Warnings about what went through: a short or damaged input, non-finite
// samples, a sidechain of another length, clipping.
void WarnAboutStreams(const Options& options, const Job& job, RenderPlan& plan, const RenderOutcome& outcome) {
  const size_t frames = outcome.frames, sidechainFrames = outcome.sidechainFrames;
  const int64_t claimed = plan.claimedFrames;
  const AudioFileReader& reader = plan.reader;
  if (!plan.embedded && ((claimed >= 0 && static_cast<int64_t>(frames) < claimed) || !reader.DamageReport().empty())) {
    Warn("input '" + job.input + "' ended after " + std::to_string(frames) + " frames" +
         (claimed >= 0 ? " though its header claims " + std::to_string(claimed) : std::string()) +
         (reader.DamageReport().empty() ? "" : " (" + reader.DamageReport() + ")") + "; rendered what is there");
  }
  if (!plan.embedded && frames == 0 && reader.UnclaimedBytes() > 0) {
    Warn("input '" + job.input + "' says its audio is empty, yet " + std::to_string(reader.UnclaimedBytes()) +
         " bytes follow its header; nothing of them was rendered (sox --ignore-length can repair the header)");
  }
  outcome.inputNonFinite.Report("input '" + (plan.embedded ? InputName(job, plan) : job.input) + "'", plan.channels,
                                plan.sampleRate);
  if (!options.sidechain.empty()) {
    outcome.sidechainNonFinite.Report("sidechain '" + options.sidechain + "'", plan.sidechain.Info().channels,
                                      plan.sampleRate);
    const size_t block = static_cast<size_t>(options.block);
    std::vector<std::vector<double>> rest(2, std::vector<double>(block));
    double* restPtrs[2] = {rest[0].data(), rest[1].data()};
    size_t extra = 0;
    while (size_t got = plan.sidechainSource->Read(restPtrs, block)) extra += got;
    if (sidechainFrames < frames) {
      Warn("sidechain '" + options.sidechain + "' has " + std::to_string(sidechainFrames) +
           " frames, the input " + std::to_string(frames) + "; padded with silence");
    } else if (extra > 0) {
      Warn("sidechain '" + options.sidechain + "' has " + std::to_string(sidechainFrames + extra) +
           " frames, the input " + std::to_string(frames) + "; the rest was left out");
    }
  }
  if (plan.writer.NonFiniteSamples() > 0) {
    Warn("'" + job.output + "' has " + std::to_string(plan.writer.NonFiniteSamples()) +
         " non-finite samples (NaN or infinity), the first at " +
         DescribePosition(plan.writer.FirstNonFinite(), plan.channels, plan.sampleRate));
  }
  ReportClipping(plan.writer, job.output, plan.channels);
}

// Pictures and preset to pending files, the audio file finished with its
// tags; then everything appears.
bool WriteFiles(const Options& options, const Job& job, RenderPlan& plan, const RenderOutcome& outcome,
                Failure& failure) {
  std::string error;
  PluginHost& host = *plan.host;
  AudioFileWriter& writer = plan.writer;
  PendingSet pending;
  if (!job.plotPng.empty()) {
    const std::string title = std::string("Kestrune ") + host.FormatName() + ": " + InputName(job, plan) + ", " +
                              Lufs(outcome.inputLoudness.IntegratedLufs()) + " LUFS in, " +
                              Lufs(outcome.outputLoudness.IntegratedLufs()) + " LUFS out";
    std::unique_lock<std::mutex> drawing(PictureDrawingLock());
    const Canvas plot = DrawLevelPlot(outcome.levels, title);
    drawing.unlock();
    // zlib's default level: 9 took ten times as long for 4 % fewer bytes.
    errno = 0;
    if (!plot.WritePng(pending.Add(job.plotTarget), 6)) {
      failure = PictureFailure(job.plotPng);
      return false;
    }
  }
  if (!job.editorPng.empty()) {
    // LV2 numbers and scales its control ports apart from the plug-in's
    // parameters, and its state blob is the plug-in's own: the picture
    // takes the settings from that.
    std::vector<EditorParamValue> values;
    std::vector<uint8_t> state;
    if (std::string(host.FormatName()) == "LV2") {
      if (!host.GetState(state, error)) {
        failure = {kExitModule, error};
        return false;
      }
    } else {
      for (const auto& p : host.Parameters()) values.push_back({static_cast<int>(p.id), host.NormalizedValue(p.index)});
    }
    errno = 0;
    if (!WriteEditorPicture(host.FormatName(), values, state, outcome.levels.FinalReductionDb(),
                            pending.Add(job.editorTarget), error, options.editorScale)) {
      failure = error.rfind("cannot write", 0) == 0 ? PictureFailure(job.editorPng) : Failure{kExitOutput, error};
      return false;
    }
  }
  if (job.savesPreset && !StagePresetFile(host, options.savePreset, pending, failure)) return false;
  const LoudnessMeter& loudness = outcome.outputLoudness;
  const BroadcastLoudness broadcast = {loudness.IntegratedLufs(), loudness.RangeLu(), loudness.TruePeakDb(),
                                       loudness.MaxMomentaryLufs(), loudness.MaxShortTermLufs()};
  const bool fromFile = !plan.embedded && !plan.reader.IsStream();
  std::string tagWarning;
  if (!writer.Finish(error) || !writer.CarryFlacMetadata(plan.flacTags.get(), error) ||
      !writer.CompleteBroadcastInfo(broadcast, std::string("Kestrune-") + KESTRUNE_VERSION, error) ||
      (fromFile && !writer.CarryInfoTags(job.input, tagWarning, error))) {
    failure = {kExitOutput, error};
    return false;
  }
  if (!tagWarning.empty()) Warn("'" + job.output + "': " + tagWarning);
  if (!pending.CommitAll(error) || !writer.Commit(error)) {
    failure = {kExitOutput, error};
    return false;
  }
  return true;
}

// The summary: one JSON object with --json, else a few lines unless -q.
// With the audio on standard output (or any stream) it goes to stderr.
void PrintSummary(const Options& options, const Job& job, const RenderPlan& plan, const RenderOutcome& outcome) {
  const LevelAnalysis& levels = outcome.levels;
  const LoudnessMeter& inputLoudness = outcome.inputLoudness;
  const LoudnessMeter& outputLoudness = outcome.outputLoudness;
  const SampleFormat format = plan.encoding.format;
  const char* formatName = plan.host->FormatName();
  const double sampleRate = plan.sampleRate, makeupDb = outcome.makeupDb, elapsed = outcome.elapsedSeconds;
  const size_t frames = outcome.frames;
  FILE* report = job.output == "-" || IsDeviceOrPipe(job.outputTarget) ? stderr : stdout;
  const double seconds = static_cast<double>(frames) / sampleRate;
  if (options.json) {
    auto side = [&](const char* name, double peak, double rms, const LoudnessMeter& loudness) {
      return std::string("\"") + name + "\": {\"peak_dbfs\": " + JsonNumber(peak) +
             ", \"rms_dbfs\": " + JsonNumber(rms) + ", \"integrated_lufs\": " +
             JsonNumber(loudness.IntegratedLufs()) + ", \"loudness_range_lu\": " + JsonNumber(loudness.RangeLu()) +
             ", \"true_peak_dbtp\": " + JsonNumber(loudness.TruePeakDb()) + "}";
    };
    std::string line = "{\"input\": " + (plan.embedded ? std::string("null") : JsonString(job.input)) +
                       ", \"output\": " + JsonString(job.output) + ", \"format\": " + JsonString(formatName) +
                       ", \"module\": " + JsonString(options.module) + ", \"sample_rate\": " + JsonNumber(sampleRate) +
                       ", \"channels\": " + std::to_string(plan.channels) + ", \"frames\": " + std::to_string(frames) +
                       ", \"seconds\": " + JsonNumber(seconds) + ", \"sample_format\": " +
                       JsonString(SampleFormatName(format)) + ", " +
                       side("input_levels", levels.InputPeakDb(), levels.InputRmsDb(), inputLoudness) + ", " +
                       side("output_levels", levels.OutputPeakDb(), levels.OutputRmsDb(), outputLoudness) +
                       ", \"largest_drop_db\": " + JsonNumber(Shown(levels.LargestReductionDb())) +
                       ", \"final_drop_db\": " + JsonNumber(Shown(levels.FinalReductionDb())) +
                       ", \"output_gain_db\": " + JsonNumber(makeupDb) +
                       ", \"editor_png\": " + (job.editorPng.empty() ? "null" : JsonString(job.editorPng)) +
                       ", \"plot_png\": " + (job.plotPng.empty() ? "null" : JsonString(job.plotPng)) +
                       ", \"preset\": " + (job.savesPreset ? JsonString(options.savePreset) : "null") + "}";
    Say(report, line + "\n");
  } else if (!options.quiet) {
    const std::string inputName = InputName(job, plan);
    std::string text;
    text += Format("Kestrune %s (%s): %s, %.2f s at %s Hz, %d-bit processing in blocks of %d\n", formatName,
            options.module.c_str(), inputName.c_str(), seconds, FormatValue(sampleRate).c_str(),
            options.doublePrecision ? 64 : 32, options.block);
    text += Format("  input : peak %7.2f dBFS, RMS %7.2f dBFS, %s LUFS, range %s LU, true peak %s dBTP\n",
            Shown(levels.InputPeakDb()), Shown(levels.InputRmsDb()), Lufs(inputLoudness.IntegratedLufs()).c_str(),
            Lufs(inputLoudness.RangeLu()).c_str(), Lufs(inputLoudness.TruePeakDb()).c_str());
    text += Format("  output: peak %7.2f dBFS, RMS %7.2f dBFS, %s LUFS, range %s LU, true peak %s dBTP\n",
            Shown(levels.OutputPeakDb()), Shown(levels.OutputRmsDb()), Lufs(outputLoudness.IntegratedLufs()).c_str(),
            Lufs(outputLoudness.RangeLu()).c_str(), Lufs(outputLoudness.TruePeakDb()).c_str());
    text += Format("  level change, output minus input in 10 ms windows%s: largest drop %.2f dB, at the end %.2f dB\n",
            makeupDb != 0 ? (" without the OUTPUT gain of " + FormatValue(makeupDb) + " dB").c_str() : "",
            Shown(levels.LargestReductionDb()), Shown(levels.FinalReductionDb()));
    text += Format("  time: %.3f s, %.1fx realtime\n", elapsed, seconds / std::max(elapsed, 1e-9));
    text += Format("audio:        %s (%s%s)\n", job.output == "-" ? "standard output" : job.output.c_str(),
            SampleFormatName(format),
            format == SampleFormat::Pcm16 && options.dither ? ", TPDF dither" : "");
    if (!job.editorPng.empty()) text += Format("editor:       %s\n", job.editorPng.c_str());
    if (!job.plotPng.empty()) text += Format("levels plot:  %s\n", job.plotPng.c_str());
    if (job.savesPreset) text += Format("preset:       %s\n", options.savePreset.c_str());
    Say(report, text);
  }
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof(escaped), "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void NonFiniteCount::Report(const std::string& what, int channels, double sampleRate) const {
  if (count == 0) return;
  Warn(what + " has " + std::to_string(count) + " non-finite sample" + (count == 1 ? "" : "s") +
       " (NaN or infinity), the first at " + DescribePosition(first, channels, sampleRate));
}

bool ReportRender(const Options& options, const Job& job, RenderPlan& plan, RenderOutcome& outcome,
                  Failure& failure) {
  WarnAboutStreams(options, job, plan, outcome);
  if (!WriteFiles(options, job, plan, outcome, failure)) return false;
  PrintSummary(options, job, plan, outcome);
  return true;
}

}  // namespace render
