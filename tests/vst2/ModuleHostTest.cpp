// The built Kestrune.so as a VST2 host sees it: loading, the AEffect record,
// the host setup at open, the informational opcodes and how the plug-in
// copes with a host that passes bad records.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

#include "ScriptedHost.h"

using namespace vst2;

namespace {

// A buffer pre-filled with a marker, to see how far the plug-in wrote.
struct MarkedBuffer {
  static constexpr char kMark = 0x7F;
  char bytes[300];
  MarkedBuffer() { memset(bytes, kMark, sizeof bytes); }
  // Bytes touched: everything up to the last one that is no longer the mark.
  size_t Touched() const {
    size_t n = sizeof bytes;
    while (n > 0 && bytes[n - 1] == kMark) --n;
    return n;
  }
};

}  // namespace

TEST(Vst2Module, ExportsOnlyTheTwoEntryPointsAndBothCreateAnEffect) {
  Vst2Module& module = Vst2Module::Get();
  ASSERT_NE(module.pluginMain, nullptr);
  ASSERT_NE(module.legacyMain, nullptr);
  // Internal classes stay inside the module (CopyText, IEffectBase's destructor).
  EXPECT_EQ(dlsym(module.handle, "_Z8CopyTextPcmPKc"), nullptr);
  EXPECT_EQ(dlsym(module.handle, "_ZN11IEffectBaseD2Ev"), nullptr);

  ScriptedHost host;
  AEffect* effect = module.legacyMain(&ScriptedHost::Callback);
  ASSERT_NE(effect, nullptr);
  EXPECT_EQ(effect->magic, kEffectMagic);
  effect->dispatcher(effect, effClose, 0, 0, nullptr, 0);
}

TEST(Vst2Module, EffectRecordDescribesAStereoCompressorWithSidechain) {
  ScriptedHost host;
  PluginInstance plug(host);
  AEffect* e = plug.effect;
  EXPECT_EQ(e->magic, 0x56737450);
  EXPECT_EQ(e->numPrograms, 7);
  EXPECT_EQ(e->numParams, 14);
  EXPECT_EQ(e->numInputs, 4);
  EXPECT_EQ(e->numOutputs, 2);
  // Plus effFlagsHasEditor once the effect attaches an editor; never mono
  // or synth. Program chunks, so hosts load the factory .fxp files.
  EXPECT_EQ(e->flags & ~effFlagsHasEditor,
            effFlagsCanReplacing | effFlagsCanDoubleReplacing | effFlagsProgramChunks);
  EXPECT_EQ(e->uniqueID, 0x4B726E31);
  EXPECT_EQ(e->version, 0x00030100) << "hosts read one byte per part: 3.1.0";
  EXPECT_EQ(e->ioRatio, 1.0f);
  EXPECT_EQ(e->resvd1, 0);
  EXPECT_EQ(e->resvd2, 0);
  EXPECT_EQ(e->initialDelay, 0);
  EXPECT_EQ(e->user, nullptr);
  EXPECT_NE(e->object, nullptr);
  ASSERT_NE(e->process, nullptr);
  ASSERT_NE(e->processReplacing, nullptr);
  ASSERT_NE(e->processDoubleReplacing, nullptr);
  // Hosts treat an accumulating entry equal to the replacing one as broken.
  EXPECT_NE(reinterpret_cast<void*>(e->process), reinterpret_cast<void*>(e->processReplacing));
}

TEST(Vst2Module, InformationalOpcodesAnswerAsAVst24Effect) {
  ScriptedHost host;
  PluginInstance plug(host);
  EXPECT_EQ(plug.Dispatch(effIdentify), 0x4E764566);
  EXPECT_EQ(plug.Dispatch(effGetVstVersion), 2400);
  EXPECT_EQ(plug.Dispatch(effGetPlugCategory), kPlugCategMastering);  // Carla: "dynamics"
  EXPECT_EQ(plug.Dispatch(effGetVendorVersion), 0x00030100);
  EXPECT_EQ(plug.Dispatch(effGetTailSize), 0);
  EXPECT_EQ(plug.Dispatch(effCanBeAutomated, 3), 1);
  EXPECT_EQ(plug.Dispatch(effGetProgram), 0);
  // Opcodes the plug-in does not implement answer 0, bypass included.
  EXPECT_EQ(plug.Dispatch(effSetBypass, 0, 1), 0);
  EXPECT_EQ(plug.Dispatch(effGetParameterProperties, 0), 0);
  EXPECT_EQ(plug.Dispatch(effSetProcessPrecision, 0, 1), 0);
  EXPECT_EQ(plug.Dispatch(9999), 0);
  // The editor rectangle is there exactly when the record announces an editor.
  ERect* rect = nullptr;
  if (plug.effect->flags & effFlagsHasEditor) {
    EXPECT_EQ(plug.Dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_GT(rect->right, 0);
    EXPECT_GT(rect->bottom, 0);
  } else {
    EXPECT_EQ(plug.Dispatch(effEditGetRect, 0, 0, &rect), 0);
    EXPECT_EQ(rect, nullptr);
    EXPECT_EQ(plug.Dispatch(effEditOpen), 0);
    EXPECT_EQ(plug.Dispatch(effEditClose), 0);
  }

  char text[128];
  EXPECT_EQ(plug.Dispatch(effGetVendorString, 0, 0, text), 1);
  EXPECT_STREQ(text, "Marlowind");
  EXPECT_EQ(plug.Dispatch(effGetEffectName, 0, 0, text), 1);
  EXPECT_STREQ(text, "Kestrune");
  EXPECT_EQ(plug.Dispatch(effGetProductString, 0, 0, nullptr), 0);
  EXPECT_EQ(plug.Dispatch(effGetProductString, 0, 0, text), 1);
  EXPECT_STREQ(text, "Kestrune");  // the label Carla lists the plug-in by
}

TEST(Vst2Module, CapabilityAnswers) {
  ScriptedHost host;
  PluginInstance plug(host);
  EXPECT_EQ(plug.Dispatch(effCanDo, 0, 0, const_cast<char*>("receiveVstTimeInfo")), 1);
  EXPECT_EQ(plug.Dispatch(effCanDo, 0, 0, const_cast<char*>("sendVstEvents")), 0);
  EXPECT_EQ(plug.Dispatch(effCanDo, 0, 0, const_cast<char*>("receiveVstMidiEvent")), 0);
  EXPECT_EQ(plug.Dispatch(effCanDo, 0, 0, const_cast<char*>("bypass")), 0);
  EXPECT_EQ(plug.Dispatch(effCanDo, 0, 0, const_cast<char*>("receiveVstTimeInfoX")), 0);
  EXPECT_EQ(plug.Dispatch(effCanDo, 0, 0, nullptr), 0);
  // Zero-extended, so exact 64-bit and low-32-bit comparisons both hold.
  EXPECT_EQ(plug.Dispatch(effCanDo, 0, 0, const_cast<char*>("hasCockosExtensions")),
            static_cast<intptr_t>(0xBEEF0000u));
}

TEST(Vst2Module, PinsPairUpAsStereoAndAreLabelledByNumber) {
  ScriptedHost host;
  PluginInstance plug(host);
  const int32_t expectedIn[] = {3, 1, 3, 1};
  for (int i = 0; i < 4; ++i) {
    VstPinProperties pin;
    memset(&pin, 0x5A, sizeof pin);
    ASSERT_EQ(plug.Dispatch(effGetInputProperties, i, 0, &pin), 1);
    EXPECT_EQ(pin.flags, expectedIn[i]) << "input " << i;
    EXPECT_EQ(std::string(pin.label), "Input " + std::to_string(i + 1));
    EXPECT_EQ(pin.arrangementType, 0x5A5A5A5A) << "left as the host passed it";
    EXPECT_EQ(pin.shortLabel[0], 0x5A);
  }
  VstPinProperties pin{};
  ASSERT_EQ(plug.Dispatch(effGetOutputProperties, 0, 0, &pin), 1);
  EXPECT_EQ(pin.flags, 3);
  EXPECT_STREQ(pin.label, "Output 1");
  ASSERT_EQ(plug.Dispatch(effGetOutputProperties, 1, 0, &pin), 1);
  EXPECT_EQ(pin.flags, 1);
  EXPECT_EQ(plug.Dispatch(effGetInputProperties, 4, 0, &pin), 0);
  EXPECT_EQ(plug.Dispatch(effGetOutputProperties, 2, 0, &pin), 0);
  EXPECT_EQ(plug.Dispatch(effGetInputProperties, -1, 0, &pin), 0);
  EXPECT_EQ(plug.Dispatch(effGetInputProperties, 0, 0, nullptr), 0);
}

TEST(Vst2Module, ReportedSpeakerArrangementsAreFourInputsAndStereoOut) {
  ScriptedHost host;
  PluginInstance plug(host);
  VstSpeakerArrangement* in = nullptr;
  VstSpeakerArrangement* out = nullptr;
  EXPECT_EQ(plug.Dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&in), &out), 1);
  ASSERT_NE(in, nullptr);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(in->type, kSpeakerArrUserDefined);
  EXPECT_EQ(in->numChannels, 4);
  EXPECT_EQ(out->type, kSpeakerArrStereo);
  EXPECT_EQ(out->numChannels, 2);
  // Setting a narrower arrangement is accepted but does not change the report.
  VstSpeakerArrangement stereo{};
  stereo.type = kSpeakerArrStereo;
  stereo.numChannels = 2;
  EXPECT_EQ(plug.Dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&stereo), &stereo),
            1);
  EXPECT_EQ(in->numChannels, 4);
  // Either side may be missing.
  EXPECT_EQ(plug.Dispatch(effGetSpeakerArrangement, 0, 0, nullptr), 1);
  EXPECT_EQ(plug.Dispatch(effSetSpeakerArrangement, 0, 0, nullptr), 1);
}

TEST(Vst2Module, HostIsIdentifiedOnceAtOpen) {
  ScriptedHost host;
  host.product = "Cubase";
  PluginInstance plug(host);
  EXPECT_EQ(host.CountOf(audioMasterGetProductString), 0) << "identification is lazy";
  plug.Dispatch(effOpen);
  plug.Dispatch(effOpen);
  EXPECT_EQ(host.CountOf(audioMasterGetProductString), 1);
  EXPECT_EQ(host.CountOf(audioMasterGetVendorVersion), 1);
}

TEST(Vst2Module, HostWithoutProductStringIsNotAskedForItsVersion) {
  ScriptedHost host;
  host.product = "";
  PluginInstance plug(host);
  plug.Dispatch(effOpen);
  EXPECT_EQ(host.CountOf(audioMasterGetProductString), 1);
  EXPECT_EQ(host.CountOf(audioMasterGetVendorVersion), 0);
}

TEST(Vst2Module, HostFillingTheProductBufferWithoutTerminatorIsSurvived) {
  ScriptedHost host;
  host.fillProductUnterminated = true;
  PluginInstance plug(host);
  plug.Dispatch(effOpen);
  EXPECT_EQ(plug.effect->numInputs, 4);
}

TEST(Vst2Module, StereoOnlyHostsKeepFourDeclaredInputs) {
  for (const char* product : {"Adobe Audition", "audition", "forte", "Orion", "SAWStudio"}) {
    ScriptedHost host;
    host.product = product;
    PluginInstance plug(host);
    plug.Dispatch(effOpen);
    EXPECT_EQ(plug.effect->numInputs, 4) << product;
    EXPECT_EQ(plug.effect->numOutputs, 2) << product;
  }
}

TEST(Vst2Module, TextsWrittenToHostBuffersStayWithinTheDocumentedLimits) {
  ScriptedHost host;
  PluginInstance plug(host);
  plug.Dispatch(effOpen);
  for (int i = 0; i < 14; ++i) {
    MarkedBuffer name, label, display;
    plug.Dispatch(effGetParamName, i, 0, name.bytes);
    plug.Dispatch(effGetParamLabel, i, 0, label.bytes);
    plug.Dispatch(effGetParamDisplay, i, 0, display.bytes);
    EXPECT_LE(name.Touched(), 32u) << "name of " << i;
    EXPECT_LE(label.Touched(), 8u) << "label of " << i;
    EXPECT_LE(display.Touched(), 8u) << "display of " << i;
    EXPECT_LT(strnlen(display.bytes, 8), 8u) << "display of " << i << " is terminated";
  }
  // Ardour's VST2 view appends " label" to the display, cut to the display's
  // length less one: the number must be long enough for the whole unit
  // (RELEASE at 400 ms showed "400 m").
  for (int i = 0; i < 14; ++i)
    for (float normalized = 0.0f; normalized <= 1.0f; normalized += 0.0625f) {
      plug.Set(i, normalized);
      char label[64] = {}, display[64] = {};
      plug.Dispatch(effGetParamLabel, i, 0, label);
      plug.Dispatch(effGetParamDisplay, i, 0, display);
      if (label[0])
        EXPECT_GE(strlen(display), strlen(label) + 2) << i << " at " << normalized << ": " << display;
    }
  // Longest display: MID FREQ at its top.
  plug.Set(7, 1.0f);
  char text[64];
  plug.Dispatch(effGetParamDisplay, 7, 0, text);
  EXPECT_STREQ(text, "10.00");
  plug.Dispatch(effGetParamLabel, 7, 0, text);
  EXPECT_STREQ(text, "kHz");
  plug.Dispatch(effGetParamName, 13, 0, text);
  EXPECT_STREQ(text, "Sidechain");
  plug.Dispatch(effGetParamLabel, 6, 0, text);
  EXPECT_STREQ(text, "%");

  // A 300-character program name comes back as at most 23 characters.
  std::string longName(299, 'n');
  plug.Dispatch(effSetProgramName, 0, 0, const_cast<char*>(longName.c_str()));
  MarkedBuffer program, indexed;
  plug.Dispatch(effGetProgramName, 0, 0, program.bytes);
  EXPECT_EQ(program.Touched(), 24u);
  EXPECT_EQ(std::string(program.bytes), std::string(23, 'n'));
  EXPECT_EQ(plug.Dispatch(effGetProgramNameIndexed, 0, 0, indexed.bytes), 1);
  EXPECT_EQ(indexed.Touched(), 24u);

  for (int32_t opcode : {effGetEffectName, effGetVendorString, effGetProductString}) {
    MarkedBuffer buffer;
    plug.Dispatch(opcode, 0, 0, buffer.bytes);
    EXPECT_LE(buffer.Touched(), 64u) << "opcode " << opcode;
  }
}

TEST(Vst2Module, NullForeignOrCopiedEffectRecordsAreRefused) {
  ScriptedHost host;
  PluginInstance plug(host);
  AEffect* ours = plug.effect;
  auto dispatch = ours->dispatcher;

  EXPECT_EQ(dispatch(nullptr, effIdentify, 0, 0, nullptr, 0), 0);
  AEffect foreign{};
  foreign.magic = kEffectMagic;
  foreign.object = &foreign;
  EXPECT_EQ(dispatch(&foreign, effIdentify, 0, 0, nullptr, 0), 0);
  // A copy that still points at our instance is not the record the host holds.
  AEffect copy = *ours;
  EXPECT_EQ(dispatch(&copy, effIdentify, 0, 0, nullptr, 0), 0);
  EXPECT_EQ(dispatch(&copy, effClose, 0, 0, nullptr, 0), 0);
  EXPECT_EQ(ours->getParameter(nullptr, 0), 0.0f);
  EXPECT_EQ(ours->getParameter(&foreign, 0), 0.0f);
  ours->setParameter(&copy, 6, 0.0f);
  float left[8] = {1}, right[8] = {1};
  float* outs[] = {left, right};
  ours->processReplacing(nullptr, outs, outs, 8);
  ours->process(&foreign, outs, outs, 8);
  ours->processDoubleReplacing(&copy, nullptr, nullptr, 8);
  EXPECT_EQ(left[0], 1.0f);

  // The real record still works, and the copy did not change MIX.
  EXPECT_EQ(dispatch(ours, effIdentify, 0, 0, nullptr, 0), 0x4E764566);
  EXPECT_EQ(plug.Get(6), 1.0f);
}

TEST(Vst2Module, EventListsWithBadCountsAreRefusedAndMidiIsPassedOn) {
  ScriptedHost host;
  PluginInstance plug(host);
  plug.Start(48000.0f, 256);

  VstMidiEvent note{};
  note.type = kVstMidiType;
  note.byteSize = sizeof note;
  note.deltaFrames = 17;
  note.midiData[0] = static_cast<char>(0x90);
  note.midiData[1] = 60;
  note.midiData[2] = 100;
  VstEvents events{};
  events.numEvents = 2;
  events.events[0] = nullptr;  // skipped
  events.events[1] = reinterpret_cast<VstEvent*>(&note);
  EXPECT_EQ(plug.Dispatch(effProcessEvents, 0, 0, &events), 1);
  // The plug-in passes incoming MIDI straight back out to the host.
  const HostCall* out = host.Last(audioMasterProcessEvents);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->eventType, kVstMidiType);
  EXPECT_EQ(out->deltaFrames, 17);
  EXPECT_EQ(out->midi, (std::vector<uint8_t>{0x90, 60, 100}));

  int before = host.CountOf(audioMasterProcessEvents);
  events.numEvents = -1;
  EXPECT_EQ(plug.Dispatch(effProcessEvents, 0, 0, &events), 0);
  events.numEvents = 1 << 30;  // far beyond the two pointers that exist
  EXPECT_EQ(plug.Dispatch(effProcessEvents, 0, 0, &events), 0);
  EXPECT_EQ(plug.Dispatch(effProcessEvents, 0, 0, nullptr), 0);
  EXPECT_EQ(host.CountOf(audioMasterProcessEvents), before);

  // A SysEx dump that promises bytes behind a null pointer is skipped.
  VstMidiSysexEvent sysex{};
  sysex.type = kVstSysExType;
  sysex.dumpBytes = 100;
  events.numEvents = 1;
  events.events[0] = reinterpret_cast<VstEvent*>(&sysex);
  EXPECT_EQ(plug.Dispatch(effProcessEvents, 0, 0, &events), 1);
}

TEST(Vst2Module, VendorQueriesFormatArbitraryValuesAndReportSteppedParameters) {
  ScriptedHost host;
  PluginInstance plug(host);
  char text[64] = "";
  EXPECT_EQ(plug.Dispatch(effVendorSpecific, effGetParamDisplay, 6, text, 0.5f), 0xBEEF);
  EXPECT_STREQ(text, "50.00");
  EXPECT_EQ(plug.Dispatch(effVendorSpecific, effGetParamDisplay, 4, text, 1.0f), 0xBEEF);
  EXPECT_STREQ(text, "20:1");
  EXPECT_EQ(plug.Dispatch(effVendorSpecific, effGetParamDisplay, 99, text, 0.5f), 0xBEEF);
  EXPECT_EQ(plug.Dispatch(effVendorSpecific, effGetParamDisplay, 6, nullptr, 0.5f), 0);
  EXPECT_EQ(plug.Dispatch(effVendorSpecific, effGetParamName, 4), 0xBEEF) << "RATIO steps";
  EXPECT_EQ(plug.Dispatch(effVendorSpecific, effGetParamName, 6), 0) << "MIX is continuous";
  EXPECT_EQ(plug.Dispatch(effVendorSpecific, effGetParamName, intptr_t(1) << 32), 0);
  EXPECT_EQ(plug.Dispatch(effVendorSpecific, 3, 6, text), 0);
}

TEST(Vst2Module, SwitchesAndStepsAreReportedAsSuchNotAsSliders) {
  ScriptedHost host;
  PluginInstance plug(host);
  VstParameterProperties properties;
  for (int index : {10, 11, 12, 13}) {
    memset(&properties, 0x55, sizeof properties);
    ASSERT_EQ(plug.Dispatch(effGetParameterProperties, index, 0, &properties), 1) << index;
    EXPECT_EQ(properties.flags, kVstParameterIsSwitch) << index;
  }
  EXPECT_STREQ(properties.label, "Sidechain");
  ASSERT_EQ(plug.Dispatch(effGetParameterProperties, 4, 0, &properties), 1);
  EXPECT_EQ(properties.flags, kVstParameterUsesIntegerMinMax | kVstParameterUsesIntStep);
  EXPECT_EQ(properties.minInteger, 0);
  EXPECT_EQ(properties.maxInteger, 3);
  EXPECT_EQ(properties.stepInteger, 1);
  EXPECT_STREQ(properties.shortLabel, "RATIO");
  EXPECT_EQ(plug.Dispatch(effGetParameterProperties, 6, 0, &properties), 0) << "MIX is continuous";
  EXPECT_EQ(plug.Dispatch(effGetParameterProperties, 14, 0, &properties), 0);
  EXPECT_EQ(plug.Dispatch(effGetParameterProperties, 4, 0, nullptr), 0);
}
