// What a VST3 host brings to an editor view, on any platform: a plug frame
// that records resize requests (and offers the host's run loop on Linux), and
// a component handler that records the edits and gestures the editor reports
// and offers the host's parameter context menu (IComponentHandler3). Like
// the other host objects, they are counted but never delete.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "Vst3HostObjects.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstcontextmenu.h"

namespace host {

struct PlugFrame : IPlugFrame {
#if SMTG_OS_LINUX
  Linux::IRunLoop* runLoop = nullptr;  // none: a host without a run loop
#endif
  std::vector<ViewRect> resizes;
  tresult PLUGIN_API resizeView(IPlugView* view, ViewRect* size) override {
    if (!view || !size) return kInvalidArgument;
    resizes.push_back(*size);
    view->onSize(size);
    return kResultOk;
  }
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
    if (SameId(iid, FUnknown_iid) || SameId(iid, IPlugFrame_iid)) {
      addRef();
      *obj = static_cast<IPlugFrame*>(this);
      return kResultOk;
    }
#if SMTG_OS_LINUX
    if (runLoop && SameId(iid, Linux::IRunLoop_iid)) {
      runLoop->addRef();
      *obj = runLoop;
      return kResultOk;
    }
#endif
    *obj = nullptr;
    return kNoInterface;
  }
  KESTRUNE_HOST_REFCOUNT
};

struct ContextMenu : IContextMenu {
  std::vector<std::pair<int, int>> popups;
  int32 PLUGIN_API getItemCount() override { return 0; }
  tresult PLUGIN_API getItem(int32, Item&, IContextMenuTarget**) override { return kResultFalse; }
  tresult PLUGIN_API addItem(const Item&, IContextMenuTarget*) override { return kResultOk; }
  tresult PLUGIN_API removeItem(const Item&, IContextMenuTarget*) override { return kResultOk; }
  tresult PLUGIN_API popup(UCoord x, UCoord y) override {
    popups.emplace_back(x, y);
    return kResultOk;
  }
  KESTRUNE_HOST_QUERY(IContextMenu)
  KESTRUNE_HOST_REFCOUNT
};

struct EditorComponentHandler : IComponentHandler, IComponentHandler3 {
  struct Event {
    char what;  // 'b' begin, 'p' perform, 'e' end, 'm' menu
    ParamID id;
    ParamValue value;
  };
  std::vector<Event> events;
  ContextMenu menu;
  IPlugView* menuView = nullptr;

  int Count(char what, ParamID id) const {
    int n = 0;
    for (const Event& e : events) n += e.what == what && e.id == id;
    return n;
  }
  // The last value performed for `id`; -1 when none.
  double LastValue(ParamID id) const {
    double v = -1.0;
    for (const Event& e : events)
      if (e.what == 'p' && e.id == id) v = e.value;
    return v;
  }
  // Empty when the last menu was asked for by `view`, popped up at (x, y)
  // and released; else what is wrong.
  std::string MenuWrong(const IPlugView* view, int x, int y) const {
    if (menuView != view) return "the menu was asked for by another view";
    if (menu.popups.empty()) return "the menu never popped up";
    if (menu.popups.back() != std::make_pair(x, y))
      return "the menu popped up at " + std::to_string(menu.popups.back().first) + ", " +
             std::to_string(menu.popups.back().second);
    if (menu.refs != 0) return "the menu is not released";
    return "";
  }

  tresult PLUGIN_API beginEdit(ParamID id) override {
    events.push_back({'b', id, 0});
    return kResultOk;
  }
  tresult PLUGIN_API performEdit(ParamID id, ParamValue value) override {
    events.push_back({'p', id, value});
    return kResultOk;
  }
  tresult PLUGIN_API endEdit(ParamID id) override {
    events.push_back({'e', id, 0});
    return kResultOk;
  }
  tresult PLUGIN_API restartComponent(int32) override { return kResultOk; }
  IContextMenu* PLUGIN_API createContextMenu(IPlugView* view, const ParamID* id) override {
    events.push_back({'m', id ? *id : 0xFFFFFFFFu, 0});
    menuView = view;
    menu.addRef();
    return &menu;
  }
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
    if (SameId(iid, FUnknown_iid) || SameId(iid, IComponentHandler_iid)) {
      addRef();
      *obj = static_cast<IComponentHandler*>(this);
      return kResultOk;
    }
    if (SameId(iid, IComponentHandler3_iid)) {
      addRef();
      *obj = static_cast<IComponentHandler3*>(this);
      return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
  }
  KESTRUNE_HOST_REFCOUNT
};

}  // namespace host
