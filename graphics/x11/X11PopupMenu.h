// X11PopupMenu: a popup menu shown by the editor itself, as override-redirect
// windows on the editor's display connection, with a modal loop of its own
// (the caller waits for the choice, as with a platform popup menu).
//
// Items show their number prefix (window_services::MenuItemLabel); grayed,
// disabled and separator items cannot be chosen; a checked item carries a
// mark; an item with a submenu opens it to its right. Mouse: moving
// highlights, a left-button release on an item chooses it, a press outside
// every open menu dismisses. Keys: Up and Down move, Right opens a submenu,
// Left closes one, Enter or Space chooses, Escape closes the innermost menu.
// The menu also ends when the owner window is destroyed.
#pragma once

#include <memory>
#include <vector>

#include "IGraphics.h"
#include "PIX_Bitmap.h"

typedef struct _XDisplay Display;
union _XEvent;

class X11PopupMenu {
 public:
  // Sizes at scale 1; a menu at another scale multiplies them (and its text
  // size) by the editor's scale, so it is as large and as sharp as the editor.
  static constexpr int kItemHeight = 20;
  static constexpr int kSeparatorHeight = 7;

  X11PopupMenu(Display* display, unsigned long owner, double scale = 1.0);
  ~X11PopupMenu();
  X11PopupMenu(const X11PopupMenu&) = delete;
  X11PopupMenu& operator=(const X11PopupMenu&) = delete;

  // Shows `menu` with its top-left corner at (rootX, rootY) and waits for
  // the choice. Returns the menu (top or sub) holding the chosen index, or
  // null when the menu was dismissed.
  PopupMenu* Run(PopupMenu* menu, int rootX, int rootY);
  bool OwnerDestroyed() const { return ownerDestroyed_; }

 private:
  struct Level {
    PopupMenu* menu = nullptr;
    unsigned long window = 0;  // X window id
    int x = 0, y = 0, width = 0, height = 0;
    int highlight = -1;
    std::vector<int> itemTops;  // one more than items: the bottom
    PIX_SysBitmap pixels;
  };

  bool OpenLevel(PopupMenu* menu, int rootX, int rootY);
  void CloseLevelsAbove(size_t keep);
  void Paint(Level& level);
  bool Selectable(const PopupMenuItem& item) const;
  int ItemAt(const Level& level, int rootX, int rootY) const;
  int LevelAt(int rootX, int rootY) const;
  void Highlight(size_t levelIndex, int item);
  void MoveHighlight(int direction);
  bool OpenSubmenu(size_t levelIndex);
  bool Activate(size_t levelIndex, int item);
  bool GrabInput();
  int Scaled(int length) const;
  void HandleEvent(const _XEvent& event);

  Display* display_;
  unsigned long owner_;  // X window id
  double scale_;
  std::vector<std::unique_ptr<Level>> levels_;
  bool running_ = false;
  bool ownerDestroyed_ = false;
  PopupMenu* chosen_ = nullptr;
};
