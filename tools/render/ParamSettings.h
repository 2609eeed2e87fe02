// Parameters as kestrune-render's user names them: finding one by the
// plug-in's name, setting it from what a person writes (a plain number in
// the plug-in's own units, or a text with units that the plug-in's own text
// entry reads), and listing them all.
#pragma once

#include <string>
#include <vector>

#include "PluginHost.h"
#include "RenderOptions.h"

namespace render {

// The one parameter Kestrune leaves unnamed is its oversampling switch.
constexpr const char* kUnnamedAlias = "OVERSAMPLING";

// Exact name first, then ignoring case; "#N" or "N" picks it by index,
// OVERSAMPLING the unnamed one. Null with `error` when there is no such
// parameter or the name is ambiguous.
const ParamDescription* FindParam(const std::vector<ParamDescription>& params, const std::string& name,
                                  std::string& error);

// Sets NAME to VALUE. A plain number is checked against the range (a value
// beyond it is clamped with a warning; the ends themselves are inside) and
// set as a plain value; hexadecimal is refused; anything else goes to the
// plug-in's own text entry, which understands its display texts and units.
bool ApplySetting(PluginHost& host, const std::vector<ParamDescription>& params, const std::string& name,
                  const std::string& valueText, Failure& failure);

// Kestrune's OUTPUT gain in dB unless the plug-in is bypassed: a gain after
// the compressor that the level analysis takes out.
double MakeupGainDb(const std::vector<ParamDescription>& params);

void ListParams(PluginHost& host);

// The display texts of a parameter's range ends, lower value first.
std::string LowText(const ParamDescription& param);
std::string HighText(const ParamDescription& param);

void Warn(const std::string& message);
std::string FormatValue(double value);

}  // namespace render
