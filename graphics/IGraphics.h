// IGraphics: the editor's model and compositor.
//
// One IGraphics belongs to one plug-in instance. The effect's constructor
// builds it (LoadImage, SetBackgroundImage, AddControl) and hands it to the
// plug-in base with AttachEditor; from then on it lives as long as the
// instance and survives any number of window openings and closings.
//
// It owns the controls in one ordered list (index = position; index 0 is the
// background; later controls paint over earlier ones and win hit tests), and
// a back buffer the controls paint into. It knows nothing about windows: a
// window layer derives from it, supplies the platform operations below that
// do nothing here, calls DrawRegion to repaint, CollectDirtyRect on every
// redraw tick, and the Handle... operations for input.
//
// Threads: everything runs on the host's user-interface thread, except
// ShowParameterValue, which the plug-in side calls from any thread (the audio
// thread included): it only posts the value into the parameter's feed
// (EditorLink.h). The feeds, and those of FollowFeed (the meter), reach the
// controls at the start of every redraw tick (CollectDirtyRect) and every
// DrawRegion, on this thread. Images and fonts are cached process-wide, each
// cache behind its own lock, and belong to the module, not to an editor;
// both are made on first drawing, so an instance whose editor is never drawn
// decodes no image and creates no font.
//
// Scale: the layout is in design units (the 912 x 287 editor as drawn at 1x);
// Scale() pixels make one design unit. Controls keep their rectangles and take
// their input in design units; the back buffer, the window and every window-
// side call (DrawRegion, CollectDirtyRect, Handle..., PresentRect, popup menus
// and the entry box) are in pixels. Images come from the 2x or 3x set at or
// above the scale (ImagePacks.h), resampled where the scale lies between sets;
// text is rasterized at the scaled size. At scale 1 nothing is resampled.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "EditorLink.h"
#include "EditorScaling.h"
#include "GraphicsTypes.h"
#include "IControl.h"
#include "PIX_Bitmap.h"

class IEffectBase;
class PlugParam;
class PIX_CachedFont;

struct PopupMenu;

struct PopupMenuItem {
  enum Flags { Grayed = 1, Disabled = 2, Checked = 4, Separator = 8 };
  std::string text;
  PopupMenu* submenu = nullptr;  // owned
  int flags = 0;
};

struct PopupMenu {
  int prefixKind = 0;
  int chosenIndex = -1;
  std::vector<PopupMenuItem> items;
  ~PopupMenu() {
    for (auto& item : items) delete item.submenu;
  }
};

class IGraphics : public IEditorLink, public IEditorScaling {
 public:
  IGraphics(IEffectBase* plug, int width, int height, int frameRate);
  ~IGraphics() override;
  IGraphics(const IGraphics&) = delete;
  IGraphics& operator=(const IGraphics&) = delete;

  // ---- Window layer operations (do nothing without a window) ----
  virtual void PresentRect(const PixelRect& /*rect*/) {}
  virtual bool MeasureTextInRect(const TextStyle& style, const char* text, PixelRect* rect);
  virtual void CancelTextEntry() {}
  virtual void SetEditorSize(int width, int height);
  virtual bool WindowIsOpen() { return NativeWindow() != nullptr; }
  virtual const char* DrawingApiName() { return ""; }
  virtual int ShowMessageBox(const char* /*text*/, const char* /*caption*/, int /*type*/) {
    return 0;
  }
  virtual PopupMenu* ShowPopupMenu(PopupMenu* /*menu*/, const PixelRect& /*rect*/) {
    return nullptr;
  }
  virtual void ShowTextEntry(IControl* /*control*/, const TextStyle& /*style*/,
                             const PixelRect& /*rect*/, const char* /*initialText*/,
                             PlugParam* /*param*/) {}
  virtual void HostDirectory(std::string* out) { if (out) out->clear(); }
  virtual void PluginDirectory(std::string* out) { if (out) out->clear(); }
  virtual void DesktopDirectory(std::string* out) { if (out) out->clear(); }
  virtual void AppDataDirectory(std::string* out, bool /*systemWide*/) { if (out) out->clear(); }
  virtual void UserAppDataDirectory(std::string* out) { AppDataDirectory(out, false); }
  virtual void PromptForFile(std::string* fileName, int /*action*/, std::string* /*directory*/,
                             const char* /*extensions*/) {
    if (fileName) fileName->clear();
  }
  virtual bool PromptForColour(ArgbColor* /*colour*/, const char* /*title*/) { return false; }
  virtual bool OpenUrl(const char* /*url*/, const char* /*title*/, const char* /*confirmText*/,
                       const char* /*errorText*/) {
    return false;
  }
  virtual void* OpenNativeWindow(void* /*parent*/) { return nullptr; }
  virtual void CloseNativeWindow() {}
  virtual void* NativeWindow() { return nullptr; }
  virtual bool ReadClipboardText(std::string* out) {
    if (out) out->clear();
    return false;
  }
  virtual void HideCursor() {}
  virtual void RestoreCursor() {}
  // Asks the window layer to keep mouse events coming to the editor.
  virtual void CapturePointer() {}
  // A new bitmap decoded from the module's own image resource, or null.
  virtual PIX_IBitmap* LoadImageResource(int resourceId, const char* name);

  // ---- IEditorLink ----
  void ShowParameterValue(int paramIndex, double value, bool isNormalized) override;
  void FollowFeed(int controlIndex, EditorFeed* feed) override;
  void ShowPendingValues() override;
  int ControlCount() const override { return static_cast<int>(controls_.size()); }
  void SetControlValue(int controlIndex, double normalized) override;
  void CreateBackBuffer() override;
  // The editor's size in pixels at its scale.
  int Width() const override { return PixelLength(width_); }
  int Height() const override { return PixelLength(height_); }
  bool OpenWindow(void* parentWindow) override { return OpenNativeWindow(parentWindow) != nullptr; }
  void CloseWindow() override { CloseNativeWindow(); }

  // ---- Scale ----
  static constexpr double kMinScale = 0.75;
  static constexpr double kMaxScale = 3.0;
  // True where the window layer follows a new scale (resizes its window and
  // maps its input); elsewhere the scale stays 1.
  virtual bool WindowFollowsScale() const { return false; }
  bool Scalable() const override { return WindowFollowsScale(); }
  // Sets pixels per design unit, limited to kMinScale..kMaxScale; false when
  // the scale did not change (or is not a number). Everything is redrawn; a
  // window layer resizes its window.
  virtual bool SetScale(double scale);
  double Scale() const { return scale_; }
  // The scale is the content scale (the host's, else the desktop's) times
  // the size the user chose on top of it, so the chosen size survives a host
  // that repeats its content scale whenever the editor reopens.
  // The host's content scale: the desktop's is no longer looked up.
  bool SetContentScale(double scale) override;
  // The desktop's content scale, unless the host gave one.
  bool SetDesktopScale(double scale);
  // A size the user or the host chose, as a scale.
  bool SetChosenScale(double scale) override;
  // The scale at which the editor is `width` x `height` pixels, or nearest
  // to it with the layout's aspect ratio, within kMinScale..kMaxScale: the
  // side that differs more from the current size decides.
  double ScaleForSize(int width, int height) const override;
  double ScaleToFit(int width, int height) const override;
  void FitHostWindow(int width, int height) override;
  int FrameWidth() const override { return std::max(Width(), hostWindowWidth_); }
  int FrameHeight() const override { return std::max(Height(), hostWindowHeight_); }
  void RequestHostResize() override { hostResizePending_ = true; }
  int DesignWidth() const override { return width_; }
  int DesignHeight() const override { return height_; }
  // A design-unit rectangle as the pixels that cover it, and back.
  PixelRect ToPixels(const PixelRect& design) const;
  PixelRect ToDesign(const PixelRect& pixels) const;
  // A style whose text size is scaled to pixels.
  TextStyle ScaledStyle(const TextStyle& style) const;

  // ---- Resize handle ----
  // The editor's bottom-right corner (10 design units square) resizes it for
  // hosts without a handle of their own: a grip shows there while the
  // pointer is over it, and a left drag from it sets the chosen size
  // (aspect ratio kept) and asks the host to follow. Hidden, it leaves the
  // picture as it is.
  PixelRect ResizeGripRect() const;
  bool ResizeGripShown() const { return gripShown_; }
  bool Resizing() const { return resizing_; }

  // ---- Building ----
  // The image with this resource identifier, from the process-wide cache.
  // Only its size is read here; its pixels are decoded once per process,
  // when an editor first draws it (or anything first reads its pixels). An
  // image that cannot be found gives a reference without a bitmap, one that
  // cannot be decoded a bitmap without pixels (its controls then draw
  // nothing).
  BitmapRef LoadImage(int resourceId, const char* name, int frameCount);
  // Images of the cache whose pixels have been decoded, and fonts created,
  // in this process.
  static int DecodedImageCount();
  static int CachedFontCount();
  class CachedImage;  // an image of the cache (IGraphics.cpp)
  // Inserts the background at index 0 (opaque copy, no parameter).
  void SetBackgroundImage(const BitmapRef& image);
  // Appends an owned control; returns its index, or -1 when it was dropped.
  int AddControl(IControl* control);
  IControl* ControlAt(int index) const;
  void SetKeyCatcher(IControl* control);

  // ---- Window-side calls ----
  bool DrawRegion(const PixelRect& rect);
  // Union of the rectangles of the controls that need a redraw; false when
  // none does.
  bool CollectDirtyRect(PixelRect* dirty);
  void HandleMouseDown(int x, int y, const MouseMods& mods);
  void HandleMouseUp(int x, int y, const MouseMods& mods);
  void HandleMouseDrag(int x, int y, const MouseMods& mods);
  void HandleDoubleClick(int x, int y, const MouseMods& mods);
  void HandleWheel(int x, int y, const MouseMods& mods, int steps);
  bool HandleMouseOver(int x, int y, const MouseMods& mods);
  void HandleMouseLeave();
  bool HandleKey(int x, int y, int key);

  // ---- Control-side calls ----
  bool DrawImage(const BitmapRef& image, const PixelRect& rect, int srcX, int srcY,
                 const ChannelBlend* blend);
  bool DrawTextInRect(TextStyle& style, const char* text, const PixelRect& rect);
  void PromptParameterInput(IControl* control, PlugParam* param, const PixelRect& rect);

  // ---- State ----
  IEffectBase* Plug() const { return plug_; }
  int FrameRate() const { return frameRate_; }
  PIX_IBitmap* BackBuffer() const { return backBuffer_; }
  const PixelRect& DrawRect() const { return drawRect_; }
  int MouseCaptureIndex() const { return mouseCapture_; }
  int MouseOverIndex() const { return mouseOver_; }
  void SetHandleMouseOver(bool on) { handleMouseOver_ = on; }
  void SetStrictDrawing(bool on) { strictDrawing_ = on; }
  bool TooltipsEnabled() const { return tooltips_; }
  void EnableTooltips(bool on) { tooltips_ = on; }

  // Font for a style from the process-wide cache, created on first use.
  static PIX_CachedFont* FindOrCreateFont(TextStyle& style);

 protected:
  int TopmostHit(int x, int y) const;
  void ReleaseCapture();
  void DeleteControls();
  int PixelLength(int design) const;
  int DesignCoordinate(int pixel) const;
  void SetDragOrigin(int pixelX, int pixelY, int x, int y);
  bool InResizeGrip(int pixelX, int pixelY) const;
  void ShowResizeGrip(bool shown);
  void DrawResizeGrip();
  bool DrawScaledImage(const BitmapRef& image, const PixelRect& rect, int srcX, int srcY,
                       int mode, float weight);

  IEffectBase* plug_;
  // One feed per parameter of the plug-in, and the controls that follow
  // feeds of their own.
  std::unique_ptr<EditorFeed[]> paramFeeds_;
  int paramFeedCount_ = 0;
  struct FollowedFeed {
    int controlIndex;
    EditorFeed* feed;
  };
  std::vector<FollowedFeed> followedFeeds_;
  int width_;
  int height_;
  int frameRate_;
  std::vector<IControl*> controls_;
  PixelRect drawRect_;   // design units
  PixelRect clipPixels_;  // the same area in pixels
  double scale_ = 1.0;
  double contentScale_ = 1.0;
  double zoom_ = 1.0;  // the chosen size over the content scale
  int hostWindowWidth_ = 0;  // the window FitHostWindow was given, until the scale changes
  int hostWindowHeight_ = 0;
  bool contentScaleFromHost_ = false;
  bool gripShown_ = false;
  bool gripDirty_ = false;
  bool resizing_ = false;
  int resizeOrigin_[4] = {0, 0, 0, 0};  // the press, and the size then, in pixels
  bool hostResizePending_ = false;  // taken up by the window layer's tick
  PIX_SysBitmap* backBuffer_ = nullptr;
  int mouseCapture_ = -1;
  int mouseOver_ = -1;
  int lastMouseX_ = 0;
  int lastMouseY_ = 0;
  int dragOrigin_[4] = {0, 0, 0, 0};  // the press in pixels, then in design units
  bool handleMouseOver_ = false;
  bool strictDrawing_ = true;
  bool tooltips_ = false;
  IControl* keyCatcher_ = nullptr;
};

// Built-in image resources of the module: the PNG bytes for an identifier,
// or false when the module has none with that identifier.
bool FindImageResource(int resourceId, const unsigned char** data, size_t* length);
