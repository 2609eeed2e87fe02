// IEffectCLAP's editor: clap.gui, and on Linux the host's timer and file
// descriptor callbacks that drive the X11 editor (IEffectCLAP.h).
#include <cmath>
#include <cstdint>
#include <cstring>

#include "EditorScaling.h"
#include "IEffectCLAP.h"
#if !defined(_WIN32)
#include "X11EventPump.h"
#endif

namespace {

#if defined(_WIN32)
const char* const kEditorApi = CLAP_WINDOW_API_WIN32;
#else
const char* const kEditorApi = CLAP_WINDOW_API_X11;
#endif

IEffectCLAP* Plug(const clap_plugin* plugin) { return IEffectCLAP::FromPlugin(plugin); }

// The editor's sizing, where it can change its size.
IEditorScaling* ScalableEditor(const IEffectCLAP& plug) {
  auto* scaling = dynamic_cast<IEditorScaling*>(plug.Editor());
  return scaling && scaling->Scalable() ? scaling : nullptr;
}

bool IsApiSupported(const clap_plugin* p, const char* api, bool isFloating) {
  return Plug(p) && Plug(p)->GuiApiSupported(api, isFloating);
}
bool PreferredApi(const clap_plugin*, const char** api, bool* isFloating) {
  if (!api || !isFloating) return false;
  *api = kEditorApi;
  *isFloating = false;
  return true;
}
bool Create(const clap_plugin* p, const char* api, bool isFloating) {
  return Plug(p) && Plug(p)->GuiCreate(api, isFloating);
}
void Destroy(const clap_plugin* p) {
  if (Plug(p)) Plug(p)->GuiDestroy();
}
bool SetScale(const clap_plugin* p, double scale) { return Plug(p) && Plug(p)->GuiSetScale(scale); }
bool GetSize(const clap_plugin* p, uint32_t* width, uint32_t* height) {
  return Plug(p) && Plug(p)->GuiGetSize(width, height);
}
bool CanResize(const clap_plugin* p) { return Plug(p) && Plug(p)->GuiCanResize(); }
bool ResizeHints(const clap_plugin* p, clap_gui_resize_hints* hints) {
  return Plug(p) && Plug(p)->GuiResizeHints(hints);
}
bool AdjustSize(const clap_plugin* p, uint32_t* width, uint32_t* height) {
  return Plug(p) && Plug(p)->GuiAdjustSize(width, height);
}
bool SetSize(const clap_plugin* p, uint32_t width, uint32_t height) {
  return Plug(p) && Plug(p)->GuiSetSize(width, height);
}
bool SetParent(const clap_plugin* p, const clap_window* window) {
  return Plug(p) && Plug(p)->GuiSetParent(window);
}
// Embedded only: there is no floating window to be transient for.
bool SetTransient(const clap_plugin*, const clap_window*) { return false; }
void SuggestTitle(const clap_plugin*, const char*) {}
// The embedded editor shows and hides with the host's parent window.
bool Show(const clap_plugin* p) { return Plug(p) != nullptr; }
bool Hide(const clap_plugin* p) { return Plug(p) != nullptr; }

void OnTimer(const clap_plugin* p, clap_id timerId) {
  if (Plug(p)) Plug(p)->OnTimer(timerId);
}
void OnFd(const clap_plugin* p, int fd, clap_posix_fd_flags_t flags) {
  if (Plug(p)) Plug(p)->OnFd(fd, flags);
}

const clap_plugin_gui kGui = {IsApiSupported, PreferredApi, Create,     Destroy,      SetScale,
                              GetSize,        CanResize,    ResizeHints, AdjustSize,  SetSize,
                              SetParent,      SetTransient, SuggestTitle, Show,       Hide};
const clap_plugin_timer_support kTimerSupport = {OnTimer};
const clap_plugin_posix_fd_support kFdSupport = {OnFd};

}  // namespace

const void* IEffectCLAP::GuiExtension(const char* id) {
  if (std::strcmp(id, CLAP_EXT_GUI) == 0) return &kGui;
#if !defined(_WIN32)
  if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &kTimerSupport;
  if (std::strcmp(id, CLAP_EXT_POSIX_FD_SUPPORT) == 0) return &kFdSupport;
#endif
  return nullptr;
}

// What the editor can embed in, whatever the host offers: hosts ask this
// of an instance made with a bare host when they scan (Qtractor does), and
// list no editor when told no.
bool IEffectCLAP::GuiApiSupported(const char* api, bool isFloating) const {
  return Editor() && api && !isFloating && std::strcmp(api, kEditorApi) == 0;
}

bool IEffectCLAP::GuiCreate(const char* api, bool isFloating) {
  if (!GuiApiSupported(api, isFloating)) return false;
#if !defined(_WIN32)
  // Without the host's timer the editor would never draw.
  if (!hostTimer_) return false;
#endif
  guiCreated_ = true;
  return true;
}

void IEffectCLAP::GuiDestroy() {
  CloseEditorWindow();
  guiCreated_ = false;
}

void IEffectCLAP::CloseEditorWindow() {
#if !defined(_WIN32)
  if (timerId_ != CLAP_INVALID_ID && hostTimer_) hostTimer_->unregister_timer(host_, timerId_);
  if (registeredFd_ >= 0 && hostFd_) hostFd_->unregister_fd(host_, registeredFd_);
#endif
  timerId_ = CLAP_INVALID_ID;
  registeredFd_ = -1;
  if (windowOpen_ && Editor()) {
    EditorClosed();
    Editor()->CloseWindow();
  }
  windowOpen_ = false;
}

bool IEffectCLAP::GuiSetScale(double scale) {
  IEditorScaling* graphics = ScalableEditor(*this);
  if (!guiCreated_ || !graphics || !std::isfinite(scale) || !(scale > 0)) return false;
  if (graphics->SetContentScale(scale) && windowOpen_) graphics->RequestHostResize();
  return true;
}

bool IEffectCLAP::GuiGetSize(uint32_t* width, uint32_t* height) const {
  if (!guiCreated_ || !Editor() || !width || !height) return false;
  *width = static_cast<uint32_t>(Editor()->Width());
  *height = static_cast<uint32_t>(Editor()->Height());
  return true;
}

bool IEffectCLAP::GuiCanResize() const { return guiCreated_ && ScalableEditor(*this) != nullptr; }

bool IEffectCLAP::GuiResizeHints(clap_gui_resize_hints* hints) const {
  IEditorScaling* graphics = ScalableEditor(*this);
  if (!graphics || !hints) return false;
  hints->can_resize_horizontally = true;
  hints->can_resize_vertically = true;
  hints->preserve_aspect_ratio = true;
  hints->aspect_ratio_width = static_cast<uint32_t>(graphics->DesignWidth());
  hints->aspect_ratio_height = static_cast<uint32_t>(graphics->DesignHeight());
  return true;
}

bool IEffectCLAP::GuiAdjustSize(uint32_t* width, uint32_t* height) const {
  IEditorScaling* graphics = ScalableEditor(*this);
  if (!guiCreated_ || !graphics || !width || !height) return false;
  const double scale = graphics->ScaleForSize(static_cast<int>(std::min<uint32_t>(*width, 1u << 20)),
                                              static_cast<int>(std::min<uint32_t>(*height, 1u << 20)));
  *width = static_cast<uint32_t>(std::floor(graphics->DesignWidth() * scale + 1e-6));
  *height = static_cast<uint32_t>(std::floor(graphics->DesignHeight() * scale + 1e-6));
  return true;
}

bool IEffectCLAP::GuiSetSize(uint32_t width, uint32_t height) {
  IEditorScaling* graphics = ScalableEditor(*this);
  if (!guiCreated_ || !graphics || width == 0 || height == 0) return false;
  uint32_t fitWidth = width, fitHeight = height;
  GuiAdjustSize(&fitWidth, &fitHeight);
  if (fitWidth != width || fitHeight != height) return false;  // a size adjust_size did not give
  if (static_cast<int>(width) != Editor()->Width() || static_cast<int>(height) != Editor()->Height())
    graphics->SetChosenScale(graphics->ScaleForSize(static_cast<int>(width), static_cast<int>(height)));
  return true;
}

bool IEffectCLAP::GuiSetParent(const clap_window* window) {
  if (!guiCreated_ || !Editor() || !window || !window->api || std::strcmp(window->api, kEditorApi) != 0)
    return false;
  CloseEditorWindow();  // a new parent: the editor reopens there
#if defined(_WIN32)
  void* parent = window->win32;
#else
  void* parent = reinterpret_cast<void*>(static_cast<uintptr_t>(window->x11));
#endif
  if (!parent || !Editor()->OpenWindow(parent)) return false;
  windowOpen_ = true;
#if !defined(_WIN32)
  auto* pump = dynamic_cast<X11EventPump*>(Editor());
  clap_id timer = CLAP_INVALID_ID;
  if (!pump || !hostTimer_ ||
      !hostTimer_->register_timer(host_, static_cast<uint32_t>(pump->TickIntervalMs()), &timer) ||
      timer == CLAP_INVALID_ID) {
    CloseEditorWindow();
    return false;
  }
  timerId_ = timer;
  const int fd = pump->ConnectionFd();
  if (hostFd_ && fd >= 0 && hostFd_->register_fd(host_, fd, CLAP_POSIX_FD_READ)) registeredFd_ = fd;
#endif
  EditorOpened();
  return true;
}

void IEffectCLAP::OnTimer(clap_id timerId) {
#if !defined(_WIN32)
  if (!windowOpen_ || timerId != timerId_) return;
  if (auto* pump = dynamic_cast<X11EventPump*>(Editor())) {
    // Events first: a host may deliver the descriptor's readiness late.
    pump->HandlePendingEvents();
    if (windowOpen_) pump->RedrawTick();
  }
#else
  (void)timerId;
#endif
}

void IEffectCLAP::OnFd(int fd, clap_posix_fd_flags_t) {
#if !defined(_WIN32)
  if (!windowOpen_ || fd != registeredFd_) return;
  if (auto* pump = dynamic_cast<X11EventPump*>(Editor())) pump->HandlePendingEvents();
#else
  (void)fd;
#endif
}

void IEffectCLAP::ResizeEditor() {
  if (!windowOpen_ || !Editor() || !hostGui_) return;
  if (hostGui_->request_resize(host_, static_cast<uint32_t>(Editor()->Width()),
                               static_cast<uint32_t>(Editor()->Height())))
    EditorResized();
}
