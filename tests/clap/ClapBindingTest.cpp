// The CLAP binding in-process, through a small probe effect and the host
// library: what the module's own effect cannot show from outside (editor
// changes reaching the host, where in a block an event applies, the
// sidechain port's connection, the host re-reading values after a load).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ClapHostObjects.h"
#include "IEffectCLAP.h"

namespace {

using namespace host;

// One parameter. Output left is the parameter's value at each frame, output
// right the sidechain's left channel.
class ProbeClap : public IEffectCLAP {
 public:
  explicit ProbeClap(const clap_host* host)
      : IEffectCLAP(ClapCreationArg{host, nullptr}, EffectIdentity{1, "2-2 4-2"}) {
    ParamAt(0)->InitContinuous("GAIN", 0, 0, 10, 0.01, "", "", 1);
  }
  void ProcessBlock(double** inputs, double** outputs, int frames) override {
    for (int f = 0; f < frames; ++f) {
      outputs[0][f] = ParamAt(0)->value;
      outputs[1][f] = inputs[2][f];
    }
  }
};

class ClapBinding : public ::testing::Test {
 protected:
  void SetUp() override {
    probe_ = new ProbeClap(host_.Host());
    std::string error;
    ASSERT_TRUE(plug_.Attach(probe_->ClapPlugin(), host_, error)) << error;
    ASSERT_TRUE(plug_.Activate(48000, 256));
    buffers_.Build(plug_.plugin, plug_.audioPorts, 256, false);
  }

  ClapHostContext host_;
  ClapInstance plug_;
  ProbeClap* probe_ = nullptr;  // owned by plug_
  ClapAudioBuffers<float> buffers_;
};

TEST_F(ClapBinding, AParameterEventAppliesFromItsFrameOn) {
  ClapInputEvents events;
  events.AddParamValue(0, 0.5, 100);
  ASSERT_EQ(plug_.Process(buffers_, 256, events.List(), nullptr), CLAP_PROCESS_CONTINUE);
  const float* out = buffers_.OutputChannel(0, 0);
  EXPECT_EQ(out[99], 0.0f);
  EXPECT_EQ(out[100], 5.0f);
  EXPECT_EQ(out[255], 5.0f);
}

TEST_F(ClapBinding, ASidechainPortWithoutBuffersReadsSilence) {
  std::fill(buffers_.inputs[1][0].begin(), buffers_.inputs[1][0].end(), 0.25f);
  plug_.Process(buffers_, 256, nullptr, nullptr);
  EXPECT_EQ(buffers_.OutputChannel(0, 1)[10], 0.25f);
  buffers_.inputBuffers[1].data32 = nullptr;
  plug_.Process(buffers_, 256, nullptr, nullptr);
  EXPECT_EQ(buffers_.OutputChannel(0, 1)[10], 0.0f) << "the last sidechain samples stayed";
}

TEST_F(ClapBinding, AnEditorChangeReachesTheHostAsOutputEventsOfTheNextBlock) {
  probe_->BeginParamGesture(0);
  probe_->SetParamFromEditor(0, 0.3);
  probe_->EndParamGesture(0);
  EXPECT_GE(host_.requestFlushCount, 1) << "the host was not asked to flush";
  ClapOutputEvents out;
  plug_.Process(buffers_, 256, nullptr, out.List());
  ASSERT_EQ(out.events.size(), 3u);
  auto header = [&](size_t i) { return reinterpret_cast<const clap_event_header*>(out.events[i].data()); };
  EXPECT_EQ(header(0)->type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
  EXPECT_EQ(header(2)->type, CLAP_EVENT_PARAM_GESTURE_END);
  ASSERT_EQ(header(1)->type, CLAP_EVENT_PARAM_VALUE);
  clap_event_param_value value;
  std::memcpy(&value, out.events[1].data(), sizeof value);
  EXPECT_EQ(value.param_id, 0u);
  EXPECT_DOUBLE_EQ(value.value, 0.3);
  ClapOutputEvents later;
  plug_.Process(buffers_, 256, nullptr, later.List());
  EXPECT_TRUE(later.events.empty()) << "events sent twice";
}

TEST_F(ClapBinding, AfterAStateLoadTheHostRereadsValuesFromTheMainThreadCallback) {
  std::vector<uint8_t> blob;
  ASSERT_TRUE(plug_.Save(blob));
  ASSERT_TRUE(plug_.Load(blob));
  EXPECT_EQ(host_.rescanValueCount, 0) << "rescan from inside the host's load call";
  plug_.RunMainThreadCallbacks();
  EXPECT_EQ(host_.rescanValueCount, 1);
}

}  // namespace
