// The Windows modules under Wine, as hosts drive them: identity, life cycle,
// state, and the golden audio cases. The Windows modules (VST2, VST3 and,
// where built, CLAP through the host library's CLAP objects) must agree bit
// for bit, and all must stay within 1e-9 (relative to the case's peak) of
// what the Linux build computes for the same inputs and settings (the C
// libraries' exp, log, pow and tan may differ in the last bit).
//
// Usage: kestrune-wine-audio <Kestrune.dll> <Kestrune.vst3> <Linux reference folder or -> [<Kestrune.clap>]
#include <algorithm>
#include <cmath>
#include <memory>

#include "CaseData.h"
#include "EffectFingerprint.h"
#include "WineHosts.h"
#include "public.sdk/source/common/memorystream.h"
#ifdef KESTRUNE_WINE_CLAP
#include "ClapHostObjects.h"
#endif

using namespace kestrune_wine;

namespace {

const char* gVst2Path = nullptr;
const char* gVst3Path = nullptr;
const char* gClapPath = nullptr;
std::string gReferenceFolder;

// The case as the Linux build ran it: inputs, host settings and outputs.
bool LoadCase(const kestrune_fingerprint::FingerprintCase& fc, CaseData* c) {
  if (gReferenceFolder.empty() || !ReadCase(gReferenceFolder + "/" + fc.name + ".ref", c))
    return false;
  c->name = fc.name;
  return true;
}

struct Output {
  std::vector<double> channel[2];
};

Output RunVst2(const Vst2Module& module, const CaseData& c) {
  Output out;
  vst2::AEffect* e = module.Create();
  if (!e) return out;
  StartVst2(e, static_cast<float>(c.sampleRate), kMaxCaseBlock);
  out.channel[0].assign(static_cast<size_t>(c.frames), 0.0);
  out.channel[1].assign(static_cast<size_t>(c.frames), 0.0);
  int position = 0;
  for (int block = 0; position < c.frames; ++block) {
    if (block == c.resetBeforeBlock) {
      Dispatch(e, vst2::effMainsChanged, 0, 0);
      Dispatch(e, vst2::effMainsChanged, 0, 1);
    }
    for (const HostSetting& s : c.settings)
      if (s.block == block) e->setParameter(e, s.index, s.normalized);
    const int frames = std::min(CaseBlockSize(block), c.frames - position);
    double* ins[4];
    for (int ch = 0; ch < 4; ++ch) ins[ch] = const_cast<double*>(c.input[ch].data()) + position;
    double* outs[2] = {out.channel[0].data() + position, out.channel[1].data() + position};
    e->processDoubleReplacing(e, ins, outs, frames);
    position += frames;
  }
  Dispatch(e, vst2::effMainsChanged, 0, 0);
  Dispatch(e, vst2::effClose);
  return out;
}

Output RunVst3(IPluginFactory* factory, const CaseData& c) {
  Output out;
  HostApplication host;
  ComponentHandler handler;
  Vst3Plugin plug(factory, &host, &handler);
  if (!plug.Valid() || !plug.Start(c.sampleRate, kMaxCaseBlock)) return out;
  out.channel[0].assign(static_cast<size_t>(c.frames), 0.0);
  out.channel[1].assign(static_cast<size_t>(c.frames), 0.0);
  int position = 0;
  for (int block = 0; position < c.frames; ++block) {
    if (block == c.resetBeforeBlock) plug.Reset(c.sampleRate, kMaxCaseBlock);
    ParamChanges changes;
    for (const HostSetting& s : c.settings)
      if (s.block == block) changes.Add(static_cast<ParamID>(s.index), {static_cast<double>(s.normalized)});
    const int frames = std::min(CaseBlockSize(block), c.frames - position);
    const double* ins[4];
    for (int ch = 0; ch < 4; ++ch) ins[ch] = c.input[ch].data() + position;
    double* outs[2] = {out.channel[0].data() + position, out.channel[1].data() + position};
    if (plug.Process(ins, outs, frames, &changes) != kResultOk) return Output();
    position += frames;
  }
  plug.processor->setProcessing(false);
  plug.component->setActive(false);
  return out;
}

#ifdef KESTRUNE_WINE_CLAP
// The case through the CLAP module as a CLAP host sends it: a knob's value is
// the hosts' normalised value itself, a switch or list takes the step that
// value selects (rounded, as the other formats' hosts are answered).
Output RunClap(const host::ClapModule& module, const CaseData& c) {
  Output out;
  const clap_plugin_factory* factory = module.Factory();
  const clap_plugin_descriptor* descriptor =
      factory && factory->get_plugin_count(factory) == 1 ? factory->get_plugin_descriptor(factory, 0) : nullptr;
  if (!descriptor) return out;
  host::ClapHostContext context;
  host::ClapInstance plug;
  std::string error;
  if (!plug.Create(module, context, descriptor->id, error) || !plug.params ||
      !plug.Activate(c.sampleRate, kMaxCaseBlock))
    return out;
  const std::vector<clap_param_info> infos = plug.ParamInfos();
  host::ClapAudioBuffers<double> buffers;
  buffers.Build(plug.plugin, plug.audioPorts, kMaxCaseBlock, false);
  if (buffers.inputs.size() != 2 || buffers.outputs.size() != 1) return out;
  out.channel[0].assign(static_cast<size_t>(c.frames), 0.0);
  out.channel[1].assign(static_cast<size_t>(c.frames), 0.0);
  int position = 0;
  for (int block = 0; position < c.frames; ++block) {
    if (block == c.resetBeforeBlock) {
      plug.Deactivate();
      if (!plug.Activate(c.sampleRate, kMaxCaseBlock)) return Output();
    }
    host::ClapInputEvents events;
    for (const HostSetting& s : c.settings) {
      if (s.block != block || s.index < 0 || static_cast<size_t>(s.index) >= infos.size()) continue;
      const clap_param_info& info = infos[static_cast<size_t>(s.index)];
      double value = s.normalized;
      if (info.flags & CLAP_PARAM_IS_STEPPED)
        value = std::min(std::floor(info.min_value + value * (info.max_value - info.min_value) + 0.5),
                         info.max_value);
      events.AddParamValue(info.id, value);
    }
    const int frames = std::min(CaseBlockSize(block), c.frames - position);
    for (size_t port = 0; port < 2; ++port)
      for (size_t ch = 0; ch < 2; ++ch)
        std::memcpy(buffers.InputChannel(port, ch), c.input[2 * port + ch].data() + position,
                    static_cast<size_t>(frames) * sizeof(double));
    if (plug.Process(buffers, static_cast<uint32_t>(frames), events.List(), nullptr) == CLAP_PROCESS_ERROR)
      return Output();
    for (size_t ch = 0; ch < 2; ++ch)
      std::memcpy(out.channel[ch].data() + position, buffers.OutputChannel(0, ch),
                  static_cast<size_t>(frames) * sizeof(double));
    position += frames;
  }
  return out;
}
#endif

bool SameBits(const Output& a, const Output& b) {
  for (int ch = 0; ch < 2; ++ch)
    if (a.channel[ch].size() != b.channel[ch].size() ||
        (a.channel[ch].size() &&
         std::memcmp(a.channel[ch].data(), b.channel[ch].data(), a.channel[ch].size() * 8) != 0))
      return false;
  return true;
}

// Largest difference from the reference relative to the reference's peak.
double RelativeError(const Output& w, const CaseData& c) {
  double peak = 0.0, worst = 0.0;
  for (int ch = 0; ch < 2; ++ch)
    for (size_t i = 0; i < c.output[ch].size(); ++i) {
      peak = std::max(peak, std::fabs(c.output[ch][i]));
      const double d = std::fabs(w.channel[ch][i] - c.output[ch][i]);
      worst = std::max(worst, std::isnan(d) ? INFINITY : d);
    }
  return peak > 0.0 ? worst / peak : worst;
}

void Vst2Identity() {
  Vst2Module module(gVst2Path);
  CHECK(module.Loaded(), "LoadLibrary/VSTPluginMain failed for %s", gVst2Path);
  if (!module.Loaded()) return;
  vst2::AEffect* e = module.Create();
  CHECK(e != nullptr);
  if (!e) return;
  CHECK(e->magic == 0x56737450);
  CHECK(e->uniqueID == 0x4B726E31);
  CHECK(e->numParams == 14 && e->numInputs == 4 && e->numOutputs == 2);
  CHECK((e->flags & vst2::effFlagsHasEditor) != 0, "flags %x", e->flags);
  CHECK(e->version == 0x00030100);
  char name[256] = {};
  Dispatch(e, vst2::effGetEffectName, 0, 0, name);
  CHECK(std::strcmp(name, "Kestrune") == 0, "name '%s'", name);
  static const char* const names[14] = {"INPUT", "OUTPUT", "ATTACK", "RELEASE", "RATIO",
                                        "HPF", "MIX", "MID FREQ", "MID GAIN", "HF",
                                        "BYPASS", "SLAM", "OVERSAMPLING", "Sidechain"};
  for (int i = 0; i < 14; ++i) {
    char p[64] = {};
    Dispatch(e, vst2::effGetParamName, i, 0, p);
    CHECK(std::strcmp(p, names[i]) == 0, "param %d '%s'", i, p);
  }
  Dispatch(e, vst2::effClose);
}

void Vst2InstancesComeAndGo() {
  Vst2Module module(gVst2Path);
  if (!CHECK(module.Loaded())) return;
  // Instances created, used and closed in overlapping order keep their own values.
  std::vector<vst2::AEffect*> effects;
  for (int i = 0; i < 6; ++i) {
    vst2::AEffect* e = module.Create();
    if (!CHECK(e != nullptr)) return;
    StartVst2(e, 48000.0f, 256);
    e->setParameter(e, 6, 0.1f * static_cast<float>(i));
    effects.push_back(e);
  }
  for (int i = 0; i < 6; i += 2) Dispatch(effects[static_cast<size_t>(i)], vst2::effClose);
  for (int i = 1; i < 6; i += 2) {
    vst2::AEffect* e = effects[static_cast<size_t>(i)];
    CHECK(std::fabs(e->getParameter(e, 6) - 0.1f * static_cast<float>(i)) < 1e-6f, "instance %d", i);
    std::vector<float> in(256, 0.25f), out(256, 0.0f);
    float* ins[4] = {in.data(), in.data(), in.data(), in.data()};
    float* outs[2] = {out.data(), out.data()};
    e->processReplacing(e, ins, outs, 256);
    CHECK(std::isfinite(out[255]));
    Dispatch(e, vst2::effClose);
  }
}

void Vst3IdentityAndState() {
  Vst3Module module(gVst3Path);
  IPluginFactory* factory = module.Factory();
  if (!CHECK(factory != nullptr, "no factory from %s", gVst3Path)) return;
  PFactoryInfo factoryInfo;
  CHECK(factory->getFactoryInfo(&factoryInfo) == kResultOk &&
        std::strcmp(factoryInfo.vendor, "Marlowind") == 0);
  PClassInfo info;
  CHECK(factory->countClasses() == 1 && factory->getClassInfo(0, &info) == kResultOk &&
        std::strcmp(info.name, "Kestrune") == 0);

  HostApplication host;
  ComponentHandler handler;
  Vst3Plugin a(factory, &host, &handler);
  if (!CHECK(a.Valid())) return;
  CHECK(a.controller->getParameterCount() >= 14);
  CHECK(a.Start(44100.0, 512));
  // A block with parameter changes, then the state moves to a second instance.
  ParamChanges changes;
  changes.Add(0, {0.625});
  changes.Add(6, {0.25});
  std::vector<double> silence(64, 0.0), out0(64), out1(64);
  const double* ins[4] = {silence.data(), silence.data(), silence.data(), silence.data()};
  double* outs[2] = {out0.data(), out1.data()};
  CHECK(a.Process(ins, outs, 64, &changes) == kResultOk);
  // One object answers for component and controller; its state is the
  // controller's (parameters, then the bypass flag).
  auto* stream = new MemoryStream;
  CHECK(a.controller->getState(stream) == kResultOk);
  Vst3Plugin b(factory, &host, &handler);
  if (!CHECK(b.Valid())) {
    stream->release();
    return;
  }
  int64 position = 0;
  stream->seek(0, IBStream::kIBSeekSet, &position);
  CHECK(b.controller->setState(stream) == kResultOk);
  stream->release();
  CHECK(std::fabs(b.controller->getParamNormalized(0) - 0.625) < 1e-9, "INPUT %f",
        b.controller->getParamNormalized(0));
  CHECK(std::fabs(b.controller->getParamNormalized(6) - 0.25) < 1e-9, "MIX %f",
        b.controller->getParamNormalized(6));
  a.processor->setProcessing(false);
  a.component->setActive(false);
}

void GoldenCases() {
  Vst2Module vst2Module(gVst2Path);
  Vst3Module vst3Module(gVst3Path);
  if (!CHECK(vst2Module.Loaded() && vst3Module.Factory())) return;
#ifdef KESTRUNE_WINE_CLAP
  host::ClapModule clapModule;
  std::string clapError;
  if (!CHECK(gClapPath && clapModule.Load(gClapPath, clapError), "%s", clapError.c_str())) return;
#endif
  int compared = 0;
  for (const auto& fc : kestrune_fingerprint::FingerprintCases()) {
    CaseData c;
    if (!CHECK(LoadCase(fc, &c), "%s: no reference file", fc.name)) continue;
    const Output v2 = RunVst2(vst2Module, c);
    const Output v3 = RunVst3(vst3Module.Factory(), c);
    CHECK(v2.channel[0].size() == static_cast<size_t>(c.frames), "%s: VST2 ran nothing", fc.name);
    CHECK(v3.channel[0].size() == static_cast<size_t>(c.frames), "%s: VST3 ran nothing", fc.name);
    if (v2.channel[0].empty() || v3.channel[0].empty()) continue;
    CHECK(SameBits(v2, v3), "%s: the VST2 and VST3 modules differ (VST3 %.3g from Linux)", fc.name,
          RelativeError(v3, c));
#ifdef KESTRUNE_WINE_CLAP
    const Output clap = RunClap(clapModule, c);
    CHECK(clap.channel[0].size() == static_cast<size_t>(c.frames), "%s: CLAP ran nothing", fc.name);
    CHECK(clap.channel[0].empty() || SameBits(v2, clap), "%s: the VST2 and CLAP modules differ (CLAP %.3g from Linux)",
          fc.name, clap.channel[0].empty() ? 0.0 : RelativeError(clap, c));
#endif
    const double error = RelativeError(v2, c);
    CHECK(error <= 1e-9, "%s: %.3g relative to the Linux build", fc.name, error);
    std::printf("  %-32s Windows vs Linux: %.3g relative\n", fc.name, error);
    ++compared;
  }
  CHECK(compared == static_cast<int>(kestrune_fingerprint::FingerprintCases().size()),
        "only %d cases compared", compared);
}

// Hosts mostly send 32-bit samples: both modules agree there too.
void FloatPathAgrees() {
  Vst2Module vst2Module(gVst2Path);
  Vst3Module vst3Module(gVst3Path);
  if (!CHECK(vst2Module.Loaded() && vst3Module.Factory())) return;
  const int frames = 4096;
  std::vector<float> input[4];
  kestrune_fingerprint::NoiseSource noise(99);
  for (auto& ch : input) {
    ch.resize(frames);
    for (float& v : ch) v = static_cast<float>(0.7 * noise.Next());
  }
  float* ins[4] = {input[0].data(), input[1].data(), input[2].data(), input[3].data()};
  std::vector<float> a0(frames), a1(frames), b0(frames), b1(frames);

  vst2::AEffect* e = vst2Module.Create();
  if (!CHECK(e != nullptr)) return;
  StartVst2(e, 48000.0f, 1024);
  e->setParameter(e, 0, 0.7f);
  e->setParameter(e, 13, 0.0f);
  for (int pos = 0; pos < frames; pos += 1024) {
    float* in[4] = {ins[0] + pos, ins[1] + pos, ins[2] + pos, ins[3] + pos};
    float* out[2] = {a0.data() + pos, a1.data() + pos};
    e->processReplacing(e, in, out, 1024);
  }
  Dispatch(e, vst2::effClose);

  HostApplication host;
  ComponentHandler handler;
  Vst3Plugin plug(vst3Module.Factory(), &host, &handler);
  if (!CHECK(plug.Valid())) return;
  SpeakerArrangement inArr[2] = {SpeakerArr::kStereo, SpeakerArr::kStereo};
  SpeakerArrangement outArr[1] = {SpeakerArr::kStereo};
  plug.processor->setBusArrangements(inArr, 2, outArr, 1);
  plug.ActivateBuses();
  ProcessSetup setup = {kRealtime, kSample32, 1024, 48000.0};
  CHECK(plug.processor->setupProcessing(setup) == kResultOk);
  plug.component->setActive(true);
  plug.processor->setProcessing(true);
  for (int pos = 0; pos < frames; pos += 1024) {
    ParamChanges changes;
    if (pos == 0) {
      changes.Add(0, {static_cast<double>(0.7f)});
      changes.Add(13, {0.0});
    }
    float* in[4] = {ins[0] + pos, ins[1] + pos, ins[2] + pos, ins[3] + pos};
    float* out[2] = {b0.data() + pos, b1.data() + pos};
    AudioBusBuffers inputs[2], outputs[1];
    inputs[0].numChannels = 2;
    inputs[0].channelBuffers32 = in;
    inputs[1].numChannels = 2;
    inputs[1].channelBuffers32 = in + 2;
    outputs[0].numChannels = 2;
    outputs[0].channelBuffers32 = out;
    ProcessData data;
    data.processMode = kRealtime;
    data.symbolicSampleSize = kSample32;
    data.numSamples = 1024;
    data.numInputs = 2;
    data.numOutputs = 1;
    data.inputs = inputs;
    data.outputs = outputs;
    data.inputParameterChanges = &changes;
    CHECK(plug.processor->process(data) == kResultOk);
  }
  CHECK(std::memcmp(a0.data(), b0.data(), frames * 4) == 0 &&
        std::memcmp(a1.data(), b1.data(), frames * 4) == 0);
  float peak = 0;
  for (float v : a0) peak = std::max(peak, std::fabs(v));
  CHECK(peak > 0.01f, "peak %f: nothing came out", peak);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::printf("usage: %s <Kestrune.dll> <Kestrune.vst3> <reference folder or -> [<Kestrune.clap>]\n", argv[0]);
    return 2;
  }
  gVst2Path = argv[1];
  gVst3Path = argv[2];
  if (argc > 4) gClapPath = argv[4];
  if (std::strcmp(argv[3], "-") != 0) gReferenceFolder = argv[3];
  Runner& r = Runner::Get();
  r.Run("Vst2ModuleReportsKestruneIdentityAndParameterNames", Vst2Identity);
  r.Run("Vst2InstancesOpenedAndClosedInAnyOrderKeepTheirOwnValues", Vst2InstancesComeAndGo);
  r.Run("Vst3ModuleOffersKestruneAndItsStateMovesToAnotherInstance", Vst3IdentityAndState);
  r.Run("BothModulesGiveTheSame32BitAudio", FloatPathAgrees);
  CaseData probe;
  if (LoadCase(kestrune_fingerprint::FingerprintCases().front(), &probe))
    r.Run("GoldenCasesAreBitIdenticalAcrossModulesAndMatchLinux", GoldenCases);  // CLAP too, where built
  else
    r.Skip("GoldenCasesAreBitIdenticalAcrossModulesAndMatchLinux",
           "no Linux reference (run kestrune-linux-reference)");
  return r.Finish();
}
