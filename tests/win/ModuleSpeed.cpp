// Realtime factor of a built VST2 module (Kestrune.dll under Wine, or
// Kestrune.so on Linux): seconds of 48 kHz stereo audio processed per second
// of wall time, blocks of 512, drum material with its sidechain, 4x and 16x
// oversampling. A measurement tool, not a test; Google Benchmark is not
// built for MinGW, so both platforms use this same plain timing loop.
//
// Usage: kestrune-module-speed <module> [seconds of audio per run]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "EffectFingerprint.h"
#include "vst2/Vst2Abi.h"

#if defined(_WIN32)
#include <windows.h>
static void* OpenModule(const char* path) { return LoadLibraryA(path); }
static void* Symbol(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}
#else
#include <dlfcn.h>
static void* OpenModule(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static void* Symbol(void* module, const char* name) { return dlsym(module, name); }
#endif

static intptr_t VSTCALLBACK Host(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == vst2::audioMasterVersion ? 2400 : 0;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <module> [seconds]\n", argv[0]);
    return 2;
  }
  const double seconds = argc > 2 ? std::atof(argv[2]) : 20.0;
  void* module = OpenModule(argv[1]);
  auto entry = reinterpret_cast<vst2::AEffect*(VSTCALLBACK*)(vst2::audioMasterCallback)>(
      module ? Symbol(module, "VSTPluginMain") : nullptr);
  if (!entry) {
    std::fprintf(stderr, "cannot load %s\n", argv[1]);
    return 1;
  }
  const double rate = 48000.0;
  const int block = 512;
  const auto signal =
      kestrune_fingerprint::MakeSignal(kestrune_fingerprint::kDrumWithSidechain, rate, block * 96);
  std::vector<std::vector<float>> in(4);
  for (int ch = 0; ch < 4; ++ch) in[ch].assign(signal.channel[ch].begin(), signal.channel[ch].end());
  std::vector<float> outL(block), outR(block);
  for (int oversampling : {4, 16}) {
    vst2::AEffect* e = entry(Host);
    e->dispatcher(e, vst2::effOpen, 0, 0, nullptr, 0);
    e->dispatcher(e, vst2::effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
    e->dispatcher(e, vst2::effSetBlockSize, 0, block, nullptr, 0);
    e->dispatcher(e, vst2::effMainsChanged, 0, 1, nullptr, 0);
    e->setParameter(e, 0, 0.375f);                           // INPUT 30
    e->setParameter(e, 12, oversampling == 16 ? 1.0f : 0.0f);
    e->setParameter(e, 13, 0.0f);                            // external sidechain
    const int blocks = static_cast<int>(seconds * rate / block);
    const int available = signal.frames / block;
    auto start = std::chrono::steady_clock::now();
    for (int b = 0; b < blocks; ++b) {
      const int offset = (b % available) * block;
      float* ins[4] = {in[0].data() + offset, in[1].data() + offset, in[2].data() + offset,
                       in[3].data() + offset};
      float* outs[2] = {outL.data(), outR.data()};
      e->processReplacing(e, ins, outs, block);
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double audio = static_cast<double>(blocks) * block / rate;
    std::printf("%dx oversampling: %.1f s of audio in %.3f s, realtime factor %.1f, %.1f ns/frame\n",
                oversampling, audio, elapsed, audio / elapsed, elapsed * 1e9 / (audio * rate));
    e->dispatcher(e, vst2::effClose, 0, 0, nullptr, 0);
  }
  return 0;
}
