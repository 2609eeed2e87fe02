#include "Lv2Extensions.h"

#include <cstring>
#include <new>

#include "IControl.h"
#include "IGraphics.h"
#include "InlineDisplay.h"
#include "Kestrune.h"

Lv2ModuleBinding::Lv2ModuleBinding(const Lv2CreationArg& arg, const EffectIdentity& identity)
    : IEffectLV2(arg, identity) {}
Lv2ModuleBinding::~Lv2ModuleBinding() = default;

namespace lv2extensions {

namespace {

InlineDisplayImageSurface* RenderInlineDisplay(LV2_Handle instance, uint32_t width,
                                               uint32_t height) {
  auto* plug = static_cast<Kestrune*>(instance);
  return plug && plug->inlineDisplay ? plug->inlineDisplay->Render(width, height) : nullptr;
}

// The editor's meter filmstrip, which the inline display shows too.
BitmapRef MeterImage(Kestrune& plug) {
  auto* editor = dynamic_cast<IGraphics*>(plug.Editor());
  auto* meter = editor ? dynamic_cast<IBitmapControl*>(editor->ControlAt(plug.meterControlIndex))
                       : nullptr;
  return meter ? meter->Image() : BitmapRef();
}

}  // namespace

bool Attach(Kestrune& plug, const LV2_Feature* const* features) {
  plug.inlineDisplay.reset(new (std::nothrow) InlineDisplay(MeterImage(plug)));
  if (!plug.inlineDisplay) return false;
  plug.inlineDisplay->FindHostFeature(features);
  return true;
}

const void* ExtensionData(const char* uri) {
  static const InlineDisplayInterface inlineDisplay = {RenderInlineDisplay};
  if (uri && std::strcmp(uri, KESTRUNE_INLINEDISPLAY__interface) == 0) return &inlineDisplay;
  return nullptr;
}

void AfterRun(Kestrune& plug) {
  if (plug.inlineDisplay) plug.inlineDisplay->MeterChanged(plug.path.state.meterState);
}

}  // namespace lv2extensions
