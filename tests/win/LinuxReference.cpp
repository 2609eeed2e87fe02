// Writes what the Linux build produces, for the Windows modules under Wine to
// be compared with: every golden audio case (inputs, host settings, outputs)
// and the pixel hashes of the sixteen editor images as libpng decodes them.
//
// Usage: kestrune-linux-reference <output folder>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>

#include "CaseData.h"
#include "EffectFingerprint.h"
#include "IGraphics.h"
#include "Kestrune.h"
#include "PIX_Bitmap.h"
#include "PngCodec.h"

namespace {

using kestrune_wine::CaseData;
using kestrune_wine::HostSetting;

// The effect as a VST2 or VST3 host drives a module: all parameters
// reported, rate and block size set, processing reset and switched on; then
// per host block the block's normalized settings, then the audio in doubles.
CaseData RunCase(const kestrune_fingerprint::FingerprintCase& fc) {
  using namespace kestrune_fingerprint;
  const Signal signal = MakeSignal(fc.signal, fc.sampleRate, fc.frames);
  TestHost host;
  auto plug = std::make_unique<Kestrune>(&host);
  CaseData c;
  c.name = fc.name;
  c.sampleRate = fc.sampleRate;
  c.frames = fc.frames;
  c.resetBeforeBlock = fc.resetBeforeBlock;
  std::vector<HostSetting> settings;
  for (const ParamSetting& s : fc.settings) {
    const float normalized = static_cast<float>(plug->ParamAt(s.index)->NormalizedFromPlain(s.plain));
    settings.push_back({s.beforeBlock, s.index, normalized});
  }
  c.settings = kestrune_wine::OnePerParameterAndBlock(settings);
  for (int ch = 0; ch < 4; ++ch) c.input[ch] = signal.channel[ch];

  plug->NotifyAllParamsChanged();
  plug->SetSampleRate(fc.sampleRate);
  plug->ChangeBlockSize(kestrune_wine::kMaxCaseBlock);
  plug->ResetProcessing();
  plug->ActivationChanged(true);
  c.output[0].assign(static_cast<size_t>(fc.frames), 0.0);
  c.output[1].assign(static_cast<size_t>(fc.frames), 0.0);
  int position = 0;
  for (int block = 0; position < fc.frames; ++block) {
    if (block == fc.resetBeforeBlock) plug->ResetProcessing();
    for (const HostSetting& s : c.settings)
      if (s.block == block) {
        plug->ParamAt(s.index)->SetFromHostNormalized(static_cast<double>(s.normalized));
        plug->ParamChanged(s.index);
      }
    const int frames = std::min(kestrune_wine::CaseBlockSize(block), fc.frames - position);
    const double* ins[4];
    for (int ch = 0; ch < 4; ++ch) ins[ch] = c.input[ch].data() + position;
    double* outs[2] = {c.output[0].data() + position, c.output[1].data() + position};
    plug->ProcessHostBlock(ins, 4, outs, 2, frames);
    position += frames;
  }
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  int failures = 0;
  for (const auto& fc : kestrune_fingerprint::FingerprintCases()) {
    if (!kestrune_wine::WriteCase(RunCase(fc), folder + "/" + fc.name + ".ref")) {
      std::fprintf(stderr, "cannot write case %s\n", fc.name);
      ++failures;
    }
  }
  FILE* hashes = std::fopen((folder + "/png-hashes.txt").c_str(), "w");
  if (!hashes) return 1;
  for (int id = 104; id <= 119; ++id) {
    const unsigned char* data = nullptr;
    size_t length = 0;
    std::unique_ptr<PIX_MemBitmap> bitmap;
    if (FindImageResource(id, &data, &length)) bitmap.reset(LoadPngFromMemory(data, length));
    if (!bitmap) {
      std::fprintf(stderr, "image %d does not decode\n", id);
      ++failures;
      continue;
    }
    std::fprintf(hashes, "%d %d %d %016" PRIx64 "\n", id, bitmap->Width(), bitmap->Height(),
                 kestrune_wine::PixelHash(bitmap->PixelData(), bitmap->Width(), bitmap->Height(),
                                          bitmap->RowSpan()));
  }
  std::fclose(hashes);
  return failures == 0 ? 0 : 1;
}
