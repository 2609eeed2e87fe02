// How long the audio thread waits while the VST2 editor redraws at 2x: the
// built module is loaded as a host loads it, its editor opened in a real X
// window at twice the design size (the desktop's Xft.dpi at 192), and two
// threads run as a host's do:
//   - the user-interface thread moves ten knobs through setParameter (as
//     automation playing back does, so most of the editor is redrawn on each
//     tick) and calls effEditIdle every 10 ms, a fixed number of times;
//   - the audio thread calls processReplacing on 128-frame blocks, about one
//     per millisecond, until the user-interface thread is done.
// A block's processing takes the same time every block, so what a block
// takes beyond the median is time spent waiting for the plug-in.
// Counters: longest_block_ms (the longest processReplacing call),
// median_block_ms, longest_wait_ms (their difference), longest_idle_ms (the
// longest effEditIdle call: a redraw at 2x, showing that the editor drew),
// editor_width_px (the width the editor gives the host: 1824 at 2x).
//
// Needs an X display: run under `xvfb-run -a`. KESTRUNE_BENCH_VST2_MODULE
// names another build of the module to compare (its Kestrune.images folder
// beside it).
#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "vst2/Vst2Abi.h"

#define KeyCode XlibKeyCode
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#undef KeyCode

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDesignWidth = 912;
constexpr int kDesignHeight = 287;
constexpr int kBlock = 128;
constexpr int kIdleRounds = 150;
constexpr int kKnobs = 10;  // parameters 0..9: the knobs, spread across the editor

intptr_t VSTCALLBACK Host(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == vst2::audioMasterVersion ? 2400 : 0;
}

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// The desktop's scale as the editor reads it when it opens; the earlier
// setting comes back when the scope ends.
class DesktopDpi {
 public:
  DesktopDpi(Display* display, int dpi) : display_(display) {
    resources_ = XInternAtom(display_, "RESOURCE_MANAGER", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display_, DefaultRootWindow(display_), resources_, 0, 1 << 16, False,
                           XA_STRING, &type, &format, &count, &after, &data) == Success &&
        data) {
      saved_.assign(reinterpret_cast<const char*>(data), count);
      hadResources_ = true;
    }
    if (data) XFree(data);
    Set("Xft.dpi:\t" + std::to_string(dpi) + "\n");
  }
  ~DesktopDpi() {
    if (hadResources_)
      Set(saved_);
    else
      XDeleteProperty(display_, DefaultRootWindow(display_), resources_);
    XSync(display_, False);
  }

 private:
  void Set(const std::string& text) {
    XChangeProperty(display_, DefaultRootWindow(display_), resources_, XA_STRING, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(text.data()),
                    static_cast<int>(text.size()));
    XSync(display_, False);
  }
  Display* display_;
  Atom resources_ = None;
  std::string saved_;
  bool hadResources_ = false;
};

struct Figures {
  double longestBlockMs = 0;
  double medianBlockMs = 0;
  double longestIdleMs = 0;
};

// One run of the two threads against an open editor.
Figures Measure(vst2::AEffect* effect) {
  std::vector<float> silence(kBlock, 0.0f), left(kBlock), right(kBlock);
  float* inputs[4] = {silence.data(), silence.data(), silence.data(), silence.data()};
  float* outputs[2] = {left.data(), right.data()};
  std::vector<double> blockMs;
  blockMs.reserve(1 << 16);
  std::atomic<bool> done{false};

  std::thread audio([&] {
    while (!done.load(std::memory_order_acquire)) {
      const auto start = Clock::now();
      effect->processReplacing(effect, inputs, outputs, kBlock);
      blockMs.push_back(Milliseconds(Clock::now() - start));
      std::this_thread::sleep_until(start + std::chrono::milliseconds(1));
    }
  });

  Figures figures;
  for (int round = 0; round < kIdleRounds; ++round) {
    const float value = (round % 2) ? 0.8f : 0.2f;
    for (int i = 0; i < kKnobs; ++i) effect->setParameter(effect, i, value);
    const auto start = Clock::now();
    effect->dispatcher(effect, vst2::effEditIdle, 0, 0, nullptr, 0.0f);
    figures.longestIdleMs = std::max(figures.longestIdleMs, Milliseconds(Clock::now() - start));
    std::this_thread::sleep_until(start + std::chrono::milliseconds(10));
  }
  done.store(true, std::memory_order_release);
  audio.join();

  if (!blockMs.empty()) {
    figures.longestBlockMs = *std::max_element(blockMs.begin(), blockMs.end());
    std::nth_element(blockMs.begin(), blockMs.begin() + blockMs.size() / 2, blockMs.end());
    figures.medianBlockMs = blockMs[blockMs.size() / 2];
  }
  return figures;
}

void Vst2AudioWaitWhileEditorRedraws(benchmark::State& state) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    state.SkipWithError("no X display (run under xvfb-run -a)");
    return;
  }
  const char* path = std::getenv("KESTRUNE_BENCH_VST2_MODULE");
  void* module = dlopen(path && path[0] ? path : KESTRUNE_VST2_MODULE, RTLD_NOW | RTLD_LOCAL);
  auto entry = reinterpret_cast<vst2::AEffect*(VSTCALLBACK*)(vst2::audioMasterCallback)>(
      module ? dlsym(module, "VSTPluginMain") : nullptr);
  if (!entry) {
    state.SkipWithError("the VST2 module could not be loaded");
    if (module) dlclose(module);
    XCloseDisplay(display);
    return;
  }
  {
    DesktopDpi dpi(display, 192);
    Figures sum;
    for (auto _ : state) {
      vst2::AEffect* effect = entry(Host);
      if (!effect) {
        state.SkipWithError("the module created no instance");
        break;
      }
      auto dispatch = [effect](int32_t opcode, intptr_t value = 0, void* ptr = nullptr,
                               float opt = 0.0f) {
        return effect->dispatcher(effect, opcode, 0, value, ptr, opt);
      };
      dispatch(vst2::effOpen);
      dispatch(vst2::effSetSampleRate, 0, nullptr, 48000.0f);
      dispatch(vst2::effSetBlockSize, kBlock);
      dispatch(vst2::effMainsChanged, 1);
      const Window parent = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0,
                                                2 * kDesignWidth, 2 * kDesignHeight, 0, 0, 0);
      XMapWindow(display, parent);
      XSync(display, False);
      if (dispatch(vst2::effEditOpen, 0, reinterpret_cast<void*>(static_cast<uintptr_t>(parent))) !=
          1) {
        state.SkipWithError("the editor did not open");
      } else {
        const Figures f = Measure(effect);
        // The editor's width as the host is told it: 1824 at 2x.
        vst2::ERect* rect = nullptr;
        if (dispatch(vst2::effEditGetRect, 0, &rect) == 1 && rect)
          state.counters["editor_width_px"] = rect->right - rect->left;
        sum.longestBlockMs = std::max(sum.longestBlockMs, f.longestBlockMs);
        sum.medianBlockMs += f.medianBlockMs;
        sum.longestIdleMs = std::max(sum.longestIdleMs, f.longestIdleMs);
        dispatch(vst2::effEditClose);
      }
      dispatch(vst2::effMainsChanged, 0);
      dispatch(vst2::effClose);
      XDestroyWindow(display, parent);
      XSync(display, False);
    }
    const double n = static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.counters["longest_block_ms"] = sum.longestBlockMs;
    state.counters["median_block_ms"] = sum.medianBlockMs / n;
    state.counters["longest_wait_ms"] = sum.longestBlockMs - sum.medianBlockMs / n;
    state.counters["longest_idle_ms"] = sum.longestIdleMs;
  }
  dlclose(module);
  XCloseDisplay(display);
}
BENCHMARK(Vst2AudioWaitWhileEditorRedraws)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
