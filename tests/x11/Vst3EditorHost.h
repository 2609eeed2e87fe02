// What a Linux VST3 host brings to an editor view: a run loop (file
// descriptors watched with poll, timers at their intervals, both called on
// the "user-interface thread", which is the test's), a plug frame that offers
// it and records resize requests, and a component handler that records
// gestures and offers the host's parameter context menu (IComponentHandler3).
#pragma once

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "../vst3/HostObjects.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstcontextmenu.h"

namespace host {

class RunLoop : public Linux::IRunLoop {
 public:
  struct Handler {
    Linux::IEventHandler* handler;
    int fd;
  };
  struct Timer {
    Linux::ITimerHandler* handler;
    int ms;
    std::chrono::steady_clock::time_point next;
  };
  std::vector<Handler> handlers;
  std::vector<Timer> timers;
  int fdCalls = 0;
  int timerCalls = 0;

  tresult PLUGIN_API registerEventHandler(Linux::IEventHandler* handler,
                                          Linux::FileDescriptor fd) override {
    if (!handler || fd < 0) return kInvalidArgument;
    handlers.push_back({handler, fd});
    return kResultOk;
  }
  tresult PLUGIN_API unregisterEventHandler(Linux::IEventHandler* handler) override {
    for (auto it = handlers.begin(); it != handlers.end(); ++it)
      if (it->handler == handler) {
        handlers.erase(it);
        return kResultOk;
      }
    return kInvalidArgument;
  }
  tresult PLUGIN_API registerTimer(Linux::ITimerHandler* handler,
                                   Linux::TimerInterval ms) override {
    if (!handler || ms == 0) return kInvalidArgument;
    timers.push_back({handler, static_cast<int>(ms),
                      std::chrono::steady_clock::now() + std::chrono::milliseconds(ms)});
    return kResultOk;
  }
  tresult PLUGIN_API unregisterTimer(Linux::ITimerHandler* handler) override {
    for (auto it = timers.begin(); it != timers.end(); ++it)
      if (it->handler == handler) {
        timers.erase(it);
        return kResultOk;
      }
    return kInvalidArgument;
  }

  // Runs the loop for at least `ms` milliseconds and at least kMinTurns
  // turns, as a host's event loop would: poll the registered descriptors,
  // call the ready ones, then the due timers. Every timer fires at least once
  // per call, so what a test sees does not depend on how busy the machine
  // is. A callback may unregister anything; the lists are re-read.
  static constexpr int kMinTurns = 8;
  void Run(int ms) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    std::vector<Linux::ITimerHandler*> fired;
    for (int turn = 0; turn < kMinTurns || Clock::now() < end; ++turn) {
      std::vector<pollfd> fds;
      for (const Handler& h : handlers) fds.push_back({h.fd, POLLIN, 0});
      poll(fds.data(), fds.size(), 5);
      for (const pollfd& p : fds) {
        if (!(p.revents & POLLIN)) continue;
        for (const Handler& h : handlers)
          if (h.fd == p.fd) {
            ++fdCalls;
            h.handler->onFDIsSet(p.fd);
            break;
          }
      }
      const auto now = Clock::now();
      for (size_t i = 0; i < timers.size(); ++i) {
        if (timers[i].next > now) continue;
        timers[i].next = now + std::chrono::milliseconds(timers[i].ms);
        ++timerCalls;
        fired.push_back(timers[i].handler);
        timers[i].handler->onTimer();
      }
    }
    for (size_t i = 0; i < timers.size(); ++i) {
      if (std::find(fired.begin(), fired.end(), timers[i].handler) != fired.end()) continue;
      timers[i].next = Clock::now() + std::chrono::milliseconds(timers[i].ms);
      ++timerCalls;
      timers[i].handler->onTimer();
    }
  }

  KESTRUNE_HOST_QUERY(Linux::IRunLoop)
  KESTRUNE_HOST_REFCOUNT
};

struct PlugFrame : IPlugFrame {
  RunLoop* runLoop = nullptr;  // none: a host without a run loop
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
    if (runLoop && SameId(iid, Linux::IRunLoop_iid)) {
      runLoop->addRef();
      *obj = static_cast<Linux::IRunLoop*>(runLoop);
      return kResultOk;
    }
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
