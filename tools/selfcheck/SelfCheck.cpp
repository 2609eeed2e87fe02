// kestrune-selfcheck: a quick look at the compressor without a host.
//
// Synthesises a few seconds of a drum-like test signal, runs it through a
// Kestrune instance with settings that compress audibly, and prints levels in
// and out and the largest gain change it saw.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "Kestrune.h"

namespace {

constexpr double kSampleRate = 48000.0;
constexpr int kBlockSize = 512;
constexpr double kSeconds = 4.0;

// Kick-like bursts (decaying low sine) every half second over a quiet pad.
void MakeTestSignal(std::vector<float>& left, std::vector<float>& right) {
  const double pi = 3.14159265358979323846;
  for (size_t n = 0; n < left.size(); ++n) {
    double t = static_cast<double>(n) / kSampleRate;
    double beat = std::fmod(t, 0.5);
    double kick = 0.9 * std::exp(-beat * 18.0) * std::sin(2 * pi * (55.0 + 90.0 * std::exp(-beat * 30.0)) * beat);
    double pad = 0.08 * std::sin(2 * pi * 220.0 * t) + 0.05 * std::sin(2 * pi * 330.0 * t + 0.3);
    left[n] = static_cast<float>(kick + pad);
    right[n] = static_cast<float>(kick + 0.9 * pad);
  }
}

struct Levels {
  double peak = 0;
  double sumSquares = 0;
  size_t count = 0;
  void Add(float v) {
    peak = std::max(peak, static_cast<double>(std::fabs(v)));
    sumSquares += static_cast<double>(v) * v;
    ++count;
  }
  double PeakDb() const { return 20 * std::log10(std::max(peak, 1e-12)); }
  double RmsDb() const {
    return 10 * std::log10(std::max(sumSquares / std::max<size_t>(count, 1), 1e-24));
  }
};

void SetPlain(Kestrune& plug, int index, double value) {
  plug.ParamAt(index)->SetClamped(value);
  plug.ParamChanged(index);
}

}  // namespace

int main() {
  TestHost host;
  Kestrune plug(&host);
  plug.SetSampleRate(kSampleRate);
  plug.ChangeBlockSize(kBlockSize);
  plug.NotifyAllParamsChanged();  // as a host does before audio flows
  plug.ResetProcessing();
  SetPlain(plug, kestrune::kInput, 40);
  SetPlain(plug, kestrune::kRatio, 2);
  SetPlain(plug, kestrune::kAttack, -0.0003);
  SetPlain(plug, kestrune::kRelease, -0.15);

  const size_t frames = static_cast<size_t>(kSeconds * kSampleRate);
  std::vector<float> inL(frames), inR(frames), outL(frames), outR(frames);
  std::vector<float> silence(kBlockSize, 0.0f);
  MakeTestSignal(inL, inR);

  Levels in, out;
  double largestChangeDb = 0;
  auto start = std::chrono::steady_clock::now();
  for (size_t pos = 0; pos < frames; pos += kBlockSize) {
    int n = static_cast<int>(std::min<size_t>(kBlockSize, frames - pos));
    const float* ins[] = {&inL[pos], &inR[pos], silence.data(), silence.data()};
    float* outs[] = {&outL[pos], &outR[pos]};
    plug.ProcessHostBlock(ins, 4, outs, 2, n);
  }
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  for (size_t n = 0; n < frames; ++n) {
    in.Add(inL[n]);
    in.Add(inR[n]);
    out.Add(outL[n]);
    out.Add(outR[n]);
    if (std::fabs(inL[n]) > 0.1) {
      double changeDb = 20 * std::log10(std::max(std::fabs(outL[n]), 1e-12f) / std::fabs(inL[n]));
      largestChangeDb = std::min(largestChangeDb, changeDb);
    }
  }

  printf("Kestrune self-check: %.1f s of embedded drums and pad at %.0f Hz, blocks of %d\n",
         kSeconds, kSampleRate, kBlockSize);
  printf("settings: INPUT 40, RATIO 12:1, ATTACK 0.3 ms, RELEASE 150 ms, MIX 100 %%\n");
  printf("input : peak %6.2f dBFS, RMS %6.2f dBFS\n", in.PeakDb(), in.RmsDb());
  printf("output: peak %6.2f dBFS, RMS %6.2f dBFS\n", out.PeakDb(), out.RmsDb());
  printf("largest level change on loud samples: %.2f dB\n", largestChangeDb);
  printf("processing took %.3f s (%.0fx realtime)\n", seconds, kSeconds / std::max(seconds, 1e-9));
  bool finite = std::all_of(outL.begin(), outL.end(), [](float v) { return std::isfinite(v); }) &&
                std::all_of(outR.begin(), outR.end(), [](float v) { return std::isfinite(v); });
  printf("output finite: %s\n", finite ? "yes" : "NO");
  return finite ? 0 : 1;
}
