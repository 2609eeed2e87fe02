// Binds the effect to no host: Kestrune derives from IEffectHeadless and is
// constructed with the API number of the format it speaks for.
#pragma once

#include "IEffectHeadless.h"

using EffectBinding = IEffectHeadless;
using EffectCreationArg = int;
