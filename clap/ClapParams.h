// The values and texts a CLAP host sees for the plug-in's parameters.
//
// CLAP hosts hand plain doubles within the range a parameter declares. A
// stepped parameter (a switch, a choice) is declared in its own whole
// steps, minValue to maxValue, so hosts show and automate its steps; a
// continuous one is declared as the hosts' normalised value, 0 to 1
// (PlugParam::HostNormalizedFromPlain: rising with the value shown), the
// value VST3 and VST2 hosts hold, so an automation lane or a project value
// means the same sound in every format.
// Texts are the core's host texts (PlugParam::HostDisplay / HostParse), the
// same as VST2, VST3 and LV2 show and accept.
#pragma once

#include <cstddef>

#include "IEffectBase.h"
#include "PlugParam.h"

namespace clapparams {

// The range and default a host is told.
double MinValue(const PlugParam& param);
double MaxValue(const PlugParam& param);
double DefaultValue(const PlugParam& param);
// The host value of the parameter's current value.
double CurrentValue(const PlugParam& param);
// The host value of a hosts' normalised value (what the editor reports).
double ValueFromNormalized(const PlugParam& param, double normalized);
// The plain value a host value selects (limited to the range); NaN reads as
// the minimum.
double PlainFromValue(const PlugParam& param, double value);
// Applies a host value through the base's one operation. False for an
// unknown index or a NaN, which change nothing.
bool ApplyValue(IEffectBase& plug, int index, double value);
// The text a host shows for `value`, with its unit.
void ValueText(const PlugParam& param, double value, char* text, size_t size);
// The host value a typed text stands for; false when the core refuses it.
bool ValueFromText(const PlugParam& param, const char* text, double* value);

}  // namespace clapparams
