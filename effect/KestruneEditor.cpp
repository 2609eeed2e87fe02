#include "KestruneEditor.h"

#include "IControl.h"
#include "IGraphics.h"
#include "IGraphicsOffscreen.h"
#include "KestruneIdentity.h"

namespace kestrune {

namespace {

// Image resources of the editor.
enum ImageId {
  kImageAtk = 104,
  kImageBg = 105,
  kImageRel = 106,
  kImageVu = 107,
  kImageOut = 108,
  kImageRat = 109,
  kImageBy = 110,
  kImageHpf = 111,
  kImageMix = 112,
  kImageSlam = 113,
  kImageIn = 114,
  kImageMidf = 115,
  kImageMidg = 116,
  kImageHf = 117,
  kImageOver = 118,
  kImageSc = 119,
};

constexpr double kKnobGearing = 4.0;

int AddSwitch(IGraphics* g, IEffectBase* plug, int x, int y, int param, int image,
              const char* name) {
  BitmapRef bitmap = g->LoadImage(image, name, 2);
  return g->AddControl(new ISwitchControl(plug, x, y, param, bitmap, BlendNormal));
}

int AddKnob(IGraphics* g, IEffectBase* plug, int x, int y, int param, int image,
            const char* name, int frames) {
  BitmapRef bitmap = g->LoadImage(image, name, frames);
  return g->AddControl(
      new IKnobMultiControl(plug, x, y, param, bitmap, KnobVertical, kKnobGearing));
}

}  // namespace

IGraphics* BuildEditor(IEffectBase* plug, int* meterControlIndex) {
  IGraphics* g = CreatePlatformGraphics(plug, kEditorWidth, kEditorHeight, kEditorFrameRate);

  g->SetBackgroundImage(g->LoadImage(kImageBg, "resources/img/BG.png", 1));

  AddSwitch(g, plug, 777, 91, kBypass, kImageBy, "resources/img/BY.png");
  AddSwitch(g, plug, 777, 13, kSlam, kImageSlam, "resources/img/SLAM.png");
  AddKnob(g, plug, 93, 47, kInput, kImageIn, "resources/img/IN.png", 61);
  AddKnob(g, plug, 223, 47, kOutput, kImageOut, "resources/img/OUT.png", 61);
  AddKnob(g, plug, 367, 20, kAttack, kImageAtk, "resources/img/ATK.png", 61);
  AddKnob(g, plug, 367, 94, kRelease, kImageRel, "resources/img/REL.png", 61);
  AddKnob(g, plug, 479, 37, kRatio, kImageRat, "resources/img/RAT.png", 4);
  AddKnob(g, plug, 122, 174, kHpf, kImageHpf, "resources/img/HPF.png", 61);
  AddKnob(g, plug, 641, 174, kMix, kImageMix, "resources/img/MIX.png", 61);
  AddKnob(g, plug, 447, 174, kHf, kImageHf, "resources/img/HF.png", 61);
  AddKnob(g, plug, 337, 174, kMidFreq, kImageMidf, "resources/img/MIDF.png", 61);
  AddKnob(g, plug, 232, 174, kMidGain, kImageMidg, "resources/img/MIDG.png", 61);
  AddSwitch(g, plug, 0, 260, kOversampling, kImageOver, "resources/img/OVER.png");
  AddSwitch(g, plug, 812, 258, kSidechain, kImageSc, "resources/img/SC.png");

  BitmapRef meter = g->LoadImage(kImageVu, "resources/img/VU.png", 61);
  int meterIndex = g->AddControl(new IBitmapControl(plug, 592, 13, -1, meter, BlendNormal));
  if (meterControlIndex) *meterControlIndex = meterIndex;

  TextStyle version("Verdana", 14, ArgbColor(255, 255, 255, 255), TextNormal, AlignCentre);
  version.entryBackgroundColour = ArgbColor(255, 255, 255, 255);
  version.entryTextColour = ArgbColor(255, 0, 0, 0);
  g->AddControl(new ITextControl(plug, PixelRect(0, 210, 100, 230), version, "Version 3.1.0"));
  return g;
}

}  // namespace kestrune
