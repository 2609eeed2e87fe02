#include "X11PopupMenu.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "PIX_Font.h"
#include "WindowServices.h"
#include "X11ErrorTrap.h"
#include "XlibIncludes.h"

namespace {

constexpr uint32_t kFace = 0xFFF0F0F0;
constexpr uint32_t kFrame = 0xFF808080;
constexpr uint32_t kHighlight = 0xFF3875D7;
constexpr uint32_t kText = 0xFF000000;
constexpr uint32_t kTextHighlighted = 0xFFFFFFFF;
constexpr uint32_t kTextGrayed = 0xFF9A9A9A;
constexpr int kPadLeft = 22;   // room for the check mark
constexpr int kPadRight = 22;  // room for the submenu arrow
constexpr long kMenuEvents = ExposureMask | ButtonPressMask | ButtonReleaseMask |
                             PointerMotionMask | KeyPressMask;

TextStyle MenuStyle(int size) {
  TextStyle style;
  style.size = size;
  style.alignment = AlignLeft;
  return style;
}

}  // namespace

X11PopupMenu::X11PopupMenu(Display* display, unsigned long owner, double scale)
    : display_(display), owner_(owner), scale_(scale > 0 && scale <= 4 ? scale : 1.0) {}

int X11PopupMenu::Scaled(int length) const {
  return scale_ == 1.0 ? length : static_cast<int>(std::lround(length * scale_));
}

X11PopupMenu::~X11PopupMenu() { CloseLevelsAbove(0); }

bool X11PopupMenu::Selectable(const PopupMenuItem& item) const {
  return !(item.flags & (PopupMenuItem::Grayed | PopupMenuItem::Disabled |
                         PopupMenuItem::Separator));
}

bool X11PopupMenu::OpenLevel(PopupMenu* menu, int rootX, int rootY) {
  if (!menu || menu->items.empty()) return false;
  auto level = std::make_unique<Level>();
  level->menu = menu;
  TextStyle style = MenuStyle(Scaled(12));
  PIX_CachedFont* font = IGraphics::FindOrCreateFont(style);
  int width = Scaled(60), top = 2;
  for (size_t i = 0; i < menu->items.size(); ++i) {
    const PopupMenuItem& item = menu->items[i];
    level->itemTops.push_back(top);
    if (item.flags & PopupMenuItem::Separator) {
      top += Scaled(kSeparatorHeight);
      continue;
    }
    top += Scaled(kItemHeight);
    const std::string label =
        window_services::MenuItemLabel(menu->prefixKind, static_cast<int>(i) + 1, item.text);
    if (font && !label.empty()) {
      PixelRect measured(0, 0, 0, 0);
      font->DrawTextInto(nullptr, label.c_str(), -1, &measured,
                         TextFormatSingleLine | TextFormatCalcRect);
      width = std::max(width, measured.Width() + Scaled(kPadLeft) + Scaled(kPadRight));
    }
  }
  level->itemTops.push_back(top);
  level->width = std::min(width, Scaled(1200));
  level->height = top + 2;
  // Kept on the screen: moved left or up when it would run off.
  const Screen* screen = DefaultScreenOfDisplay(display_);
  level->x = std::max(0, std::min(rootX, WidthOfScreen(screen) - level->width));
  level->y = std::max(0, std::min(rootY, HeightOfScreen(screen) - level->height));
  if (!level->pixels.Resize(level->width, level->height)) return false;

  XSetWindowAttributes attributes;
  attributes.override_redirect = True;
  attributes.save_under = True;
  attributes.event_mask = kMenuEvents;
  attributes.background_pixel = 0xF0F0F0;
  level->window = XCreateWindow(
      display_, DefaultRootWindow(display_), level->x, level->y,
      static_cast<unsigned>(level->width), static_cast<unsigned>(level->height), 0,
      CopyFromParent, InputOutput, CopyFromParent,
      CWOverrideRedirect | CWSaveUnder | CWEventMask | CWBackPixel, &attributes);
  if (!level->window) return false;
  XSetTransientForHint(display_, level->window, owner_);
  XMapRaised(display_, level->window);
  levels_.push_back(std::move(level));
  Paint(*levels_.back());
  return true;
}

void X11PopupMenu::CloseLevelsAbove(size_t keep) {
  while (levels_.size() > keep) {
    if (levels_.back()->window) XDestroyWindow(display_, levels_.back()->window);
    levels_.pop_back();
  }
}

void X11PopupMenu::Paint(Level& level) {
  PIX_SysBitmap& px = level.pixels;
  FillPixelRect(&px, 0, 0, level.width, level.height, kFrame, 1.0f, BlitCopy);
  FillPixelRect(&px, 1, 1, level.width - 2, level.height - 2, kFace, 1.0f, BlitCopy);
  TextStyle style = MenuStyle(Scaled(12));
  PIX_CachedFont* font = IGraphics::FindOrCreateFont(style);
  const PopupMenu& menu = *level.menu;
  const int itemHeight = Scaled(kItemHeight);
  for (size_t i = 0; i < menu.items.size(); ++i) {
    const PopupMenuItem& item = menu.items[i];
    const int top = level.itemTops[i];
    if (item.flags & PopupMenuItem::Separator) {
      FillPixelRect(&px, 4, top + Scaled(kSeparatorHeight) / 2, level.width - 8, std::max(1, Scaled(1)),
                    kFrame, 1.0f, BlitCopy);
      continue;
    }
    const bool lit = static_cast<int>(i) == level.highlight && Selectable(item);
    if (lit) FillPixelRect(&px, 2, top, level.width - 4, itemHeight, kHighlight, 1.0f, BlitCopy);
    const uint32_t ink = !Selectable(item) ? kTextGrayed : lit ? kTextHighlighted : kText;
    if (item.flags & PopupMenuItem::Checked)
      FillPixelRect(&px, Scaled(8), top + itemHeight / 2 - Scaled(3), Scaled(6), Scaled(6), ink, 1.0f,
                    BlitCopy);
    if (item.submenu) {
      // A small right-pointing triangle.
      for (int d = 0; d < Scaled(4); ++d)
        FillPixelRect(&px, level.width - Scaled(14) + d, top + itemHeight / 2 - Scaled(4) + d, 1,
                      Scaled(9) - 2 * d, ink, 1.0f, BlitCopy);
    }
    const std::string label =
        window_services::MenuItemLabel(menu.prefixKind, static_cast<int>(i) + 1, item.text);
    if (font && !label.empty()) {
      font->SetTextColour(ink);
      PixelRect r(Scaled(kPadLeft), top, level.width - Scaled(kPadRight), top + itemHeight);
      font->DrawTextInto(&px, label.c_str(), -1, &r, TextFormatSingleLine | TextFormatVCentre, &r);
    }
  }
  XImage* image = XCreateImage(display_, DefaultVisual(display_, DefaultScreen(display_)),
                               static_cast<unsigned>(DefaultDepth(display_, DefaultScreen(display_))),
                               ZPixmap, 0, reinterpret_cast<char*>(px.PixelData()),
                               static_cast<unsigned>(level.width),
                               static_cast<unsigned>(level.height), 32, px.RowSpan() * 4);
  if (!image) return;
  image->byte_order = LSBFirst;
  GC gc = XCreateGC(display_, level.window, 0, nullptr);
  XPutImage(display_, level.window, gc, image, 0, 0, 0, 0, static_cast<unsigned>(level.width),
            static_cast<unsigned>(level.height));
  XFreeGC(display_, gc);
  image->data = nullptr;
  XDestroyImage(image);
  XFlush(display_);
}

int X11PopupMenu::LevelAt(int rootX, int rootY) const {
  for (size_t i = levels_.size(); i-- > 0;) {
    const Level& l = *levels_[i];
    if (rootX >= l.x && rootX < l.x + l.width && rootY >= l.y && rootY < l.y + l.height)
      return static_cast<int>(i);
  }
  return -1;
}

int X11PopupMenu::ItemAt(const Level& level, int rootX, int rootY) const {
  const int y = rootY - level.y;
  if (rootX < level.x || rootX >= level.x + level.width) return -1;
  for (size_t i = 0; i + 1 < level.itemTops.size(); ++i)
    if (y >= level.itemTops[i] && y < level.itemTops[i + 1]) return static_cast<int>(i);
  return -1;
}

void X11PopupMenu::Highlight(size_t levelIndex, int item) {
  Level& level = *levels_[levelIndex];
  if (level.highlight == item) return;
  level.highlight = item;
  Paint(level);
}

void X11PopupMenu::MoveHighlight(int direction) {
  Level& level = *levels_.back();
  const int count = static_cast<int>(level.menu->items.size());
  int i = level.highlight;
  for (int step = 0; step < count; ++step) {
    i = i < 0 ? (direction > 0 ? 0 : count - 1) : (i + direction + count) % count;
    if (Selectable(level.menu->items[static_cast<size_t>(i)])) {
      Highlight(levels_.size() - 1, i);
      return;
    }
  }
}

bool X11PopupMenu::OpenSubmenu(size_t levelIndex) {
  Level& level = *levels_[levelIndex];
  if (level.highlight < 0) return false;
  const PopupMenuItem& item = level.menu->items[static_cast<size_t>(level.highlight)];
  if (!item.submenu || !Selectable(item)) return false;
  CloseLevelsAbove(levelIndex + 1);
  return OpenLevel(item.submenu, level.x + level.width - 2,
                   level.y + level.itemTops[static_cast<size_t>(level.highlight)]);
}

// Chooses the item, or opens its submenu. True when the menu is done.
bool X11PopupMenu::Activate(size_t levelIndex, int item) {
  Level& level = *levels_[levelIndex];
  if (item < 0 || item >= static_cast<int>(level.menu->items.size())) return false;
  const PopupMenuItem& entry = level.menu->items[static_cast<size_t>(item)];
  if (!Selectable(entry)) return false;
  if (entry.submenu) {
    Highlight(levelIndex, item);
    OpenSubmenu(levelIndex);
    return false;
  }
  level.menu->chosenIndex = item;
  chosen_ = level.menu;
  return true;
}

bool X11PopupMenu::GrabInput() {
  const Window target = levels_.front()->window;
  // The pointer may still be held by the press that opened the menu.
  for (int attempt = 0; attempt < 50; ++attempt) {
    const int pointer = XGrabPointer(display_, target, True,
                                     ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                                     GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
    if (pointer == GrabSuccess) {
      XGrabKeyboard(display_, target, True, GrabModeAsync, GrabModeAsync, CurrentTime);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void X11PopupMenu::HandleEvent(const XEvent& event) {
  switch (event.type) {
    case Expose:
      for (auto& level : levels_)
        if (level->window == event.xexpose.window && event.xexpose.count == 0) Paint(*level);
      break;
    case MotionNotify: {
      const int l = LevelAt(event.xmotion.x_root, event.xmotion.y_root);
      if (l < 0) break;
      const size_t li = static_cast<size_t>(l);
      const int item = ItemAt(*levels_[li], event.xmotion.x_root, event.xmotion.y_root);
      if (item == levels_[li]->highlight) break;
      CloseLevelsAbove(li + 1);
      Highlight(li, item);
      OpenSubmenu(li);
      break;
    }
    case ButtonPress:
      if (LevelAt(event.xbutton.x_root, event.xbutton.y_root) < 0) running_ = false;
      break;
    case ButtonRelease: {
      if (event.xbutton.button != Button1) break;
      const int l = LevelAt(event.xbutton.x_root, event.xbutton.y_root);
      if (l < 0) break;
      const size_t li = static_cast<size_t>(l);
      if (Activate(li, ItemAt(*levels_[li], event.xbutton.x_root, event.xbutton.y_root)))
        running_ = false;
      break;
    }
    case KeyPress: {
      XKeyEvent key = event.xkey;
      const KeySym sym = XLookupKeysym(&key, 0);
      Level& level = *levels_.back();
      switch (sym) {
        case XK_Up:
        case XK_KP_Up:
          MoveHighlight(-1);
          break;
        case XK_Down:
        case XK_KP_Down:
          MoveHighlight(1);
          break;
        case XK_Right:
        case XK_KP_Right:
          if (OpenSubmenu(levels_.size() - 1)) MoveHighlight(1);
          break;
        case XK_Left:
        case XK_KP_Left:
          if (levels_.size() > 1) CloseLevelsAbove(levels_.size() - 1);
          break;
        case XK_Return:
        case XK_KP_Enter:
        case XK_space:
          if (Activate(levels_.size() - 1, level.highlight)) {
            running_ = false;
          } else if (levels_.size() > 1 && levels_.back()->highlight < 0) {
            MoveHighlight(1);
          }
          break;
        case XK_Escape:
          if (levels_.size() > 1)
            CloseLevelsAbove(levels_.size() - 1);
          else
            running_ = false;
          break;
        default:
          break;
      }
      break;
    }
    case DestroyNotify:
      if (event.xdestroywindow.window == owner_) {
        ownerDestroyed_ = true;
        running_ = false;
      }
      break;
    default:
      break;
  }
}

PopupMenu* X11PopupMenu::Run(PopupMenu* menu, int rootX, int rootY) {
  if (!display_ || !menu) return nullptr;
  X11ErrorTrap trap(display_);
  chosen_ = nullptr;
  if (!OpenLevel(menu, rootX, rootY)) {
    CloseLevelsAbove(0);
    return nullptr;
  }
  running_ = GrabInput();
  const int fd = ConnectionNumber(display_);
  while (running_) {
    if (XPending(display_) == 0) {
      pollfd p = {fd, POLLIN, 0};
      if (poll(&p, 1, 250) < 0) break;
      if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) break;
      continue;
    }
    XEvent event;
    XNextEvent(display_, &event);
    HandleEvent(event);
  }
  XUngrabKeyboard(display_, CurrentTime);
  XUngrabPointer(display_, CurrentTime);
  CloseLevelsAbove(0);
  XSync(display_, False);
  return chosen_;
}
