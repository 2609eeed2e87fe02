#include "IEffectVST3View.h"

#include <cstring>

#include "IEffectVST3.h"

using namespace Steinberg;

IEffectVST3View::IEffectVST3View(IEffectVST3* plug) : CPluginView(nullptr), plug_(plug) {
  if (plug_) plug_->addRef();
}

IEffectVST3View::~IEffectVST3View() {
  // A view destroyed while still attached closes its window first.
  if (windowOpen_ && plug_ && plug_->Editor()) {
    plug_->EditorClosed();
    plug_->Editor()->CloseWindow();
  }
  if (plug_) {
    plug_->ForgetViews();
    plug_->release();
  }
}

tresult PLUGIN_API IEffectVST3View::isPlatformTypeSupported(FIDString type) {
  if (!plug_ || !plug_->Editor() || !type) return kResultFalse;
  return std::strcmp(type, kPlatformTypeHWND) == 0 ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API IEffectVST3View::attached(void* parent, FIDString type) {
  if (!plug_ || !plug_->Editor()) return kResultFalse;
  systemWindow = parent;
  if (type && std::strcmp(type, kPlatformTypeHWND) == 0) {
    // A host window the editor cannot be opened in is refused, with the
    // editor-opened hook not run.
    if (!parent || !plug_->Editor()->OpenWindow(parent)) {
      systemWindow = nullptr;
      return kResultFalse;
    }
    windowOpen_ = true;
  }
  plug_->EditorOpened();
  return kResultOk;
}

tresult PLUGIN_API IEffectVST3View::removed() {
  if (plug_ && plug_->Editor()) {
    plug_->EditorClosed();
    plug_->Editor()->CloseWindow();
  }
  windowOpen_ = false;
  systemWindow = nullptr;
  return kResultOk;
}

tresult PLUGIN_API IEffectVST3View::getSize(ViewRect* size) {
  if (!plug_ || !plug_->Editor() || !size) return kResultFalse;
  size->left = 0;
  size->top = 0;
  size->right = plug_->Editor()->Width();
  size->bottom = plug_->Editor()->Height();
  return kResultOk;
}

tresult PLUGIN_API IEffectVST3View::onSize(ViewRect* newSize) {
  if (!newSize) return kResultOk;
  rect = *newSize;
  if (resizeExpected_) {
    resizeExpected_ = false;
    if (plug_) plug_->EditorResized();
  }
  return kResultOk;
}

tresult PLUGIN_API IEffectVST3View::setFrame(IPlugFrame* frame) {
  plugFrame = frame;
  return kResultOk;
}

void IEffectVST3View::RequestResize(int width, int height) {
  if (!plugFrame) return;
  resizeExpected_ = true;
  ViewRect size(0, 0, width, height);
  plugFrame->resizeView(this, &size);
}
