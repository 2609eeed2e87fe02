// The effect's editor on a web page: the modules' own editor (built here
// under another name, by web/module/CMakeLists.txt) once the page has handed
// in its images; before that, and in the AudioWorklet's instances, which
// never draw, none: IEffectWeb attaches its page link in its place.
#include "KestruneEditor.h"
#include "WebEditorAssets.h"

namespace kestrune {

IGraphics* BuildPictureEditor(IEffectBase* plug, int* meterControlIndex);

IGraphics* BuildEditor(IEffectBase* plug, int* meterControlIndex) {
  if (EditorImagesHandedIn()) return BuildPictureEditor(plug, meterControlIndex);
  if (meterControlIndex) *meterControlIndex = kControlMeter;
  return nullptr;
}

}  // namespace kestrune
