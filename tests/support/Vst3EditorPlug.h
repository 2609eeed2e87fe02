// The VST3 format for the editor scenarios (EditorScenarios.h): the
// controller's editor view in the host's window, with the host library's
// plug frame and component handler recording what the editor reports. The
// platform's program creates the instance and the view (SetView) and tears
// them down.
#pragma once

#include <string>

#include "Vst3EditorHostObjects.h"
#include "EditorScenarios.h"

namespace editor_test {

class Vst3EditorPlugBase : public EditorPlug {
 public:
  explicit Vst3EditorPlugBase(Steinberg::FIDString platformType) : platformType_(platformType) {}
  bool Open(WindowId parent) override {
    return view_ && view_->attached(reinterpret_cast<void*>(parent), platformType_) == Steinberg::kResultOk;
  }
  void Close() override {
    if (view_) view_->removed();
  }
  bool SizeIsEditorSize() override {
    Steinberg::ViewRect r;
    return view_ && view_->getSize(&r) == Steinberg::kResultOk && r.left == 0 && r.top == 0 &&
           r.right == kWidth && r.bottom == kHeight;
  }
  double LastAutomated(int index) const override { return handler_.LastValue(Id(index)); }
  int Begins(int index) const override { return handler_.Count('b', Id(index)); }
  int Ends(int index) const override { return handler_.Count('e', Id(index)); }
  bool HasHostMenu() const override { return true; }
  int Menus(int index) const override { return handler_.Count('m', Id(index)); }
  std::string MenuWrong(Point p) const override { return handler_.MenuWrong(view_, p.x, p.y); }

  Steinberg::IPlugView* View() const { return view_; }
  host::PlugFrame& Frame() { return frame_; }

 protected:
  static Steinberg::Vst::ParamID Id(int index) { return static_cast<Steinberg::Vst::ParamID>(index); }
  // The controller's new view, with the host's frame.
  void SetView(Steinberg::IPlugView* view) {
    view_ = view;
    if (view_) view_->setFrame(&frame_);
  }
  // The host lets go of the view without removing it.
  void ReleaseView() {
    if (view_) view_->release();
    view_ = nullptr;
  }

  host::EditorComponentHandler handler_;
  host::PlugFrame frame_;

 private:
  Steinberg::FIDString platformType_;
  Steinberg::IPlugView* view_ = nullptr;
};

}  // namespace editor_test
