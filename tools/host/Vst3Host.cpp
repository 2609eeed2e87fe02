// The VST3 side of kestrune-render: loads a module through its exported
// entry (ModuleEntry, GetPluginFactory), creates the Kestrune class from the
// factory and drives it through IComponent, IAudioProcessor and
// IEditController, supplying the host objects a plug-in expects
// (IHostApplication, IComponentHandler, parameter queues, streams).
#include <dlfcn.h>
#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "PluginHost.h"
#include "Vst3HostObjects.h"
#include "Vst3Instance.h"
#include "Vst3ModuleHandle.h"
#include "VstPresetFile.h"
#include "pluginterfaces/base/funknown.h"
#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivsthostapplication.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"
#include "pluginterfaces/vst/vstspeaker.h"

namespace render {
namespace {

using namespace Steinberg;
using namespace Steinberg::Vst;

constexpr const char* kPluginClassName = "Kestrune";

std::string Utf16ToUtf8(const char16* text, size_t capacity) {
  std::string out;
  for (size_t i = 0; i < capacity && text[i]; ++i) {
    uint32_t c = static_cast<uint16_t>(text[i]);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < capacity && text[i + 1]) {
      uint32_t low = static_cast<uint16_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// ASCII-only is enough for what we send: numbers and list entries.
void Utf8ToString128(const std::string& text, String128 out) {
  size_t n = 0;
  for (; n < text.size() && n < 127; ++n) out[n] = static_cast<char16>(static_cast<unsigned char>(text[n]));
  out[n] = 0;
}

}  // namespace

std::string ModuleBinaryPath(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    std::string dir = path;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    std::string base = dir.substr(dir.find_last_of('/') + 1);
    std::string stem = base.substr(0, base.rfind(".vst3"));
    return dir + "/Contents/" + kVst3LinuxFolder + "/" + stem + ".so";
  }
  return path;
}

namespace {

class Vst3Host : public PluginHost {
 public:
  ~Vst3Host() override { Unload(); }

  bool Load(const std::string& path, std::string& error) {
    const std::string binary = ModuleBinaryPath(path);
    struct stat status;
    if (stat(binary.c_str(), &status) != 0) {
      error = "cannot load VST3 module '" + path + "': " +
              (binary == path ? std::string("no such file") : "no such file '" + binary + "'");
      return false;
    }
    if (!module_.Load(binary, path, error)) return false;
    factory_ = module_.Factory();
    PFactoryInfo factoryInfo;
    if (factory_->getFactoryInfo(&factoryInfo) == kResultOk) vendor_ = factoryInfo.vendor;
    const int32 classCount = factory_->countClasses();
    std::string offered;
    bool found = false;
    PClassInfo classInfo;
    for (int32 i = 0; i < classCount && !found; ++i) {
      PClassInfo info;
      if (factory_->getClassInfo(i, &info) != kResultOk) continue;
      if (strncmp(info.category, kVstAudioEffectClass, sizeof(info.category)) != 0) continue;
      std::string name(info.name, strnlen(info.name, sizeof(info.name)));
      if (name == kPluginClassName) {
        classInfo = info;
        found = true;
      } else {
        offered += (offered.empty() ? "" : ", ") + name;
      }
    }
    if (!found) {
      error = "'" + path + "' is not the Kestrune plug-in (it offers " +
              (offered.empty() ? std::string("no audio effect") : offered) + ")";
      return false;
    }
    memcpy(classId_, classInfo.cid, sizeof(classId_));
    if (!instance_.Create(factory_, classInfo.cid, "the Kestrune class in '" + path + "'", error)) {
      if (!instance_.component) error = "VST3 module '" + path + "' could not create the Kestrune plug-in";
      return false;
    }
    if (!instance_.Initialize(&hostApplication_, &componentHandler_, error)) {
      error = "the Kestrune plug-in in '" + path + "' failed to initialise";
      return false;
    }
    ReadParameterIds();
    return true;
  }

  const char* FormatName() const override { return "VST3"; }
  std::string PluginName() const override {
    return std::string(kPluginClassName) + (vendor_.empty() ? "" : " by " + vendor_);
  }

  bool SupportsDoublePrecision() const override {
    return instance_.processor && instance_.processor->canProcessSampleSize(kSample64) == kResultTrue;
  }

  bool Prepare(double sampleRate, int maxBlockFrames, bool doublePrecision,
               bool sidechainConnected, std::string& error) override {
    doublePrecision_ = doublePrecision;
    const int32 inputBuses = instance_.component->getBusCount(kAudio, kInput);
    if (sidechainConnected && inputBuses < 2) {
      error = "the plug-in has no sidechain input";
      return false;
    }
    std::vector<SpeakerArrangement> inputs(static_cast<size_t>(std::max(inputBuses, 1)),
                                           SpeakerArr::kStereo);
    SpeakerArrangement output = SpeakerArr::kStereo;
    if (instance_.processor->setBusArrangements(inputs.data(), static_cast<int32>(inputs.size()), &output,
                                       1) != kResultOk) {
      error = "the plug-in refused a stereo main input with a stereo sidechain";
      return false;
    }
    inputBusCount_ = static_cast<int32>(inputs.size());
    instance_.component->activateBus(kAudio, kInput, 0, true);
    instance_.component->activateBus(kAudio, kOutput, 0, true);
    if (inputBusCount_ > 1) instance_.component->activateBus(kAudio, kInput, 1, sidechainConnected);
    ProcessSetup setup;
    setup.processMode = kOffline;
    setup.symbolicSampleSize = doublePrecision ? kSample64 : kSample32;
    setup.maxSamplesPerBlock = maxBlockFrames;
    setup.sampleRate = sampleRate;
    if (instance_.processor->setupProcessing(setup) != kResultOk) {
      error = "the plug-in refused to process at " + std::to_string(sampleRate) + " Hz";
      return false;
    }
    sampleRate_ = sampleRate;
    if (instance_.component->setActive(true) != kResultOk) {
      error = "the plug-in could not be switched on";
      return false;
    }
    active_ = true;
    instance_.processor->setProcessing(true);  // optional for a plug-in; the answer does not matter
    processing_ = true;
    if (doublePrecision) {
      doubleIn_.Shape({2, 2}, maxBlockFrames);
      doubleOut_.Shape({2}, maxBlockFrames);
    } else {
      floatIn_.Shape({2, 2}, maxBlockFrames);
      floatOut_.Shape({2}, maxBlockFrames);
    }
    return true;
  }

  std::vector<ParamDescription> Parameters() override {
    std::vector<ParamDescription> list;
    const int32 count = instance_.controller->getParameterCount();
    for (int32 i = 0; i < count; ++i) {
      ParameterInfo info;
      if (instance_.controller->getParameterInfo(i, info) != kResultOk) continue;
      // The program change is the format's own switch, not a parameter of the
      // plug-in. The bypass is listed: it is the plug-in's BYPASS.
      if (info.flags & (ParameterInfo::kIsProgramChange | ParameterInfo::kIsHidden)) continue;
      ParamDescription d;
      d.index = i;
      d.id = info.id;
      d.name = Utf16ToUtf8(info.title, 128);
      d.unit = Utf16ToUtf8(info.units, 128);
      // A parameter the plug-in gives no display text for (its VST3 "Bypass"
      // switch) is the format's, not one of the plug-in's own.
      String128 probe = {};
      if (instance_.controller->getParamStringByValue(info.id, 0.0, probe) != kResultOk) continue;
      d.minText = Shown(info, 0.0);
      d.maxText = Shown(info, 1.0);
      d.defaultText = Shown(info, info.defaultNormalizedValue);
      d.currentText = Shown(info, instance_.controller->getParamNormalized(info.id));
      for (int32 step = 0; info.stepCount > 0 && step <= info.stepCount; ++step) {
        d.choices.push_back(Shown(info, static_cast<double>(step) / info.stepCount));
      }
      list.push_back(d);
    }
    return list;
  }

  bool ParseText(int index, const std::string& text, double& normalized) override {
    ParamID id = 0;
    std::string ignored;
    if (!IdFor(index, id, ignored)) return false;
    String128 wide;
    Utf8ToString128(text, wide);
    ParamValue parsed = 0;
    if (instance_.controller->getParamValueByString(id, wide, parsed) == kResultOk && parsed >= 0.0 && parsed <= 1.0) {
      normalized = parsed;
      return true;
    }
    // A stepped parameter: the step whose display text matches.
    ParameterInfo info;
    if (instance_.controller->getParameterInfo(index, info) != kResultOk) return false;
    for (int32 step = 0; info.stepCount > 0 && step <= info.stepCount; ++step) {
      const double value = static_cast<double>(step) / info.stepCount;
      if (strcasecmp(Text(id, value).c_str(), text.c_str()) == 0) {
        normalized = value;
        return true;
      }
    }
    return false;
  }

  bool SetParameterText(int index, const std::string& text, std::string& error) override {
    ParamID id = 0;
    if (!IdFor(index, id, error)) return false;
    double normalized = 0;
    if (!ParseText(index, text, normalized)) {
      error = "not a value the parameter accepts";
      return false;
    }
    Send(id, normalized);
    return true;
  }

  double NormalizedValue(int index) override {
    ParamID id = 0;
    std::string ignored;
    return IdFor(index, id, ignored) ? instance_.controller->getParamNormalized(id) : 0.0;
  }

  void Process(const double* const* inputs, double* const* outputs, int frames) override {
    ProcessContext context;
    memset(&context, 0, sizeof(context));
    context.state = ProcessContext::kPlaying | ProcessContext::kTempoValid |
                    ProcessContext::kTimeSigValid;
    context.sampleRate = sampleRate_;
    context.projectTimeSamples = position_;
    context.tempo = 120.0;
    context.timeSigNumerator = 4;
    context.timeSigDenominator = 4;
    if (doublePrecision_) RunBlock(doubleIn_, doubleOut_, inputs, outputs, frames, context);
    else RunBlock(floatIn_, floatOut_, inputs, outputs, frames, context);
    pending_.Clear();
    position_ += frames;
  }

  // Main input and sidechain in, main output out, through the plug-in's
  // own sample type.
  template <typename Sample>
  void RunBlock(host::BusBuffers<Sample>& in, host::BusBuffers<Sample>& out,
                const double* const* inputs, double* const* outputs, int frames,
                ProcessContext& context) {
    for (int c = 0; c < 4; ++c)
      for (int n = 0; n < frames; ++n) in.pointers[c / 2][c % 2][n] = static_cast<Sample>(inputs[c][n]);
    ProcessData data = host::BlockData(kOffline, frames, in, out,
                                       pending_.Empty() ? nullptr : &pending_, &context);
    data.numInputs = inputBusCount_;
    instance_.processor->process(data);
    for (int c = 0; c < 2; ++c)
      for (int n = 0; n < frames; ++n) outputs[c][n] = out.pointers[0][c][n];
  }

  bool GetState(std::vector<uint8_t>& blob, std::string& error) override {
    FlushParameters();
    host::MemoryStream stream;
    if (instance_.controller->getState(&stream) != kResultOk) {
      error = "the plug-in did not hand over its state";
      return false;
    }
    blob = stream.bytes;
    return true;
  }

  bool SetState(const std::vector<uint8_t>& blob, std::string& error) override {
    host::MemoryStream stream(blob);
    if (instance_.controller->setState(&stream) != kResultOk) {
      error = "the plug-in refused the state (wrong size or not saved by this VST3 plug-in)";
      return false;
    }
    return true;
  }

  bool PresetFile(const std::string&, std::vector<uint8_t>& file, std::string& error) override {
    // Kestrune's component and controller save the same state: both chunks
    // hold it (the SDK's PresetFile::loadPreset refuses an empty "Comp").
    presetfiles::VstPreset preset;
    preset.classId = presetfiles::ClassIdText(classId_);
    if (!GetState(preset.controllerState, error)) return false;
    preset.componentState = preset.controllerState;  // the component saves the same state
    preset.hasControllerState = true;
    return presetfiles::WriteVstPreset(preset, file, error);
  }

 private:
  // A display text with the parameter's unit, when it has a fixed one.
  std::string Shown(const ParameterInfo& info, double normalized) {
    const std::string value = Text(info.id, normalized);
    const std::string unit = Utf16ToUtf8(info.units, 128);
    return unit.empty() ? value : value + " " + unit;
  }

  std::string Text(ParamID id, double normalized) {
    String128 text = {};
    if (instance_.controller->getParamStringByValue(id, normalized, text) != kResultOk) return "";
    return Utf16ToUtf8(text, 128);
  }

  void ReadParameterIds() {
    const int32 count = instance_.controller->getParameterCount();
    ids_.assign(static_cast<size_t>(std::max(count, 0)), 0);
    for (int32 i = 0; i < count; ++i) {
      ParameterInfo info;
      if (instance_.controller->getParameterInfo(i, info) == kResultOk) ids_[static_cast<size_t>(i)] = info.id;
    }
  }

  bool IdFor(int index, ParamID& id, std::string& error) {
    if (index < 0 || static_cast<size_t>(index) >= ids_.size()) {
      error = "no such parameter";
      return false;
    }
    id = ids_[static_cast<size_t>(index)];
    return true;
  }

  // Parameters reach the processor with the next block, and the controller
  // is told at once so its display follows.
  void Send(ParamID id, double normalized) {
    pending_.Set(id, normalized);
    instance_.controller->setParamNormalized(id, normalized);
  }

  // Delivers pending parameter changes with an empty block.
  void FlushParameters() {
    if (pending_.Empty() || !active_) return;
    double silence[1] = {0};
    double scratch[2][1];
    const double* in[4] = {silence, silence, silence, silence};
    double* out[2] = {scratch[0], scratch[1]};
    Process(in, out, 0);
  }

  void Unload() {
    if (instance_.processor && processing_) instance_.processor->setProcessing(false);
    if (instance_.component && active_) instance_.component->setActive(false);
    instance_.Release();
    factory_ = nullptr;
    module_.Unload();
  }

  host::Vst3ModuleHandle module_;
  IPluginFactory* factory_ = nullptr;  // the module's
  host::Vst3Instance instance_;
  uint8_t classId_[16] = {};
  bool active_ = false;
  bool processing_ = false;
  bool doublePrecision_ = false;
  int32 inputBusCount_ = 1;
  double sampleRate_ = 44100;
  int64 position_ = 0;
  std::string vendor_;
  std::vector<ParamID> ids_;
  host::HostApplication hostApplication_{"kestrune-render"};
  host::ComponentHandler componentHandler_;
  host::ParamChanges pending_;
  host::BusBuffers<float> floatIn_, floatOut_;
  host::BusBuffers<double> doubleIn_, doubleOut_;
};

}  // namespace

std::unique_ptr<PluginHost> LoadVst3(const std::string& path, std::string& error) {
  return LoadWith<Vst3Host>(path, error);
}

}  // namespace render
