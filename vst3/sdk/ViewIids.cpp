// Interface IDs the SDK subset declares but defines nowhere: the editor view
// interfaces, whose definitions normally come with the SDK's module main.
#include "pluginterfaces/gui/iplugview.h"

namespace Steinberg {
DEF_CLASS_IID(IPlugView)
DEF_CLASS_IID(IPlugFrame)
}  // namespace Steinberg
