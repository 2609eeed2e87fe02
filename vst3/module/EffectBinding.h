// Binds the Kestrune effect to the VST3 binding for the VST3 module.
#pragma once

#include "IEffectVST3.h"

using EffectBinding = IEffectVST3;
// The host context the factory holds (may be null).
using EffectCreationArg = Steinberg::FUnknown*;
