// The LV2 face of Kestrune's parameter table: the port layout, the stable
// port symbols and how a port value and a parameter's plain value map onto
// each other. The bundle's TTL generator, the plug-in binding and the UI all
// read it, so the TTL, the DSP and the editor cannot disagree.
//
// Port values are in the unit hosts show (PlugParam::HostPlainFromValue:
// milliseconds for ATTACK and RELEASE, the boost for HF, the step for
// stepped kinds), except the effect's bypass switch, which hosts see as the
// lv2:enabled port: 1 processes, 0 bypasses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "IEffectBase.h"
#include "KestruneIdentity.h"

namespace lv2ports {

constexpr const char* kPluginUri = "urn:marlowind:kestrune";
// The key the state extension stores the host-state blob under.
constexpr const char* kStateKeyUri = "urn:marlowind:kestrune#state";
// Factory preset URIs: this prefix and the preset's file stem.
constexpr const char* kPresetUriPrefix = "urn:marlowind:kestrune:preset:";
constexpr const char* kBinaryName = "Kestrune.so";
constexpr const char* kTtlName = "Kestrune.ttl";

// Port indices. Never reordered: hosts keep port indices in sessions.
enum : uint32_t {
  kMainInLeft = 0,
  kMainInRight = 1,
  kSideInLeft = 2,
  kSideInRight = 3,
  kOutLeft = 4,
  kOutRight = 5,
  kFirstParamPort = 6,  // parameter i is port kFirstParamPort + i
  kGainReductionPort = kFirstParamPort + kestrune::kParamCount,
  kPortCount = kGainReductionPort + 1,
};

struct AudioPort {
  uint32_t index;
  const char* symbol;
  const char* name;
  bool input;
  bool sidechain;
};
extern const AudioPort kAudioPorts[6];

// Gain reduction in dB (0 = none), from the editor meter's reading.
constexpr const char* kGainReductionSymbol = "gain_reduction";
constexpr float kMaxGainReductionDb = 60.0f;
float GainReductionDb(double meterReading);

enum class PortUnit { None, Decibels, Milliseconds, Hertz, Percent };

struct ScalePoint {
  double value;
  std::string label;
};

struct ControlPort {
  uint32_t index = 0;
  std::string symbol;
  std::string name;
  double minimum = 0, maximum = 1, defaultValue = 0;
  PortUnit unit = PortUnit::None;
  bool toggled = false;
  bool integer = false;
  bool enumeration = false;
  bool logarithmic = false;  // a frequency: hosts' sliders move in octaves
  bool enabledDesignation = false;  // the effect's bypass, inverted
  std::vector<ScalePoint> scalePoints;
};

// The stable symbol of parameter `index`'s port: sessions and presets name
// ports by symbol, so these never follow a renamed parameter.
const char* ParamSymbol(int index);
// True for a valid LV2 symbol: [_a-zA-Z][_a-zA-Z0-9]*.
bool IsValidSymbol(const std::string& symbol);

// Parameter `index` of `plug` as a control input port.
ControlPort DescribeParamPort(const IEffectBase& plug, int index);

// The port value that shows `plain` (any plain value, constrained first).
float PortValueFor(const IEffectBase& plug, int index, double plain);
// The plain value a port value selects: the port value read as the
// shortest decimal that is that float (what a host shows and stores: 0.8,
// not 0.800000011920929), then the step rule every path uses
// (PlugParam::Constrained). False for NaN or an unknown index.
bool PlainFromPortValue(const IEffectBase& plug, int index, float portValue, double* plain);

}  // namespace lv2ports
