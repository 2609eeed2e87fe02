#include "IControl.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "IEffectBase.h"
#include "IGraphics.h"

// ---------------------------------------------------------------- IControl

IControl::IControl(IEffectBase* plug, const PixelRect& rect, int paramIndex, ChannelBlend blend)
    : plug_(plug), rect_(rect), targetRect_(rect), paramIndex_(paramIndex), blend_(blend) {}

void IControl::HandleMouseDown(int, int, const MouseMods& mods) {
  if (mods.right) PromptUserInput();
}

void IControl::HandleDoubleClick(int, int, const MouseMods&) {
  if (defaultValue_ >= 0.0) {
    value_ = defaultValue_;
    MarkDirty(true);
  }
}

void IControl::ReceivePlugValue(double value) {
  if (defaultValue_ < 0.0) {
    // The first value from the plug-in is the default a double click restores.
    value_ = value;
    defaultValue_ = value;
    return;
  }
  if (!(value == value_)) {  // any difference, NaN included
    value_ = value;
    MarkDirty(false);
    redrawAgain_ = true;
  }
}

void IControl::ReceiveUserValue(double value) {
  if (!(value == value_)) {
    value_ = value;
    MarkDirty(true);
    redrawAgain_ = true;
  }
}

void IControl::ReceiveAuxValue(int bindingIndex, double value) {
  if (bindingIndex < 0 || bindingIndex >= AuxBindingCount()) return;
  AuxParamBinding& b = auxBindings_[static_cast<size_t>(bindingIndex)];
  if (!(b.value == value)) {
    b.value = value;
    MarkDirty(false);
    redrawAgain_ = true;
  }
}

void IControl::SetHidden(bool hidden) {
  hidden_ = hidden;
  redrawAgain_ = true;
  MarkDirty(false);
}

void IControl::SetGrayed(bool grayed) {
  grayed_ = grayed;
  blend_.weight = grayed ? 0.25f : 1.0f;
  MarkDirty(false);
}

bool IControl::HitTest(int x, int y) const { return targetRect_.Contains(x, y); }

void IControl::MarkClean() {
  dirty_ = redrawAgain_;
  redrawAgain_ = false;
}

void IControl::MarkDirty(bool pushToPlug) {
  if (value_ < clampLow_)
    value_ = clampLow_;
  else
    value_ = std::fmin(clampHigh_, value_);
  dirty_ = true;
  if (!pushToPlug || !plug_ || paramIndex_ < 0) return;
  plug_->SetParamFromEditor(paramIndex_, value_);
  const PlugParam* param = plug_->ParamAt(paramIndex_);
  if (!param) return;
  if (valueDisplay_) {
    char display[33];
    param->FormatValue(param->value, false, true, display, sizeof display);
    char text[80];
    const char* valueText = nullptr;
    double v = param->value;
    if (v > -2147483648.0 && v < 2147483648.0) valueText = param->ValueTextFor(static_cast<int>(v));
    if (valueText && valueText[0])
      std::snprintf(text, sizeof text, "%s", display);
    else
      std::snprintf(text, sizeof text, "%s %.32s", display, param->label);
    valueDisplay_->ShowText(text);
  }
  if (nameDisplay_) nameDisplay_->ShowText(param->name);
}

void IControl::PromptUserInput() {
  if (paramIndex_ < 0 || promptDisabled_ || !plug_ || !graphics_) return;
  PlugParam* param = plug_->ParamAt(paramIndex_);
  if (!param) return;
  PixelRect prompt = rect_;
  if (param->valueTexts.empty()) {
    int cx = static_cast<int>((rect_.left + rect_.right) * 0.5);
    int cy = static_cast<int>((rect_.top + rect_.bottom) * 0.5);
    prompt = PixelRect(cx - 20, cy - 8, cx + 20, cy + 8);
  }
  graphics_->PromptParameterInput(this, param, prompt);
  redrawAgain_ = true;
}

// ---------------------------------------------------------------- frames

int FrameForValue(int frameCount, double value) {
  if (frameCount <= 1) return 1;
  double i = std::trunc((frameCount - 1) * value + 0.5) + 1.0;
  if (!(i >= 1.0)) return 1;  // NaN shows the first frame
  if (i > frameCount) return frameCount;
  return static_cast<int>(i);
}

// Source offset of frame `frame` (1-based) within the whole image.
static void FrameOffset(const BitmapRef& image, int frame, int* srcX, int* srcY) {
  *srcX = *srcY = 0;
  int n = image.frameCount;
  if (n < 2 || frame < 2) return;
  if (image.framesSideBySide)
    *srcX = static_cast<int>(std::trunc(image.width * static_cast<double>(frame - 1) / n + 0.5));
  else
    *srcY = static_cast<int>(std::trunc(image.height * static_cast<double>(frame - 1) / n + 0.5));
}

static PixelRect FrameRect(int x, int y, const BitmapRef& image) {
  return PixelRect(x, y, x + image.FrameWidth(), y + image.FrameHeight());
}

// ---------------------------------------------------------------- IBitmapControl

IBitmapControl::IBitmapControl(IEffectBase* plug, int x, int y, int paramIndex,
                               const BitmapRef& image, int blendMethod)
    : IControl(plug, FrameRect(x, y, image), paramIndex, ChannelBlend(blendMethod, 1.0f)),
      image_(image) {}

bool IBitmapControl::Paint(IGraphics* graphics) {
  if (!graphics) return false;
  int srcX, srcY;
  FrameOffset(image_, FrameForValue(image_.frameCount, value_), &srcX, &srcY);
  return graphics->DrawImage(image_, rect_, srcX, srcY, &blend_);
}

// ---------------------------------------------------------------- ISwitchControl

void ISwitchControl::HandleMouseDown(int, int, const MouseMods&) {
  int n = image_.frameCount;
  value_ += n >= 2 ? 1.0 / (n - 1) : 1.0;
  if (value_ > 1.001) value_ = 0.0;
  MarkDirty(true);
}

void ISwitchControl::HandleDoubleClick(int x, int y, const MouseMods& mods) {
  HandleMouseDown(x, y, mods);  // a double click counts as a second click
}

// ---------------------------------------------------------------- ITextControl

ITextControl::ITextControl(IEffectBase* plug, const PixelRect& rect, const TextStyle& style,
                           const char* text)
    : IControl(plug, rect, -1), text_(text ? text : "") {
  textStyle_ = style;
}

bool ITextControl::Paint(IGraphics* graphics) {
  if (!graphics) return false;
  if (text_.empty()) return true;
  return graphics->DrawTextInRect(textStyle_, text_.c_str(), rect_);
}

void ITextControl::ShowText(const char* text) {
  std::string next = text ? text : "";
  if (next == text_) return;
  MarkDirty(false);
  text_ = next;
}

// ---------------------------------------------------------------- knobs

IKnobControl::IKnobControl(IEffectBase* plug, const PixelRect& rect, int paramIndex,
                           int direction, double gearing)
    : IControl(plug, rect, paramIndex, ChannelBlend(BlendNormal, 1.0f)),
      direction_(direction),
      gearing_(gearing) {}

void IKnobControl::HandleMouseDrag(int, int, int dX, int dY, const MouseMods& mods) {
  // A control without an image has no extent to drag across.
  int extent = direction_ == KnobVertical ? rect_.bottom - rect_.top : rect_.right - rect_.left;
  if (extent == 0) return;
  double g = gearing_;
  if (mods.control || mods.shift) g *= 10.0;
  if (direction_ == KnobVertical) {
    // The denominator is minus the height: moving up raises the value.
    value_ += static_cast<double>(dY) / static_cast<double>(rect_.top - rect_.bottom) / g;
  } else {
    value_ += static_cast<double>(dX) / static_cast<double>(rect_.right - rect_.left) / g;
  }
  MarkDirty(true);
}

void IKnobControl::HandleWheel(int, int, const MouseMods& mods, int steps) {
  value_ += steps * ((mods.control || mods.shift) ? 0.001 : 0.01);
  MarkDirty(true);
}

IKnobMultiControl::IKnobMultiControl(IEffectBase* plug, int x, int y, int paramIndex,
                                     const BitmapRef& image, int direction, double gearing)
    : IKnobControl(plug, FrameRect(x, y, image), paramIndex, direction, gearing), image_(image) {}

bool IKnobMultiControl::Paint(IGraphics* graphics) {
  if (!graphics) return false;
  int srcX, srcY;
  FrameOffset(image_, FrameForValue(image_.frameCount, value_), &srcX, &srcY);
  return graphics->DrawImage(image_, rect_, srcX, srcY, &blend_);
}
