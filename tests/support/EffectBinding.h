// Binds the effect to the test binding for in-process tests.
#pragma once

#include "TestBinding.h"

using EffectBinding = TestBinding;
using EffectCreationArg = TestHost*;
