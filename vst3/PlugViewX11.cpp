#include "PlugViewX11.h"

#include "X11EventPump.h"

using namespace Steinberg;

X11RunLoopLink* X11RunLoopLink::Attach(IPlugFrame* frame, X11EventPump* pump) {
  if (!frame || !pump || pump->ConnectionFd() < 0) return nullptr;
  Linux::IRunLoop* runLoop = nullptr;
  if (frame->queryInterface(Linux::IRunLoop_iid, reinterpret_cast<void**>(&runLoop)) !=
          kResultOk ||
      !runLoop)
    return nullptr;
  auto* link = new X11RunLoopLink;
  link->runLoop_ = runLoop;
  link->pump_ = pump;
  link->eventsRegistered_ = runLoop->registerEventHandler(
                                static_cast<Linux::IEventHandler*>(link), pump->ConnectionFd()) ==
                            kResultOk;
  link->timerRegistered_ =
      link->eventsRegistered_ &&
      runLoop->registerTimer(static_cast<Linux::ITimerHandler*>(link),
                             static_cast<Linux::TimerInterval>(pump->TickIntervalMs())) ==
          kResultOk;
  if (!link->timerRegistered_) {
    link->Detach();
    return nullptr;
  }
  return link;
}

void X11RunLoopLink::Detach() {
  pump_ = nullptr;
  if (runLoop_) {
    if (timerRegistered_) runLoop_->unregisterTimer(static_cast<Linux::ITimerHandler*>(this));
    if (eventsRegistered_)
      runLoop_->unregisterEventHandler(static_cast<Linux::IEventHandler*>(this));
    timerRegistered_ = eventsRegistered_ = false;
    runLoop_->release();
    runLoop_ = nullptr;
  }
  release();
}

void PLUGIN_API X11RunLoopLink::onFDIsSet(Linux::FileDescriptor) {
  if (pump_) pump_->HandlePendingEvents();
}

void PLUGIN_API X11RunLoopLink::onTimer() {
  if (!pump_) return;
  // Events first: a host may deliver the descriptor's readiness late.
  pump_->HandlePendingEvents();
  if (pump_) pump_->RedrawTick();
}

tresult PLUGIN_API X11RunLoopLink::queryInterface(const TUID iid, void** obj) {
  if (!obj) return kInvalidArgument;
  if (FUnknownPrivate::iidEqual(iid, FUnknown_iid) ||
      FUnknownPrivate::iidEqual(iid, Linux::IEventHandler_iid)) {
    addRef();
    *obj = static_cast<Linux::IEventHandler*>(this);
    return kResultOk;
  }
  if (FUnknownPrivate::iidEqual(iid, Linux::ITimerHandler_iid)) {
    addRef();
    *obj = static_cast<Linux::ITimerHandler*>(this);
    return kResultOk;
  }
  *obj = nullptr;
  return kNoInterface;
}

uint32 PLUGIN_API X11RunLoopLink::addRef() { return static_cast<uint32>(++refs_); }

uint32 PLUGIN_API X11RunLoopLink::release() {
  const int32 left = --refs_;
  if (left <= 0) delete this;
  return static_cast<uint32>(left < 0 ? 0 : left);
}
