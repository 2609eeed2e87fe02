// Kestrune.clap's editor for the shared editor scenarios: the gui extension
// embedded in the host's window; the editor's changes reach the host as
// output events, collected by a flush after each turn. How the host lets the
// editor run (its timer and descriptor callbacks, or the thread's messages)
// and what it holds for it are the platform's: a subclass's Pump and
// LinksWrong.
#pragma once

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ClapHostObjects.h"
#include "EditorScenarios.h"

namespace editor_test {

class ClapEditorPlug : public EditorPlug {
 public:
  // `module` is loaded; `windowApi` is CLAP_WINDOW_API_X11 or _WIN32.
  ClapEditorPlug(const host::ClapModule& module, const char* windowApi) : api_(windowApi) {
    std::string error;
    const clap_plugin_factory* factory = module.Factory();
    const clap_plugin_descriptor* descriptor = factory ? factory->get_plugin_descriptor(factory, 0) : nullptr;
    plug_ = std::make_unique<host::ClapInstance>();
    if (!EDITOR_CHECK(descriptor && plug_->Create(module, context_, descriptor->id, error), error)) {
      plug_.reset();
      return;
    }
    auto ext = [&](const char* id) { return plug_->plugin->get_extension(plug_->plugin, id); };
    gui_ = static_cast<const clap_plugin_gui*>(ext(CLAP_EXT_GUI));
    timer_ = static_cast<const clap_plugin_timer_support*>(ext(CLAP_EXT_TIMER_SUPPORT));
    fd_ = static_cast<const clap_plugin_posix_fd_support*>(ext(CLAP_EXT_POSIX_FD_SUPPORT));
    infos_ = plug_->ParamInfos();
  }
  ~ClapEditorPlug() override { Destroy(); }

  bool Supports(const char* api) const { return gui_ && gui_->is_api_supported(plug_->plugin, api, false); }
  bool Open(WindowId parent) override {
    if (!gui_ || !Create()) return false;
    const clap_window window = {api_, {reinterpret_cast<void*>(parent)}};
    if (!gui_->set_parent(plug_->plugin, &window)) return false;
    gui_->show(plug_->plugin);
    return true;
  }
  void Close() override {
    if (gui_ && created_) gui_->destroy(plug_->plugin);
    created_ = false;
    CollectEvents();
  }
  void Destroy() override {
    if (!plug_) return;
    Close();
    plug_.reset();
  }
  bool SizeIsEditorSize() override {
    uint32_t width = 0, height = 0;
    return gui_ && Create() && gui_->get_size(plug_->plugin, &width, &height) && width == kWidth &&
           height == kHeight;
  }
  void Automate(int index, double normalized) override {
    const clap_param_info& info = infos_.at(static_cast<size_t>(index));
    double value = info.min_value + normalized * (info.max_value - info.min_value);
    if (info.flags & CLAP_PARAM_IS_STEPPED) value = std::round(value);
    host::ClapInputEvents events;
    events.AddParamValue(info.id, value);
    plug_->Flush(events.List(), nullptr);
  }
  double LastAutomated(int index) const override {
    double v = -1.0;
    for (const auto& bytes : out_.events) {
      const auto* header = reinterpret_cast<const clap_event_header*>(bytes.data());
      if (header->type != CLAP_EVENT_PARAM_VALUE) continue;
      clap_event_param_value event;
      std::memcpy(&event, bytes.data(), sizeof event);
      if (event.param_id != static_cast<clap_id>(index)) continue;
      const clap_param_info& info = infos_.at(static_cast<size_t>(index));
      v = (event.value - info.min_value) / (info.max_value - info.min_value);
    }
    return v;
  }
  int Begins(int index) const override { return Count(CLAP_EVENT_PARAM_GESTURE_BEGIN, index); }
  int Ends(int index) const override { return Count(CLAP_EVENT_PARAM_GESTURE_END, index); }
  // The size the editor last asked the host for; 0 x 0 when none.
  void AskedSize(int* width, int* height) const {
    const auto& asked = context_.resizeRequests;
    *width = asked.empty() ? 0 : static_cast<int>(asked.back().width);
    *height = asked.empty() ? 0 : static_cast<int>(asked.back().height);
  }

 protected:
  void CollectEvents() {
    if (plug_) plug_->Flush(nullptr, out_.List());
  }

  host::ClapHostContext context_;
  std::unique_ptr<host::ClapInstance> plug_;
  const clap_plugin_gui* gui_ = nullptr;
  const clap_plugin_timer_support* timer_ = nullptr;
  const clap_plugin_posix_fd_support* fd_ = nullptr;

 private:
  bool Create() {
    if (created_) return true;
    created_ = Supports(api_) && gui_->create(plug_->plugin, api_, false);
    return created_;
  }
  int Count(uint16_t type, int index) const {
    int n = 0;
    for (const auto& bytes : out_.events) {
      clap_event_param_gesture event;
      std::memcpy(&event, bytes.data(), std::min(bytes.size(), sizeof event));
      n += event.header.type == type && event.param_id == static_cast<clap_id>(index);
    }
    return n;
  }

  const char* api_;
  std::vector<clap_param_info> infos_;
  host::ClapOutputEvents out_;
  bool created_ = false;
};

}  // namespace editor_test
