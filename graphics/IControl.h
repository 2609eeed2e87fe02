// IControl: one rectangle of the editor that shows something and may react to
// the mouse; and the concrete controls the editor uses.
//
// Ownership: a control is constructed by the editor layout and handed to
// IGraphics (AddControl), which owns and deletes it.
//
// Value: the normalised value (0..1) of the bound parameter, or of whatever
// the owner sends (the meter). The first value received from the plug-in
// becomes the default that a double click restores.
//
// Threads: everything runs on the user-interface thread. Values from the
// plug-in side arrive through the editor's feeds (IGraphics), which hand them
// to ReceivePlugValue and ReceiveAuxValue on that thread.
#pragma once

#include <string>
#include <vector>

#include "GraphicsTypes.h"

class IEffectBase;
class IGraphics;
class ITextControl;

struct AuxParamBinding {
  double value = 0.0;
  int paramIndex = -1;
};

class IControl {
 public:
  IControl(IEffectBase* plug, const PixelRect& rect, int paramIndex = -1,
           ChannelBlend blend = ChannelBlend());
  virtual ~IControl() = default;
  IControl(const IControl&) = delete;
  IControl& operator=(const IControl&) = delete;

  virtual void HandleMouseDown(int x, int y, const MouseMods& mods);
  virtual void HandleMouseUp(int /*x*/, int /*y*/, const MouseMods& /*mods*/) {}
  virtual void HandleMouseDrag(int /*x*/, int /*y*/, int /*dX*/, int /*dY*/,
                               const MouseMods& /*mods*/) {}
  virtual void HandleDoubleClick(int x, int y, const MouseMods& mods);
  virtual void HandleWheel(int /*x*/, int /*y*/, const MouseMods& /*mods*/, int /*steps*/) {}
  virtual bool HandleKey(int /*x*/, int /*y*/, int /*key*/) { return false; }
  virtual void HandleMouseOver(int /*x*/, int /*y*/, const MouseMods& /*mods*/) {}
  virtual void HandleMouseOut() {}
  // Paints into the graphics' back buffer, within its draw rectangle.
  virtual bool Paint(IGraphics* graphics) = 0;
  virtual void ReceivePlugValue(double value);
  virtual void ReceiveUserValue(double value);
  virtual void ReceiveEnteredText(const char* /*text*/) {}
  virtual void SetHidden(bool hidden);
  virtual void SetGrayed(bool grayed);
  virtual bool HitTest(int x, int y) const;
  // Clamps the value and marks the control for redraw; with pushToPlug the
  // value goes to the plug-in as an editor change of the bound parameter.
  virtual void MarkDirty(bool pushToPlug);
  virtual void MarkClean();
  virtual bool NeedsRedraw() const { return dirty_; }
  virtual void ReceiveAuxValue(int bindingIndex, double value);

  // The parameter menu or entry box on a right click, when enabled.
  void PromptUserInput();

  IEffectBase* Plug() const { return plug_; }
  const PixelRect& Rect() const { return rect_; }
  const PixelRect& TargetRect() const { return targetRect_; }
  void SetTargetRect(const PixelRect& r) { targetRect_ = r; }
  int ParamIndex() const { return paramIndex_; }
  double Value() const { return value_; }
  void SetValue(double v) { value_ = v; }
  double DefaultValue() const { return defaultValue_; }
  bool IsHidden() const { return hidden_; }
  bool IsGrayed() const { return grayed_; }
  bool DoubleClickAsClick() const { return doubleClickAsClick_; }
  void SetDoubleClickAsClick(bool on) { doubleClickAsClick_ = on; }
  bool MouseOverWhenGrayed() const { return mouseOverWhenGrayed_; }
  void SetMouseOverWhenGrayed(bool on) { mouseOverWhenGrayed_ = on; }
  void SetPromptDisabled(bool disabled) { promptDisabled_ = disabled; }
  const ChannelBlend& Blend() const { return blend_; }
  TextStyle& Style() { return textStyle_; }
  void SetClamp(double low, double high) { clampLow_ = low; clampHigh_ = high; }
  void SetValueDisplayControl(ITextControl* c) { valueDisplay_ = c; }
  void SetNameDisplayControl(ITextControl* c) { nameDisplay_ = c; }
  int AuxBindingCount() const { return static_cast<int>(auxBindings_.size()); }
  const AuxParamBinding& AuxBinding(int i) const { return auxBindings_[static_cast<size_t>(i)]; }
  void AddAuxBinding(int paramIndex) { auxBindings_.push_back({0.0, paramIndex}); }
  void SetTooltip(const std::string& text) { tooltip_ = text; }
  const std::string& Tooltip() const { return tooltip_; }
  int TextEntryLength() const { return textEntryLength_; }
  // The graphics core that owns this control; set by AddControl.
  void SetGraphics(IGraphics* graphics) { graphics_ = graphics; }
  IGraphics* Graphics() const { return graphics_; }

 protected:
  int textEntryLength_ = 7;
  TextStyle textStyle_;
  IEffectBase* plug_;
  IGraphics* graphics_ = nullptr;
  PixelRect rect_;
  PixelRect targetRect_;
  int paramIndex_;
  std::vector<AuxParamBinding> auxBindings_;
  double value_ = 0.0;
  double defaultValue_ = -1.0;
  double clampLow_ = 0.0;
  double clampHigh_ = 1.0;
  bool dirty_ = true;
  bool hidden_ = false;
  bool grayed_ = false;
  bool redrawAgain_ = false;
  bool promptDisabled_ = true;
  bool doubleClickAsClick_ = false;
  bool mouseOverWhenGrayed_ = false;
  ChannelBlend blend_;
  ITextControl* valueDisplay_ = nullptr;
  ITextControl* nameDisplay_ = nullptr;
  std::string tooltip_;
};

// The frame of an N-frame filmstrip that shows `value`: 1 for N <= 1, else
// trunc((N - 1) * value + 0.5) + 1 limited to 1..N.
int FrameForValue(int frameCount, double value);

// Shows one frame of an image chosen by the value (the background, the meter).
class IBitmapControl : public IControl {
 public:
  IBitmapControl(IEffectBase* plug, int x, int y, int paramIndex, const BitmapRef& image,
                 int blendMethod = BlendNormal);
  bool Paint(IGraphics* graphics) override;
  const BitmapRef& Image() const { return image_; }

 protected:
  BitmapRef image_;
};

// A filmstrip switch: every click steps to the next frame and wraps.
class ISwitchControl : public IBitmapControl {
 public:
  using IBitmapControl::IBitmapControl;
  void HandleMouseDown(int x, int y, const MouseMods& mods) override;
  void HandleDoubleClick(int x, int y, const MouseMods& mods) override;
};

// One piece of text in a rectangle.
class ITextControl : public IControl {
 public:
  ITextControl(IEffectBase* plug, const PixelRect& rect, const TextStyle& style,
               const char* text);
  bool Paint(IGraphics* graphics) override;
  void ShowText(const char* text);
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

enum KnobDirection { KnobVertical = 0, KnobHorizontal = 1 };

// Dragging and wheel behaviour of a knob; never instantiated by itself.
class IKnobControl : public IControl {
 public:
  void HandleMouseDrag(int x, int y, int dX, int dY, const MouseMods& mods) override;
  void HandleWheel(int x, int y, const MouseMods& mods, int steps) override;
  int Direction() const { return direction_; }
  double Gearing() const { return gearing_; }

 protected:
  IKnobControl(IEffectBase* plug, const PixelRect& rect, int paramIndex, int direction,
               double gearing);
  int direction_;
  double gearing_;
};

// A knob drawn as a filmstrip with one frame per position.
class IKnobMultiControl : public IKnobControl {
 public:
  IKnobMultiControl(IEffectBase* plug, int x, int y, int paramIndex, const BitmapRef& image,
                    int direction = KnobVertical, double gearing = 4.0);
  bool Paint(IGraphics* graphics) override;
  const BitmapRef& Image() const { return image_; }

 private:
  BitmapRef image_;
};
