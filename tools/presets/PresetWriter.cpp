#include "PresetWriter.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "FxpFile.h"
#include "VstPresetFile.h"

namespace presets {
namespace {

constexpr size_t kValueBytes = sizeof(double);
constexpr size_t kChunkHeaderBytes = 8;  // chunk magic and version
constexpr size_t kBypassFlagBytes = 4;

// Values pass through the host's normalized form; a value within this
// distance of the intended one is the intended setting.
bool SameSetting(double a, double b) { return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b)); }

// A setting as the plug-in's text entry reads it: a step by its own text
// ("8:1", "On"; a bare number would be a value in the unit shown, not a step
// index), numbers in the unit it shows, so the negated ones (times in
// seconds, the HF boost) are typed as the positive quantity; all digits keep
// the value exact.
std::string SettingText(const kestrune::PresetSetting& setting, const render::ParamDescription& target) {
  const double step = std::round(setting.plainValue);
  if (!target.choices.empty() && step >= 0 && step < static_cast<double>(target.choices.size()))
    return target.choices[static_cast<size_t>(step)];
  char text[64];
  switch (setting.param) {
    case kestrune::kAttack:
    case kestrune::kRelease: snprintf(text, sizeof text, "%.17g s", -setting.plainValue); break;
    case kestrune::kHf: snprintf(text, sizeof text, "%.17g dB", -setting.plainValue); break;
    default: snprintf(text, sizeof text, "%.17g", setting.plainValue); break;
  }
  return text;
}

}  // namespace

bool ParameterValuesInState(const std::string& format, const presetfiles::Bytes& state,
                            std::vector<double>& values) {
  size_t begin = 0, end = state.size();
  if (format == "VST3") {
    if (end < kBypassFlagBytes) return false;
    end -= kBypassFlagBytes;
  } else if (format == "VST2") {
    begin = kChunkHeaderBytes;
  } else {
    return false;
  }
  if (end < begin || (end - begin) % kValueBytes != 0 || end == begin) return false;
  values.clear();
  for (size_t at = begin; at < end; at += kValueBytes) {
    double value = 0;
    memcpy(&value, state.data() + at, kValueBytes);  // little-endian on every target we build
    values.push_back(value);
  }
  return true;
}

bool ApplyFactoryPreset(render::PluginHost& host, const kestrune::FactoryPreset& preset,
                        std::string& error) {
  const std::vector<render::ParamDescription> params = host.Parameters();
  for (int s = 0; s < preset.settingCount; ++s) {
    const kestrune::PresetSetting& setting = preset.settings[s];
    const render::ParamDescription* target = nullptr;
    for (const auto& p : params) {
      if (p.id == static_cast<uint32_t>(setting.param)) target = &p;
    }
    if (!target || !host.SetParameterText(target->index, SettingText(setting, *target), error)) {
      error = std::string(preset.name) + ": parameter " + std::to_string(setting.param) + " not set" +
              (error.empty() ? "" : ": " + error);
      return false;
    }
  }
  presetfiles::Bytes state;
  std::vector<double> values;
  if (!host.GetState(state, error)) return false;
  if (!ParameterValuesInState(host.FormatName(), state, values) || values.size() != kestrune::kParamCount) {
    error = std::string(preset.name) + ": the plug-in's state has an unexpected layout";
    return false;
  }
  for (int s = 0; s < preset.settingCount; ++s) {
    const kestrune::PresetSetting& setting = preset.settings[s];
    const double stored = values[static_cast<size_t>(setting.param)];
    if (!SameSetting(stored, setting.plainValue)) {
      error = std::string(preset.name) + ": parameter " + std::to_string(setting.param) + " became " +
              std::to_string(stored) + " instead of " + std::to_string(setting.plainValue);
      return false;
    }
  }
  return true;
}

bool MakeVstPresetFile(render::PluginHost& host, const std::string& classId, presetfiles::Bytes& file,
                       std::string& error) {
  presetfiles::VstPreset preset;
  preset.classId = classId;
  // Kestrune is a single-component effect whose state travels through the
  // edit controller (IComponent::getState writes nothing), so the component
  // chunk is empty and the controller chunk holds the state.
  if (!host.GetState(preset.controllerState, error)) return false;
  preset.hasControllerState = true;
  return presetfiles::WriteVstPreset(preset, file, error);
}

bool MakeFxpFile(render::PluginHost& host, int32_t pluginId, int32_t pluginVersion, int32_t paramCount,
                 const std::string& name, presetfiles::Bytes& file, std::string& error) {
  presetfiles::FxpProgram program;
  program.opaqueChunk = true;
  program.pluginId = pluginId;
  program.pluginVersion = pluginVersion;
  program.paramCount = paramCount;
  program.name = name;
  if (!host.GetState(program.chunk, error)) return false;  // effGetChunk, program chunk
  return presetfiles::WriteFxp(program, file, error);
}

}  // namespace presets
