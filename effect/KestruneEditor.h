// The Kestrune editor: a fixed 912 x 287 picture made of the background
// image, filmstrip knobs and switches bound to the parameters, the
// gain-reduction meter and the version line. The controls are added in a fixed
// order, which is also their paint order and their index.
#pragma once

#include "IGraphics.h"

class IEffectBase;

namespace kestrune {

constexpr int kEditorWidth = 912;
constexpr int kEditorHeight = 287;
constexpr int kEditorFrameRate = 25;

// Control indices of the editor, in the order they are added.
enum EditorControl {
  kControlBackground = 0,
  kControlBypass = 1,
  kControlSlam = 2,
  kControlInput = 3,
  kControlOutput = 4,
  kControlAttack = 5,
  kControlRelease = 6,
  kControlRatio = 7,
  kControlHpf = 8,
  kControlMix = 9,
  kControlHf = 10,
  kControlMidFreq = 11,
  kControlMidGain = 12,
  kControlOversampling = 13,
  kControlSidechain = 14,
  kControlMeter = 15,
  kControlVersion = 16,
};

// Builds the editor for `plug` (not yet attached). `meterControlIndex`
// receives the index of the meter control.
IGraphics* BuildEditor(IEffectBase* plug, int* meterControlIndex);

}  // namespace kestrune
