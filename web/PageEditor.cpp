// The effect's editor on a web page. The page draws its own controls, made
// from the parameter table the module exports, so no picture editor is built
// here; IEffectWeb attaches its page link in its place.
#include "KestruneEditor.h"

namespace kestrune {

IGraphics* BuildEditor(IEffectBase*, int* meterControlIndex) {
  if (meterControlIndex) *meterControlIndex = kControlMeter;
  return nullptr;
}

}  // namespace kestrune
