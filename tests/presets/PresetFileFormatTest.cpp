// The .vstpreset and .fxp readers and writers: what they write reads back,
// and damaged or foreign files are refused without reading out of bounds.
#include <gtest/gtest.h>

#include <cstring>

#include "FxpFile.h"
#include "PresetFileState.h"
#include "VstPresetFile.h"

using namespace presetfiles;

namespace {

const char* const kClassId = "0123456789ABCDEF0123456789abcdef";

VstPreset SamplePreset() {
  VstPreset preset;
  preset.classId = kClassId;
  preset.componentState = {1, 2, 3};
  preset.controllerState = {9, 8, 7, 6, 5};
  preset.hasControllerState = true;
  return preset;
}

FxpProgram SampleProgram() {
  FxpProgram program;
  program.pluginId = 0x4B726E31;
  program.pluginVersion = 0x00030100;
  program.paramCount = 14;
  program.name = "Drum Bus Glue";
  program.chunk = {0x74, 0x66, 0x66, 0x70, 0, 0, 1, 0, 42};
  return program;
}

Bytes Write(const VstPreset& preset) {
  Bytes file;
  std::string error;
  EXPECT_TRUE(WriteVstPreset(preset, file, error)) << error;
  return file;
}

Bytes Write(const FxpProgram& program) {
  Bytes file;
  std::string error;
  EXPECT_TRUE(WriteFxp(program, file, error)) << error;
  return file;
}

}  // namespace

TEST(VstPresetFile, WhatIsWrittenReadsBackWithItsLayout) {
  const Bytes file = Write(SamplePreset());
  ASSERT_EQ(file.size(), 48u + 3 + 5 + 8 + 2 * 20);
  EXPECT_EQ(memcmp(file.data(), "VST3\1\0\0\0", 8), 0);
  EXPECT_EQ(memcmp(file.data() + 8, kClassId, 32), 0);
  EXPECT_EQ(file[40], 56);  // the list follows the two chunks
  EXPECT_EQ(memcmp(file.data() + 56, "List\2\0\0\0Comp", 12), 0);

  VstPreset read;
  std::string error;
  ASSERT_TRUE(ReadVstPreset(file, read, error)) << error;
  EXPECT_EQ(read.classId, kClassId);
  EXPECT_EQ(read.componentState, (Bytes{1, 2, 3}));
  EXPECT_TRUE(read.hasControllerState);
  EXPECT_EQ(read.controllerState, (Bytes{9, 8, 7, 6, 5}));
}

TEST(VstPresetFile, EmptyComponentStateAndNoControllerStateRoundTrip) {
  VstPreset preset = SamplePreset();
  preset.componentState.clear();
  preset.hasControllerState = false;
  VstPreset read;
  std::string error;
  ASSERT_TRUE(ReadVstPreset(Write(preset), read, error)) << error;
  EXPECT_TRUE(read.componentState.empty());
  EXPECT_FALSE(read.hasControllerState);
}

TEST(VstPresetFile, RefusesAClassIdThatIsNot32HexDigits) {
  VstPreset preset = SamplePreset();
  Bytes file;
  std::string error;
  preset.classId = "0123";
  EXPECT_FALSE(WriteVstPreset(preset, file, error));
  preset.classId = std::string(32, 'G');
  EXPECT_FALSE(WriteVstPreset(preset, file, error));
}

TEST(VstPresetFile, EveryTruncationIsRefused) {
  const Bytes file = Write(SamplePreset());
  for (size_t size = 0; size < file.size(); ++size) {
    VstPreset read;
    std::string error;
    EXPECT_FALSE(ReadVstPreset(Bytes(file.begin(), file.begin() + size), read, error)) << size;
  }
}

TEST(VstPresetFile, ChunkListsPointingOutsideTheFileAreRefused) {
  const Bytes good = Write(SamplePreset());
  auto refused = [](Bytes file, size_t at, int64_t value) {
    PutLe64(file, at, value);
    VstPreset read;
    std::string error;
    return !ReadVstPreset(file, read, error);
  };
  EXPECT_TRUE(refused(good, 40, 0));                       // list inside the header
  EXPECT_TRUE(refused(good, 40, 1 << 30));                 // list past the end
  EXPECT_TRUE(refused(good, 56 + 8 + 4, 1 << 30));         // chunk offset past the end
  EXPECT_TRUE(refused(good, 56 + 8 + 12, -1));             // negative chunk size
  EXPECT_TRUE(refused(good, 56 + 8 + 12, INT64_MAX));      // size overflowing offset + size
  Bytes hugeCount = good;
  hugeCount[56 + 7] = 0x7F;  // entry count 0x7F000002
  VstPreset read;
  std::string error;
  EXPECT_FALSE(ReadVstPreset(hugeCount, read, error));
}

TEST(VstPresetFile, APresetWithoutComponentStateOrWithItTwiceIsRefused) {
  Bytes file = Write(SamplePreset());
  VstPreset read;
  std::string error;
  Bytes twice = file;
  memcpy(twice.data() + 56 + 8 + 20, "Comp", 4);  // second entry renamed
  EXPECT_FALSE(ReadVstPreset(twice, read, error));
  Bytes none = file;
  memcpy(none.data() + 56 + 8, "Info", 4);  // first entry renamed: unknown, skipped
  EXPECT_FALSE(ReadVstPreset(none, read, error));
}

TEST(FxpFile, WhatIsWrittenReadsBackWithItsBigEndianHeader) {
  const Bytes file = Write(SampleProgram());
  ASSERT_EQ(file.size(), 60u + 9);
  EXPECT_EQ(memcmp(file.data(), "CcnK\0\0\0\x3D" "FPCh\0\0\0\1Krn1\0\3\1\0\0\0\0\x0E", 28), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(file.data() + 28), "Drum Bus Glue");
  FxpProgram read;
  std::string error;
  ASSERT_TRUE(ReadFxp(file, read, error)) << error;
  EXPECT_TRUE(read.opaqueChunk);
  EXPECT_EQ(read.pluginId, 0x4B726E31);
  EXPECT_EQ(read.pluginVersion, 0x00030100);
  EXPECT_EQ(read.paramCount, 14);
  EXPECT_EQ(read.name, "Drum Bus Glue");
  EXPECT_EQ(read.chunk, SampleProgram().chunk);
}

TEST(FxpFile, ParameterValueProgramsRoundTrip) {
  FxpProgram program = SampleProgram();
  program.opaqueChunk = false;
  program.paramCount = 3;
  program.values = {0.0f, 0.25f, 1.0f};
  FxpProgram read;
  std::string error;
  ASSERT_TRUE(ReadFxp(Write(program), read, error)) << error;
  EXPECT_FALSE(read.opaqueChunk);
  EXPECT_EQ(read.values, program.values);

  program.values.pop_back();  // fewer values than parameters
  Bytes file;
  EXPECT_FALSE(WriteFxp(program, file, error));
}

TEST(FxpFile, NamesLongerThanTheFieldAreRefusedNotCut) {
  FxpProgram program = SampleProgram();
  program.name = std::string(27, 'x');
  Bytes file;
  std::string error;
  EXPECT_TRUE(WriteFxp(program, file, error));
  program.name += 'y';
  EXPECT_FALSE(WriteFxp(program, file, error));
}

TEST(FxpFile, DamagedFilesAreRefused) {
  const Bytes good = Write(SampleProgram());
  for (size_t size = 0; size < good.size(); ++size) {
    FxpProgram read;
    std::string error;
    EXPECT_FALSE(ReadFxp(Bytes(good.begin(), good.begin() + size), read, error)) << size;
  }
  auto refusedWith = [&](size_t at, const char* bytes) {
    Bytes file = good;
    memcpy(file.data() + at, bytes, 4);
    FxpProgram read;
    std::string error;
    return !ReadFxp(file, read, error);
  };
  EXPECT_TRUE(refusedWith(8, "FBCh"));              // a bank, not a program
  EXPECT_TRUE(refusedWith(4, "\x7F\0\0\0"));        // byte count past the end
  EXPECT_TRUE(refusedWith(56, "\0\0\1\0"));         // chunk size past the end
  EXPECT_TRUE(refusedWith(56, "\xFF\xFF\xFF\xFF"));  // negative chunk size
  EXPECT_TRUE(refusedWith(24, "\x80\0\0\0"));       // negative parameter count
}

TEST(PresetFileState, EachKindGivesTheStateForItsOwnFormatOnly) {
  Bytes state;
  std::string error;
  ASSERT_TRUE(StateFromPresetFile(Write(SamplePreset()), "VST3", state, error)) << error;
  EXPECT_EQ(state, SamplePreset().controllerState);
  EXPECT_FALSE(StateFromPresetFile(Write(SamplePreset()), "VST2", state, error));

  ASSERT_TRUE(StateFromPresetFile(Write(SampleProgram()), "VST2", state, error)) << error;
  EXPECT_EQ(state, SampleProgram().chunk);
  EXPECT_FALSE(StateFromPresetFile(Write(SampleProgram()), "VST3", state, error));

  const Bytes blob = {1, 2, 3, 4};
  ASSERT_TRUE(StateFromPresetFile(blob, "VST3", state, error));
  EXPECT_EQ(state, blob);
}

TEST(PresetFileState, FilesWithoutAStateBlobAreRefused) {
  VstPreset noController = SamplePreset();
  noController.hasControllerState = false;
  Bytes state;
  std::string error;
  EXPECT_FALSE(StateFromPresetFile(Write(noController), "VST3", state, error));
  FxpProgram values = SampleProgram();
  values.opaqueChunk = false;
  values.paramCount = 1;
  values.values = {0.5f};
  EXPECT_FALSE(StateFromPresetFile(Write(values), "VST2", state, error));
}
