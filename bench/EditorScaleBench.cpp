// What opening the editor costs at each scale: in a fresh process (the image
// cache is process-wide), an instance is created, then its editor is drawn
// whole at the scale as a window's first picture is. Counters: open_ms and
// open_MB (resident memory the drawing adds: decoded frames, the back buffer,
// fonts), and instance_MB (what the instance took before any editor opened).
// open_anon_MB is the part of open_MB the process allocated itself; the rest
// is the image packs' file pages mapped in, shared with every other process
// and reclaimable (how much of a file one read maps in depends on the
// kernel: up to a whole 2 MB page-cache folio on newer ones).
#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "IGraphicsOffscreen.h"
#include "Kestrune.h"
#include "TestBinding.h"
#include "FreshProcess.h"

namespace {

double ResidentMB() {
  long pages = 0, resident = 0;
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(f);
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

double AnonymousMB() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  long kB = 0;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "RssAnon: %ld kB", &kB) == 1) break;
  std::fclose(f);
  return static_cast<double>(kB) / 1024.0;
}

struct OpenResult {
  double seconds = -1;
  double openMB = 0;
  double openAnonMB = 0;
  double instanceMB = 0;
};

[[noreturn]] void MeasureOpenInChild(int fd, double scale) {
  OpenResult r;
  const double before = ResidentMB();
  {
    TestHost host;
    Kestrune plug(&host);
    r.instanceMB = ResidentMB() - before;
    auto* editor = dynamic_cast<IGraphicsOffscreen*>(plug.Editor());
    if (editor) {
      const double loaded = ResidentMB(), loadedAnon = AnonymousMB();
      const auto start = std::chrono::steady_clock::now();
      editor->SetScale(scale);
      editor->RenderAll();
      r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      r.openMB = ResidentMB() - loaded;
      r.openAnonMB = AnonymousMB() - loadedAnon;
    }
  }
  const ssize_t written = write(fd, &r, sizeof r);
  _exit(written == static_cast<ssize_t>(sizeof r) ? 0 : 1);
}

void EditorOpen(benchmark::State& state) {
  const double scale = static_cast<double>(state.range(0)) / 100.0;
  double seconds = 0, openMB = 0, openAnonMB = 0, instanceMB = 0;
  for (auto _ : state) {
    OpenResult r;
    const bool got = MeasureInFreshProcess([scale](int fd) { MeasureOpenInChild(fd, scale); }, &r);
    if (!got || r.seconds < 0) {
      state.SkipWithError("no editor");
      return;
    }
    state.SetIterationTime(r.seconds);
    seconds += r.seconds;
    openMB += r.openMB;
    openAnonMB += r.openAnonMB;
    instanceMB += r.instanceMB;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["open_ms"] = seconds / n * 1e3;
  state.counters["open_MB"] = openMB / n;
  state.counters["open_anon_MB"] = openAnonMB / n;
  state.counters["instance_MB"] = instanceMB / n;
}
BENCHMARK(EditorOpen)
    ->ArgName("scale_percent")
    ->Arg(100)
    ->Arg(150)
    ->Arg(200)
    ->Arg(300)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace
