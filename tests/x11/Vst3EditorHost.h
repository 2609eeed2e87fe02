// What a Linux VST3 host brings to an editor view besides the host
// library's plug frame and component handler (Vst3EditorHostObjects.h): a
// run loop, file descriptors watched with poll and timers at their
// intervals, both called on the "user-interface thread", which is the
// test's.
#pragma once

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "../vst3/HostObjects.h"
#include "Vst3EditorHostObjects.h"

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

}  // namespace host
