// ClapHost: kestrune-render's CLAP host, through the host library's CLAP
// objects as a CLAP host loads plug-ins: clap_entry, the factory's first
// plug-in, its audio ports, params and state. Parameter values are the
// plug-in's own host values; changes go in as events with the next block,
// and the render runs offline (clap.render) where the plug-in offers it.
#include <strings.h>

#include <algorithm>
#include <cmath>

#include "ClapHostObjects.h"
#include "PluginHost.h"

namespace render {
namespace {

using namespace host;

class ClapHost : public PluginHost {
 public:
  ~ClapHost() override { instance_.reset(); }

  bool Load(const std::string& path, std::string& error) {
    if (!module_.Load(path, error)) return false;
    const clap_plugin_factory* factory = module_.Factory();
    if (!factory || factory->get_plugin_count(factory) == 0) {
      error = "CLAP module '" + path + "' offers no plug-in";
      return false;
    }
    const clap_plugin_descriptor* descriptor = factory->get_plugin_descriptor(factory, 0);
    if (!descriptor || !descriptor->id) {
      error = "CLAP module '" + path + "' describes no plug-in";
      return false;
    }
    name_ = descriptor->name ? descriptor->name : "";
    vendor_ = descriptor->vendor ? descriptor->vendor : "";
    instance_ = std::make_unique<ClapInstance>();
    if (!instance_->Create(module_, context_, descriptor->id, error)) return false;
    if (!instance_->params) {
      error = "CLAP plug-in '" + name_ + "' has no parameters extension";
      return false;
    }
    infos_ = instance_->ParamInfos();
    return true;
  }

  const char* FormatName() const override { return "CLAP"; }
  std::string PluginName() const override { return vendor_.empty() ? name_ : name_ + " by " + vendor_; }

  bool Prepare(double sampleRate, int maxBlockFrames, bool doublePrecision, bool sidechainConnected,
               std::string& error) override {
    if (maxBlockFrames <= 0) {
      error = "no block size";
      return false;
    }
    const auto* renderExt = static_cast<const clap_plugin_render*>(
        instance_->plugin->get_extension(instance_->plugin, CLAP_EXT_RENDER));
    if (renderExt && renderExt->set) renderExt->set(instance_->plugin, CLAP_RENDER_OFFLINE);
    if (!instance_->Activate(sampleRate, static_cast<uint32_t>(maxBlockFrames))) {
      error = "CLAP plug-in '" + name_ + "' refused to activate at " + std::to_string(sampleRate) + " Hz";
      return false;
    }
    sampleRate_ = sampleRate;
    doublePrecision_ = doublePrecision;
    sidechainConnected_ = sidechainConnected;
    const uint32_t frames = static_cast<uint32_t>(maxBlockFrames);
    floatBuffers_.Build(instance_->plugin, instance_->audioPorts, frames, false);
    doubleBuffers_.Build(instance_->plugin, instance_->audioPorts, frames, false);
    if (floatBuffers_.inputs.empty() || floatBuffers_.outputs.empty() ||
        floatBuffers_.inputs[0].size() < 2 || floatBuffers_.outputs[0].size() < 2) {
      error = "CLAP plug-in '" + name_ + "' has no stereo input and output";
      return false;
    }
    return true;
  }

  bool SupportsDoublePrecision() const override {
    for (int dir = 0; dir < 2; ++dir)
      for (uint32_t i = 0; instance_->audioPorts && i < instance_->audioPorts->count(instance_->plugin, dir == 0); ++i) {
        clap_audio_port_info info = {};
        if (!instance_->audioPorts->get(instance_->plugin, i, dir == 0, &info) ||
            !(info.flags & CLAP_AUDIO_PORT_SUPPORTS_64BITS))
          return false;
      }
    return instance_->audioPorts != nullptr;
  }

  std::vector<ParamDescription> Parameters() override {
    std::vector<ParamDescription> list;
    for (size_t i = 0; i < infos_.size(); ++i) {
      const clap_param_info& info = infos_[i];
      if (info.flags & (CLAP_PARAM_IS_HIDDEN | CLAP_PARAM_IS_READONLY)) continue;
      ParamDescription d;
      d.index = static_cast<int>(i);
      d.id = info.id;
      d.name = info.name;
      double current = info.default_value;
      instance_->ParamValue(info.id, &current);
      d.minText = Text(info, info.min_value);
      d.maxText = Text(info, info.max_value);
      d.defaultText = Text(info, info.default_value);
      d.currentText = Text(info, current);
      d.unit = Unit(d.currentText);
      if (info.flags & CLAP_PARAM_IS_STEPPED)
        for (double step = info.min_value; step <= info.max_value; step += 1.0) d.choices.push_back(Text(info, step));
      list.push_back(d);
    }
    return list;
  }

  bool ParseText(int index, const std::string& text, double& normalized) override {
    double value = 0;
    if (!ValueFor(index, text, value)) return false;
    normalized = Normalized(infos_[static_cast<size_t>(index)], value);
    return true;
  }

  bool SetParameterText(int index, const std::string& text, std::string& error) override {
    double value = 0;
    if (!ValueFor(index, text, value)) {
      error = "not a value the parameter accepts";
      return false;
    }
    pending_.AddParamValue(infos_[static_cast<size_t>(index)].id, value);
    return true;
  }

  double NormalizedValue(int index) override {
    if (index < 0 || static_cast<size_t>(index) >= infos_.size()) return 0.0;
    const clap_param_info& info = infos_[static_cast<size_t>(index)];
    double value = info.default_value;
    instance_->ParamValue(info.id, &value);
    return Normalized(info, value);
  }

  void Process(const double* const* inputs, double* const* outputs, int frames) override {
    if (doublePrecision_)
      ProcessWith(doubleBuffers_, inputs, outputs, frames);
    else
      ProcessWith(floatBuffers_, inputs, outputs, frames);
    pending_.Clear();
    position_ += frames;
  }

  bool GetState(std::vector<uint8_t>& blob, std::string& error) override {
    if (!instance_->Save(blob)) {
      error = "the CLAP plug-in did not save its state";
      return false;
    }
    return true;
  }

  bool SetState(const std::vector<uint8_t>& blob, std::string& error) override {
    if (!instance_->Load(blob)) {
      error = "the CLAP plug-in refused the state";
      return false;
    }
    instance_->RunMainThreadCallbacks();
    return true;
  }

 private:
  std::string Text(const clap_param_info& info, double value) const {
    char text[256] = {};
    if (!instance_->params->value_to_text(instance_->plugin, info.id, value, text, sizeof text))
      return "";
    return text;
  }

  // The unit after the number of a shown value, if any.
  static std::string Unit(const std::string& shown) {
    double number = 0;
    if (!ParseDisplayNumber(shown, number)) return "";
    const size_t space = shown.find_last_of(' ');
    return space == std::string::npos ? "" : shown.substr(space + 1);
  }

  static double Normalized(const clap_param_info& info, double value) {
    const double range = info.max_value - info.min_value;
    return range > 0 ? std::min(std::max((value - info.min_value) / range, 0.0), 1.0) : 0.0;
  }

  // The plug-in's own text entry, else a stepped parameter's step whose
  // text matches.
  bool ValueFor(int index, const std::string& text, double& value) {
    if (index < 0 || static_cast<size_t>(index) >= infos_.size()) return false;
    const clap_param_info& info = infos_[static_cast<size_t>(index)];
    double parsed = 0;
    if (instance_->params->text_to_value(instance_->plugin, info.id, text.c_str(), &parsed) &&
        std::isfinite(parsed)) {
      value = std::min(std::max(parsed, info.min_value), info.max_value);
      return true;
    }
    if (!(info.flags & CLAP_PARAM_IS_STEPPED)) return false;
    for (double step = info.min_value; step <= info.max_value; step += 1.0)
      if (strcasecmp(Text(info, step).c_str(), text.c_str()) == 0) {
        value = step;
        return true;
      }
    return false;
  }

  template <typename Sample>
  void ProcessWith(ClapAudioBuffers<Sample>& buffers, const double* const* inputs,
                   double* const* outputs, int frames) {
    const uint32_t n = static_cast<uint32_t>(frames);
    // Each channel's array looked up once, not per frame.
    auto copyIn = [n](Sample* to, const double* from) {
      for (uint32_t f = 0; f < n; ++f) to[f] = static_cast<Sample>(from[f]);
    };
    for (size_t c = 0; c < 2; ++c) copyIn(buffers.InputChannel(0, c), inputs[c]);
    // The sidechain port, when the plug-in has one: connected, or given no
    // buffers at all.
    if (buffers.inputBuffers.size() > 1) {
      if (sidechainConnected_) {
        for (size_t c = 0; c < std::min<size_t>(2, buffers.inputs[1].size()); ++c)
          copyIn(buffers.InputChannel(1, c), inputs[2 + c]);
      }
      buffers.inputBuffers[1].channel_count = sidechainConnected_ ? static_cast<uint32_t>(buffers.inputs[1].size()) : 0;
    }
    clap_event_transport transport = {};
    transport.header.size = sizeof transport;
    transport.header.type = CLAP_EVENT_TRANSPORT;
    transport.flags = CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_HAS_SECONDS_TIMELINE |
                      CLAP_TRANSPORT_HAS_TIME_SIGNATURE | CLAP_TRANSPORT_IS_PLAYING;
    transport.song_pos_seconds =
        static_cast<clap_sectime>(std::llround(position_ / sampleRate_ * static_cast<double>(CLAP_SECTIME_FACTOR)));
    transport.tempo = 120.0;
    transport.tsig_num = 4;
    transport.tsig_denom = 4;
    instance_->Process(buffers, n, pending_.List(), nullptr, &transport, position_);
    for (size_t c = 0; c < 2; ++c) {
      const Sample* out = buffers.OutputChannel(0, c);
      for (uint32_t f = 0; f < n; ++f) outputs[c][f] = static_cast<double>(out[f]);
    }
  }

  ClapModule module_;
  ClapHostContext context_;
  std::unique_ptr<ClapInstance> instance_;
  std::vector<clap_param_info> infos_;
  ClapAudioBuffers<float> floatBuffers_;
  ClapAudioBuffers<double> doubleBuffers_;
  ClapInputEvents pending_;
  std::string name_, vendor_;
  double sampleRate_ = 44100.0;
  bool doublePrecision_ = false;
  bool sidechainConnected_ = false;
  int64_t position_ = 0;
};

}  // namespace

std::unique_ptr<PluginHost> LoadClap(const std::string& path, std::string& error) {
  return LoadWith<ClapHost>(path, error);
}

}  // namespace render
