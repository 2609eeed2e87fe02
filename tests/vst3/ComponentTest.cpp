// The built VST3 module as a DAW sees it before any audio: factory and class
// information, instance life cycle, buses, parameters, units, programs and
// the controller state.
#include <cmath>
#include <cstring>

#include "HostObjects.h"
#include "pluginterfaces/gui/iplugview.h"

using namespace host;

namespace {

constexpr ParamID kMixId = 6;

class Vst3Module : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(module.Factory(), nullptr) << KESTRUNE_VST3_MODULE; }
  Module module;
  HostApplication hostApp{"Cubase"};
};

std::string BusName(IComponent* c, BusDirection dir, int32 index, int32* channels = nullptr,
                    int32* flags = nullptr, int32* type = nullptr) {
  BusInfo info{};
  if (c->getBusInfo(kAudio, dir, index, info) != kResultTrue) return "<none>";
  if (channels) *channels = info.channelCount;
  if (flags) *flags = static_cast<int32>(info.flags);
  if (type) *type = info.busType;
  return Narrow(info.name);
}

}  // namespace

TEST_F(Vst3Module, FactoryDescribesOneKestruneEffectClass) {
  IPluginFactory* factory = module.Factory();
  PFactoryInfo info;
  ASSERT_EQ(factory->getFactoryInfo(&info), kResultOk);
  EXPECT_STREQ(info.vendor, "Marlowind");
  EXPECT_EQ(info.flags, PFactoryInfo::kUnicode);
  ASSERT_EQ(factory->countClasses(), 1);

  IPluginFactory3* factory3 = nullptr;
  ASSERT_EQ(factory->queryInterface(IPluginFactory3_iid, reinterpret_cast<void**>(&factory3)),
            kResultOk);
  PClassInfo2 info2;
  ASSERT_EQ(factory3->getClassInfo2(0, &info2), kResultOk);
  EXPECT_TRUE(SameId(info2.cid, KestruneClassId()));
  EXPECT_EQ(info2.cardinality, PClassInfo::kManyInstances);
  EXPECT_STREQ(info2.category, "Audio Module Class");
  EXPECT_STREQ(info2.name, "Kestrune");
  EXPECT_EQ(info2.classFlags, 2u);
  EXPECT_STREQ(info2.subCategories, "Fx|Dynamics");
  EXPECT_STREQ(info2.vendor, "");
  EXPECT_STREQ(info2.version, "3.1.0");
  EXPECT_STREQ(info2.sdkVersion, "VST 3.6.12");

  PClassInfoW wide;
  ASSERT_EQ(factory3->getClassInfoUnicode(0, &wide), kResultOk);
  EXPECT_EQ(Narrow(wide.name), "Kestrune");
  EXPECT_EQ(Narrow(wide.sdkVersion), "VST 3.6.12");
  EXPECT_NE(factory3->getClassInfo2(1, &info2), kResultOk);
  EXPECT_NE(factory3->getClassInfo2(-1, &info2), kResultOk);
  factory3->release();

  // A second GetPluginFactory hands out the same factory with a reference.
  auto getFactory =
      reinterpret_cast<IPluginFactory* (*)()>(dlsym(module.Handle(), "GetPluginFactory"));
  EXPECT_EQ(getFactory(), factory);
  EXPECT_EQ(factory->release(), 1u);

  // Unknown classes are refused with a null object.
  void* obj = reinterpret_cast<void*>(1);
  TUID other = {};
  EXPECT_EQ(factory->createInstance(other, IComponent_iid, &obj), kNoInterface);
  EXPECT_EQ(obj, nullptr);
}

TEST_F(Vst3Module, OneObjectAnswersEveryInterfaceAndIsFreedOnLastRelease) {
  Plugin plugin(module.Factory());
  ASSERT_NE(plugin.component, nullptr);
  ASSERT_NE(plugin.processor, nullptr);
  ASSERT_NE(plugin.controller, nullptr);
  ASSERT_NE(plugin.units, nullptr);
  IEditController2* controller2 = nullptr;
  EXPECT_EQ(plugin.component->queryInterface(IEditController2_iid,
                                             reinterpret_cast<void**>(&controller2)),
            kResultOk);
  if (controller2) controller2->release();

  EXPECT_EQ(plugin.component->initialize(&hostApp), kResultOk);
  EXPECT_EQ(hostApp.refs, 1) << "the context is held until terminate";
  EXPECT_EQ(plugin.component->terminate(), kResultOk);
  EXPECT_EQ(hostApp.refs, 0);
  EXPECT_EQ(plugin.Release(), 0u);
}

TEST_F(Vst3Module, InitializeBuildsOnceAndAgainAfterTerminate) {
  // Hosts name themselves in many ways, including names that fill the field
  // and are not plain ASCII.
  for (const char* name : {"Cubase", "REAPER", "", "vst3plugintesthost",
                           "\xe9\xe8 some host with a name that goes on and on and on and on and "
                           "on and on and on and on and on and on and on and on and on and on"}) {
    SCOPED_TRACE(name);
    HostApplication app(name);
    Plugin plugin(module.Factory());
    ASSERT_EQ(plugin.component->initialize(&app), kResultOk);
    EXPECT_EQ(plugin.component->initialize(&app), kResultFalse);
    EXPECT_EQ(plugin.component->initialize(nullptr), kResultFalse);
    EXPECT_EQ(plugin.controller->getParameterCount(), 15);
    EXPECT_EQ(plugin.component->getBusCount(kAudio, kInput), 2);
    for (int round = 0; round < 3; ++round) {
      ASSERT_EQ(plugin.component->terminate(), kResultOk);
      ASSERT_EQ(plugin.component->initialize(round == 1 ? nullptr : &app), kResultOk);
      EXPECT_EQ(plugin.controller->getParameterCount(), 15);
      EXPECT_EQ(plugin.component->getBusCount(kAudio, kInput), 2);
      EXPECT_EQ(plugin.component->getBusCount(kAudio, kOutput), 1);
    }
    plugin.component->terminate();
    EXPECT_EQ(app.refs, 0);
    EXPECT_EQ(plugin.Release(), 0u);
  }
}

TEST_F(Vst3Module, BusesAreStereoMainAuxSidechainAndStereoOutput) {
  Plugin plugin(module.Factory());
  ASSERT_EQ(plugin.component->initialize(&hostApp), kResultOk);
  IComponent* c = plugin.component;
  int32 channels = 0, flags = 0, type = 0;
  EXPECT_EQ(BusName(c, kInput, 0, &channels, &flags, &type), "Main Input");
  EXPECT_EQ(channels, 2);
  EXPECT_EQ(type, kMain);
  EXPECT_EQ(flags, BusInfo::kDefaultActive);
  EXPECT_EQ(BusName(c, kInput, 1, &channels, &flags, &type), "Aux Input");
  EXPECT_EQ(channels, 2);
  EXPECT_EQ(type, kAux);
  EXPECT_EQ(flags, 0);
  EXPECT_EQ(BusName(c, kOutput, 0, &channels), "Output");
  EXPECT_EQ(channels, 2);
  EXPECT_EQ(c->getBusCount(kEvent, kInput), 0);
  EXPECT_EQ(BusName(c, kInput, 2), "<none>");
  EXPECT_EQ(BusName(c, kInput, -1), "<none>");
  EXPECT_NE(c->activateBus(kAudio, kInput, 7, true), kResultTrue);
  EXPECT_EQ(plugin.processor->canProcessSampleSize(kSample32), kResultTrue);
  EXPECT_EQ(plugin.processor->canProcessSampleSize(kSample64), kResultTrue);
  EXPECT_EQ(plugin.processor->canProcessSampleSize(7), kResultFalse);
  EXPECT_EQ(plugin.processor->getLatencySamples(), 0u);
  EXPECT_EQ(plugin.processor->getTailSamples(), kNoTail);
  // An editor view for "editor" only.
  Steinberg::IPlugView* view = plugin.controller->createView("editor");
  EXPECT_NE(view, nullptr);
  if (view) view->release();
  EXPECT_EQ(plugin.controller->createView("other"), nullptr);
  c->terminate();
}

TEST_F(Vst3Module, BusArrangementsAreCheckedBeforeAnythingChanges) {
  Plugin plugin(module.Factory());
  ASSERT_EQ(plugin.component->initialize(&hostApp), kResultOk);
  IAudioProcessor* p = plugin.processor;
  SpeakerArrangement stereo = SpeakerArr::kStereo, mono = SpeakerArr::kMono;

  SpeakerArrangement monoIn[2] = {mono, stereo};
  EXPECT_EQ(p->setBusArrangements(monoIn, 2, &mono, 1), kResultFalse);
  SpeakerArrangement mainOnly[1] = {stereo};
  EXPECT_EQ(p->setBusArrangements(mainOnly, 1, &stereo, 1), kResultFalse);
  EXPECT_EQ(p->setBusArrangements(nullptr, 2, &stereo, 1), kResultFalse);
  EXPECT_EQ(p->setBusArrangements(mainOnly, 1, &stereo, 0), kResultFalse);
  EXPECT_EQ(BusName(plugin.component, kInput, 0), "Main Input") << "refusals change nothing";

  SpeakerArrangement stereoMain[2] = {stereo, stereo};
  EXPECT_EQ(p->setBusArrangements(stereoMain, 2, &stereo, 1), kResultOk);
  EXPECT_EQ(BusName(plugin.component, kInput, 1), "Aux Input") << "same widths keep the buses";

  SpeakerArrangement monoSide[2] = {stereo, mono};
  ASSERT_EQ(p->setBusArrangements(monoSide, 2, &stereo, 1), kResultOk);
  int32 channels = 0, type = 0;
  EXPECT_EQ(BusName(plugin.component, kInput, 0, &channels), "Input");
  EXPECT_EQ(channels, 2);
  EXPECT_EQ(BusName(plugin.component, kInput, 1, &channels, nullptr, &type), "Sidechain Input");
  EXPECT_EQ(channels, 1);
  EXPECT_EQ(type, kAux);
  SpeakerArrangement arr = 0;
  EXPECT_EQ(p->getBusArrangement(kInput, 1, arr), kResultTrue);
  EXPECT_EQ(arr, mono);
  EXPECT_NE(p->getBusArrangement(kOutput, 3, arr), kResultTrue);
  plugin.component->terminate();
}

TEST_F(Vst3Module, HostSeesAProgramParameterAndFourteenParametersWithBYPASSAsItsBypass) {
  Plugin plugin(module.Factory());
  ASSERT_EQ(plugin.component->initialize(&hostApp), kResultOk);
  IEditController* ec = plugin.controller;
  ASSERT_EQ(ec->getParameterCount(), 15);
  ParameterInfo info{};
  ASSERT_EQ(ec->getParameterInfo(0, info), kResultTrue);
  EXPECT_EQ(Narrow(info.title), "Preset");
  EXPECT_EQ(info.id, kPreset);
  EXPECT_TRUE(info.flags & ParameterInfo::kIsProgramChange);
  EXPECT_EQ(info.stepCount, 6) << "Default and six factory presets, seven entries";
  const char* titles[14] = {"INPUT", "OUTPUT", "ATTACK", "RELEASE", "RATIO", "HPF", "MIX",
                            "MID FREQ", "MID GAIN", "HF", "BYPASS", "SLAM", "OVERSAMPLING",
                            "Sidechain"};
  for (int32 i = 0; i < 14; ++i) {
    ASSERT_EQ(ec->getParameterInfo(i + 1, info), kResultTrue);
    EXPECT_EQ(info.id, static_cast<ParamID>(i));
    EXPECT_EQ(Narrow(info.title), titles[i]);
    EXPECT_EQ(info.unitId, kRootUnitId);
    EXPECT_TRUE(info.flags & ParameterInfo::kCanAutomate);
    EXPECT_EQ(Narrow(info.units), "") << "the value text carries the unit";
    EXPECT_EQ((info.flags & ParameterInfo::kIsBypass) != 0, i == 10) << "one bypass: BYPASS";
    EXPECT_EQ((info.flags & ParameterInfo::kIsList) != 0, info.stepCount > 0) << titles[i];
  }
  EXPECT_EQ(ec->getParameterInfo(-1, info), kResultFalse);
  EXPECT_EQ(ec->getParameterInfo(15, info), kResultFalse);

  // MIX: 0..100 %, continuous, two decimals, default 100.
  ASSERT_EQ(ec->getParameterInfo(kMixId + 1, info), kResultTrue);
  EXPECT_EQ(info.stepCount, 0);
  EXPECT_DOUBLE_EQ(info.defaultNormalizedValue, 1.0);
  String128 text;
  ASSERT_EQ(ec->getParamStringByValue(kMixId, 0.5, text), kResultTrue);
  EXPECT_EQ(Narrow(text), "50.00 %");
  ParamValue normalized = -1;
  Widen(text, "12.5 %");
  ASSERT_EQ(ec->getParamValueByString(kMixId, text, normalized), kResultTrue);
  EXPECT_DOUBLE_EQ(normalized, 0.125);
  EXPECT_DOUBLE_EQ(ec->normalizedParamToPlain(kMixId, 0.25), 25.0);
  EXPECT_DOUBLE_EQ(ec->plainParamToNormalized(kMixId, 75.0), 0.75);
  EXPECT_DOUBLE_EQ(ec->plainParamToNormalized(kMixId, 250.0), 1.0);
  // RATIO is a list of four steps.
  ASSERT_EQ(ec->getParameterInfo(4 + 1, info), kResultTrue);
  EXPECT_EQ(info.stepCount, 3);
  ASSERT_EQ(ec->getParamStringByValue(4, 1.0, text), kResultTrue);
  EXPECT_EQ(Narrow(text), "20:1");

  EXPECT_EQ(ec->getParamStringByValue(99, 0.0, text), kResultFalse);
  EXPECT_EQ(ec->getParamValueByString(kMixId, nullptr, normalized), kResultFalse);

  // setParamNormalized moves the plug-in's value within 0..1: a host that
  // saves right after an edit, with no block in between, keeps the edit.
  EXPECT_EQ(ec->setParamNormalized(kMixId, 0.3), kResultTrue);
  EXPECT_DOUBLE_EQ(ec->getParamNormalized(kMixId), 0.3);
  double savedMix = 0;
  memcpy(&savedMix, plugin.State().data() + 8 * kMixId, 8);
  EXPECT_DOUBLE_EQ(savedMix, 30.0);
  EXPECT_EQ(ec->setParamNormalized(kMixId, std::nan("")), kResultFalse);
  EXPECT_DOUBLE_EQ(ec->getParamNormalized(kMixId), 0.3);
  EXPECT_EQ(ec->setParamNormalized(kMixId, 4.0), kResultTrue);
  EXPECT_DOUBLE_EQ(ec->getParamNormalized(kMixId), 1.0);
  EXPECT_EQ(ec->setParamNormalized(4242, 0.3), kResultFalse);
  plugin.component->terminate();
}

TEST_F(Vst3Module, UnitsAndProgramListDescribeDefaultAndTheSixFactoryPresets) {
  Plugin plugin(module.Factory());
  ASSERT_EQ(plugin.component->initialize(&hostApp), kResultOk);
  IUnitInfo* u = plugin.units;
  EXPECT_EQ(u->getUnitCount(), 1);
  UnitInfo unit{};
  ASSERT_EQ(u->getUnitInfo(0, unit), kResultTrue);
  EXPECT_EQ(unit.id, kRootUnitId);
  EXPECT_EQ(unit.parentUnitId, kNoParentUnitId);
  EXPECT_EQ(Narrow(unit.name), "Root Unit");
  EXPECT_EQ(unit.programListId, static_cast<ProgramListID>(kPreset));
  EXPECT_EQ(u->getUnitInfo(1, unit), kResultFalse);
  EXPECT_EQ(u->getUnitInfo(-1, unit), kResultFalse);

  EXPECT_EQ(u->getProgramListCount(), 1);
  ProgramListInfo list{};
  ASSERT_EQ(u->getProgramListInfo(0, list), kResultTrue);
  EXPECT_EQ(list.id, static_cast<ProgramListID>(kPreset));
  EXPECT_EQ(Narrow(list.name), "Factory Presets");
  EXPECT_EQ(list.programCount, 7);
  EXPECT_EQ(u->getProgramListInfo(1, list), kResultFalse);
  String128 name;
  ASSERT_EQ(u->getProgramName(kPreset, 0, name), kResultTrue);
  EXPECT_EQ(Narrow(name), "Default");
  ASSERT_EQ(u->getProgramName(kPreset, 1, name), kResultTrue);
  EXPECT_EQ(Narrow(name), "Drum Bus Glue");
  ASSERT_EQ(u->getProgramName(kPreset, 6, name), kResultTrue);
  EXPECT_EQ(Narrow(name), "SLAM");
  EXPECT_EQ(u->getProgramName(kPreset, 7, name), kResultFalse);
  EXPECT_EQ(u->getProgramName(kPreset, -1, name), kResultFalse);
  EXPECT_EQ(u->getProgramName(1234, 0, name), kResultFalse);
  EXPECT_EQ(u->getSelectedUnit(), kRootUnitId);
  plugin.component->terminate();
}

TEST_F(Vst3Module, ComponentAndControllerSaveTheSame116Bytes) {
  Plugin plugin(module.Factory());
  ASSERT_EQ(plugin.component->initialize(&hostApp), kResultOk);
  std::vector<uint8_t> state = plugin.State();
  ASSERT_EQ(state.size(), 116u);
  // Hosts that read the controller's values from the component's state
  // (JUCE) must find the plug-in's values there.
  Stream component;
  ASSERT_EQ(plugin.component->getState(&component), kResultOk);
  EXPECT_EQ(component.bytes, state);
  component.position = 0;
  EXPECT_EQ(plugin.controller->setComponentState(&component), kResultOk);
  Stream empty;
  EXPECT_EQ(plugin.component->setState(&empty), kResultFalse) << "no state of ours";
  double mix = 0;
  memcpy(&mix, state.data() + 8 * kMixId, 8);
  EXPECT_EQ(mix, 100.0);
  EXPECT_EQ(memcmp(state.data() + 112, "\0\0\0\0", 4), 0);
  EXPECT_EQ(plugin.controller->getState(nullptr), kResultFalse);
  EXPECT_EQ(plugin.controller->setState(nullptr), kResultFalse);
  plugin.component->terminate();
}

TEST_F(Vst3Module, RestoredStateShowsInTheControllerAndSurvivesARoundTrip) {
  Plugin source(module.Factory()), target(module.Factory());
  ASSERT_EQ(source.component->initialize(&hostApp), kResultOk);
  ASSERT_EQ(target.component->initialize(&hostApp), kResultOk);
  std::vector<uint8_t> state = source.State();
  double mix = 12.5, ratio = 1.6;  // between steps: loads as the step 2 it processes as
  memcpy(state.data() + 8 * kMixId, &mix, 8);
  memcpy(state.data() + 8 * 4, &ratio, 8);
  state[112] = 1;  // bypassed

  Stream in;
  in.bytes = state;
  ASSERT_EQ(target.controller->setState(&in), kResultOk);
  EXPECT_DOUBLE_EQ(target.controller->getParamNormalized(kMixId), 0.125);
  EXPECT_DOUBLE_EQ(target.controller->getParamNormalized(4), 2.0 / 3.0);
  // The host bypass of an older project is the one bypass, BYPASS.
  EXPECT_DOUBLE_EQ(target.controller->getParamNormalized(10), 1.0);
  double on = 1.0, step = 2.0;
  memcpy(state.data() + 8 * 10, &on, 8);
  memcpy(state.data() + 8 * 4, &step, 8);
  EXPECT_EQ(target.State(), state);
  source.component->terminate();
  target.component->terminate();
}

TEST_F(Vst3Module, DamagedStateStreamsNeverOverreadOrHalfApply) {
  Plugin plugin(module.Factory());
  ASSERT_EQ(plugin.component->initialize(&hostApp), kResultOk);
  std::vector<uint8_t> original = plugin.State();
  std::vector<uint8_t> changed = original;
  double mix = 40.0;
  memcpy(changed.data() + 8 * kMixId, &mix, 8);
  changed[112] = 1;

  // Ends inside the parameters: refused, nothing changes.
  for (size_t cut : {0u, 7u, 50u, 111u}) {
    Stream truncated;
    truncated.bytes = changed;
    truncated.deliverLimit = cut;
    EXPECT_EQ(plugin.controller->setState(&truncated), kResultFalse) << cut;
    EXPECT_EQ(plugin.State(), original) << cut;
  }
  // A stream that claims to deliver more than asked is read no further.
  Stream lying;
  lying.bytes = changed;
  lying.bytes.resize(40);
  lying.overstateReads = true;
  EXPECT_EQ(plugin.controller->setState(&lying), kResultFalse);
  EXPECT_EQ(plugin.State(), original);

  // Parameters complete, bypass flag missing: a cut blob, refused whole.
  Stream noFlag;
  noFlag.bytes.assign(changed.begin(), changed.begin() + 112);
  EXPECT_EQ(plugin.controller->setState(&noFlag), kResultFalse);
  EXPECT_EQ(plugin.State(), original);

  // Garbage: every value lands inside its range, nothing becomes NaN.
  Stream garbage;
  garbage.bytes.assign(116, 0xFF);
  EXPECT_EQ(plugin.controller->setState(&garbage), kResultOk);
  for (ParamID id = 0; id < 14; ++id) {
    double v = plugin.controller->getParamNormalized(id);
    EXPECT_TRUE(v >= 0.0 && v <= 1.0) << id;
  }
  plugin.component->terminate();
}
