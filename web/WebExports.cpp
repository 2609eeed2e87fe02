// What the page's JavaScript calls: the functions this WebAssembly module
// exports. An instance is a handle (its address); every call checks it, and
// every index, against what the module made, since the page passes numbers
// it read from anywhere. Texts come back as addresses of NUL-terminated
// UTF-8 in the module's memory, valid until the next call that returns text.
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "DefaultMaterial.h"
#include "FactoryPresets.h"
#include "IGraphicsOffscreen.h"
#include "Kestrune.h"
#include "WebEditorAssets.h"

#define KESTRUNE_EXPORT(name) extern "C" __attribute__((export_name(#name)))

namespace {

std::vector<std::unique_ptr<Kestrune>>& Instances() {
  static std::vector<std::unique_ptr<Kestrune>> instances;
  return instances;
}

Kestrune* Find(uintptr_t handle) {
  for (const auto& instance : Instances())
    if (reinterpret_cast<uintptr_t>(instance.get()) == handle) return instance.get();
  return nullptr;
}

const PlugParam* ParamOf(uintptr_t handle, int index) {
  Kestrune* plug = Find(handle);
  return plug ? plug->ParamAt(index) : nullptr;
}

IGraphicsOffscreen* EditorOf(uintptr_t handle) {
  Kestrune* plug = Find(handle);
  return plug ? plug->PictureEditor() : nullptr;
}

char g_text[256];

// The editor's picture as a canvas takes it: R, G, B, A bytes, row after row.
std::vector<uint8_t> g_picture;

const char* Text(const char* source) {
  CopyText(g_text, sizeof g_text, source ? source : "");
  return g_text;
}

// The embedded drums and bass, made once on first use.
const render::AudioBuffer& Material() {
  static const render::AudioBuffer material = render::MakeDefaultMaterial();
  return material;
}

}  // namespace

// ---- Instances ----

// A new instance at `sampleRate` taking blocks of up to `maxFrames`, for an
// offline render (`offline` 1) or live playback (0); 0 when refused.
KESTRUNE_EXPORT(kestrune_create)
uintptr_t kestrune_create(double sampleRate, int maxFrames, int offline) {
  auto plug = std::make_unique<Kestrune>(IEffectBase::kApiVst3);
  if (!plug->Prepare(sampleRate, maxFrames, offline != 0)) return 0;
  // Every parameter reported once, as a host does after loading: the
  // signal path derives its values from them.
  plug->NotifyAllParamsChanged();
  Instances().push_back(std::move(plug));
  return reinterpret_cast<uintptr_t>(Instances().back().get());
}

KESTRUNE_EXPORT(kestrune_destroy) void kestrune_destroy(uintptr_t handle) {
  auto& instances = Instances();
  for (size_t i = 0; i < instances.size(); ++i) {
    if (reinterpret_cast<uintptr_t>(instances[i].get()) == handle) {
      instances.erase(instances.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

// ---- Audio ----

KESTRUNE_EXPORT(kestrune_input) float* kestrune_input(uintptr_t handle, int channel) {
  Kestrune* plug = Find(handle);
  return plug ? plug->InputBuffer(channel) : nullptr;
}

KESTRUNE_EXPORT(kestrune_output) float* kestrune_output(uintptr_t handle, int channel) {
  Kestrune* plug = Find(handle);
  return plug ? plug->OutputBuffer(channel) : nullptr;
}

// Runs `frames` frames; 1 when they ran, 0 when refused.
KESTRUNE_EXPORT(kestrune_process) int kestrune_process(uintptr_t handle, int frames) {
  Kestrune* plug = Find(handle);
  return plug && plug->Process(frames) ? 1 : 0;
}

// The gain-reduction meter after the last block (0 none, 1 all); -1 when
// no new reading was posted.
KESTRUNE_EXPORT(kestrune_meter) double kestrune_meter(uintptr_t handle) {
  Kestrune* plug = Find(handle);
  double reading = 0;
  return plug && plug->TakeMeterReading(&reading) ? reading : -1;
}

// ---- Parameters ----

KESTRUNE_EXPORT(kestrune_param_count) int kestrune_param_count(uintptr_t handle) {
  Kestrune* plug = Find(handle);
  return plug ? plug->ParamCount() : 0;
}

KESTRUNE_EXPORT(kestrune_param_name) const char* kestrune_param_name(uintptr_t handle, int index) {
  const PlugParam* param = ParamOf(handle, index);
  return param ? Text(param->name) : nullptr;
}

// Number of steps of a stepped parameter (2 for a switch), 0 for a
// continuous one.
KESTRUNE_EXPORT(kestrune_param_steps) int kestrune_param_steps(uintptr_t handle, int index) {
  const PlugParam* param = ParamOf(handle, index);
  if (!param || !param->IsStepped()) return 0;
  return static_cast<int>(std::lround(param->maxValue - param->minValue)) + 1;
}

// The value as the editor's knobs keep it: normalised along the parameter's
// curve, turning the way the panel is printed.
KESTRUNE_EXPORT(kestrune_param_normalized) double kestrune_param_normalized(uintptr_t handle,
                                                                            int index) {
  const PlugParam* param = ParamOf(handle, index);
  return param ? param->NormalizedValue() : 0;
}

KESTRUNE_EXPORT(kestrune_param_default_normalized)
double kestrune_param_default_normalized(uintptr_t handle, int index) {
  const PlugParam* param = ParamOf(handle, index);
  return param ? param->NormalizedFromPlain(param->defaultValue) : 0;
}

// The plain value, in the parameter's own unit.
KESTRUNE_EXPORT(kestrune_param_value) double kestrune_param_value(uintptr_t handle, int index) {
  const PlugParam* param = ParamOf(handle, index);
  return param ? param->value : 0;
}

// The value as hosts show it, with its unit ("150 ms", "8:1").
KESTRUNE_EXPORT(kestrune_param_display) const char* kestrune_param_display(uintptr_t handle,
                                                                           int index) {
  const PlugParam* param = ParamOf(handle, index);
  if (!param) return nullptr;
  param->HostDisplay(param->value, true, g_text, sizeof g_text);
  return g_text;
}

// Sets a parameter from the page's control (editor-normalised) or by its
// plain value; 1 when taken.
KESTRUNE_EXPORT(kestrune_set_param_normalized)
int kestrune_set_param_normalized(uintptr_t handle, int index, double normalized) {
  Kestrune* plug = Find(handle);
  return plug && plug->SetParamFromHost(index, normalized,
                                        IEffectBase::ValueDomain::EditorNormalized)
             ? 1
             : 0;
}

KESTRUNE_EXPORT(kestrune_set_param) int kestrune_set_param(uintptr_t handle, int index,
                                                           double plain) {
  Kestrune* plug = Find(handle);
  return plug && plug->SetParamFromHost(index, plain, IEffectBase::ValueDomain::Plain) ? 1 : 0;
}

// ---- Programs: Default, then the factory presets ----

KESTRUNE_EXPORT(kestrune_preset_count) int kestrune_preset_count(uintptr_t handle) {
  Kestrune* plug = Find(handle);
  return plug ? plug->PresetCount() : 0;
}

KESTRUNE_EXPORT(kestrune_preset_name) const char* kestrune_preset_name(uintptr_t handle,
                                                                       int index) {
  Kestrune* plug = Find(handle);
  PresetSlot* slot = plug ? plug->PresetAt(index) : nullptr;
  return slot ? Text(slot->name) : nullptr;
}

KESTRUNE_EXPORT(kestrune_preset_description) const char* kestrune_preset_description(int index) {
  const kestrune::FactoryPreset* program = kestrune::ProgramAt(index);
  return program ? Text(program->description) : nullptr;
}

// Loads program `index` as a host's program change does; 1 when loaded.
KESTRUNE_EXPORT(kestrune_apply_preset) int kestrune_apply_preset(uintptr_t handle, int index) {
  Kestrune* plug = Find(handle);
  return plug && plug->ApplyPreset(index) ? 1 : 0;
}

// ---- The embedded drums and bass (kestrune-render's material) ----

KESTRUNE_EXPORT(kestrune_material_rate) double kestrune_material_rate() {
  return render::kDefaultMaterialRate;
}

KESTRUNE_EXPORT(kestrune_material_frames) int kestrune_material_frames() {
  return static_cast<int>(Material().FrameCount());
}

// Writes `frames` frames of channel 0 or 1 from `first` on, as float samples
// (what a float host feeds the plug-in); the number written.
KESTRUNE_EXPORT(kestrune_material_read)
int kestrune_material_read(int channel, int first, int frames, float* out) {
  const render::AudioBuffer& material = Material();
  if (!out || channel < 0 || channel >= material.ChannelCount() || first < 0 || frames < 0)
    return 0;
  const auto& samples = material.channels[static_cast<size_t>(channel)];
  int written = 0;
  for (size_t i = static_cast<size_t>(first); i < samples.size() && written < frames; ++i)
    out[written++] = static_cast<float>(samples[i]);
  return written;
}

// ---- The editor ----

// The editor's images and glyphs, copied from memory the page filled
// (kestrune_alloc); 1 when taken. The 1x images must come before the
// instance whose editor the page draws.
KESTRUNE_EXPORT(kestrune_add_image) int kestrune_add_image(int resourceId, const uint8_t* png,
                                                           int bytes) {
  return bytes > 0 && AddEditorImage(resourceId, png, static_cast<size_t>(bytes)) ? 1 : 0;
}

KESTRUNE_EXPORT(kestrune_set_image_pack) int kestrune_set_image_pack(int scale, const uint8_t* pack,
                                                                     int bytes) {
  return bytes > 0 && SetEditorImagePack(scale, pack, static_cast<size_t>(bytes)) ? 1 : 0;
}

KESTRUNE_EXPORT(kestrune_set_glyphs) int kestrune_set_glyphs(const uint8_t* table, int bytes) {
  return bytes > 0 && SetEditorGlyphs(table, static_cast<size_t>(bytes)) ? 1 : 0;
}

// Pixels per design unit (kMinScale..kMaxScale); 1 when the editor has it.
KESTRUNE_EXPORT(kestrune_editor_set_scale) int kestrune_editor_set_scale(uintptr_t handle,
                                                                         double scale) {
  IGraphicsOffscreen* editor = EditorOf(handle);
  if (!editor) return 0;
  editor->SetScale(scale);
  return editor->Scale() == scale ? 1 : 0;
}

// The picture's width (`side` 0) or height (1) in pixels at its scale; 0
// without an editor.
KESTRUNE_EXPORT(kestrune_editor_size) int kestrune_editor_size(uintptr_t handle, int side) {
  IGraphicsOffscreen* editor = EditorOf(handle);
  if (!editor) return 0;
  return side == 0 ? editor->Width() : editor->Height();
}

// Draws what changed since the last call (everything with `all` 1) and
// returns the whole picture, width x height RGBA pixels; 0 when nothing
// changed or there is no editor.
KESTRUNE_EXPORT(kestrune_editor_draw) const uint8_t* kestrune_editor_draw(uintptr_t handle,
                                                                          int all) {
  IGraphicsOffscreen* editor = EditorOf(handle);
  if (!editor) return nullptr;
  if (all) editor->RenderAll();
  else if (!editor->RenderDirty()) return nullptr;
  PIX_IBitmap* buffer = editor->BackBuffer();
  if (!buffer || !buffer->PixelData()) return nullptr;
  const int width = editor->Width(), height = editor->Height();
  if (buffer->Width() < width || buffer->Height() < height) return nullptr;
  g_picture.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  uint8_t* out = g_picture.data();
  for (int y = 0; y < height; ++y) {
    const uint32_t* row = buffer->Row(y);
    for (int x = 0; x < width; ++x, out += 4) {
      out[0] = static_cast<uint8_t>(row[x] >> 16);
      out[1] = static_cast<uint8_t>(row[x] >> 8);
      out[2] = static_cast<uint8_t>(row[x]);
      out[3] = static_cast<uint8_t>(row[x] >> 24);
    }
  }
  return g_picture.data();
}

// The pointer on the picture, in its pixels, as a window passes it: `kind`
// 0 press, 1 drag, 2 release, 3 double click, 4 wheel (`steps` notches, up
// positive); `buttons` 1 left, 2 right; `keys` 1 shift, 2 control, 4 alt.
// 1 when the editor took it.
KESTRUNE_EXPORT(kestrune_editor_pointer)
int kestrune_editor_pointer(uintptr_t handle, int kind, int x, int y, int buttons, int keys,
                            int steps) {
  IGraphicsOffscreen* editor = EditorOf(handle);
  if (!editor) return 0;
  // The page keeps the editor at the screen's scale, 1x or 2x, the scales
  // it has images and glyphs for: the resize grip's corner takes no press.
  if ((kind == 0 || kind == 3) && editor->ResizeGripRect().Contains(x, y)) return 0;
  MouseMods mods;
  mods.left = (buttons & 1) != 0;
  mods.right = (buttons & 2) != 0;
  mods.shift = (keys & 1) != 0;
  mods.control = (keys & 2) != 0;
  mods.alt = (keys & 4) != 0;
  switch (kind) {
    case 0: editor->HandleMouseDown(x, y, mods); return 1;
    case 1: editor->HandleMouseDrag(x, y, mods); return 1;
    case 2: editor->HandleMouseUp(x, y, mods); return 1;
    case 3: editor->HandleDoubleClick(x, y, mods); return 1;
    case 4: editor->HandleWheel(x, y, mods, steps); return 1;
    default: return 0;
  }
}

// Shows a gain-reduction reading (0 none, 1 all) on the editor's meter, as
// the worklet's instance measured it.
KESTRUNE_EXPORT(kestrune_editor_show_meter) int kestrune_editor_show_meter(uintptr_t handle,
                                                                           double reading) {
  Kestrune* plug = Find(handle);
  IGraphicsOffscreen* editor = EditorOf(handle);
  if (!editor || plug->meterControlIndex < 0 || !(reading >= 0 && reading <= 1)) return 0;
  editor->SetControlValue(plug->meterControlIndex, reading);
  return 1;
}

// Memory the page fills or reads (file samples, texts it hands in).
KESTRUNE_EXPORT(kestrune_alloc) void* kestrune_alloc(int bytes) {
  return bytes > 0 ? ::operator new(static_cast<size_t>(bytes), std::nothrow) : nullptr;
}

KESTRUNE_EXPORT(kestrune_free) void kestrune_free(void* pointer) { ::operator delete(pointer); }
