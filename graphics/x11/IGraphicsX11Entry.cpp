// The text-entry box of the X11 editor: drawn by the editor itself over the
// back buffer with the glyph cache, in the edited control's entry colours.
// It takes the keys while open; the redraw tick commits or cancels it by the
// entry states every window layer shares (Enter and focus loss commit,
// Escape and the wheel cancel, a press outside it commits).
#include "IGraphicsX11.h"
#include "PIX_Font.h"
#include "PlugParam.h"
#include "WindowServices.h"
#include "X11ErrorTrap.h"
#include "XlibIncludes.h"

void IGraphicsX11::ShowTextEntry(IControl* control, const TextStyle& style, const PixelRect& rect,
                                 const char* initialText, PlugParam* param) {
  if (!control || entryControl_ || !window_ || inMenu_) return;
  // The box covers the rectangle and one pixel more to the right and below.
  entryRect_ = PixelRect(rect.left, rect.top, rect.right + 1, rect.bottom + 1);
  entryStyle_ = style;
  entryStyle_.cachedFont = nullptr;
  entryStyle_.colour = style.entryTextColour;
  entryLimit_ = control->TextEntryLength();
  entryText_ = initialText ? initialText : "";
  if (entryLimit_ >= 0 && entryText_.size() > static_cast<size_t>(entryLimit_))
    entryText_.resize(static_cast<size_t>(entryLimit_));
  entryCaret_ = entryText_.size();
  entrySelectAll_ = true;
  entryControl_ = control;
  entryParam_ = param;
  entryState_ = kEntryFocused;
  {
    // The keys go to the box. The press that opened it keeps its grab until
    // its release, which ends the gesture as usual.
    X11ErrorTrap trap(display_);
    XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
  }
  PresentRect(entryRect_);
}

void IGraphicsX11::CancelTextEntry() {
  if (entryControl_) entryState_ = kEntryCancel;
}

// Keys for the box: characters the parameter accepts, editing keys, Enter
// and Escape. Every key is the box's while it is open.
bool IGraphicsX11::EntryKey(XEvent& pressed) {
  XKeyEvent& event = pressed.xkey;
  char typed[8] = {};
  KeySym sym = NoSymbol;
  const int length = XLookupString(&event, typed, sizeof typed - 1, &sym, nullptr);
  switch (sym) {
    case XK_Return:
    case XK_KP_Enter:
      entryState_ = kEntryCommit;
      return true;
    case XK_Escape:
      entryState_ = kEntryCancel;
      return true;
    case XK_BackSpace:
      if (entrySelectAll_) {
        entryText_.clear();
        entryCaret_ = 0;
      } else if (entryCaret_ > 0) {
        entryText_.erase(--entryCaret_, 1);
      }
      break;
    case XK_Delete:
    case XK_KP_Delete:
      if (entrySelectAll_) {
        entryText_.clear();
        entryCaret_ = 0;
      } else if (entryCaret_ < entryText_.size()) {
        entryText_.erase(entryCaret_, 1);
      }
      break;
    case XK_Left:
    case XK_KP_Left:
      if (!entrySelectAll_ && entryCaret_ > 0) --entryCaret_;
      break;
    case XK_Right:
    case XK_KP_Right:
      if (!entrySelectAll_ && entryCaret_ < entryText_.size()) ++entryCaret_;
      break;
    case XK_Home:
    case XK_KP_Home:
      entryCaret_ = 0;
      break;
    case XK_End:
    case XK_KP_End:
      entryCaret_ = entryText_.size();
      break;
    default: {
      if (length != 1) return true;
      const unsigned char c = static_cast<unsigned char>(typed[0]);
      if (c < 0x20 || c > 0x7E) return true;
      if (entryParam_ && !window_services::EntryAcceptsChar(entryParam_, c)) return true;
      if (entrySelectAll_) {
        entryText_.clear();
        entryCaret_ = 0;
      }
      if (entryLimit_ >= 0 && entryText_.size() >= static_cast<size_t>(entryLimit_)) break;
      entryText_.insert(entryCaret_++, 1, static_cast<char>(c));
      break;
    }
  }
  entrySelectAll_ = false;
  PresentRect(entryRect_);
  return true;
}

void IGraphicsX11::PaintEntryBox() {
  PIX_IBitmap* buffer = BackBuffer();
  if (!buffer || !entryControl_) return;
  const PixelRect& r = entryRect_;
  const uint32_t background = entryStyle_.entryBackgroundColour.ToPixel() | 0xFF000000u;
  const uint32_t ink = entryStyle_.entryTextColour.ToPixel() | 0xFF000000u;
  FillPixelRect(buffer, r.left, r.top, r.Width(), r.Height(), background, 1.0f, BlitCopy);
  PIX_CachedFont* font = FindOrCreateFont(entryStyle_);
  int format = TextFormatSingleLine | TextFormatVCentre;
  if (entryStyle_.alignment == AlignCentre) format |= TextFormatCentre;
  if (entryStyle_.alignment == AlignRight) format |= TextFormatRight;
  int textWidth = 0, caretOffset = 0;
  if (font) {
    PixelRect measured(0, 0, 0, 0);
    if (!entryText_.empty())
      font->DrawTextInto(nullptr, entryText_.c_str(), -1, &measured, format | TextFormatCalcRect);
    textWidth = measured.Width();
    PixelRect prefix(0, 0, 0, 0);
    if (entryCaret_ > 0)
      font->DrawTextInto(nullptr, entryText_.c_str(), static_cast<int>(entryCaret_), &prefix,
                         format | TextFormatCalcRect);
    caretOffset = prefix.Width();
  }
  int textLeft = r.left + 1;
  if (entryStyle_.alignment == AlignCentre) textLeft = (r.left + r.right) / 2 - textWidth / 2;
  if (entryStyle_.alignment == AlignRight) textLeft = r.right - 2 - textWidth;
  uint32_t textColour = ink;
  if (entrySelectAll_ && textWidth > 0) {
    // Selected text shows inverted.
    FillPixelRect(buffer, textLeft, r.top + 1, textWidth, r.Height() - 2, ink, 1.0f, BlitCopy);
    textColour = background;
  }
  if (font && !entryText_.empty()) {
    font->SetTextColour(textColour);
    PixelRect textRect = r;
    font->DrawTextInto(buffer, entryText_.c_str(), -1, &textRect, format, &r);
  }
  if (!entrySelectAll_) {
    const int caretX = std::min(std::max(textLeft + caretOffset, r.left), r.right - 1);
    FillPixelRect(buffer, caretX, r.top + 2, 1, std::max(r.Height() - 4, 1), ink, 1.0f, BlitCopy);
  }
}

void IGraphicsX11::CommitEntry() {
  if (!entryControl_) return;
  // The same 31 characters at most that every window layer reads back.
  const std::string text = entryText_.substr(0, 31);
  if (!entryParam_) {
    entryControl_->ReceiveEnteredText(text.c_str());
    return;
  }
  const double plain = window_services::PlainFromEntryText(*entryParam_, text.c_str());
  entryControl_->ReceiveUserValue(entryParam_->NormalizedFromPlain(plain));
}

void IGraphicsX11::CloseEntryBox(bool repaint) {
  if (!entryControl_) return;
  entryControl_ = nullptr;
  entryParam_ = nullptr;
  entryText_.clear();
  entryCaret_ = 0;
  entrySelectAll_ = false;
  entryState_ = kEntryIdle;
  // What lay under the box comes back.
  if (repaint && window_) DrawRegion(entryRect_);
}
