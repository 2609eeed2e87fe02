// The VST2 side of kestrune-render: loads a module through VSTPluginMain,
// checks that the AEffect is Kestrune, and drives it through the dispatcher
// and the processing functions, answering the plug-in's host callbacks as an
// offline host.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "FxpFile.h"
#include "PluginHost.h"
#include "Vst2Abi.h"
#include "Vst2ModuleHandle.h"

namespace render {
namespace {

using namespace vst2;

constexpr int32_t kKestruneUniqueId = FourChars('K', 'r', 'n', '1');
constexpr int32_t kOpcodeGetSampleRate = 16;  // audioMasterGetSampleRate
constexpr int32_t kOpcodeGetBlockSize = 17;   // audioMasterGetBlockSize
constexpr int kTextBytes = 256;  // plug-ins often write past the nominal 8/64 bytes

class Vst2Host;
Vst2Host* g_creating = nullptr;  // the host during VSTPluginMain, before AEffect exists

class Vst2Host : public PluginHost {
 public:
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
    auto entry = module_.Entry();
    g_creating = this;
    effect_ = entry(&Vst2Host::HostCallback);
    g_creating = nullptr;
    if (!effect_) {
      error = "VST2 module '" + path + "' could not create its plug-in";
      return false;
    }
    if (effect_->magic != kEffectMagic) {
      error = "'" + path + "' returned something that is not a VST2 plug-in";
      effect_ = nullptr;  // not safe to call into
      return false;
    }
    effect_->resvd1 = reinterpret_cast<intptr_t>(this);
    char name[kTextBytes] = {};
    Dispatch(effGetEffectName, 0, 0, name);
    name_ = name;
    if (effect_->uniqueID != kKestruneUniqueId) {
      error = "'" + path + "' is not the Kestrune plug-in (it is " +
              (name_.empty() ? std::string("another plug-in") : "'" + name_ + "'") + ")";
      Dispatch(effClose, 0, 0, nullptr);
      effect_ = nullptr;
      return false;
    }
    char vendor[kTextBytes] = {};
    Dispatch(effGetVendorString, 0, 0, vendor);
    vendor_ = vendor;
    Dispatch(effOpen, 0, 0, nullptr);
    open_ = true;
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
    sampleRate_ = sampleRate;
    blockSize_ = maxBlockFrames;
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
    Dispatch(effMainsChanged, 0, 1, nullptr);
    Dispatch(effStartProcess, 0, 0, nullptr);
    running_ = true;
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
    void* data = nullptr;
    intptr_t size = Dispatch(effGetChunk, 1, 0, &data);
    if (size <= 0 || !data) {
      error = "the plug-in did not hand over its state";
      return false;
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    blob.assign(bytes, bytes + size);
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
    std::vector<uint8_t> copy(blob);
    if (copy.empty() ||
        Dispatch(effSetChunk, 1, static_cast<intptr_t>(copy.size()), copy.data()) != 1) {
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
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
  }

  std::string Text(int32_t opcode, int32_t index) {
    char text[kTextBytes] = {};
    Dispatch(opcode, index, 0, text);
    text[kTextBytes - 1] = 0;
    return text;
  }

  // The current value as the plug-in displays it, with its unit.
  std::string Shown(int32_t index) {
    const std::string value = Text(effGetParamDisplay, index);
    const std::string unit = Text(effGetParamLabel, index);
    return unit.empty() ? value : value + " " + unit;
  }

  static intptr_t VSTCALLBACK HostCallback(AEffect* effect, int32_t opcode, int32_t index,
                                           intptr_t value, void* ptr, float opt) {
    (void)index;
    (void)value;
    (void)opt;
    Vst2Host* host = effect && effect->resvd1 ? reinterpret_cast<Vst2Host*>(effect->resvd1) : g_creating;
    switch (opcode) {
      case audioMasterVersion:
        return kVstVersion;
      case audioMasterGetTime: {
        if (!host) return 0;
        VstTimeInfo& t = host->timeInfo_;
        memset(&t, 0, sizeof(t));
        t.samplePos = static_cast<double>(host->position_);
        t.sampleRate = host->sampleRate_;
        t.tempo = 120.0;
        t.ppqPos = t.samplePos / host->sampleRate_ * 2.0;
        t.barStartPos = std::floor(t.ppqPos / 4.0) * 4.0;
        t.timeSigNumerator = 4;
        t.timeSigDenominator = 4;
        t.flags = kVstTransportPlaying | kVstTempoValid | kVstPpqPosValid | kVstBarsValid |
                  kVstTimeSigValid;
        return reinterpret_cast<intptr_t>(&t);
      }
      case audioMasterGetCurrentProcessLevel:
        return kVstProcessLevelOffline;
      case kOpcodeGetSampleRate:
        return host ? static_cast<intptr_t>(host->sampleRate_) : 0;
      case kOpcodeGetBlockSize:
        return host ? host->blockSize_ : 0;
      case audioMasterGetVendorString:
        if (ptr) strcpy(static_cast<char*>(ptr), "Kestrune");
        return 1;
      case audioMasterGetProductString:
        if (ptr) strcpy(static_cast<char*>(ptr), "kestrune-render");
        return 1;
      case audioMasterGetVendorVersion:
        return 10000;
      case audioMasterCanDo:
        return 0;
      default:
        return 0;  // automation, edits, display updates: nothing to do offline
    }
  }

  void Unload() {
    if (effect_) {
      if (running_) {
        Dispatch(effStopProcess, 0, 0, nullptr);
        Dispatch(effMainsChanged, 0, 0, nullptr);
      }
      Dispatch(effClose, 0, 0, nullptr);
      effect_ = nullptr;
    }
    module_.Unload();
  }

  host::Vst2ModuleHandle module_;
  AEffect* effect_ = nullptr;
  bool open_ = false;
  bool running_ = false;
  bool doublePrecision_ = false;
  double sampleRate_ = 44100;
  int blockSize_ = 1024;
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
