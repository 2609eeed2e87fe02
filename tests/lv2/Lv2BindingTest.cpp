// The LV2 binding driven in-process through a small probe effect: what the
// module cannot show from outside (the plug-in lock held by another thread).
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <vector>

#include "IEffectLV2.h"
#include "Lv2Ports.h"

namespace {

class ProbeLv2 : public IEffectLV2 {
 public:
  // One parameter; four inputs (main and sidechain pairs), two outputs.
  ProbeLv2() : IEffectLV2(Lv2CreationArg{48000, nullptr}, EffectIdentity{1, "4-2"}) {
    ParamAt(0)->InitContinuous("GAIN", 0, 0, 10, 0.01, "", "", 1);
  }
  void ProcessBlock(double** inputs, double** outputs, int frames) override {
    ++blocks;
    IEffectLV2::ProcessBlock(inputs, outputs, frames);
  }
  int blocks = 0;
};

}  // namespace

// A state save may run beside run() and holds the lock while it reads the
// values; run() is hard real-time and must not wait for it.
TEST(Lv2Binding, RunDoesNotWaitForASaveAndTakesThePortsOneRunLater) {
  ProbeLv2 plug;
  std::vector<float> in(64, 0.5f), left(64), right(64);
  for (uint32_t port = 0; port < 4; ++port) plug.ConnectPort(port, in.data());
  plug.ConnectPort(lv2ports::kOutLeft, left.data());
  plug.ConnectPort(lv2ports::kOutRight, right.data());
  float gain = 0.0f;
  plug.ConnectPort(lv2ports::kFirstParamPort, &gain);
  plug.Run(64);
  gain = 4.0f;

  std::promise<void> held, release;
  std::future<void> released = release.get_future();
  std::thread save([&] {
    std::lock_guard<PlugMutex> guard(plug.PlugLock());
    held.set_value();
    released.wait();
  });
  held.get_future().wait();
  auto run = std::async(std::launch::async, [&] { plug.Run(64); });
  const bool returned = run.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  const double gainDuringSave = plug.ParamAt(0)->value;
  release.set_value();
  save.join();
  run.wait();
  ASSERT_TRUE(returned) << "run() waited for the lock";
  EXPECT_EQ(plug.blocks, 2) << "the block ran";
  EXPECT_EQ(left[63], 0.5f);
  EXPECT_EQ(gainDuringSave, 0.0) << "nothing changed while the save read";
  plug.Run(64);
  EXPECT_EQ(plug.ParamAt(0)->value, 4.0);
}
