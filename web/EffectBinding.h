// Binds the effect to a web page: Kestrune derives from IEffectWeb and is
// constructed with the API number of the format whose state it keeps.
#pragma once

#include "IEffectWeb.h"

using EffectBinding = IEffectWeb;
using EffectCreationArg = int;
