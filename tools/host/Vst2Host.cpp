// The VST2 side of kestrune-render: loads a module through VSTPluginMain,
// checks that the AEffect is Kestrune, and drives it through the dispatcher
// and the processing functions, answering the plug-in's host callbacks as an
// offline host.
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "FxpFile.h"
#include "PluginHost.h"
#include "Vst2Abi.h"
#include "Vst2ModuleHandle.h"
#include "Vst2Plugin.h"

namespace render {
namespace {

using namespace vst2;

constexpr int32_t kKestruneUniqueId = FourChars('K', 'r', 'n', '1');

// The offline host: it answers the plug-in's callbacks with the render's
// sample rate, block size and a playing transport at 120 bpm.
class Vst2Host : public PluginHost, private host::Vst2HostCallback {
 public:
  Vst2Host() {
    product = "kestrune-render";
    vendor = "Kestrune";
    vendorVersion = 10000;
    processLevel = kVstProcessLevelOffline;
    sampleRate = 44100;
    blockSize = 1024;
  }
  ~Vst2Host() override { Unload(); }

  bool Load(const std::string& path, std::string& error) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
      error = "cannot load VST2 module '" + path + "': no such file";
      return false;
    }
    if (S_ISDIR(status.st_mode)) {
      error = "'" + path + "' is a folder, not a VST2 module (a VST3 bundle loads with --format vst3)";
      return false;
    }
    if (!module_.Load(path, error)) return false;
    std::string reason;
    if (!plugin_.Create(module_.Entry(), *this, true, reason)) {
      error = "VST2 module '" + path + "': " + reason;
      return false;
    }
    name_ = plugin_.Text(effGetEffectName, 0);
    if (plugin_.effect->uniqueID != kKestruneUniqueId) {
      error = "'" + path + "' is not the Kestrune plug-in (it is " +
              (name_.empty() ? std::string("another plug-in") : "'" + name_ + "'") + ")";
      plugin_.Close();
      return false;
    }
    vendor_ = plugin_.Text(effGetVendorString, 0);
    plugin_.Dispatch(effOpen);
    return true;
  }

  const char* FormatName() const override { return "VST2"; }
  std::string PluginName() const override {
    return name_ + (vendor_.empty() ? "" : " by " + vendor_);
  }

  bool SupportsDoublePrecision() const override {
    return effect_ && (effect_->flags & effFlagsCanDoubleReplacing) && effect_->processDoubleReplacing;
  }

  bool Prepare(double sampleRate, int maxBlockFrames, bool doublePrecision,
               bool sidechainConnected, std::string& error) override {
    if (sidechainConnected && effect_->numInputs < 4) {
      error = "the plug-in has no sidechain input";
      return false;
    }
    if (!(effect_->flags & effFlagsCanReplacing) || !effect_->processReplacing) {
      error = "the plug-in cannot process in replacing mode";
      return false;
    }
    doublePrecision_ = doublePrecision;
    this->sampleRate = sampleRate;
    blockSize = maxBlockFrames;
    Dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRate));
    Dispatch(effSetBlockSize, 0, maxBlockFrames, nullptr);
    VstSpeakerArrangement inputs;
    VstSpeakerArrangement outputs;
    memset(&inputs, 0, sizeof(inputs));
    memset(&outputs, 0, sizeof(outputs));
    inputs.type = sidechainConnected ? kSpeakerArrUserDefined : kSpeakerArrStereo;
    inputs.numChannels = sidechainConnected ? 4 : 2;
    outputs.type = kSpeakerArrStereo;
    outputs.numChannels = 2;
    Dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&inputs), &outputs);
    plugin_.StartProcess();
    const size_t frames = static_cast<size_t>(maxBlockFrames);
    const size_t inputCount = static_cast<size_t>(std::max(effect_->numInputs, 4));
    const size_t outputCount = static_cast<size_t>(std::max(effect_->numOutputs, 2));
    floatIn_.assign(inputCount, std::vector<float>(frames));
    floatOut_.assign(outputCount, std::vector<float>(frames));
    doubleIn_.assign(inputCount, std::vector<double>(frames));
    doubleOut_.assign(outputCount, std::vector<double>(frames));
    return true;
  }

  std::vector<ParamDescription> Parameters() override {
    std::vector<ParamDescription> list;
    for (int32_t i = 0; i < effect_->numParams; ++i) {
      const size_t at = static_cast<size_t>(i);
      ParamDescription d;
      d.index = i;
      d.id = static_cast<uint32_t>(i);
      d.name = Text(effGetParamName, i);
      d.unit = Text(effGetParamLabel, i);
      d.currentText = Shown(i);
      if (at < recorded_.size()) {
        d.minText = recorded_[at].minText;
        d.maxText = recorded_[at].maxText;
        d.defaultText = recorded_[at].defaultText;
        d.choices = recorded_[at].choices;
      }
      list.push_back(d);
    }
    return list;
  }

  bool ParseText(int index, const std::string& text, double& normalized) override {
    std::string ignored;
    if (!SetParameterText(index, text, ignored)) return false;
    normalized = effect_->getParameter(effect_, index);
    return true;
  }

  bool SetParameterText(int index, const std::string& text, std::string& error) override {
    if (index < 0 || index >= effect_->numParams) {
      error = "no such parameter";
      return false;
    }
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back(0);
    // The plug-in's own text entry: it converts and clamps as for typed text.
    if (Dispatch(effString2Parameter, index, 0, buffer.data()) != 1) {
      error = "not a value the parameter accepts";
      return false;
    }
    return true;
  }

  double NormalizedValue(int index) override {
    return index >= 0 && index < effect_->numParams ? effect_->getParameter(effect_, index) : 0.0;
  }

  void Process(const double* const* inputs, double* const* outputs, int frames) override {
    const size_t inputCount = static_cast<size_t>(effect_->numInputs);
    const size_t outputCount = static_cast<size_t>(effect_->numOutputs);
    if (doublePrecision_) {
      std::vector<double*>& in = doubleInPtrs_;
      std::vector<double*>& out = doubleOutPtrs_;
      in.assign(inputCount, nullptr);
      out.assign(outputCount, nullptr);
      for (size_t c = 0; c < inputCount; ++c) {
        in[c] = doubleIn_[c].data();
        const double* source = c < 4 ? inputs[c] : nullptr;
        for (int n = 0; n < frames; ++n) in[c][n] = source ? source[n] : 0.0;
      }
      for (size_t c = 0; c < outputCount; ++c) out[c] = doubleOut_[c].data();
      effect_->processDoubleReplacing(effect_, in.data(), out.data(), frames);
      for (size_t c = 0; c < 2 && c < outputCount; ++c) {
        for (int n = 0; n < frames; ++n) outputs[c][n] = out[c][n];
      }
    } else {
      std::vector<float*>& in = floatInPtrs_;
      std::vector<float*>& out = floatOutPtrs_;
      in.assign(inputCount, nullptr);
      out.assign(outputCount, nullptr);
      for (size_t c = 0; c < inputCount; ++c) {
        in[c] = floatIn_[c].data();
        const double* source = c < 4 ? inputs[c] : nullptr;
        for (int n = 0; n < frames; ++n) in[c][n] = source ? static_cast<float>(source[n]) : 0.0f;
      }
      for (size_t c = 0; c < outputCount; ++c) out[c] = floatOut_[c].data();
      effect_->processReplacing(effect_, in.data(), out.data(), frames);
      for (size_t c = 0; c < 2 && c < outputCount; ++c) {
        for (int n = 0; n < frames; ++n) outputs[c][n] = out[c][n];
      }
    }
    position_ += frames;
  }

  bool GetState(std::vector<uint8_t>& blob, std::string& error) override {
    blob = plugin_.Chunk(1);
    if (blob.empty()) {
      error = "the plug-in did not hand over its state";
      return false;
    }
    return true;
  }

  bool PresetFile(const std::string& program, std::vector<uint8_t>& file, std::string& error) override {
    presetfiles::FxpProgram fxp;
    fxp.opaqueChunk = true;
    fxp.pluginId = effect_->uniqueID;
    fxp.pluginVersion = effect_->version;
    fxp.paramCount = effect_->numParams;
    fxp.name = program.substr(0, presetfiles::kFxpNameSize - 1);
    return GetState(fxp.chunk, error) && presetfiles::WriteFxp(fxp, file, error);
  }

  bool SetState(const std::vector<uint8_t>& blob, std::string& error) override {
    if (blob.empty() || plugin_.SetChunk(1, blob) != 1) {
      error = "the plug-in refused the state (damaged, or not saved by this VST2 plug-in)";
      return false;
    }
    return true;
  }

  // Right after effOpen: each parameter's default and the texts at both
  // ends of its range, each with the unit the plug-in gives at that value.
  // VST2 can show a value only by setting it, so the ends are visited and
  // the state is then put back from the plug-in's own chunk, exactly.
  void RecordTexts() {
    recorded_.assign(static_cast<size_t>(std::max(effect_->numParams, 0)), Recorded{});
    for (int32_t i = 0; i < effect_->numParams; ++i) recorded_[static_cast<size_t>(i)].defaultText = Shown(i);
    std::vector<uint8_t> saved;
    std::string ignored;
    if (!GetState(saved, ignored)) return;
    for (int32_t i = 0; i < effect_->numParams; ++i) {
      effect_->setParameter(effect_, i, 0.0f);
      recorded_[static_cast<size_t>(i)].minText = Shown(i);
      effect_->setParameter(effect_, i, 1.0f);
      recorded_[static_cast<size_t>(i)].maxText = Shown(i);
      VstParameterProperties properties;
      memset(&properties, 0, sizeof(properties));
      if (Dispatch(effGetParameterProperties, i, 0, &properties) != 1) continue;
      int steps = 0;
      if (properties.flags & kVstParameterIsSwitch) steps = 1;
      if ((properties.flags & kVstParameterUsesIntegerMinMax) && (properties.flags & kVstParameterUsesIntStep) &&
          properties.stepInteger > 0) {
        steps = (properties.maxInteger - properties.minInteger) / properties.stepInteger;
      }
      for (int step = 0; steps > 0 && steps <= 1000 && step <= steps; ++step) {
        effect_->setParameter(effect_, i, static_cast<float>(step) / static_cast<float>(steps));
        recorded_[static_cast<size_t>(i)].choices.push_back(Shown(i));
      }
    }
    SetState(saved, ignored);
  }

 private:
  intptr_t Dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt = 0) {
    return plugin_.Dispatch(opcode, index, value, ptr, opt);
  }
  std::string Text(int32_t opcode, int32_t index) { return plugin_.Text(opcode, index); }

  // The current value as the plug-in displays it, with its unit.
  std::string Shown(int32_t index) {
    const std::string value = Text(effGetParamDisplay, index);
    const std::string unit = Text(effGetParamLabel, index);
    return unit.empty() ? value : value + " " + unit;
  }

  const VstTimeInfo* Time() override {
    VstTimeInfo& t = timeInfo_;
    memset(&t, 0, sizeof(t));
    t.samplePos = static_cast<double>(position_);
    t.sampleRate = sampleRate;
    t.tempo = 120.0;
    t.ppqPos = t.samplePos / sampleRate * 2.0;
    t.barStartPos = std::floor(t.ppqPos / 4.0) * 4.0;
    t.timeSigNumerator = 4;
    t.timeSigDenominator = 4;
    t.flags = kVstTransportPlaying | kVstTempoValid | kVstPpqPosValid | kVstBarsValid |
              kVstTimeSigValid;
    return &t;
  }

  void Unload() {
    plugin_.Close();
    module_.Unload();
  }

  host::Vst2ModuleHandle module_;
  host::Vst2Plugin plugin_;
  AEffect*& effect_ = plugin_.effect;
  bool doublePrecision_ = false;
  int64_t position_ = 0;
  std::string name_, vendor_;
  struct Recorded {
    std::string minText, maxText, defaultText;
    std::vector<std::string> choices;
  };
  std::vector<Recorded> recorded_;
  VstTimeInfo timeInfo_;
  std::vector<std::vector<float>> floatIn_, floatOut_;
  std::vector<std::vector<double>> doubleIn_, doubleOut_;
  std::vector<float*> floatInPtrs_, floatOutPtrs_;
  std::vector<double*> doubleInPtrs_, doubleOutPtrs_;
};

}  // namespace

std::unique_ptr<PluginHost> LoadVst2(const std::string& path, std::string& error) {
  auto host = std::make_unique<Vst2Host>();
  if (!host->Load(path, error)) return nullptr;
  host->RecordTexts();
  return host;
}

}  // namespace render
