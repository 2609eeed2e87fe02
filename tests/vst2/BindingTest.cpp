// The VST2 binding driven in-process through a small probe effect: the parts
// Kestrune cannot show through its module yet (an attached editor, value
// texts, transport queries, outgoing MIDI, latency).
#include <gtest/gtest.h>

#include <climits>
#include <thread>
#include <vector>

#include "ScriptedHost.h"
#include "graphics/x11/X11EventPump.h"
#include "vst2/IEffectVST2.h"

using namespace vst2;

namespace {

EffectIdentity ProbeIdentity() {
  EffectIdentity id;
  id.paramCount = 2;
  id.channelConfig = "2-2";
  id.presetCount = 1;
  id.effectName = "Probe";
  id.makerName = "Marlowind";
  id.version = 0x00010203;
  id.uniqueId = PackFourChars("Prb1");
  return id;
}

class ProbeEffect : public IEffectVST2 {
 public:
  explicit ProbeEffect(audioMasterCallback host) : IEffectVST2(host, ProbeIdentity()) {
    ParamAt(0)->InitContinuous("GAIN", 0, -10, 10, 0.1, "dB", "", 1);
    PlugParam& mode = *ParamAt(1);
    mode.InitInteger("MODE", 0, 0, 2, "");
    mode.AddValueText(0, "Soft");
    mode.AddValueText(1, "Hard");
    mode.AddValueText(2, "Wild");
  }
  void ParamChanged(int index) override {
    reactions.push_back(index);
    IEffectVST2::ParamChanged(index);
  }
  void EditorOpened() override { ++opened; }
  void EditorClosed() override { ++closed; }
  using IEffectVST2::EditorRect;

  std::vector<int> reactions;
  int opened = 0, closed = 0;
};

class FakeEditor : public IEditorLink {
 public:
  struct Shown {
    int index;
    double value;
    bool normalized;
  };
  void ShowParameterValue(int index, double value, bool normalized) override {
    shown.push_back({index, value, normalized});
  }
  int Width() const override { return width; }
  int Height() const override { return height; }
  bool OpenWindow(void* parent) override {
    openedWith = parent;
    return canOpen;
  }
  void CloseWindow() override { ++closedWindows; }

  int width = 640, height = 300;
  bool canOpen = true;
  void* openedWith = nullptr;
  int closedWindows = 0;
  std::vector<Shown> shown;
};

// An editor driven by effEditIdle; while it idles (where it draws), another
// thread tries the plug-in lock, as the audio thread's next block would.
class IdlingEditor : public FakeEditor, public X11EventPump {
 public:
  explicit IdlingEditor(IEffectBase& plug) : plug_(plug) {}
  int ConnectionFd() const override { return -1; }
  void HandlePendingEvents() override {}
  void RedrawTick() override {}
  int TickIntervalMs() const override { return 33; }
  void Idle() override {
    ++idles;
    std::thread audio([this] {
      lockFreeWhileIdling = plug_.PlugLock().try_lock();
      if (lockFreeWhileIdling) plug_.PlugLock().unlock();
    });
    audio.join();
  }
  int idles = 0;
  bool lockFreeWhileIdling = false;

 private:
  IEffectBase& plug_;
};

class Vst2Binding : public ::testing::Test {
 protected:
  intptr_t Dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                    float opt = 0.0f) {
    return probe.Effect()->dispatcher(probe.Effect(), opcode, index, value, ptr, opt);
  }
  ScriptedHost host;
  ProbeEffect probe{&ScriptedHost::Callback};
};

}  // namespace

TEST_F(Vst2Binding, TransportInfoUsesStrictTestsForTempoAndSignatureOnly) {
  host.hasTime = true;
  host.time.flags = kVstPpqPosValid | kVstTempoValid | kVstBarsValid | kVstCyclePosValid |
                    kVstTimeSigValid | kVstTransportPlaying;
  host.time.samplePos = 4410;
  host.time.ppqPos = 0;        // a position of 0 is real
  host.time.tempo = 0;         // a tempo of 0 is not
  host.time.barStartPos = 0;
  host.time.cycleStartPos = 0;
  host.time.cycleEndPos = 8;
  host.time.timeSigNumerator = 0;  // 0/4 is not a signature
  host.time.timeSigDenominator = 4;

  ::HostTimeInfo info;
  info.tempo = 99;
  info.musicalPosition = 5;
  info.lastBarPosition = 5;
  info.cycleStart = 5;
  info.numerator = 7;
  info.denominator = 8;
  probe.HostTimeInfo(&info);
  EXPECT_EQ(host.Last(audioMasterGetTime)->value, 0x3E00);
  EXPECT_EQ(info.samplePosition, 4410);
  EXPECT_EQ(info.musicalPosition, 0);
  EXPECT_EQ(info.tempo, 99);
  EXPECT_EQ(info.lastBarPosition, 0);
  EXPECT_EQ(info.cycleStart, 0);
  EXPECT_EQ(info.cycleEnd, 8);
  EXPECT_EQ(info.numerator, 7);
  EXPECT_EQ(info.denominator, 8);
  EXPECT_TRUE(info.transportRunning);
  EXPECT_FALSE(info.cycleActive);

  host.time.tempo = 140;
  host.time.timeSigNumerator = 3;
  host.time.ppqPos = -1;  // negative positions are not taken
  probe.HostTimeInfo(&info);
  EXPECT_EQ(info.tempo, 140);
  EXPECT_EQ(info.numerator, 3);
  EXPECT_EQ(info.denominator, 4);
  EXPECT_EQ(info.musicalPosition, 0);
}

TEST_F(Vst2Binding, TransportInfoWithoutValidFieldsOrRecordLeavesTheCallersValues) {
  ::HostTimeInfo info;
  info.samplePosition = 123;
  probe.HostTimeInfo(&info);  // the host returns no record
  EXPECT_EQ(info.samplePosition, 123);
  host.hasTime = true;
  host.time.flags = kVstTransportPlaying | kVstNanosValid;  // none of the five
  host.time.samplePos = 999;
  probe.HostTimeInfo(&info);
  EXPECT_EQ(info.samplePosition, 123);
  EXPECT_FALSE(info.transportRunning);
}

TEST_F(Vst2Binding, TempoSignatureAndSamplePositionQueries) {
  EXPECT_EQ(probe.HostTempo(), 0);
  EXPECT_EQ(probe.HostSamplePosition(), 0);
  host.hasTime = true;
  host.time.tempo = 128;
  EXPECT_EQ(probe.HostTempo(), 0) << "tempo not flagged valid";
  host.time.flags = kVstTempoValid | kVstTimeSigValid;
  EXPECT_EQ(probe.HostTempo(), 128);
  EXPECT_EQ(host.Last(audioMasterGetTime)->value, kVstTempoValid);

  host.time.timeSigNumerator = 0;
  host.time.timeSigDenominator = 4;
  int numerator = -1, denominator = -1;
  probe.HostTimeSignature(&numerator, &denominator);
  EXPECT_EQ(numerator, 0);
  EXPECT_EQ(denominator, 4);
  host.time.timeSigNumerator = -3;
  probe.HostTimeSignature(&numerator, &denominator);
  EXPECT_EQ(numerator, 0);
  EXPECT_EQ(denominator, 0);

  host.time.samplePos = 1000.4;
  EXPECT_EQ(probe.HostSamplePosition(), 1000);
  host.time.samplePos = 1000.5;
  EXPECT_EQ(probe.HostSamplePosition(), 1001);
  host.time.samplePos = -20;
  EXPECT_EQ(probe.HostSamplePosition(), 0);
  host.time.samplePos = 1e13;  // hours of audio at high rates: saturates
  EXPECT_EQ(probe.HostSamplePosition(), INT_MAX);
}

TEST_F(Vst2Binding, HostVersionIsPackedAndAskedOnlyOnce) {
  host.product = "Cubase";
  host.vendorVersion = 10203;
  EXPECT_EQ(probe.HostIdentity(), HostCubase);
  EXPECT_EQ(probe.HostVersion(), 0x010203);
  EXPECT_EQ(probe.HostIdentity(), HostCubase);
  EXPECT_EQ(host.CountOf(audioMasterGetProductString), 1);

  ScriptedHost silent;
  silent.product = "";
  ProbeEffect other(&ScriptedHost::Callback);
  EXPECT_EQ(other.HostIdentity(), HostUnknown);
  EXPECT_EQ(other.HostVersion(), 0);

  ScriptedHost odd;
  odd.product = "REAPER";
  odd.vendorVersion = -5;  // cannot be a version
  ProbeEffect third(&ScriptedHost::Callback);
  EXPECT_EQ(third.HostIdentity(), HostReaper);
  EXPECT_EQ(third.HostVersion(), 0);
}

TEST_F(Vst2Binding, OfflineRenderIsReportedOnlyForTheOfflineLevel) {
  host.processLevel = 4;
  EXPECT_TRUE(probe.IsOfflineRender());
  host.processLevel = 2;
  EXPECT_FALSE(probe.IsOfflineRender());
}

TEST_F(Vst2Binding, AttachedEditorIsAnnouncedSizedOpenedAndClosed) {
  auto* editor = new FakeEditor;
  probe.AttachEditor(editor);
  EXPECT_TRUE(probe.Effect()->flags & effFlagsHasEditor);
  ERect* rect = nullptr;
  ASSERT_EQ(Dispatch(effEditGetRect, 0, 0, &rect), 1);
  ASSERT_NE(rect, nullptr);
  EXPECT_EQ(rect->top, 0);
  EXPECT_EQ(rect->left, 0);
  EXPECT_EQ(rect->right, 640);
  EXPECT_EQ(rect->bottom, 300);
  EXPECT_EQ(Dispatch(effEditGetRect, 0, 0, nullptr), 0);

  int parent = 0;
  EXPECT_EQ(Dispatch(effEditOpen, 0, 0, &parent), 1);
  EXPECT_EQ(editor->openedWith, &parent);
  EXPECT_EQ(probe.opened, 1);
  EXPECT_EQ(Dispatch(effEditClose), 1);
  EXPECT_EQ(probe.closed, 1);
  EXPECT_EQ(editor->closedWindows, 1);
  editor->canOpen = false;
  EXPECT_EQ(Dispatch(effEditOpen, 0, 0, &parent), 0);
  EXPECT_EQ(probe.opened, 1);

  // The host learns a new size from the next effEditGetRect.
  editor->width = 800;
  editor->height = 70000;  // beyond what ERect holds
  probe.ResizeEditor();
  EXPECT_EQ(rect->right, 800);
  EXPECT_EQ(rect->bottom, 32767);
  // On Linux the editor leaves the host's window alone and asks the host.
  const HostCall* asked = host.Last(audioMasterSizeWindow);
  ASSERT_NE(asked, nullptr);
  EXPECT_EQ(asked->index, 800);
  EXPECT_EQ(asked->value, 70000);
}

TEST_F(Vst2Binding, HostParameterChangesReachTheEditorAndReactOnce) {
  auto* editor = new FakeEditor;
  probe.AttachEditor(editor);
  editor->shown.clear();
  probe.reactions.clear();
  probe.Effect()->setParameter(probe.Effect(), 0, 0.75f);
  ASSERT_EQ(editor->shown.size(), 1u);
  EXPECT_EQ(editor->shown[0].value, 0.75);
  EXPECT_TRUE(editor->shown[0].normalized);
  EXPECT_EQ(probe.reactions, std::vector<int>{0});
  probe.Effect()->setParameter(probe.Effect(), 2, 0.5f);  // one past the last
  EXPECT_EQ(probe.reactions, std::vector<int>{0});

  EXPECT_EQ(Dispatch(effString2Parameter, 0, 0, const_cast<char*>("-4.5")), 1);
  ASSERT_EQ(editor->shown.size(), 2u);
  EXPECT_DOUBLE_EQ(editor->shown[1].value, 0.275);
  EXPECT_TRUE(editor->shown[1].normalized);
  EXPECT_EQ(host.CountOf(audioMasterAutomate), 0);
}

TEST_F(Vst2Binding, AudioIsNotHeldUpWhileTheEditorIdlesAndDraws) {
  auto* editor = new IdlingEditor(probe);
  probe.AttachEditor(editor);
  EXPECT_EQ(Dispatch(effEditIdle), 0);
  ASSERT_EQ(editor->idles, 1);
  EXPECT_TRUE(editor->lockFreeWhileIdling);
}

TEST_F(Vst2Binding, TextToValueMatchesValueTextsExactly) {
  EXPECT_EQ(Dispatch(effString2Parameter, 1, 0, const_cast<char*>("Hard")), 1);
  EXPECT_EQ(probe.ParamAt(1)->value, 1);
  EXPECT_EQ(Dispatch(effString2Parameter, 1, 0, const_cast<char*>("wild")), 0);
  EXPECT_EQ(Dispatch(effString2Parameter, 1, 0, const_cast<char*>("2")), 0);
  EXPECT_EQ(probe.ParamAt(1)->value, 1);
  char label[16] = "x";
  Dispatch(effGetParamLabel, 1, 0, label);
  EXPECT_STREQ(label, "") << "the value text says it all";
  Dispatch(effGetParamDisplay, 1, 0, label);
  EXPECT_STREQ(label, "Hard");
  Dispatch(effGetParamLabel, 0, 0, label);
  EXPECT_STREQ(label, "dB");
}

TEST_F(Vst2Binding, EditorGesturesAndPresetChangesAreReportedToTheHost) {
  probe.BeginParamGesture(1);
  probe.SetParamFromEditor(0, 0.25);
  probe.EndParamGesture(1);
  probe.NotifyHostPresetChange();
  std::vector<int32_t> opcodes;
  for (const HostCall& c : host.calls) opcodes.push_back(c.opcode);
  EXPECT_EQ(opcodes, (std::vector<int32_t>{audioMasterBeginEdit, audioMasterAutomate,
                                           audioMasterEndEdit, audioMasterUpdateDisplay}));
  EXPECT_EQ(host.calls[0].index, 1);
  EXPECT_EQ(host.calls[1].index, 0);
  EXPECT_EQ(host.calls[1].opt, 0.25f);
}

TEST_F(Vst2Binding, OutgoingMidiAndSysExReachTheHost) {
  MidiMessage note;
  note.sampleOffset = 12;
  note.status = 0xB0;
  note.data1 = 7;
  note.data2 = 127;
  EXPECT_TRUE(probe.SendMidiOut(note));
  const HostCall* call = host.Last(audioMasterProcessEvents);
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->eventType, kVstMidiType);
  EXPECT_EQ(call->deltaFrames, 12);
  EXPECT_EQ(call->midi, (std::vector<uint8_t>{0xB0, 7, 127}));

  const uint8_t dump[] = {0xF0, 0x7D, 0x01, 0xF7};
  SysExMessage sysex;
  sysex.sampleOffset = 3;
  sysex.size = 4;
  sysex.data = dump;
  EXPECT_TRUE(probe.SendSysExOut(sysex));
  call = host.Last(audioMasterProcessEvents);
  EXPECT_EQ(call->eventType, kVstSysExType);
  EXPECT_EQ(call->dumpBytes, 4);
  EXPECT_EQ(call->midi, std::vector<uint8_t>(dump, dump + 4));

  host.eventsAnswer = 0;
  EXPECT_FALSE(probe.SendMidiOut(note));
}

TEST_F(Vst2Binding, OpenReactsToEveryParameterAndLatencyIsReported) {
  probe.reactions.clear();
  Dispatch(effOpen);
  EXPECT_EQ(probe.reactions, (std::vector<int>{0, 1}));
  probe.ChangeLatency(64);
  EXPECT_EQ(probe.Effect()->initialDelay, 64);
  EXPECT_EQ(probe.Latency(), 64);
  EXPECT_EQ(probe.Effect()->version, 0x010203);
  EXPECT_EQ(probe.Effect()->flags & effFlagsCanMono, 0);
}

TEST_F(Vst2Binding, NoHostCallbackMeansNoHostAnswers) {
  ProbeEffect alone(nullptr);
  EXPECT_EQ(alone.HostTempo(), 0);
  EXPECT_EQ(alone.HostIdentity(), HostUnknown);
  EXPECT_FALSE(alone.SendMidiOut(MidiMessage{}));
}
