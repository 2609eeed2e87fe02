// Binds the Kestrune effect to the CLAP binding for the CLAP module.
#pragma once

#include "IEffectCLAP.h"

using EffectBinding = IEffectCLAP;
using EffectCreationArg = const ClapCreationArg&;
