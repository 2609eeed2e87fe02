// End-to-end runs of the built kestrune-render on small generated files: the
// audio it writes against the effect driven in-process, sidechain routing,
// presets, the parameter list, the embedded default, and every kind of bad
// input with its exit status and message and no file left behind.
#include <gtest/gtest.h>

#include "KestruneIdentity.h"
#include "RenderRig.h"

namespace {

using namespace rig;

std::vector<std::string> ModuleArgs(const std::string& format) {
  if (format == "lv2") return {"--format", "lv2", "--module", KESTRUNE_LV2_BUNDLE};
  return format == "vst2" ? std::vector<std::string>{"--format", "vst2", "--module", kVst2Module}
                          : std::vector<std::string>{"--module", kVst3Bundle};
}

// Settings whose plain values survive the formats' normalised round trip
// exactly, so host and in-process runs start from identical parameters.
// OVERSAMPLING reaches the plug-in's unnamed parameter 12.
const std::vector<std::string> kSetArgs = {"--set", "INPUT=30", "--set", "OUTPUT=-15", "--set", "MIX=75",
                                           "--set", "HPF=140",  "--set", "RATIO=20:1",  "--set", "OVERSAMPLING=16x"};
const std::vector<Setting> kSettings = {{kestrune::kInput, 30}, {kestrune::kOutput, -15},
                                        {kestrune::kMix, 75},   {kestrune::kHpf, 140},
                                        {kestrune::kRatio, 3},  {kestrune::kOversampling, 1}};

struct Case {
  const char* format;
  bool doublePrecision;
};

class RenderMatchesInProcess : public ::testing::TestWithParam<Case> {};

TEST_P(RenderMatchesInProcess, OutputIsSampleForSampleTheEffectRunInProcess) {
  const Case c = GetParam();
  ScratchFolder folder;
  const Audio input = TestSignal(1.3);
  ASSERT_TRUE(WriteAudio(folder / "in.wav", input));
  std::vector<std::string> args = {"in.wav", "-o", "out.wav", "--block", "300", "--no-pictures",
                                   "--precision", c.doublePrecision ? "64" : "32", "--sample-format",
                                   c.doublePrecision ? "double" : "float"};
  RunResult run = RunRender(folder, With(With(args, kSetArgs), ModuleArgs(c.format)));
  ASSERT_EQ(run.status, 0) << run.err;
  Audio output;
  ASSERT_TRUE(ReadAudio(folder / "out.wav", output));
  EXPECT_EQ(output.rate, input.rate);
  const Channels expected = RenderInProcess(input, nullptr, kSettings, 300, c.doublePrecision);
  EXPECT_EQ(Differences(output.channels, expected), 0u);
  // The settings took hold: the compressor changed the signal.
  EXPECT_GT(Differences(output.channels, input.channels), input.Frames());
}

INSTANTIATE_TEST_SUITE_P(Formats, RenderMatchesInProcess,
                         ::testing::Values(Case{"vst3", false}, Case{"vst3", true}, Case{"vst2", false},
                                           Case{"vst2", true}, Case{"lv2", false}),
                         [](const auto& info) {
                           return std::string(info.param.format) + (info.param.doublePrecision ? "_64bit" : "_32bit");
                         });

class RenderFormat : public ::testing::TestWithParam<std::string> {};

std::vector<std::string> Columns(const std::string& line) {
  std::vector<std::string> columns;
  size_t at = line.find_first_not_of(' ');
  while (at != std::string::npos) {
    size_t end = line.find("  ", at);
    columns.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end == std::string::npos ? end : line.find_first_not_of(' ', end);
  }
  return columns;
}

TEST_P(RenderFormat, SidechainFileDrivesTheDetectorThroughTheSidechainInputs) {
  ScratchFolder folder;
  Audio input = TestSignal(1.0, 48000, 2, 0.0);  // the quiet tone only
  Audio sidechain = TestSignal(1.0, 48000, 2, 0.9);
  ASSERT_TRUE(WriteAudio(folder / "in.wav", input));
  ASSERT_TRUE(WriteAudio(folder / "side.wav", sidechain));
  const std::vector<std::string> common = With({"in.wav", "--no-pictures", "--sample-format", "float",
                                                "--set", "INPUT=40"},
                                               ModuleArgs(GetParam()));
  RunResult withSide = RunRender(folder, With(common, {"--sidechain", "side.wav", "-o", "side-out.wav"}));
  ASSERT_EQ(withSide.status, 0) << withSide.err;
  EXPECT_NE(withSide.err.find("Sidechain set to EXT (external)"), std::string::npos) << withSide.err;
  RunResult without = RunRender(folder, With(common, {"-o", "plain-out.wav"}));
  ASSERT_EQ(without.status, 0) << without.err;

  Audio sideOut, plainOut;
  ASSERT_TRUE(ReadAudio(folder / "side-out.wav", sideOut));
  ASSERT_TRUE(ReadAudio(folder / "plain-out.wav", plainOut));
  const Channels expected = RenderInProcess(input, &sidechain,
                                            {{kestrune::kInput, 40}, {kestrune::kSidechain, 0}}, 512, false);
  EXPECT_EQ(Differences(sideOut.channels, expected), 0u);
  // The bursts on the sidechain pull the tone down; without them it is not.
  double sideEnergy = 0, plainEnergy = 0;
  for (size_t n = 0; n < sideOut.Frames(); ++n) {
    sideEnergy += sideOut.channels[0][n] * sideOut.channels[0][n];
    plainEnergy += plainOut.channels[0][n] * plainOut.channels[0][n];
  }
  EXPECT_LT(sideEnergy, 0.5 * plainEnergy);

  // The same sidechain at 44.1 kHz is resampled to the input's 48 kHz and
  // pulls the tone down as much (the bursts' noise differs between rates).
  ASSERT_TRUE(WriteAudio(folder / "side44k.wav", TestSignal(1.0, 44100, 2, 0.9)));
  RunResult resampled = RunRender(folder, With(common, {"--sidechain", "side44k.wav", "-o", "side44-out.wav"}));
  ASSERT_EQ(resampled.status, 0) << resampled.err;
  EXPECT_NE(resampled.err.find("sidechain 'side44k.wav' resampled from 44100 Hz to the input's 48000 Hz"),
            std::string::npos) << resampled.err;
  EXPECT_EQ(resampled.err.find("warning"), std::string::npos) << resampled.err;  // no length mismatch
  Audio side44Out;
  ASSERT_TRUE(ReadAudio(folder / "side44-out.wav", side44Out));
  double side44Energy = 0;
  for (double x : side44Out.channels[0]) side44Energy += x * x;
  EXPECT_NEAR(10 * std::log10(side44Energy / sideEnergy), 0.0, 1.0);

  // A sidechain setting without a file, and a file the setting leaves unused.
  RunResult noFile = RunRender(folder, With(common, {"--set", "Sidechain=EXT", "-o", "x.wav"}));
  EXPECT_NE(noFile.err.find("warning: Sidechain is EXT (external) but no --sidechain file is given"),
            std::string::npos) << noFile.err;
  RunResult unused = RunRender(folder, With(common, {"--sidechain", "side.wav", "--set", "Sidechain=INT", "-o", "y.wav"}));
  EXPECT_NE(unused.err.find("warning: --sidechain 'side.wav' is not used: Sidechain is INT"), std::string::npos)
      << unused.err;
}

TEST_P(RenderFormat, SavedPresetFileIsTheFormatsOwnAndRestoresTheSameSettings) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "in.wav", TestSignal(0.5)));
  const auto module = ModuleArgs(GetParam());
  const bool vst3 = GetParam() == "vst3";
  const std::string name = vst3 ? "p.vstpreset" : "p.fxp";
  RunResult save = RunRender(folder, With(With({"in.wav", "-o", "a.wav", "--no-pictures", "--sample-format",
                                                "float", "--save-preset", name},
                                               kSetArgs),
                                          module));
  ASSERT_EQ(save.status, 0) << save.err;
  // What a DAW loads: the format's file, with the state inside it.
  EXPECT_EQ(Slurp(folder / name).substr(0, 4), vst3 ? "VST3" : "CcnK");
  RunResult load = RunRender(folder, With({"in.wav", "-o", "b.wav", "--no-pictures", "--sample-format", "float",
                                           "--preset", name},
                                          module));
  ASSERT_EQ(load.status, 0) << load.err;
  Audio a, b;
  ASSERT_TRUE(ReadAudio(folder / "a.wav", a));
  ASSERT_TRUE(ReadAudio(folder / "b.wav", b));
  EXPECT_EQ(Differences(a.channels, b.channels), 0u);
  RunResult listed = RunRender(folder, With({"--preset", name, "--list-params"}, module));
  EXPECT_NE(listed.out.find("30.00"), std::string::npos) << listed.out;
}

// A VST3 preset file holds the same parameters as the VST2 one: VST2 takes
// either, as LV2 and CLAP take the .vstpreset.
TEST(RenderPresetFile, Vst3PresetLoadsIntoVst2AsItsFxpDoes) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "in.wav", TestSignal(0.3)));
  const std::string presets = KESTRUNE_PRESETS_DIR;
  const std::vector<std::string> vst2 = {"in.wav", "--no-pictures", "--sample-format", "float", "--module", kVst2Module};
  ASSERT_EQ(RunRender(folder, With(vst2, {"-o", "default.wav"})).status, 0);
  ASSERT_EQ(RunRender(folder, With(vst2, {"-o", "fxp.wav", "--preset", presets + "/vst2/Parallel Smash.fxp"})).status, 0);
  const RunResult fromVst3 =
      RunRender(folder, With(vst2, {"-o", "vstpreset.wav", "--preset", presets + "/vst3/Parallel Smash.vstpreset"}));
  ASSERT_EQ(fromVst3.status, 0) << fromVst3.err;
  Audio unset, fxp, vstpreset;
  ASSERT_TRUE(ReadAudio(folder / "default.wav", unset));
  ASSERT_TRUE(ReadAudio(folder / "fxp.wav", fxp));
  ASSERT_TRUE(ReadAudio(folder / "vstpreset.wav", vstpreset));
  EXPECT_GT(Differences(unset.channels, fxp.channels), 0u);
  EXPECT_EQ(Differences(fxp.channels, vstpreset.channels), 0u);
}

TEST_P(RenderFormat, ListParamsShowsEveryParameterWithRangeDefaultAndCurrentValue) {
  ScratchFolder folder;
  RunResult run = RunRender(folder, With({"--list-params", "--set", "MID FREQ=2500", "--set", "OVERSAMPLING=16x"},
                                         ModuleArgs(GetParam())));
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"INPUT", "OUTPUT", "ATTACK", "RELEASE", "RATIO", "HPF", "MIX", "MID FREQ",
                           "MID GAIN", "HF", "BYPASS", "SLAM", "OVERSAMPLING", "Sidechain"}) {
    EXPECT_NE(run.out.find(std::string(" ") + name), std::string::npos) << name << "\n" << run.out;
  }
  // Columns are set apart by two spaces or more: number, name, range,
  // default, current, as the plug-in displays them with their units.
  std::istringstream lines(run.out);
  std::string line;
  std::set<std::vector<std::string>> rows;
  while (std::getline(lines, line)) rows.insert(Columns(line));
  // VST2 numbers are long enough for the unit a host appends into the same
  // buffer: "2.500" beside "kHz".
  const char* midFreq = GetParam() == "vst2" ? "2.500 kHz" : "2.50 kHz";
  EXPECT_EQ(rows.count({"7", "MID FREQ", "500.0 Hz .. 10.00 kHz", "500.0 Hz", midFreq}), 1u) << run.out;
  EXPECT_EQ(rows.count({"12", "OVERSAMPLING", "4x .. 16x", "4x", "16x"}), 1u) << run.out;
  EXPECT_EQ(rows.count({"2", "ATTACK", "0.00 ms .. 1.00 ms", "0.90 ms", "0.90 ms"}), 1u) << run.out;
}

TEST_P(RenderFormat, ValueOutsideTheRangeIsClampedWithAWarning) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "in.wav", TestSignal(0.3)));
  const auto module = ModuleArgs(GetParam());
  RunResult over = RunRender(folder, With({"in.wav", "-o", "over.wav", "--no-pictures", "--set", "INPUT=500"}, module));
  ASSERT_EQ(over.status, 0) << over.err;
  EXPECT_NE(over.err.find("warning: INPUT=500 is outside 0.00 dB .. 80.00 dB; using 80.00 dB"), std::string::npos)
      << over.err;
  RunResult top = RunRender(folder, With({"in.wav", "-o", "top.wav", "--no-pictures", "--set", "INPUT=80"}, module));
  ASSERT_EQ(top.status, 0) << top.err;
  Audio a, b;
  ASSERT_TRUE(ReadAudio(folder / "over.wav", a));
  ASSERT_TRUE(ReadAudio(folder / "top.wav", b));
  EXPECT_EQ(Differences(a.channels, b.channels), 0u);
}

INSTANTIATE_TEST_SUITE_P(Formats, RenderFormat, ::testing::Values("vst3", "vst2"),
                         [](const auto& info) { return info.param; });

// LV2 numbers its control ports after the audio ports and scales them by
// their own ranges: the picture still shows the loaded settings.
TEST(RenderPicture, Lv2EditorShowsTheSettingsAsTheVst3EditorDoes) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "in.wav", TestSignal(0.3)));
  std::string pictures[2];
  const char* formats[2] = {"vst3", "lv2"};
  for (int i = 0; i < 2; ++i) {
    const std::string name = formats[i];
    RunResult run = RunRender(folder, With(With({"in.wav", "-o", name + ".wav", "-q"}, kSetArgs), ModuleArgs(name)));
    ASSERT_EQ(run.status, 0) << name << ": " << run.err;
    pictures[i] = Slurp(folder / (name + "-editor.png"));
  }
  ASSERT_FALSE(pictures[0].empty());
  EXPECT_TRUE(pictures[1] == pictures[0]) << "the LV2 editor picture differs from the VST3 one";
}

TEST(RenderDefault, WithoutInputRendersTheEmbeddedMaterialAndBothPictures) {
  ScratchFolder folder;
  RunResult run = RunRender(folder, {"--module", kVst3Bundle});
  ASSERT_EQ(run.status, 0) << run.err;
  Audio output;
  ASSERT_TRUE(ReadAudio(folder / "kestrune-default.wav", output));
  EXPECT_EQ(output.rate, 48000);
  EXPECT_EQ(output.channels.size(), 2u);
  EXPECT_EQ(output.Frames(), 8u * 48000u);
  int width = 0, height = 0;
  ASSERT_TRUE(PngSize(folder / "kestrune-default-editor.png", width, height));
  EXPECT_EQ(width, 912);
  EXPECT_EQ(height, 287);
  ASSERT_TRUE(PngSize(folder / "kestrune-default-levels.png", width, height));
  EXPECT_EQ(width, 1200);
  EXPECT_EQ(height, 640);
  EXPECT_EQ(folder.Names().size(), 3u);
  // The summary names where everything went and shows real compression.
  EXPECT_NE(run.out.find("audio:        kestrune-default.wav"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("editor:       kestrune-default-editor.png"), std::string::npos);
  EXPECT_NE(run.out.find("levels plot:  kestrune-default-levels.png"), std::string::npos);
  // It names the measured level change for what it is.
  const size_t at = run.out.find("level change, output minus input in 10 ms windows without the OUTPUT gain");
  ASSERT_NE(at, std::string::npos) << run.out;
  const size_t drop = run.out.find("largest drop ", at);
  ASSERT_NE(drop, std::string::npos);
  EXPECT_GT(std::atof(run.out.c_str() + drop + 13), 6.0) << run.out;
  EXPECT_NE(run.out.find("realtime"), std::string::npos);
}

TEST(RenderDefault, EmptyInputGivesAnEmptyOutputAsSoxDoesAndSilenceShowsNoNegativeZero) {
  ScratchFolder folder;
  Audio empty;
  empty.channels.assign(2, {});
  ASSERT_TRUE(WriteAudio(folder / "empty.wav", empty, SF_FORMAT_PCM_16));
  RunResult run = RunRender(folder, {"empty.wav", "-o", "out.wav", "--no-pictures", "--module", kVst3Bundle});
  ASSERT_EQ(run.status, 0) << run.err;
  Audio out;
  ASSERT_TRUE(ReadAudio(folder / "out.wav", out));
  EXPECT_EQ(out.channels.size(), 2u);
  EXPECT_EQ(out.Frames(), 0u);
  Audio silent;
  silent.channels.assign(2, std::vector<double>(8820, 0.0));
  ASSERT_TRUE(WriteAudio(folder / "silent.wav", silent, SF_FORMAT_PCM_16));
  run = RunRender(folder, {"silent.wav", "-o", "quiet.wav", "--no-pictures", "--module", kVst3Bundle});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.find("-0.00"), std::string::npos) << run.out;
}

TEST(RenderDefault, MonoInputGivesMonoOutputFromTheLeftChannel) {
  ScratchFolder folder;
  const Audio input = TestSignal(0.4, 44100, 1);
  ASSERT_TRUE(WriteAudio(folder / "mono.aiff", input, SF_FORMAT_PCM_24, SF_FORMAT_AIFF));
  RunResult run = RunRender(folder, {"mono.aiff", "--no-pictures", "--module", kVst3Bundle});
  ASSERT_EQ(run.status, 0) << run.err;
  Audio output;
  ASSERT_TRUE(ReadAudio(folder / "mono-kestrune.aiff", output));
  EXPECT_EQ(output.channels.size(), 1u);
  EXPECT_EQ(output.Frames(), input.Frames());
}

TEST(RenderDefault, ProgressBarOnRequestEndsAtFullAndIsClearedFromTheLine) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "in.wav", TestSignal(0.5)));
  RunResult run = RunRender(folder, {"in.wav", "--no-pictures", "--progress", "-q", "--module", kVst3Bundle});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("] 100%"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.back(), '\r');
  EXPECT_TRUE(run.out.empty()) << run.out;  // quiet: no summary
}

TEST(RenderDefault, InterruptedRenderLeavesNoFileBehindAndEndsTheProgressLine) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "long.wav", TestSignal(60.0)));
  const std::string errPath = folder.Path() + ".stderr";
  // One-frame blocks keep the render busy for a while.
  pid_t pid = SpawnRender(folder, {"long.wav", "--block", "1", "--progress", "--module", kVst3Bundle}, errPath);
  ASSERT_GT(pid, 0);
  // Waits for the render to be writing however slow the machine is; the
  // bound only stops a hang (the render itself takes far longer than the
  // wait on any machine).
  auto running = [&pid] {  // without reaping it
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
  };
  bool writing = false;
  for (int i = 0; i < 6000 && !writing && running(); ++i) {
    for (const std::string& name : folder.Names()) writing = writing || name.find(".partial-") != std::string::npos;
    writing = writing && !Slurp(errPath).empty();  // and the bar is drawn
    if (!writing) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  const std::string err = Slurp(errPath);
  unlink(errPath.c_str());
  ASSERT_TRUE(writing) << "the render never started writing";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
  EXPECT_EQ(folder.Names(), std::set<std::string>{"long.wav"});
  // The shell's prompt starts on a line of its own.
  ASSERT_FALSE(err.empty());
  EXPECT_EQ(err.back(), '\n') << err;

  // Two renders at once: neither leaves anything.
  ASSERT_EQ(link((folder / "long.wav").c_str(), (folder / "again.wav").c_str()), 0);
  ASSERT_EQ(mkdir((folder / "out").c_str(), 0755), 0);
  pid = SpawnRender(folder, {"long.wav", "again.wav", "-o", "out", "-j", "2", "--block", "1", "--module", kVst3Bundle});
  ASSERT_GT(pid, 0);
  size_t partial = 0;
  for (int i = 0; i < 6000 && partial < 2 && running(); ++i) {
    const std::set<std::string> names = ScratchFolderNames(folder / "out");
    partial = static_cast<size_t>(std::count_if(names.begin(), names.end(), [](const std::string& name) {
      return name.find(".partial-") != std::string::npos;
    }));
    if (partial < 2) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGINT);
  waitpid(pid, &status, 0);
  ASSERT_EQ(partial, 2u) << "the renders never both started writing";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
  EXPECT_EQ(ScratchFolderNames(folder / "out"), std::set<std::string>{});
}

TEST(RenderDefault, OutputKeepsTheInputEncodingWhereTheOutputTypeAllowsIt) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "in.wav", TestSignal(0.2), SF_FORMAT_PCM_16));
  ASSERT_EQ(RunRender(folder, {"in.wav", "--no-pictures", "--module", kVst3Bundle}).status, 0);
  ASSERT_EQ(RunRender(folder, {"in.wav", "-o", "in.flac", "--no-pictures", "--module", kVst3Bundle}).status, 0);
  ASSERT_TRUE(WriteAudio(folder / "f.wav", TestSignal(0.2), SF_FORMAT_FLOAT));
  ASSERT_EQ(RunRender(folder, {"f.wav", "-o", "f.flac", "--no-pictures", "--module", kVst3Bundle}).status, 0);
  auto formatOf = [&](const std::string& name) {
    SF_INFO info{};
    SNDFILE* file = sf_open((folder / name).c_str(), SFM_READ, &info);
    if (file) sf_close(file);
    return info.format;
  };
  EXPECT_EQ(formatOf("in-kestrune.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  EXPECT_EQ(formatOf("in.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  EXPECT_EQ(formatOf("f.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_24);  // FLAC holds no floats
}

TEST(RenderDefault, UnreadableInputIsRefused) {
  if (geteuid() == 0) GTEST_SKIP() << "file permissions do not bind root";
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "locked.wav", TestSignal(0.2)));
  chmod((folder / "locked.wav").c_str(), 0);
  RunResult run = RunRender(folder, {"locked.wav", "--module", kVst3Bundle});
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.err.find("input 'locked.wav' cannot be read: Permission denied"), std::string::npos) << run.err;
  EXPECT_EQ(folder.Names(), std::set<std::string>{"locked.wav"});
}

// ---- Refusals: status, one-line message, nothing left behind.

struct Refusal {
  const char* name;
  std::vector<std::string> args;
  int status;
  const char* message;
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

class RenderRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(RenderRefuses, WithOneLineErrorStatusAndNoFileLeft) {
  const Refusal& r = GetParam();
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "in.wav", TestSignal(0.3)));
  ASSERT_TRUE(WriteAudio(folder / "sideshort.wav", TestSignal(0.2)));
  ASSERT_TRUE(WriteAudio(folder / "three.wav", TestSignal(0.3, 44100, 3)));
  std::ofstream(folder / "text.wav") << "this is not audio\n";
  std::ofstream(folder / "garbage.so") << "not a shared library\n";
  std::ofstream(folder / "a-file") << "x";
  // Kestrune's factory presets, and the same with another plug-in's ID.
  const std::string presets = KESTRUNE_PRESETS_DIR;
  std::string fxp = Slurp(presets + "/vst2/Parallel Smash.fxp"), vstpreset = Slurp(presets + "/vst3/Parallel Smash.vstpreset");
  std::ofstream(folder / "smash.fxp", std::ios::binary) << fxp;
  std::string flipped = fxp;
  flipped[75] ^= 0x07;  // the first value's exponent: far outside any range
  std::ofstream(folder / "flipped.fxp", std::ios::binary) << flipped;
  std::ofstream(folder / "other.fxp", std::ios::binary) << fxp.replace(16, 4, "Othr");
  std::ofstream(folder / "other.vstpreset", std::ios::binary) << vstpreset.replace(8, 8, "0123ABCD");
  const std::set<std::string> before = folder.Names();

  std::vector<std::string> args;
  for (const std::string& a : r.args) {
    std::string expanded = a;
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"@VST3", kVst3Bundle},
                                     {"@VST2", kVst2Module},
                                     {"@FAKE3", KESTRUNE_FAKE_VST3},
                                     {"@FAKE2", KESTRUNE_FAKE_VST2}}) {
      if (expanded == key) expanded = value;
    }
    args.push_back(expanded);
  }
  RunResult run = RunRender(folder, args);
  EXPECT_EQ(run.status, r.status) << run.err;
  EXPECT_EQ(run.err.rfind("kestrune-render: error: ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find(r.message), std::string::npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_EQ(folder.Names(), before);
}

const Refusal kRefusals[] = {
    {"MissingInput", {"nothere.wav", "--module", "@VST3"}, 3, "input 'nothere.wav' does not exist"},
    {"InputThatIsAFolder", {".", "--module", "@VST3"}, 3, "is a folder"},
    {"UnsupportedFormat", {"text.wav", "--module", "@VST3"}, 3, "input 'text.wav' is not a WAV, AIFF or FLAC file"},
    {"MoreThanTwoChannels", {"three.wav", "--module", "@VST3"}, 3, "has 3 channels"},
    {"UnknownParameter", {"in.wav", "--set", "THRESHOLD=3", "--module", "@VST3"}, 2, "unknown parameter 'THRESHOLD'"},
    {"ValueThatIsNotANumber", {"in.wav", "--set", "MIX=lots", "--module", "@VST2", "--format", "vst2"}, 2,
     "'lots' is not a value for MIX"},
    {"ModuleOfAnotherPluginVst3", {"in.wav", "--module", "@FAKE3"}, 4,
     "is not the Kestrune plug-in (it offers Other Compressor)"},
    {"ModuleOfAnotherPluginVst2", {"in.wav", "--format", "vst2", "--module", "@FAKE2"}, 4,
     "is not the Kestrune plug-in (it is 'Other Compressor')"},
    {"ModuleThatDoesNotLoad", {"in.wav", "--module", "garbage.so"}, 4, "cannot load VST3 module 'garbage.so'"},
    {"MissingModule", {"in.wav", "--format", "vst2", "--module", "none.so"}, 4,
     "cannot load VST2 module 'none.so': no such file"},
    {"Vst2ModuleLoadedAsVst3", {"in.wav", "--format", "vst3", "--module", "@VST2"}, 4, "is not a VST3 module"},
    {"Vst3ModuleLoadedAsVst2", {"in.wav", "--format", "vst2", "--module", "@VST3"}, 4, "not a VST2 module"},
    {"OutputInMissingFolder", {"in.wav", "-o", "no/such/out.wav", "--module", "@VST3"}, 5,
     "folder 'no/such' does not exist"},
    {"OutputBelowAFile", {"in.wav", "-o", "a-file/out.wav", "--module", "@VST3"}, 5, "cannot write 'a-file/out.wav'"},
    {"EditorPictureInMissingFolder", {"in.wav", "--editor-png", "gone/e.png", "--module", "@VST3"}, 5,
     "cannot write 'gone/e.png'"},
    {"OutputOverInput", {"in.wav", "-o", "./in.wav", "--module", "@VST3"}, 2,
     "-o './in.wav' is the same file as the input 'in.wav'"},
    {"OutputNamedForAnotherType", {"in.wav", "-o", "x.wav", "--type", "flac", "--module", "@VST3"}, 2,
     "-o 'x.wav' ends in .wav but --type is flac; drop --type or change the name"},
    {"PictureNamedForAnotherType", {"in.wav", "--editor-png", "e.jpg", "--module", "@VST3"}, 2,
     "--editor-png 'e.jpg' is written as PNG; name it .png"},
    {"OutputOfUnknownType", {"in.wav", "-o", "out.mp3", "--module", "@VST3"}, 2, "must end in .wav, .aif, .aiff, .flac or .raw"},
    {"FloatIntoFlac", {"in.wav", "-o", "out.flac", "--sample-format", "float", "--module", "@VST3"}, 2,
     "FLAC cannot hold 32-bit float samples"},
    {"PresetOfAnotherFormat", {"in.wav", "--preset", "three.wav", "--module", "@VST3"}, 3, "is not a VST3 Kestrune state"},
    {"PresetFileNamedForTheOtherFormat", {"in.wav", "--save-preset", "p.fxp", "--module", "@VST3"}, 2,
     "a .fxp file holds a VST2 preset, but the vst3 plug-in is loaded; name it .vstpreset"},
    {"PresetOfAnotherPluginVst2", {"in.wav", "--preset", "other.fxp", "--module", "@VST2"}, 3,
     "preset 'other.fxp': not a Kestrune preset: it is for the VST2 plug-in with ID 4F746872"},
    {"PresetOfAnotherPluginVst3", {"in.wav", "--preset", "other.vstpreset", "--module", "@VST3"}, 3,
     "preset 'other.vstpreset': not a Kestrune preset: it is for the VST3 plug-in with class ID 0123ABCD00DE4F4E"},
    {"PresetValueOutsideItsRange", {"in.wav", "--preset", "flipped.fxp", "--module", "@VST2"}, 3,
     "preset 'flipped.fxp' holds a value outside its parameter's range"},
    {"Vst2PresetIntoTheVst3Plugin", {"in.wav", "--preset", "smash.fxp", "--module", "@VST3"}, 3,
     "it is a VST2 program file, for the VST2 plug-in; load it with --format vst2"},
    {"PresetThatNeverEnds", {"in.wav", "--preset", "/dev/zero", "--module", "@VST3"}, 3,
     "preset '/dev/zero' cannot be read: it is larger than 1 MB"},
    {"UnknownOption", {"in.wav", "--louder"}, 2, "unknown option '--louder'"},
    {"HexadecimalValue", {"in.wav", "--set", "OUTPUT=0x10", "--module", "@VST3"}, 2,
     "'0x10' is not a value for OUTPUT: hexadecimal numbers are not accepted"},
    {"ValueWithAForeignUnit", {"in.wav", "--set", "ATTACK=3Hz", "--module", "@VST2"}, 2,
     "'3Hz' is not a value for ATTACK (expected a value from 0.00 ms to 1.00 ms)"},
    {"NoPicturesWithAPictureName", {"in.wav", "--no-pictures", "--plot-png", "p.png", "--module", "@VST3"}, 2,
     "--no-pictures contradicts --plot-png"},
    {"PipedSidechainForSeveralInputs", {"in.wav", "sideshort.wav", "--sidechain", "/dev/zero", "--module", "@VST3"}, 2,
     "--sidechain '/dev/zero' is a pipe or a device, which is read only once; with several inputs give a file"},
    {"StandardInputTwice", {"-", "-", "--module", "@VST3"}, 2, "standard input ('-') can be read only once"},
};

INSTANTIATE_TEST_SUITE_P(BadInput, RenderRefuses, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
