// Sequences real VST3 hosts and plug-in checkers play that a simple host
// never does: a bypass that must survive setup calls, state loads the host
// must hear about, save/reload/save round trips, bus arrangements the
// plug-in cannot process, and hostile values and texts on every parameter.
#include <algorithm>
#include <cmath>
#include <limits>

#include "PluginTest.h"

using namespace host;

namespace {

constexpr ParamID kDrive = 0, kGain = 1, kAttack = 2, kRelease = 3, kRatio = 4, kHpf = 5,
                  kMix = 6, kMidFreq = 7, kMidGain = 8, kHf = 9, kBypassSwitch = 10, kSlam = 11,
                  kOversampling = 12, kSidechain = 13;

class Vst3Conformance : public PluginTest {
 protected:
  Vst3Conformance() : PluginTest("Ardour") {}

  // One stereo block of a constant signal, with the given parameter changes;
  // returns the last output sample of the left channel.
  float Process(ParamChanges* changes = nullptr, ParamChanges* outChanges = nullptr) {
    float last = 0;
    EXPECT_EQ(RunBlock(plugin->processor, 64, 0.5f, changes, outChanges, &last), kResultOk);
    return last;
  }
  // `frames` frames of a constant `level` on one stereo bus through
  // `processor`; `last` (if given) gets the left channel's last output.
  static tresult RunBlock(IAudioProcessor* processor, int32 frames, float level,
                          ParamChanges* changes, ParamChanges* outChanges, float* last) {
    host::BusBuffers<float> in, out;
    in.Shape({2}, frames);
    out.Shape({2}, frames);
    for (auto& channel : in.samples[0]) std::fill(channel.begin(), channel.end(), level);
    ProcessData data = host::BlockData(kRealtime, frames, in, out, changes);
    data.outputParameterChanges = outChanges;
    const tresult result = processor->process(data);
    if (last) *last = out.samples[0][0][static_cast<size_t>(frames - 1)];
    return result;
  }
  std::string Text(ParamID id, ParamValue normalized) {
    String128 text = {};
    if (plugin->controller->getParamStringByValue(id, normalized, text) != kResultTrue)
      return "<refused>";
    return Narrow(text);
  }
  // The normalized value a typed text gives, or -1 when it is refused.
  double Typed(ParamID id, const std::string& typed) {
    String128 text;
    Widen(text, typed);
    ParamValue normalized = -2;
    if (plugin->controller->getParamValueByString(id, text, normalized) != kResultTrue) return -1;
    return normalized;
  }
  double Plain(ParamID id, const std::string& typed) {
    return plugin->controller->normalizedParamToPlain(id, Typed(id, typed));
  }
};

}  // namespace

TEST_F(Vst3Conformance, HostBypassSurvivesSetupCallsAndReactivation) {
  plugin->Start(&hostApp, 48000, 512);
  ParamChanges on;
  on.Add(kBypass, {1.0});
  Process(&on);
  // Ardour before an offline bounce: deactivate, new setup, reactivate.
  ASSERT_EQ(plugin->component->setActive(false), kResultOk);
  ProcessSetup offline{kOffline, kSample32, 1024, 48000};
  ASSERT_EQ(plugin->processor->setupProcessing(offline), kResultOk);
  ASSERT_EQ(plugin->component->setActive(true), kResultOk);
  EXPECT_FLOAT_EQ(Process(), 0.5f) << "bypassed audio is the input";
  EXPECT_EQ(plugin->State().at(112), 1) << "the saved project keeps the bypass";
  // Only the host's parameter changes switch it off again.
  ParamChanges off;
  off.Add(kBypass, {0.0});
  Process(&off);
  EXPECT_EQ(plugin->State().at(112), 0);
}

TEST_F(Vst3Conformance, StateLoadsStayQuietAndPresetChangesAreAnnouncedToTheHost) {
  GuardedHandler handler;
  plugin->Start(&hostApp, 48000, 512);
  ASSERT_EQ(plugin->controller->setComponentHandler(&handler), kResultTrue);
  std::vector<uint8_t> state = plugin->State();
  double mix = 30.0;
  memcpy(state.data() + 8 * kMix, &mix, 8);
  Stream stream;
  stream.bytes = state;
  // The host's own edit, set on the controller and queued for its next
  // block, before it loads the preset.
  ASSERT_EQ(plugin->controller->setParamNormalized(kMix, 0.9), kResultTrue);
  // The host loads a preset holding its own lock (Ardour's Presets menu):
  // it re-reads the values itself, and a restart from in here hangs it.
  handler.hostBusy = true;
  ASSERT_EQ(plugin->controller->setState(&stream), kResultOk);
  EXPECT_DOUBLE_EQ(plugin->controller->getParamNormalized(kMix), 0.3);

  Stream cut;
  cut.bytes.assign(state.begin(), state.begin() + 20);
  EXPECT_EQ(plugin->controller->setState(&cut), kResultFalse);
  handler.hostBusy = false;
  EXPECT_TRUE(handler.restarts.empty());

  // An edit the host queued before the load (JUCE's preset path) is older
  // than the state and is not applied over it; one it sends only with the
  // block, after the load (automation), is applied. The block tells the
  // host every value.
  ParamChanges stale, told;
  stale.Add(kMix, {0.9});
  stale.Add(kDrive, {0.25});
  Process(&stale, &told);
  EXPECT_DOUBLE_EQ(plugin->controller->getParamNormalized(kMix), 0.3);
  ASSERT_NE(told.Find(kMix), nullptr);
  EXPECT_DOUBLE_EQ(told.Find(kMix)->points[0].second, 0.3);
  ASSERT_NE(told.Find(kDrive), nullptr);
  EXPECT_DOUBLE_EQ(told.Find(kDrive)->points[0].second, 0.25) << "an edit made after the load is lost";

  // A program chosen in the host's list: hosts set it on the controller,
  // then send it with the next block. Until that block the values the host
  // reads and saves stay as they were (a host that saves in between, with
  // no editor open to tell it later, must not hold stale values beside a
  // state holding the program's); the block loads the program and reports
  // every value it changed as output parameter changes.
  const std::vector<uint8_t> beforeProgram = plugin->State();
  ASSERT_EQ(plugin->controller->setParamNormalized(kPreset, 1.0 / 6), kResultTrue);
  EXPECT_DOUBLE_EQ(plugin->controller->getParamNormalized(kMix), 0.3);
  EXPECT_EQ(plugin->State(), beforeProgram);
  ParamChanges preset, reported;
  preset.Add(kPreset, {1.0 / 6});
  Process(&preset, &reported);
  const ValueQueue* mixQueue = reported.Find(kMix);
  ASSERT_NE(mixQueue, nullptr);
  ASSERT_EQ(mixQueue->points.size(), 1u);
  EXPECT_DOUBLE_EQ(mixQueue->points[0].second, 1.0) << "the preset's MIX";
  EXPECT_NE(reported.Find(kBypassSwitch), nullptr);
  ParamChanges quiet;
  Process(nullptr, &quiet);
  EXPECT_TRUE(quiet.queues.empty()) << "reported once, not every block";
  plugin->controller->setComponentHandler(nullptr);
  EXPECT_EQ(handler.refs, 0);
}

TEST_F(Vst3Conformance, SaveReloadSaveGivesTheSameBytes) {
  plugin->Start(&hostApp, 48000, 512);
  ParamChanges changes;
  changes.Add(kAttack, {0.41}).Add(kMix, {0.333});
  Process(&changes);
  std::vector<uint8_t> saved = plugin->State();

  // Ardour reloading a project: a new instance gets the state, then the
  // host sends every value it read from the controller to the processor.
  Plugin reloaded(module.Factory());
  reloaded.Start(&hostApp, 48000, 512);
  Stream stream;
  stream.bytes = saved;
  ASSERT_EQ(reloaded.controller->setState(&stream), kResultOk);
  ParamChanges echo;
  for (ParamID id = 0; id < 14; ++id) echo.Add(id, {reloaded.controller->getParamNormalized(id)});
  ASSERT_EQ(RunBlock(reloaded.processor, 8, 0.0f, &echo, nullptr, nullptr), kResultOk);
  EXPECT_EQ(reloaded.State(), saved) << "RELEASE at its default and ATTACK/MIX stay exact";
  reloaded.component->setActive(false);
  reloaded.component->terminate();
}

TEST_F(Vst3Conformance, EveryParameterHasATitleAndTheFlagsHostsMapButtonsBy) {
  ASSERT_EQ(plugin->component->initialize(&hostApp), kResultOk);
  ParameterInfo info{};
  ASSERT_EQ(plugin->controller->getParameterInfo(13, info), kResultTrue);
  EXPECT_EQ(info.id, kOversampling);
  EXPECT_EQ(Narrow(info.title), "OVERSAMPLING");
  EXPECT_EQ(info.stepCount, 1);
  int bypasses = 0;
  for (int32 i = 0; i < plugin->controller->getParameterCount(); ++i) {
    ASSERT_EQ(plugin->controller->getParameterInfo(i, info), kResultTrue);
    EXPECT_FALSE(Narrow(info.title).empty()) << i;
    if (info.flags & ParameterInfo::kIsList) {
      EXPECT_GT(info.stepCount, 0) << i;
    }
    if (info.flags & ParameterInfo::kIsBypass) {
      ++bypasses;
      EXPECT_EQ(info.id, kBypassSwitch);
      EXPECT_TRUE(info.flags & ParameterInfo::kCanAutomate);
    }
  }
  EXPECT_EQ(bypasses, 1) << "hosts show one bypass";
  ASSERT_EQ(plugin->controller->getParameterInfo(0, info), kResultTrue);
  EXPECT_EQ(info.id, kPreset);
  EXPECT_TRUE(info.flags & ParameterInfo::kIsProgramChange);
  EXPECT_TRUE(info.flags & ParameterInfo::kIsList);
  EXPECT_EQ(info.stepCount, 6) << "Default, then one step per factory preset";
  EXPECT_EQ(Text(kPreset, 0.0), "Default");
  EXPECT_EQ(Text(kPreset, 1.0 / 6), "Drum Bus Glue");
  EXPECT_EQ(Text(kPreset, 2.0 / 6), "Vocal Levelling");
  EXPECT_EQ(Text(kPreset, 1.0), "SLAM");
}

TEST_F(Vst3Conformance, OnlyStereoMainAndOutputWithAMonoOrStereoSidechainAreAccepted) {
  ASSERT_EQ(plugin->component->initialize(&hostApp), kResultOk);
  IAudioProcessor* p = plugin->processor;
  SpeakerArrangement stereo = SpeakerArr::kStereo, mono = SpeakerArr::kMono;
  SpeakerArrangement cine31 = SpeakerArr::k31Cine, quad = SpeakerArr::k40Music;
  SpeakerArrangement surround51 = SpeakerArr::k51, surround71 = SpeakerArr::k71Cine;

  for (SpeakerArrangement wide : {cine31, quad, SpeakerArr::kStereoSurround}) {
    SpeakerArrangement ins[2] = {wide, stereo};
    EXPECT_EQ(p->setBusArrangements(ins, 2, &stereo, 1), kResultFalse) << wide;
  }
  for (SpeakerArrangement side : {surround51, surround71, quad, SpeakerArr::kEmpty}) {
    SpeakerArrangement ins[2] = {stereo, side};
    EXPECT_EQ(p->setBusArrangements(ins, 2, &stereo, 1), kResultFalse) << side;
  }
  SpeakerArrangement ins[2] = {stereo, stereo};
  SpeakerArrangement twoOuts[2] = {stereo, stereo};
  EXPECT_EQ(p->setBusArrangements(ins, 2, twoOuts, 2), kResultFalse);
  EXPECT_EQ(p->setBusArrangements(ins, 2, &mono, 1), kResultFalse);

  // Nothing refused changed a bus; stereo is always accepted again, as is a
  // mono sidechain.
  SpeakerArrangement arr = 0;
  ASSERT_EQ(p->getBusArrangement(kInput, 0, arr), kResultTrue);
  EXPECT_EQ(arr, stereo);
  ASSERT_EQ(p->getBusArrangement(kInput, 1, arr), kResultTrue);
  EXPECT_EQ(arr, stereo);
  EXPECT_EQ(p->setBusArrangements(ins, 2, &stereo, 1), kResultOk);
  SpeakerArrangement monoSide[2] = {stereo, mono};
  EXPECT_EQ(p->setBusArrangements(monoSide, 2, &stereo, 1), kResultOk);
  EXPECT_EQ(p->setBusArrangements(ins, 2, &stereo, 1), kResultOk);
  ASSERT_EQ(p->getBusArrangement(kInput, 1, arr), kResultTrue);
  EXPECT_EQ(arr, stereo);
}

TEST_F(Vst3Conformance, ParametersShowMusiciansUnitsAndAcceptWhatTheyShow) {
  ASSERT_EQ(plugin->component->initialize(&hostApp), kResultOk);
  IEditController* ec = plugin->controller;
  // Plain values are the numbers the texts show: automation lanes and host
  // scripts show them.
  auto textOfPlain = [&](ParamID id, double plain) {
    return Text(id, ec->plainParamToNormalized(id, plain));
  };
  EXPECT_EQ(textOfPlain(kAttack, 0.4), "0.40 ms");
  EXPECT_EQ(textOfPlain(kRelease, 400), "400 ms");
  EXPECT_EQ(textOfPlain(kGain, 6), "+6.00 dB");
  EXPECT_EQ(textOfPlain(kGain, -3), "-3.00 dB");
  EXPECT_EQ(textOfPlain(kGain, 0), "0.00 dB");
  EXPECT_EQ(textOfPlain(kHf, 16), "+16.00 dB") << "the shelf gain";
  EXPECT_EQ(textOfPlain(kDrive, 18), "18.00 dB");
  EXPECT_EQ(textOfPlain(kMix, 50), "50.00 %");
  EXPECT_EQ(textOfPlain(kHpf, 120), "120.0 Hz");
  EXPECT_EQ(textOfPlain(kMidFreq, 2500), "2.50 kHz");
  EXPECT_EQ(textOfPlain(kMidFreq, 500), "500.0 Hz");
  EXPECT_EQ(textOfPlain(kMidFreq, 999.96), "1.00 kHz") << "never 1000.0 Hz";
  EXPECT_EQ(textOfPlain(kRatio, 1), "8:1");
  EXPECT_EQ(textOfPlain(kRatio, 3), "20:1");
  EXPECT_EQ(textOfPlain(kBypassSwitch, 1), "On");
  EXPECT_EQ(textOfPlain(kSlam, 0), "Off");
  EXPECT_EQ(textOfPlain(kSidechain, 1), "INT");
  EXPECT_EQ(textOfPlain(kSidechain, 0), "EXT");
  EXPECT_EQ(textOfPlain(kOversampling, 1), "16x");
  // Ranges rise with the value shown, as LV2's ports do: 0 ms at the left.
  EXPECT_DOUBLE_EQ(ec->normalizedParamToPlain(kAttack, 1.0), 1.0) << "1 ms, not -0.001 s";
  EXPECT_DOUBLE_EQ(ec->normalizedParamToPlain(kAttack, 0.0), 0.0);
  EXPECT_NEAR(ec->normalizedParamToPlain(kRelease, 1.0), 850, 1e-9);
  EXPECT_DOUBLE_EQ(ec->normalizedParamToPlain(kHf, 1.0), 16.0);

  // Between steps, every path is at the step the processor rounds to.
  EXPECT_EQ(Text(kRatio, 0.6), "12:1");
  EXPECT_EQ(ec->normalizedParamToPlain(kRatio, 0.6), 2.0);
  EXPECT_EQ(Text(kBypassSwitch, 0.7), "On");
  EXPECT_EQ(Text(kSidechain, 0.49), "EXT");
  EXPECT_EQ(ec->normalizedParamToPlain(kBypassSwitch, 0.37), 0.0);
  EXPECT_EQ(ec->plainParamToNormalized(kOversampling, 0.7), 1.0);

  // Typed back, with or without the unit.
  EXPECT_NEAR(Plain(kAttack, "0.8ms"), 0.8, 1e-12);
  EXPECT_NEAR(Plain(kAttack, "0.8"), 0.8, 1e-12);
  EXPECT_NEAR(Plain(kRelease, "150 ms"), 150, 1e-9);
  EXPECT_NEAR(Plain(kRelease, "0.2 s"), 200, 1e-9);
  EXPECT_NEAR(Plain(kMidFreq, "2.5kHz"), 2500, 1e-9);
  EXPECT_NEAR(Plain(kMidFreq, "2500"), 2500, 1e-9);
  EXPECT_NEAR(Plain(kMidFreq, "2.5"), 2500, 1e-9) << "VST2 shows 2.50 next to kHz";
  EXPECT_NEAR(Plain(kHpf, "2.5"), 20, 1e-9) << "HPF never shows kHz: 2.5 Hz, held at the minimum";
  EXPECT_NEAR(Plain(kHpf, "120 Hz"), 120, 1e-9);
  EXPECT_NEAR(Plain(kGain, "+6 dB"), 6, 1e-9);
  EXPECT_NEAR(Plain(kHf, "+4dB"), 4, 1e-9);
  EXPECT_NEAR(Plain(kMix, "12.5 %"), 12.5, 1e-9);
  EXPECT_NEAR(Plain(kDrive, "18 dB"), 18, 1e-9);
  EXPECT_EQ(Plain(kRatio, "8:1"), 1);
  EXPECT_EQ(Plain(kRatio, "4 : 1"), 0);
  EXPECT_EQ(Plain(kRatio, "20"), 3);
  EXPECT_EQ(Plain(kRatio, "2"), 0) << "2:1 is nearest 4:1, not the step numbered 2";
  EXPECT_EQ(Plain(kRatio, "10"), 2) << "a tie goes to the higher step";
  EXPECT_EQ(Plain(kSlam, "on"), 1);
  EXPECT_EQ(Plain(kSidechain, "ext"), 0);
  EXPECT_EQ(Plain(kOversampling, "16x"), 1);
  EXPECT_EQ(Plain(kOversampling, "4x"), 0);
}

TEST_F(Vst3Conformance, TextsThatAreNotAValueAreRefused) {
  ASSERT_EQ(plugin->component->initialize(&hostApp), kResultOk);
  EXPECT_EQ(Typed(kDrive, "on"), -1);
  EXPECT_EQ(Typed(kMix, "abc"), -1);
  EXPECT_EQ(Typed(kMix, "0x10"), -1);
  EXPECT_EQ(Typed(kMix, "12 Hz"), -1);
  EXPECT_EQ(Typed(kGain, "1e999"), -1);
  EXPECT_EQ(Typed(kBypassSwitch, "0.5"), -1) << "not a step";
  EXPECT_EQ(Typed(kRatio, "5:1"), -1);
  for (const char* text : {"7", "-1", "-", "nan", "1e999", "inf", ""})
    EXPECT_EQ(Typed(kPreset, text), -1) << text;
  EXPECT_EQ(Typed(kPreset, "0"), 0.0);
  EXPECT_EQ(Typed(kPreset, "SLAM"), 1.0);

  // UTF-16 is read unit by unit, never by its low byte; and a text longer
  // than the parser's is refused, not cut (as VST2 refuses it).
  auto typedUnits = [&](ParamID id, const std::u16string& units) {
    std::vector<TChar> text(units.begin(), units.end());
    text.push_back(0);
    ParamValue normalized = -2;
    return plugin->controller->getParamValueByString(id, text.data(), normalized) == kResultTrue
               ? normalized
               : -1.0;
  };
  EXPECT_EQ(typedUnits(kBypassSwitch, u"\u014F\u016E"), -1);
  EXPECT_EQ(typedUnits(kBypassSwitch, std::u16string(1, char16_t(0xD831))), -1);
  EXPECT_EQ(typedUnits(kRatio, u"\u3A38"), -1);
  EXPECT_EQ(typedUnits(kDrive, u"40\u0100junk"), -1);
  EXPECT_EQ(typedUnits(kDrive, u"40\u3000"), -1);
  EXPECT_EQ(typedUnits(kDrive, u"1" + std::u16string(126, u' ') + u"garbage"), -1);
  EXPECT_EQ(typedUnits(kDrive, u"40" + std::u16string(125, u' ')), 0.5) << "127 units fit";
}

TEST_F(Vst3Conformance, NormalizedValuesFromTheHostStayWithinZeroToOne) {
  ASSERT_EQ(plugin->component->initialize(&hostApp), kResultOk);
  IEditController* ec = plugin->controller;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double hostile[] = {nan, -1.0, 2.0, 3e9, -1e300, std::numeric_limits<double>::infinity()};
  std::vector<ParamID> ids = {kPreset, kBypass};
  for (ParamID id = 0; id < 14; ++id) ids.push_back(id);
  for (ParamID id : ids) {
    double lowest = ec->normalizedParamToPlain(id, 0.0);
    double highest = ec->normalizedParamToPlain(id, 1.0);
    EXPECT_LT(lowest, highest) << id << ": hosts list the range as [min .. max]";
    for (double v : hostile) {
      double plain = ec->normalizedParamToPlain(id, v);
      EXPECT_TRUE(plain >= std::min(lowest, highest) && plain <= std::max(lowest, highest))
          << id << " " << v << " -> " << plain;
      double back = ec->plainParamToNormalized(id, v);
      EXPECT_TRUE(back >= 0.0 && back <= 1.0) << id << " " << v;
    }
    double before = ec->getParamNormalized(id);
    EXPECT_EQ(ec->setParamNormalized(id, nan), kResultFalse) << id;
    EXPECT_EQ(ec->getParamNormalized(id), before);
    String128 text;
    EXPECT_EQ(ec->getParamStringByValue(id, nan, text), kResultFalse) << id;
  }
}

TEST_F(Vst3Conformance, StateLoadsAreAllOrNothing) {
  ASSERT_EQ(plugin->component->initialize(&hostApp), kResultOk);
  std::vector<uint8_t> original = plugin->State();
  std::vector<uint8_t> changed = original;
  double mix = 40.0;
  memcpy(changed.data() + 8 * kMix, &mix, 8);
  changed[112] = 1;
  double on = 1.0;
  memcpy(changed.data() + 8 * kBypassSwitch, &on, 8);
  for (size_t size = 112; size < 116; ++size) {
    Stream cut;
    cut.bytes.assign(changed.begin(), changed.begin() + static_cast<long>(size));
    EXPECT_EQ(plugin->controller->setState(&cut), kResultFalse) << size;
    EXPECT_EQ(plugin->State(), original) << size;
    EXPECT_DOUBLE_EQ(plugin->controller->getParamNormalized(kMix), 1.0) << size;
  }
  Stream whole;
  whole.bytes = changed;
  EXPECT_EQ(plugin->controller->setState(&whole), kResultOk);
  EXPECT_EQ(plugin->State(), changed);
}
