// The LV2 UI module's entry: one ui:X11UI, the Kestrune editor embedded in
// the host's window (ui:parent), driven by the host's idle calls
// (ui:idleInterface), its size told to the host (ui:resize, also when the
// editor changes size), drawn at the host's scale where it gives one
// (ui:scaleFactor). Only lv2ui_descriptor leaves the module.
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include "IGraphics.h"
#include "Lv2Ports.h"
#include "Lv2UiIdentity.h"
#include "Lv2UiPlug.h"
#include "X11EventPump.h"

namespace {

struct UiInstance {
  std::unique_ptr<Lv2UiPlug> plug;
  IGraphics* editor = nullptr;
  X11EventPump* pump = nullptr;
};

UiInstance* Ui(LV2UI_Handle handle) { return static_cast<UiInstance*>(handle); }

// The host's content scale (ui:scaleFactor, a float option), or 0 when it
// gives none. The options list ends with a zero key and value; a host's list
// longer than any real one is not read further.
float HostScaleFactor(const LV2_Feature* const* features) {
  const LV2_Options_Option* options = nullptr;
  const LV2_URID_Map* map = nullptr;
  for (int i = 0; features && features[i]; ++i) {
    if (!features[i]->URI) continue;
    if (std::strcmp(features[i]->URI, LV2_OPTIONS__options) == 0)
      options = static_cast<const LV2_Options_Option*>(features[i]->data);
    else if (std::strcmp(features[i]->URI, LV2_URID__map) == 0)
      map = static_cast<const LV2_URID_Map*>(features[i]->data);
  }
  if (!options || !map || !map->map) return 0;
  const LV2_URID scaleFactor = map->map(map->handle, LV2_UI__scaleFactor);
  const LV2_URID floatType = map->map(map->handle, LV2_ATOM__Float);
  for (int i = 0; i < 256 && (options[i].key != 0 || options[i].value); ++i) {
    const LV2_Options_Option& o = options[i];
    if (o.context == LV2_OPTIONS_INSTANCE && o.key == scaleFactor && o.type == floatType &&
        o.size == sizeof(float) && o.value)
      return *static_cast<const float*>(o.value);
  }
  return 0;
}

LV2UI_Handle Instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*,
                         LV2UI_Write_Function write, LV2UI_Controller controller,
                         LV2UI_Widget* widget, const LV2_Feature* const* features) {
  if (!pluginUri || std::strcmp(pluginUri, lv2ports::kPluginUri) != 0 || !write || !widget)
    return nullptr;
  void* parent = nullptr;
  for (int i = 0; features && features[i]; ++i)
    if (features[i]->URI && std::strcmp(features[i]->URI, LV2_UI__parent) == 0)
      parent = features[i]->data;
  // An embedded editor needs the host's window.
  if (!parent) return nullptr;

  std::unique_ptr<UiInstance> ui(new (std::nothrow) UiInstance);
  if (!ui) return nullptr;
  try {
    ui->plug.reset(new Lv2UiPlug(write, controller, features));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  ui->editor = dynamic_cast<IGraphics*>(ui->plug->Editor());
  ui->pump = dynamic_cast<X11EventPump*>(ui->plug->Editor());
  // Before the window opens: the host's scale replaces the desktop's.
  if (ui->editor) ui->editor->SetContentScale(HostScaleFactor(features));
  if (!ui->editor || !ui->pump || !ui->editor->OpenWindow(parent)) return nullptr;
  *widget = ui->editor->NativeWindow();
  ui->plug->ResizeEditor();
  return ui.release();
}

void Cleanup(LV2UI_Handle handle) {
  UiInstance* ui = Ui(handle);
  if (!ui) return;
  if (ui->editor) ui->editor->CloseWindow();
  delete ui;
}

void PortEvent(LV2UI_Handle handle, uint32_t port, uint32_t size, uint32_t format,
               const void* buffer) {
  if (UiInstance* ui = Ui(handle)) ui->plug->PortEvent(port, size, format, buffer);
}

int Idle(LV2UI_Handle handle) {
  UiInstance* ui = Ui(handle);
  if (ui && ui->pump) ui->pump->Idle();
  return 0;
}

const void* ExtensionData(const char* uri) {
  static const LV2UI_Idle_Interface idle = {Idle};
  if (uri && std::strcmp(uri, LV2_UI__idleInterface) == 0) return &idle;
  return nullptr;
}

const LV2UI_Descriptor kDescriptor = {lv2ui::kUiUri, Instantiate, Cleanup, PortEvent, ExtensionData};

}  // namespace

LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
  return index == 0 ? &kDescriptor : nullptr;
}
