#include "IEffectVST3View.h"

#include <cmath>
#include <cstring>

#include "EditorScaling.h"
#include "IEffectVST3.h"
#if !defined(_WIN32)
#include "PlugViewX11.h"
#include "X11EventPump.h"
#endif

using namespace Steinberg;

namespace Steinberg {
DEF_CLASS_IID(IPlugViewContentScaleSupport)
}

namespace {

// The one kind of parent window the editor opens in on this platform.
#if defined(_WIN32)
const FIDString kEditorPlatformType = kPlatformTypeHWND;
#else
const FIDString kEditorPlatformType = kPlatformTypeX11EmbedWindowID;
#endif

// The editor's sizing, where it can change its size (an editor that cannot
// answers as a fixed-size view).
IEditorScaling* ScalableEditor(IEffectVST3* plug) {
  auto* scaling = dynamic_cast<IEditorScaling*>(plug ? plug->Editor() : nullptr);
  return scaling && scaling->Scalable() ? scaling : nullptr;
}

}  // namespace

IEffectVST3View::IEffectVST3View(IEffectVST3* plug) : CPluginView(nullptr), plug_(plug) {
  if (plug_) plug_->addRef();
}

IEffectVST3View::~IEffectVST3View() {
  // A view destroyed while still attached closes its window first.
  DetachRunLoop();
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
  return std::strcmp(type, kEditorPlatformType) == 0 ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API IEffectVST3View::attached(void* parent, FIDString type) {
  if (!plug_ || !plug_->Editor()) return kResultFalse;
  // Only a parent the editor really opens in is accepted; with any other
  // the host would show an empty frame.
  if (!type || std::strcmp(type, kEditorPlatformType) != 0 || !parent) return kResultFalse;
  // Attached again while open: the editor reopens in place and registers
  // its new connection.
  DetachRunLoop();
  // A host window the editor cannot be opened in is refused, with the
  // editor-opened hook not run.
  if (!plug_->Editor()->OpenWindow(parent)) {
    windowOpen_ = false;
    systemWindow = nullptr;
    return kResultFalse;
  }
  if (!AttachRunLoop()) {
    plug_->Editor()->CloseWindow();
    windowOpen_ = false;
    systemWindow = nullptr;
    return kResultFalse;
  }
  systemWindow = parent;
  windowOpen_ = true;
  plug_->EditorOpened();
  return kResultOk;
}

tresult PLUGIN_API IEffectVST3View::removed() {
  DetachRunLoop();
  if (plug_ && plug_->Editor()) {
    plug_->EditorClosed();
    plug_->Editor()->CloseWindow();
  }
  windowOpen_ = false;
  systemWindow = nullptr;
  return kResultOk;
}

#if defined(_WIN32)
// Windows runs the editor's timer and messages itself.
bool IEffectVST3View::AttachRunLoop() { return true; }
void IEffectVST3View::DetachRunLoop() {}
#else
// Events and redraw ticks come from the host's run loop, or the editor
// cannot work: without one the view is refused.
bool IEffectVST3View::AttachRunLoop() {
  DetachRunLoop();
  auto* pump = dynamic_cast<X11EventPump*>(plug_ ? plug_->Editor() : nullptr);
  runLoopLink_ = X11RunLoopLink::Attach(plugFrame, pump);
  return runLoopLink_ != nullptr;
}

void IEffectVST3View::DetachRunLoop() {
  if (runLoopLink_) runLoopLink_->Detach();
  runLoopLink_ = nullptr;
}
#endif

tresult PLUGIN_API IEffectVST3View::getSize(ViewRect* size) {
  if (!plug_ || !plug_->Editor() || !size) return kResultFalse;
  // A window the host gave and keeps (Ardour) is the view's size: answering
  // the editor's smaller size made the host snap its window back.
  const IEditorScaling* graphics = ScalableEditor(plug_);
  size->left = 0;
  size->top = 0;
  size->right = graphics ? graphics->FrameWidth() : plug_->Editor()->Width();
  size->bottom = graphics ? graphics->FrameHeight() : plug_->Editor()->Height();
  return kResultOk;
}

tresult PLUGIN_API IEffectVST3View::onSize(ViewRect* newSize) {
  if (!newSize) return kResultOk;
  rect = *newSize;
  if (resizeExpected_) {
    resizeExpected_ = false;
    if (plug_) plug_->EditorResized();
    return kResultOk;
  }
  // The host's own new size: the editor fits inside it, aspect kept. A host
  // that asked checkSizeConstraint gives a size the editor fills; one that
  // did not (Ardour) keeps its window, and the view takes that size.
  auto* graphics = ScalableEditor(plug_);
  if (graphics && (newSize->getWidth() != graphics->FrameWidth() ||
                   newSize->getHeight() != graphics->FrameHeight()))
    graphics->FitHostWindow(newSize->getWidth(), newSize->getHeight());
  return kResultOk;
}

tresult PLUGIN_API IEffectVST3View::canResize() {
  return ScalableEditor(plug_) ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API IEffectVST3View::checkSizeConstraint(ViewRect* size) {
  auto* graphics = ScalableEditor(plug_);
  if (!graphics || !size) return kResultFalse;
  // Inside what the host offers, aspect kept: a window wider than the
  // editor's shape scaled by its height left the right side unreachable.
  const double scale = graphics->ScaleToFit(size->getWidth(), size->getHeight());
  const int width = static_cast<int>(std::floor(graphics->DesignWidth() * scale + 1e-6));
  const int height = static_cast<int>(std::floor(graphics->DesignHeight() * scale + 1e-6));
  size->right = size->left + width;
  size->bottom = size->top + height;
  return kResultTrue;
}

tresult PLUGIN_API IEffectVST3View::setContentScaleFactor(ScaleFactor factor) {
  auto* graphics = ScalableEditor(plug_);
  if (!graphics || !(factor > 0)) return kResultFalse;
  if (graphics->SetContentScale(factor) && windowOpen_) graphics->RequestHostResize();
  return kResultTrue;
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
