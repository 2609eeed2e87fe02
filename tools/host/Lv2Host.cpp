// Lv2Host: kestrune-render's LV2 host, through lilv as Linux LV2 hosts load
// plug-ins: the bundle's data says what the plug-in is and which ports it
// has; the module is only instantiated and run. Control values are the
// ports' own (units as the bundle declares them); the state is the blob the
// plug-in's state extension saves.
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>
#include <lv2/units/units.h>
#include <lv2/urid/urid.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "Lv2UridMap.h"
#include "PluginHost.h"
#include "lv2/PortValuesExtension.h"

namespace render {
namespace {

constexpr const char* kPluginName = "Kestrune";
constexpr float kMaxListedSteps = 256;

struct ControlPort {
  uint32_t index = 0;
  std::string name, unit;
  float minimum = 0, maximum = 1, defaultValue = 0;
  bool toggled = false, integer = false;
  std::vector<std::pair<float, std::string>> scalePoints;
};

std::string UnitSymbol(const std::string& unitUri) {
  static const std::map<std::string, std::string> kSymbols = {
      {LV2_UNITS__db, "dB"}, {LV2_UNITS__ms, "ms"}, {LV2_UNITS__hz, "Hz"}, {LV2_UNITS__pc, "%"},
      {LV2_UNITS__s, "s"},   {LV2_UNITS__khz, "kHz"}};
  auto found = kSymbols.find(unitUri);
  return found != kSymbols.end() ? found->second : std::string();
}

std::string Trimmed(const std::string& text) {
  const size_t start = text.find_first_not_of(" \t");
  if (start == std::string::npos) return "";
  return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

class Lv2Host : public PluginHost {
 public:
  Lv2Host() : world_(lilv_world_new()) {}
  ~Lv2Host() override {
    if (instance_) {
      if (active_) lilv_instance_deactivate(instance_);
      lilv_instance_free(instance_);
    }
    lilv_world_free(world_);
  }

  // `path`: the bundle folder, or a file inside it (its module).
  bool Load(const std::string& path, std::string& error) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
      error = "cannot open LV2 bundle '" + path + "': " + strerror(errno);
      return false;
    }
    std::string folder = S_ISDIR(status.st_mode) ? path : path.substr(0, path.find_last_of('/') + 1);
    if (folder.empty()) folder = ".";
    char* real = realpath(folder.c_str(), nullptr);
    if (!real) {
      error = "cannot open LV2 bundle '" + path + "': " + strerror(errno);
      return false;
    }
    const std::string bundle = std::string(real) + "/";
    free(real);
    LilvNode* bundleUri = lilv_new_file_uri(world_, nullptr, bundle.c_str());
    lilv_world_load_bundle(world_, bundleUri);
    const LilvPlugins* plugins = lilv_world_get_all_plugins(world_);
    LILV_FOREACH (plugins, i, plugins) {
      const LilvPlugin* candidate = lilv_plugins_get(plugins, i);
      if (!lilv_node_equals(lilv_plugin_get_bundle_uri(candidate), bundleUri)) continue;
      LilvNode* name = lilv_plugin_get_name(candidate);
      const bool ours = name && std::string(lilv_node_as_string(name)) == kPluginName;
      lilv_node_free(name);
      if (ours) plugin_ = candidate;
    }
    lilv_node_free(bundleUri);
    if (!plugin_) {
      error = "'" + path + "' is not an LV2 bundle with the Kestrune plug-in";
      return false;
    }
    return DescribePorts(error);
  }

  const char* FormatName() const override { return "LV2"; }
  std::string PluginName() const override {
    LilvNode* name = lilv_plugin_get_name(plugin_);
    LilvNode* author = lilv_plugin_get_author_name(plugin_);
    std::string text = name ? lilv_node_as_string(name) : "";
    if (author) text += std::string(" by ") + lilv_node_as_string(author);
    lilv_node_free(name);
    lilv_node_free(author);
    return text;
  }

  bool Prepare(double sampleRate, int maxBlockFrames, bool doublePrecision, bool sidechainConnected,
               std::string& error) override {
    if (doublePrecision) {
      error = "the LV2 plug-in processes 32-bit samples only";
      return false;
    }
    maxBlock_ = std::max(maxBlockFrames, 1);
    const LV2_URID intType = Map(LV2_ATOM__Int);
    options_[0] = {LV2_OPTIONS_INSTANCE, 0, Map(LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t), intType,
                   &maxBlock_};
    options_[1] = {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
    optionsFeature_ = {LV2_OPTIONS__options, options_};
    const LV2_Feature* features[] = {&urids_.mapFeature, &urids_.unmapFeature, &optionsFeature_, nullptr};
    instance_ = lilv_plugin_instantiate(plugin_, sampleRate, features);
    if (!instance_) {
      error = "the LV2 plug-in refused to start at " + std::to_string(sampleRate) + " Hz";
      return false;
    }
    for (auto& buffer : inputs_) buffer.assign(static_cast<size_t>(maxBlock_), 0.0f);
    for (auto& buffer : outputs_) buffer.assign(static_cast<size_t>(maxBlock_), 0.0f);
    for (size_t c = 0; c < audioIn_.size(); ++c) {
      // An external sidechain only when there is one: the ports are optional.
      const bool connected = c < 2 || sidechainConnected;
      lilv_instance_connect_port(instance_, audioIn_[c], connected ? inputs_[c].data() : nullptr);
    }
    for (size_t c = 0; c < audioOut_.size(); ++c)
      lilv_instance_connect_port(instance_, audioOut_[c], outputs_[c].data());
    for (uint32_t p = 0; p < portValues_.size(); ++p)
      if (isControl_[p]) lilv_instance_connect_port(instance_, p, &portValues_[p]);
    lilv_instance_activate(instance_);
    active_ = true;
    return true;
  }
  bool SupportsDoublePrecision() const override { return false; }

  std::vector<ParamDescription> Parameters() override {
    std::vector<ParamDescription> list;
    for (size_t i = 0; i < controls_.size(); ++i) {
      const ControlPort& c = controls_[i];
      ParamDescription d;
      d.index = static_cast<int>(i);
      d.id = c.index;
      d.name = c.name;
      d.unit = c.unit;
      d.minText = Shown(c, c.minimum);
      d.maxText = Shown(c, c.maximum);
      d.defaultText = Shown(c, c.defaultValue);
      d.currentText = Shown(c, portValues_[c.index]);
      // A port of steps lists each step as shown, as the VST hosts do: a
      // bare number then means what a step shows (RATIO=8 is 8:1), never
      // the port's index (RATIO=1).
      if ((c.toggled || c.integer) && c.maximum - c.minimum <= kMaxListedSteps) {
        for (float step = c.minimum; step <= c.maximum; step += 1.0f) d.choices.push_back(Shown(c, step));
      }
      list.push_back(d);
    }
    return list;
  }

  bool ParseText(int index, const std::string& text, double& normalized) override {
    float value = 0;
    if (!Parse(index, text, value)) return false;
    const ControlPort& c = controls_[static_cast<size_t>(index)];
    normalized = c.maximum > c.minimum ? (value - c.minimum) / (c.maximum - c.minimum) : 0.0;
    return true;
  }

  bool SetParameterText(int index, const std::string& text, std::string& error) override {
    float value = 0;
    if (!Parse(index, text, value)) {
      error = "not a value the parameter accepts";
      return false;
    }
    portValues_[controls_[static_cast<size_t>(index)].index] = value;
    return true;
  }

  double NormalizedValue(int index) override {
    if (index < 0 || index >= static_cast<int>(controls_.size())) return 0.0;
    const ControlPort& c = controls_[static_cast<size_t>(index)];
    return c.maximum > c.minimum ? (portValues_[c.index] - c.minimum) / (c.maximum - c.minimum) : 0.0;
  }

  void Process(const double* const* inputs, double* const* outputs, int frames) override {
    const size_t n = static_cast<size_t>(std::min(frames, maxBlock_));
    for (size_t c = 0; c < inputs_.size(); ++c)
      for (size_t f = 0; f < n; ++f) inputs_[c][f] = static_cast<float>(inputs[c][f]);
    lilv_instance_run(instance_, static_cast<uint32_t>(n));
    for (size_t c = 0; c < outputs_.size(); ++c)
      for (size_t f = 0; f < n; ++f) outputs[c][f] = outputs_[c][f];
  }

  bool GetState(std::vector<uint8_t>& blob, std::string& error) override {
    const LV2_State_Interface* state = StateInterface();
    blob.clear();
    if (!state || state->save(lilv_instance_get_handle(instance_), Store, &blob, LV2_STATE_IS_POD, nullptr) !=
                      LV2_STATE_SUCCESS ||
        blob.empty()) {
      error = "the LV2 plug-in saved no state";
      return false;
    }
    return true;
  }

  // The plug-in's values change, and the ports then show them, as a host
  // restoring a saved state sets the state's port values: a value set after
  // it is a change, even back to what the port held before the restore.
  bool SetState(const std::vector<uint8_t>& blob, std::string& error) override {
    const LV2_State_Interface* state = StateInterface();
    restoring_ = &blob;
    const LV2_State_Status status =
        state ? state->restore(lilv_instance_get_handle(instance_), Retrieve, this, 0, nullptr)
              : LV2_STATE_ERR_NO_FEATURE;
    restoring_ = nullptr;
    if (status != LV2_STATE_SUCCESS) {
      error = "the LV2 plug-in refused the state";
      return false;
    }
    // A bare blob has no port values: the plug-in says what they are.
    const auto* values = static_cast<const KestrunePortValuesInterface*>(
        lilv_instance_get_extension_data(instance_, KESTRUNE_PORTVALUES__interface));
    for (const ControlPort& c : controls_) {
      float value = 0;
      if (values && values->portValue && values->portValue(lilv_instance_get_handle(instance_), c.index, &value))
        portValues_[c.index] = value;
    }
    return true;
  }

 private:
  bool DescribePorts(std::string& error) {
    LilvNode* audio = lilv_new_uri(world_, LV2_CORE__AudioPort);
    LilvNode* control = lilv_new_uri(world_, LV2_CORE__ControlPort);
    LilvNode* input = lilv_new_uri(world_, LV2_CORE__InputPort);
    LilvNode* toggled = lilv_new_uri(world_, LV2_CORE__toggled);
    LilvNode* integer = lilv_new_uri(world_, LV2_CORE__integer);
    LilvNode* unit = lilv_new_uri(world_, LV2_UNITS__unit);
    const uint32_t count = lilv_plugin_get_num_ports(plugin_);
    portValues_.assign(count, 0.0f);
    isControl_.assign(count, false);
    for (uint32_t p = 0; p < count; ++p) {
      const LilvPort* port = lilv_plugin_get_port_by_index(plugin_, p);
      const bool in = lilv_port_is_a(plugin_, port, input);
      if (lilv_port_is_a(plugin_, port, audio)) {
        (in ? audioIn_ : audioOut_).push_back(p);
        continue;
      }
      if (!lilv_port_is_a(plugin_, port, control)) continue;
      isControl_[p] = true;
      LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
      lilv_port_get_range(plugin_, port, &def, &min, &max);
      portValues_[p] = def ? lilv_node_as_float(def) : 0.0f;
      if (in) {
        ControlPort c;
        c.index = p;
        LilvNode* name = lilv_port_get_name(plugin_, port);
        c.name = name ? lilv_node_as_string(name) : "";
        lilv_node_free(name);
        c.defaultValue = portValues_[p];
        c.minimum = min ? lilv_node_as_float(min) : 0.0f;
        c.maximum = max ? lilv_node_as_float(max) : 1.0f;
        c.toggled = lilv_port_has_property(plugin_, port, toggled);
        c.integer = lilv_port_has_property(plugin_, port, integer);
        if (LilvNodes* units = lilv_port_get_value(plugin_, port, unit)) {
          if (lilv_nodes_size(units) > 0) c.unit = UnitSymbol(lilv_node_as_uri(lilv_nodes_get_first(units)));
          lilv_nodes_free(units);
        }
        if (LilvScalePoints* points = lilv_port_get_scale_points(plugin_, port)) {
          LILV_FOREACH (scale_points, s, points) {
            const LilvScalePoint* point = lilv_scale_points_get(points, s);
            c.scalePoints.emplace_back(lilv_node_as_float(lilv_scale_point_get_value(point)),
                                       lilv_node_as_string(lilv_scale_point_get_label(point)));
          }
          lilv_scale_points_free(points);
          std::sort(c.scalePoints.begin(), c.scalePoints.end());
        }
        controls_.push_back(c);
      }
      lilv_node_free(def);
      lilv_node_free(min);
      lilv_node_free(max);
    }
    for (LilvNode* node : {audio, control, input, toggled, integer, unit}) lilv_node_free(node);
    if (audioIn_.size() != 4 || audioOut_.size() != 2) {
      error = "the LV2 plug-in does not have the stereo input, sidechain and output ports of Kestrune";
      return false;
    }
    return true;
  }

  // The value as hosts show a port: a scale point's label, on or off, or
  // the number with its unit.
  static std::string Shown(const ControlPort& c, float value) {
    for (const auto& point : c.scalePoints)
      if (point.first == value) return point.second;
    if (c.toggled) return value > 0 ? "on" : "off";
    char text[64];
    snprintf(text, sizeof text, c.integer ? "%.0f" : "%.2f", static_cast<double>(value));
    return c.unit.empty() ? text : std::string(text) + " " + c.unit;
  }

  // A scale point's label, on/off for a switch, or a number in the port's
  // unit with or without it (Hz also as kHz), held to the range.
  bool Parse(int index, const std::string& raw, float& value) const {
    if (index < 0 || index >= static_cast<int>(controls_.size())) return false;
    const ControlPort& c = controls_[static_cast<size_t>(index)];
    const std::string text = Trimmed(raw);
    for (const auto& point : c.scalePoints) {
      if (strcasecmp(point.second.c_str(), text.c_str()) == 0) {
        value = point.first;
        return true;
      }
    }
    if (c.toggled && (strcasecmp(text.c_str(), "on") == 0 || strcasecmp(text.c_str(), "off") == 0)) {
      value = strcasecmp(text.c_str(), "on") == 0 ? c.maximum : c.minimum;
      return true;
    }
    char* end = nullptr;
    double number = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !std::isfinite(number)) return false;
    const std::string suffix = Trimmed(end);
    if (!suffix.empty()) {
      if (c.unit == "Hz" && strcasecmp(suffix.c_str(), "kHz") == 0)
        number *= 1000.0;
      else if (strcasecmp(suffix.c_str(), c.unit.c_str()) != 0)
        return false;
    }
    value = static_cast<float>(std::min<double>(std::max<double>(number, c.minimum), c.maximum));
    return true;
  }

  const LV2_State_Interface* StateInterface() const {
    return instance_ ? static_cast<const LV2_State_Interface*>(
                           lilv_instance_get_extension_data(instance_, LV2_STATE__interface))
                     : nullptr;
  }
  static LV2_State_Status Store(LV2_State_Handle handle, uint32_t, const void* value, size_t size, uint32_t,
                                uint32_t) {
    auto* blob = static_cast<std::vector<uint8_t>*>(handle);
    blob->assign(static_cast<const uint8_t*>(value), static_cast<const uint8_t*>(value) + size);
    return LV2_STATE_SUCCESS;
  }
  static const void* Retrieve(LV2_State_Handle handle, uint32_t, size_t* size, uint32_t* type,
                              uint32_t* flags) {
    auto* self = static_cast<Lv2Host*>(handle);
    if (!self->restoring_) return nullptr;
    *size = self->restoring_->size();
    *type = self->Map(LV2_ATOM__Chunk);
    *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    return self->restoring_->data();
  }

  LV2_URID Map(const char* uri) { return urids_.Map(uri); }

  LilvWorld* world_;
  const LilvPlugin* plugin_ = nullptr;
  LilvInstance* instance_ = nullptr;
  bool active_ = false;
  host::Lv2UridMap urids_;
  LV2_Feature optionsFeature_{};
  LV2_Options_Option options_[2] = {};
  int32_t maxBlock_ = 0;
  std::vector<uint32_t> audioIn_, audioOut_;
  std::vector<std::vector<float>> inputs_{4}, outputs_{2};
  std::vector<float> portValues_;
  std::vector<bool> isControl_;
  std::vector<ControlPort> controls_;
  const std::vector<uint8_t>* restoring_ = nullptr;
};

}  // namespace

std::unique_ptr<PluginHost> LoadLv2(const std::string& path, std::string& error) {
  return LoadWith<Lv2Host>(path, error);
}

}  // namespace render
