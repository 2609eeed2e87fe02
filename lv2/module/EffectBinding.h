// Binds the Kestrune effect to the LV2 binding for the LV2 module.
#pragma once

#include "IEffectLV2.h"

using EffectBinding = IEffectLV2;
using EffectCreationArg = const Lv2CreationArg&;
