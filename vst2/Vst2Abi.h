// The VST 2.4 binary interface as this binding uses it: the records a host
// and a plug-in exchange, the opcode numbers in both directions and the
// constants. Declared here from the published facts of the interface; every
// record's size and field offsets are checked at compile time for the 64-bit
// targets (x86-64 Linux and x86-64 Windows share these layouts).
//
// Integer spelling: 32-bit fields are int32_t and pointer-sized ones intptr_t;
// `long` is never used because it is 4 bytes on Win64 and 8 on Linux.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define VSTCALLBACK __cdecl
#else
#define VSTCALLBACK
#endif

namespace vst2 {

struct AEffect;

// Host callback: (effect, opcode, index, value, ptr, opt) -> pointer-sized int.
// `opt` is a 32-bit float on every platform.
using audioMasterCallback = intptr_t(VSTCALLBACK*)(AEffect* effect, int32_t opcode,
                                                   int32_t index, intptr_t value, void* ptr,
                                                   float opt);
using AEffectDispatcherProc = intptr_t(VSTCALLBACK*)(AEffect* effect, int32_t opcode,
                                                     int32_t index, intptr_t value, void* ptr,
                                                     float opt);
using AEffectProcessProc = void(VSTCALLBACK*)(AEffect* effect, float** inputs, float** outputs,
                                              int32_t sampleFrames);
using AEffectProcessDoubleProc = void(VSTCALLBACK*)(AEffect* effect, double** inputs,
                                                    double** outputs, int32_t sampleFrames);
using AEffectSetParameterProc = void(VSTCALLBACK*)(AEffect* effect, int32_t index, float value);
using AEffectGetParameterProc = float(VSTCALLBACK*)(AEffect* effect, int32_t index);

// Four characters, first one in the most significant byte.
constexpr int32_t FourChars(char a, char b, char c, char d) {
  return static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint8_t>(a)) << 24) |
                              (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 16) |
                              (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 8) |
                              static_cast<uint32_t>(static_cast<uint8_t>(d)));
}

constexpr int32_t kEffectMagic = FourChars('V', 's', 't', 'P');  // 0x56737450
constexpr int32_t kEffectIdentity = FourChars('N', 'v', 'E', 'f');  // 0x4E764566
constexpr int32_t kVstVersion = 2400;

struct AEffect {
  int32_t magic;
  AEffectDispatcherProc dispatcher;
  AEffectProcessProc process;  // accumulating
  AEffectSetParameterProc setParameter;
  AEffectGetParameterProc getParameter;
  int32_t numPrograms;
  int32_t numParams;
  int32_t numInputs;
  int32_t numOutputs;
  int32_t flags;
  intptr_t resvd1;  // host-reserved
  intptr_t resvd2;  // host-reserved
  int32_t initialDelay;
  int32_t realQualities;
  int32_t offQualities;
  float ioRatio;
  void* object;  // the plug-in's instance
  void* user;    // the host's; never read by the plug-in
  int32_t uniqueID;
  int32_t version;
  AEffectProcessProc processReplacing;
  AEffectProcessDoubleProc processDoubleReplacing;
  char future[56];
};

enum AEffectFlags : int32_t {
  effFlagsHasEditor = 1,
  effFlagsCanMono = 8,
  effFlagsCanReplacing = 16,
  effFlagsProgramChunks = 32,
  effFlagsIsSynth = 256,
  effFlagsNoSoundInStop = 512,
  effFlagsCanDoubleReplacing = 4096,
};

// Host -> plug-in (dispatcher).
enum DispatcherOpcode : int32_t {
  effOpen = 0,
  effClose = 1,
  effSetProgram = 2,
  effGetProgram = 3,
  effSetProgramName = 4,
  effGetProgramName = 5,
  effGetParamLabel = 6,
  effGetParamDisplay = 7,
  effGetParamName = 8,
  effSetSampleRate = 10,
  effSetBlockSize = 11,
  effMainsChanged = 12,
  effEditGetRect = 13,
  effEditOpen = 14,
  effEditClose = 15,
  effEditIdle = 19,
  effIdentify = 22,
  effGetChunk = 23,
  effSetChunk = 24,
  effProcessEvents = 25,
  effCanBeAutomated = 26,
  effString2Parameter = 27,
  effGetProgramNameIndexed = 29,
  effGetInputProperties = 33,
  effGetOutputProperties = 34,
  effGetPlugCategory = 35,
  effProcessVarIo = 41,
  effSetSpeakerArrangement = 42,
  effSetBypass = 44,
  effGetEffectName = 45,
  effGetVendorString = 47,
  effGetProductString = 48,
  effGetVendorVersion = 49,
  effVendorSpecific = 50,
  effCanDo = 51,
  effGetTailSize = 52,
  effIdle = 53,
  effGetParameterProperties = 56,
  effGetVstVersion = 58,
  effGetMidiKeyName = 66,
  effGetSpeakerArrangement = 69,
  effStartProcess = 71,
  effStopProcess = 72,
  effSetProcessPrecision = 77,
};

// Plug-in -> host (audioMasterCallback).
enum HostOpcode : int32_t {
  audioMasterAutomate = 0,
  audioMasterVersion = 1,
  audioMasterWantMidi = 6,
  audioMasterGetTime = 7,
  audioMasterProcessEvents = 8,
  audioMasterIOChanged = 13,
  audioMasterNeedIdle = 14,
  audioMasterSizeWindow = 15,
  audioMasterGetCurrentProcessLevel = 23,
  audioMasterGetVendorString = 32,
  audioMasterGetProductString = 33,
  audioMasterGetVendorVersion = 34,
  audioMasterCanDo = 37,
  audioMasterUpdateDisplay = 42,
  audioMasterBeginEdit = 43,
  audioMasterEndEdit = 44,
};

constexpr int32_t kVstProcessLevelOffline = 4;
constexpr int32_t kPlugCategEffect = 1;
constexpr int32_t kPlugCategSynth = 2;
constexpr int32_t kPlugCategMastering = 4;  // dynamics: compressors, limiters

struct ERect {
  int16_t top;
  int16_t left;
  int16_t bottom;
  int16_t right;
};

struct VstEvent {
  int32_t type;
  int32_t byteSize;
  int32_t deltaFrames;
  int32_t flags;
  char data[16];
};

constexpr int32_t kVstMidiType = 1;
constexpr int32_t kVstSysExType = 6;

struct VstMidiEvent {
  int32_t type;
  int32_t byteSize;
  int32_t deltaFrames;
  int32_t flags;
  int32_t noteLength;
  int32_t noteOffset;
  char midiData[4];
  signed char detune;
  char noteOffVelocity;
  char reserved1;
  char reserved2;
};

struct VstMidiSysexEvent {
  int32_t type;
  int32_t byteSize;
  int32_t deltaFrames;
  int32_t flags;
  int32_t dumpBytes;
  intptr_t resvd1;
  char* sysexDump;
  intptr_t resvd2;
};

// Really `numEvents` pointers long; declared with two like the hosts do.
struct VstEvents {
  int32_t numEvents;
  intptr_t reserved;
  VstEvent* events[2];
};

struct VstTimeInfo {
  double samplePos;
  double sampleRate;
  double nanoSeconds;
  double ppqPos;
  double tempo;
  double barStartPos;
  double cycleStartPos;
  double cycleEndPos;
  int32_t timeSigNumerator;
  int32_t timeSigDenominator;
  int32_t smpteOffset;
  int32_t smpteFrameRate;
  int32_t samplesToNextClock;
  int32_t flags;
};

enum VstTimeInfoFlags : int32_t {
  kVstTransportChanged = 1,
  kVstTransportPlaying = 1 << 1,
  kVstTransportCycleActive = 1 << 2,
  kVstTransportRecording = 1 << 3,
  kVstNanosValid = 1 << 8,
  kVstPpqPosValid = 1 << 9,
  kVstTempoValid = 1 << 10,
  kVstBarsValid = 1 << 11,
  kVstCyclePosValid = 1 << 12,
  kVstTimeSigValid = 1 << 13,
  kVstSmpteValid = 1 << 14,
  kVstClockValid = 1 << 15,
};

// Text limits in bytes, terminator included.
constexpr size_t kVstMaxLabelLen = 64;
constexpr size_t kVstMaxShortLabelLen = 8;
constexpr size_t kVstMaxNameLen = 64;

struct VstPinProperties {
  char label[kVstMaxLabelLen];
  int32_t flags;
  int32_t arrangementType;
  char shortLabel[kVstMaxShortLabelLen];
  char future[48];
};

enum VstPinFlags : int32_t {
  kVstPinIsActive = 1,
  kVstPinIsStereo = 2,
  kVstPinUseSpeaker = 4,
};

struct VstSpeakerProperties {
  float azimuth;
  float elevation;
  float radius;
  float reserved;
  char name[kVstMaxNameLen];
  int32_t type;
  char future[28];
};

// Variable length in the wild (header + numChannels speakers); the records
// the plug-in owns hold eight.
struct VstSpeakerArrangement {
  int32_t type;
  int32_t numChannels;
  VstSpeakerProperties speakers[8];
};

constexpr int32_t kSpeakerArrUserDefined = -2;
constexpr int32_t kSpeakerArrEmpty = -1;
constexpr int32_t kSpeakerArrMono = 0;
constexpr int32_t kSpeakerArrStereo = 1;

struct MidiKeyName {
  int32_t thisProgramIndex;
  int32_t thisKeyNumber;
  char keyName[kVstMaxNameLen];
  int32_t reserved;
  int32_t flags;
};

// effGetParameterProperties: how a host should present one parameter.
struct VstParameterProperties {
  float stepFloat;
  float smallStepFloat;
  float largeStepFloat;
  char label[64];
  int32_t flags;
  int32_t minInteger;
  int32_t maxInteger;
  int32_t stepInteger;
  int32_t largeStepInteger;
  char shortLabel[8];
  int16_t displayIndex;
  int16_t category;
  int16_t numParametersInCategory;
  int16_t reserved;
  char categoryLabel[24];
  char future[16];
};

enum VstParameterFlags : int32_t {
  kVstParameterIsSwitch = 1,
  kVstParameterUsesIntegerMinMax = 2,
  kVstParameterUsesFloatStep = 4,
  kVstParameterUsesIntStep = 8,
  kVstParameterSupportsDisplayIndex = 16,
  kVstParameterSupportsDisplayCategory = 32,
  kVstParameterCanRamp = 64,
};

// ---- Layout checks (64-bit) ----
static_assert(sizeof(void*) == 8, "these layouts are the 64-bit ones");

static_assert(sizeof(AEffect) == 192, "AEffect size");
static_assert(sizeof(VstParameterProperties) == 152, "VstParameterProperties size");
static_assert(offsetof(VstParameterProperties, flags) == 76 &&
                  offsetof(VstParameterProperties, shortLabel) == 96 &&
                  offsetof(VstParameterProperties, displayIndex) == 104 &&
                  offsetof(VstParameterProperties, categoryLabel) == 112 &&
                  offsetof(VstParameterProperties, future) == 136,
              "VstParameterProperties layout");
static_assert(offsetof(AEffect, magic) == 0, "AEffect.magic");
static_assert(offsetof(AEffect, dispatcher) == 8, "AEffect.dispatcher");
static_assert(offsetof(AEffect, process) == 16, "AEffect.process");
static_assert(offsetof(AEffect, setParameter) == 24, "AEffect.setParameter");
static_assert(offsetof(AEffect, getParameter) == 32, "AEffect.getParameter");
static_assert(offsetof(AEffect, numPrograms) == 40, "AEffect.numPrograms");
static_assert(offsetof(AEffect, numParams) == 44, "AEffect.numParams");
static_assert(offsetof(AEffect, numInputs) == 48, "AEffect.numInputs");
static_assert(offsetof(AEffect, numOutputs) == 52, "AEffect.numOutputs");
static_assert(offsetof(AEffect, flags) == 56, "AEffect.flags");
static_assert(offsetof(AEffect, resvd1) == 64, "AEffect.resvd1");
static_assert(offsetof(AEffect, resvd2) == 72, "AEffect.resvd2");
static_assert(offsetof(AEffect, initialDelay) == 80, "AEffect.initialDelay");
static_assert(offsetof(AEffect, realQualities) == 84, "AEffect.realQualities");
static_assert(offsetof(AEffect, offQualities) == 88, "AEffect.offQualities");
static_assert(offsetof(AEffect, ioRatio) == 92, "AEffect.ioRatio");
static_assert(offsetof(AEffect, object) == 96, "AEffect.object");
static_assert(offsetof(AEffect, user) == 104, "AEffect.user");
static_assert(offsetof(AEffect, uniqueID) == 112, "AEffect.uniqueID");
static_assert(offsetof(AEffect, version) == 116, "AEffect.version");
static_assert(offsetof(AEffect, processReplacing) == 120, "AEffect.processReplacing");
static_assert(offsetof(AEffect, processDoubleReplacing) == 128,
              "AEffect.processDoubleReplacing");
static_assert(offsetof(AEffect, future) == 136, "AEffect.future");

static_assert(sizeof(ERect) == 8 && alignof(ERect) == 2, "ERect size");
static_assert(offsetof(ERect, top) == 0 && offsetof(ERect, left) == 2 &&
                  offsetof(ERect, bottom) == 4 && offsetof(ERect, right) == 6,
              "ERect fields");

static_assert(sizeof(VstEvent) == 32, "VstEvent size");
static_assert(offsetof(VstEvent, deltaFrames) == 8 && offsetof(VstEvent, data) == 16,
              "VstEvent fields");

static_assert(sizeof(VstMidiEvent) == 32, "VstMidiEvent size");
static_assert(offsetof(VstMidiEvent, type) == 0 && offsetof(VstMidiEvent, byteSize) == 4 &&
                  offsetof(VstMidiEvent, deltaFrames) == 8 && offsetof(VstMidiEvent, flags) == 12 &&
                  offsetof(VstMidiEvent, noteLength) == 16 &&
                  offsetof(VstMidiEvent, noteOffset) == 20 &&
                  offsetof(VstMidiEvent, midiData) == 24 && offsetof(VstMidiEvent, detune) == 28 &&
                  offsetof(VstMidiEvent, noteOffVelocity) == 29 &&
                  offsetof(VstMidiEvent, reserved1) == 30 &&
                  offsetof(VstMidiEvent, reserved2) == 31,
              "VstMidiEvent fields");

static_assert(sizeof(VstMidiSysexEvent) == 48, "VstMidiSysexEvent size");
static_assert(offsetof(VstMidiSysexEvent, deltaFrames) == 8 &&
                  offsetof(VstMidiSysexEvent, flags) == 12 &&
                  offsetof(VstMidiSysexEvent, dumpBytes) == 16 &&
                  offsetof(VstMidiSysexEvent, resvd1) == 24 &&
                  offsetof(VstMidiSysexEvent, sysexDump) == 32 &&
                  offsetof(VstMidiSysexEvent, resvd2) == 40,
              "VstMidiSysexEvent fields");

static_assert(sizeof(VstEvents) == 32, "VstEvents size");
static_assert(offsetof(VstEvents, numEvents) == 0 && offsetof(VstEvents, reserved) == 8 &&
                  offsetof(VstEvents, events) == 16,
              "VstEvents fields");

static_assert(sizeof(VstTimeInfo) == 88, "VstTimeInfo size");
static_assert(offsetof(VstTimeInfo, samplePos) == 0 && offsetof(VstTimeInfo, sampleRate) == 8 &&
                  offsetof(VstTimeInfo, nanoSeconds) == 16 && offsetof(VstTimeInfo, ppqPos) == 24 &&
                  offsetof(VstTimeInfo, tempo) == 32 && offsetof(VstTimeInfo, barStartPos) == 40 &&
                  offsetof(VstTimeInfo, cycleStartPos) == 48 &&
                  offsetof(VstTimeInfo, cycleEndPos) == 56 &&
                  offsetof(VstTimeInfo, timeSigNumerator) == 64 &&
                  offsetof(VstTimeInfo, timeSigDenominator) == 68 &&
                  offsetof(VstTimeInfo, smpteOffset) == 72 &&
                  offsetof(VstTimeInfo, smpteFrameRate) == 76 &&
                  offsetof(VstTimeInfo, samplesToNextClock) == 80 &&
                  offsetof(VstTimeInfo, flags) == 84,
              "VstTimeInfo fields");

static_assert(sizeof(VstPinProperties) == 128, "VstPinProperties size");
static_assert(offsetof(VstPinProperties, flags) == 64 &&
                  offsetof(VstPinProperties, arrangementType) == 68 &&
                  offsetof(VstPinProperties, shortLabel) == 72 &&
                  offsetof(VstPinProperties, future) == 80,
              "VstPinProperties fields");

static_assert(sizeof(VstSpeakerProperties) == 112, "VstSpeakerProperties size");
static_assert(offsetof(VstSpeakerProperties, name) == 16 &&
                  offsetof(VstSpeakerProperties, type) == 80 &&
                  offsetof(VstSpeakerProperties, future) == 84,
              "VstSpeakerProperties fields");

static_assert(offsetof(VstSpeakerArrangement, numChannels) == 4 &&
                  offsetof(VstSpeakerArrangement, speakers) == 8 &&
                  sizeof(VstSpeakerArrangement) == 8 + 8 * 112,
              "VstSpeakerArrangement fields");

static_assert(sizeof(MidiKeyName) == 80, "MidiKeyName size");
static_assert(offsetof(MidiKeyName, thisKeyNumber) == 4 && offsetof(MidiKeyName, keyName) == 8 &&
                  offsetof(MidiKeyName, reserved) == 72 && offsetof(MidiKeyName, flags) == 76,
              "MidiKeyName fields");

}  // namespace vst2
