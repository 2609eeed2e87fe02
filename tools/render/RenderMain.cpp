// kestrune-render: an offline host for the Kestrune plug-in.
//
// Loads the built module (VST3, VST2 or LV2, told apart by what it exports)
// as a DAW would, streams audio files — or, without one, eight seconds of
// embedded drums and bass — through it block by block, and writes the
// result, a picture of the editor with those settings and a plot of input
// level, output level and level change. Every problem ends the run with a
// one-line error and one of the documented exit statuses. Nothing is
// written before every output has been checked against every input and
// every other output, and output files appear only when complete.
//
// A run plans every input's files and checks them (JobFiles), then renders
// each input in the plan, run and report steps of RenderSteps.h, one at a
// time or several at once (-j).
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "BatchOutput.h"
#include "DefaultMaterial.h"
#include "JobFiles.h"
#include "ParamSettings.h"
#include "PendingFile.h"
#include "PluginHost.h"
#include "PluginSetup.h"
#include "RenderOptions.h"
#include "RenderSteps.h"

#ifndef KESTRUNE_VERSION
#define KESTRUNE_VERSION "unknown"
#endif

namespace render {
namespace {

// Runs `body`, turning whatever it throws into the tool's failure; the
// status is then kExitInternal.
template <class Body>
int Guarded(Failure& failure, Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    failure = {kExitInternal, "out of memory"};
  } catch (const std::exception& e) {
    failure = {kExitInternal, std::string("unexpected failure: ") + e.what()};
  } catch (...) {
    failure = {kExitInternal, "unexpected failure"};
  }
  return kExitInternal;
}

// Renders one input. In a batch, `batch` shows its progress as input
// number `slot` (and the thread's log keeps what it prints).
int RenderJob(const Options& options, const Job& job, const std::vector<uint8_t>& presetBlob, BatchProgress* batch,
              size_t slot, Failure& failure) {
  RenderPlan plan;
  if (!PlanRender(options, job, presetBlob, plan, failure)) return failure.status;
  RenderOutcome outcome(plan.sampleRate, plan.channels);
  if (!RunRender(options, job, plan, batch, slot, outcome, failure) ||
      !ReportRender(options, job, plan, outcome, failure)) {
    return failure.status;
  }
  return kExitOk;
}

// Several inputs, up to -j at once, each in its own plug-in instance. Every
// input is rendered whatever becomes of the others (a missing or unreadable
// one too); each prints its messages (an error in its place, and with --json
// a line giving its status and error) once the inputs before it have. The
// inputs that failed are listed at the end, and the status is that of the
// first input in order that failed.
int RenderBatch(const Options& options, const std::vector<Job>& jobs, const std::vector<uint8_t>& presetBlob,
                Failure& failure) {
  struct Outcome {
    JobLog log;
    int status = kExitOk;
    bool done = false;
  };
  std::vector<Outcome> outcomes(jobs.size());
  std::mutex lock;
  std::condition_variable finished;
  std::atomic<size_t> next{0};
  const bool barAllowed =
      options.progress == 1 || (options.progress == -1 && !options.quiet && isatty(STDERR_FILENO));
  BatchProgress progress(barAllowed, options.progress == 1, jobs.size());
  auto work = [&] {
    for (size_t i; (i = next++) < jobs.size();) {
      Failure jobFailure;
      SetThreadLog(&outcomes[i].log);
      const int status = Guarded(jobFailure, [&] {
        return RenderJob(options, jobs[i], presetBlob, &progress, i, jobFailure);
      });
      SetThreadLog(nullptr);
      if (status != kExitOk) {
        outcomes[i].log.Add(stderr, std::string(kTool) + ": error: " + jobFailure.message + "\n", true);
        if (options.json) {
          outcomes[i].log.Add(stdout, "{\"input\": " + JsonString(jobs[i].input) + ", \"output\": " +
                                          JsonString(jobs[i].output) + ", \"status\": " + std::to_string(status) +
                                          ", \"error\": " + JsonString(jobFailure.message) + "}\n");
        }
      }
      progress.Done(i);
      {
        std::lock_guard<std::mutex> guard(lock);
        outcomes[i].status = status;
        outcomes[i].done = true;
      }
      finished.notify_all();
    }
  };
  const size_t workers = std::min(jobs.size(), static_cast<size_t>(options.jobs));
  std::vector<std::thread> threads;
  for (size_t w = 0; w < workers; ++w) threads.emplace_back(work);
  int status = kExitOk;
  for (Outcome& outcome : outcomes) {
    {
      std::unique_lock<std::mutex> guard(lock);
      finished.wait(guard, [&] { return outcome.done; });
    }
    progress.Print(outcome.log);
    outcome.log = JobLog();
    if (status == kExitOk) status = outcome.status;
  }
  for (std::thread& thread : threads) thread.join();
  progress.Finish();
  std::string failed;
  size_t failures = 0;
  for (size_t i = 0; i < jobs.size(); ++i) {
    if (outcomes[i].status == kExitOk) continue;
    failed += std::string(failures++ ? ", '" : "'") + jobs[i].input + "'";
  }
  if (failures > 0) {
    fprintf(stderr, "%s: %zu of %zu inputs failed: %s\n", kTool, failures, jobs.size(), failed.c_str());
  }
  failure = {status, ""};  // each error is printed already
  return status;
}

int ListParamsOnly(const Options& options, const std::vector<uint8_t>& presetBlob, Failure& failure) {
  std::string error;
  double sampleRate = kDefaultMaterialRate;
  if (!options.inputs.empty()) {
    AudioFileReader reader;
    if (!reader.Open(options.inputs.front(), error)) {
      failure = {kExitInput, "input '" + options.inputs.front() + "' " + error};
      return failure.status;
    }
    sampleRate = reader.Info().sampleRate;
  }
  HostPtr host = LoadPlugin(options, presetBlob, sampleRate, options.inputs.empty(), failure);
  if (!host) return failure.status;
  ListParams(*host);
  if (!options.savePreset.empty()) {
    PendingSet pending;
    if (!StagePresetFile(*host, options.savePreset, pending, failure)) return failure.status;
    if (!pending.CommitAll(error)) {
      failure = {kExitOutput, error};
      return failure.status;
    }
  }
  return kExitOk;
}

int Run(int argc, char** argv, Failure& failure) {
  Options options;
  if (!ParseOptions(argc, argv, options, failure)) return failure.status;
  if (options.help) {
    PrintUsage(stdout);
    return kExitOk;
  }
  if (options.version) {
    printf("%s %s\n", kTool, KESTRUNE_VERSION);
    return kExitOk;
  }
  if (options.module.empty()) options.module = DefaultModule(options.format.empty() ? "vst3" : options.format);
  if (options.module.empty()) {
    failure = {kExitModule, "no module to load; pass --module PATH"};
    return failure.status;
  }
  if (!options.savePreset.empty()) {
    const std::string format = options.format.empty() ? DetectModuleFormat(options.module) : options.format;
    const std::string ext = Lowered(ExtensionOf(options.savePreset));
    if ((ext == ".vstpreset" && format != "vst3") || (ext == ".fxp" && format != "vst2")) {
      failure = {kExitUsage, "--save-preset '" + options.savePreset + "': a " + ext + " file holds a " +
                                 (ext == ".fxp" ? "VST2" : "VST3") + " preset, but the " + format +
                                 " plug-in is loaded" +
                                 (format == "vst2" ? "; name it .fxp" : format == "vst3" ? "; name it .vstpreset" : "")};
      return failure.status;
    }
  }
  std::vector<Job> jobs;
  if (!PlanJobs(options, jobs, failure) || !CheckFiles(options, jobs, failure)) return failure.status;
  std::vector<uint8_t> presetBlob;
  std::string error;
  if (!options.preset.empty() && !ReadPresetFile(options.preset, presetBlob, error)) {
    failure = {kExitInput, "preset '" + options.preset + "' cannot be read: " + error};
    return failure.status;
  }
  if (options.listParams) return ListParamsOnly(options, presetBlob, failure);
  if (jobs.size() == 1) return RenderJob(options, jobs.front(), presetBlob, nullptr, 0, failure);
  return RenderBatch(options, jobs, presetBlob, failure);
}

}  // namespace
}  // namespace render

int main(int argc, char** argv) {
  using namespace render;
  InstallPendingFileCleanup();
  Failure failure;
  const int status = Guarded(failure, [&] { return Run(argc, argv, failure); });
  if (failure.status != kExitOk) {
    if (!failure.message.empty()) fprintf(stderr, "%s: error: %s\n", kTool, failure.message.c_str());
    RemovePendingFiles();
    if (!CreatedOutputFolder().empty()) rmdir(CreatedOutputFolder().c_str());  // only if nothing went in
    return failure.status;
  }
  return status;
}
