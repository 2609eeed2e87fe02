// Binds the effect to the VST2 format: Kestrune derives from IEffectVST2 and
// is constructed with the host's callback.
#pragma once

#include "IEffectVST2.h"

using EffectBinding = IEffectVST2;
using EffectCreationArg = vst2::audioMasterCallback;
