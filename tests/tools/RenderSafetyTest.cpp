// The renderer never destroys a user's file: outputs that would land on an
// input or on each other are refused before anything is written, a closed
// pipe leaves no partial file, links are handled as documented, clipping
// and non-finite samples are reported, and a file's header is never trusted
// for its length or for memory.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <map>

#include "AudioWriter.h"
#include "PendingFile.h"
#include "RenderRig.h"

namespace {

using namespace rig;

// Every file under the folder with its contents (links by their target name).
void SnapshotInto(const std::string& path, const std::string& prefix, std::map<std::string, std::string>& files) {
  for (const std::string& name : ScratchFolderNames(path)) {
    const std::string full = path + "/" + name;
    struct stat status;
    lstat(full.c_str(), &status);
    if (S_ISLNK(status.st_mode)) {
      char target[4096] = {};
      files[prefix + name] = "-> " + std::string(target, static_cast<size_t>(std::max<ssize_t>(
                                                            readlink(full.c_str(), target, sizeof(target) - 1), 0)));
    } else if (S_ISREG(status.st_mode)) {
      files[prefix + name] = Slurp(full);
    } else {
      files[prefix + name] = "(folder)";
      SnapshotInto(full, prefix + name + "/", files);
    }
  }
}

std::map<std::string, std::string> Snapshot(const ScratchFolder& folder) {
  std::map<std::string, std::string> files;
  SnapshotInto(folder.Path(), "", files);
  return files;
}

struct Collision {
  const char* name;
  std::vector<std::string> args;
  std::string message;  // {folder} stands for the scratch folder
};

// The refusal of an output inside a plug-in bundle or image folder.
std::string Inside(const std::string& output, const std::string& kind, const std::string& folder) {
  return output + " is inside " + kind + " '{folder}/" + folder + "', which is never written; choose a name outside it";
}

void PrintTo(const Collision& collision, std::ostream* out) { *out << collision.name; }

class RenderRefusesCollision : public ::testing::TestWithParam<Collision> {};

TEST_P(RenderRefusesCollision, BeforeWritingAnythingWithBothOptionsNamed) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "in.wav", TestSignal(0.3)));
  ASSERT_TRUE(WriteAudio(folder / "kick.wav", TestSignal(0.3)));
  std::ofstream(folder / "p.preset") << "state";
  ASSERT_EQ(link((folder / "in.wav").c_str(), (folder / "hard.wav").c_str()), 0);
  ASSERT_EQ(symlink("in.wav", (folder / "link.wav").c_str()), 0);
  ASSERT_EQ(mkdir((folder / "sub").c_str(), 0755), 0);
  // Installed plug-ins of each format: bundles, a VST2 module and its images.
  ASSERT_EQ(std::system(("cd '" + folder.Path() + "' && mkdir -p Kestrune.lv2/presets Kestrune.images "
                         "Kestrune.vst3/Contents/Resources && for f in Kestrune.so Kestrune.lv2/Kestrune.so "
                         "Kestrune.lv2/manifest.ttl Kestrune.lv2/presets/slam.ttl Kestrune.images/Kestrune@2x.pack "
                         "Kestrune.vst3/Contents/Resources/Kestrune@2x.pack; do echo \"$f\" > \"$f\"; done && "
                         "ln -s ../Kestrune.images/Kestrune@2x.pack Kestrune.lv2/Kestrune@2x.pack")
                            .c_str()),
            0);
  const auto before = Snapshot(folder);

  RunResult run = RunRender(folder, With(GetParam().args, {"--module", kVst3Bundle}));
  EXPECT_EQ(run.status, 2) << run.err;
  std::string message = GetParam().message;
  for (size_t at; (at = message.find("{folder}")) != std::string::npos;) message.replace(at, 8, folder.Path());
  EXPECT_EQ(run.err, "kestrune-render: error: " + message + "\n");
  EXPECT_EQ(Snapshot(folder), before);
}

const Collision kCollisions[] = {
    {"PresetSavedOverTheInput", {"in.wav", "--save-preset", "in.wav"},
     "--save-preset 'in.wav' is the same file as the input 'in.wav', which it would overwrite; choose another name"},
    {"PlotOverTheInput", {"in.wav", "--plot-png", "in.wav"},
     "--plot-png 'in.wav' is the same file as the input 'in.wav', which it would overwrite; choose another name"},
    {"EditorPictureOverTheInput", {"in.wav", "--editor-png", "./in.wav"},
     "--editor-png './in.wav' is the same file as the input 'in.wav', which it would overwrite; choose another name"},
    {"OutputOverTheSidechain", {"in.wav", "--sidechain", "kick.wav", "-o", "kick.wav"},
     "-o 'kick.wav' is the same file as --sidechain 'kick.wav', which it would overwrite; choose another name"},
    {"OutputOverTheInputThroughAHardLink", {"in.wav", "-o", "hard.wav"},
     "-o 'hard.wav' is the same file as the input 'in.wav', which it would overwrite; choose another name"},
    {"PictureOverTheInputThroughASymbolicLink", {"in.wav", "--plot-png", "link.wav"},
     "--plot-png 'link.wav' is the same file as the input 'in.wav', which it would overwrite; choose another name"},
    {"PresetSavedOverTheLoadedPreset", {"in.wav", "--preset", "p.preset", "--save-preset", "sub/../p.preset"},
     "--save-preset 'sub/../p.preset' is the same file as --preset 'p.preset', which it would overwrite; choose "
     "another name"},
    {"AudioAndPresetUnderOneName", {"in.wav", "-o", "out.wav", "--save-preset", "out.wav"},
     "-o 'out.wav' and --save-preset 'out.wav' name the same file; give each output its own name"},
    {"BothPicturesUnderOneName", {"in.wav", "--editor-png", "p.png", "--plot-png", "sub/../p.png"},
     "--editor-png 'p.png' and --plot-png 'sub/../p.png' name the same file; give each output its own name"},
    {"PictureOverTheDefaultOutput", {"in.wav", "--plot-png", "in-kestrune.wav"},
     "the output 'in-kestrune.wav' and --plot-png 'in-kestrune.wav' name the same file; give each output its own "
     "name"},
    {"SeveralInputsOntoOneOutput", {"in.wav", "sub/../in.wav", "-o", "sub/"},
     "the output of 'in.wav' 'sub/in.wav' and the output of 'sub/../in.wav' 'sub/in.wav' name the same file; give "
     "each output its own name"},
    {"LibraryInAnLv2Bundle", {"in.wav", "-o", "Kestrune.lv2/Kestrune.so", "--type", "wav"},
     Inside("-o 'Kestrune.lv2/Kestrune.so'", "the plug-in bundle", "Kestrune.lv2")},
    {"FactoryPresetInAnLv2Bundle", {"in.wav", "--save-preset", "Kestrune.lv2/presets/slam.ttl"},
     Inside("--save-preset 'Kestrune.lv2/presets/slam.ttl'", "the plug-in bundle", "Kestrune.lv2")},
    {"ImagePackLinkedFromAnLv2Bundle", {"in.wav", "-o", "Kestrune.lv2/Kestrune@2x.pack", "--type", "wav"},
     Inside("-o 'Kestrune.lv2/Kestrune@2x.pack'", "the plug-in bundle", "Kestrune.lv2")},
    {"ImagePackInAVst3Bundle", {"in.wav", "-o", "Kestrune.vst3/Contents/Resources/Kestrune@2x.pack", "--type", "wav"},
     Inside("-o 'Kestrune.vst3/Contents/Resources/Kestrune@2x.pack'", "the plug-in bundle", "Kestrune.vst3")},
    {"ImagePackBesideAVst2Module", {"in.wav", "-o", "Kestrune.images/Kestrune@2x.pack", "--type", "wav"},
     Inside("-o 'Kestrune.images/Kestrune@2x.pack'", "the plug-in's image folder", "Kestrune.images")},
    {"BundleNamedAsTheOutputFolder", {"in.wav", "-o", "Kestrune.vst3"},
     Inside("the output 'Kestrune.vst3/in.wav'", "the plug-in bundle", "Kestrune.vst3")},
    {"ParameterListSavingOverTheInput", {"in.wav", "--list-params", "--save-preset", "in.wav"},
     "--save-preset 'in.wav' is the same file as the input 'in.wav', which it would overwrite; choose another name"},
};

INSTANTIATE_TEST_SUITE_P(Outputs, RenderRefusesCollision, ::testing::ValuesIn(kCollisions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RenderSafety, EveryOutputGetsATemporaryFileOfItsOwnBesideIt) {
  const std::string first = render::PendingPathFor("take/out.wav");
  const std::string second = render::PendingPathFor("take/out.wav");
  EXPECT_NE(first, second);
  for (const std::string& pending : {first, second}) {
    EXPECT_EQ(pending.rfind("take/.out.wav.partial-", 0), 0u) << pending;
  }
}

TEST(RenderSafety, ClosedPipeOnStderrEndsTheRunBySigpipeWithoutAPartialFile) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "in.wav", TestSignal(2.0)));
  const int status = RunRenderIntoClosedPipe(folder, {"in.wav", "--progress", "--block", "16", "--module", kVst3Bundle});
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGPIPE);
  EXPECT_EQ(folder.Names(), std::set<std::string>{"in.wav"});
}

TEST(RenderSafety, OutputThatIsASymbolicLinkIsWrittenThroughAndALinkToNothingIsRefused) {
  ScratchFolder folder;
  const Audio input = TestSignal(0.3);
  ASSERT_TRUE(WriteAudio(folder / "in.wav", input));
  std::ofstream(folder / "target.wav") << "old contents";
  ASSERT_EQ(symlink("target.wav", (folder / "out.wav").c_str()), 0);
  RunResult run = RunRender(folder, {"in.wav", "-o", "out.wav", "--no-pictures", "--module", kVst3Bundle});
  ASSERT_EQ(run.status, 0) << run.err;
  struct stat status;
  ASSERT_EQ(lstat((folder / "out.wav").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  Audio output;
  ASSERT_TRUE(ReadAudio(folder / "target.wav", output));
  EXPECT_EQ(output.Frames(), input.Frames());

  ASSERT_EQ(symlink("missing.wav", (folder / "dangling.wav").c_str()), 0);
  const auto before = Snapshot(folder);
  RunResult refused = RunRender(folder, {"in.wav", "-o", "dangling.wav", "--module", kVst3Bundle});
  EXPECT_EQ(refused.status, 5);
  EXPECT_NE(refused.err.find("cannot write 'dangling.wav': it is a symbolic link to a file that does not exist"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(Snapshot(folder), before);
}

// The number after `key` in `text`, or -1.
double NumberAfter(const std::string& text, const std::string& key) {
  const size_t at = text.find(key);
  return at == std::string::npos ? -1 : std::atof(text.c_str() + at + key.size());
}

TEST(RenderSafety, ClippedIntegerOutputIsCountedPerChannelWithItsPeak) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "loud.wav", TestSignal(1.0, 44100, 2, 0.9), SF_FORMAT_PCM_24));
  const std::vector<std::string> common = {"loud.wav", "--no-pictures", "--set", "OUTPUT=10dB", "--module", kVst3Bundle};
  RunResult clipped = RunRender(folder, With(common, {"-o", "clipped.wav"}));
  ASSERT_EQ(clipped.status, 0) << clipped.err;
  RunResult floating = RunRender(folder, With(common, {"-o", "float.wav", "--sample-format", "float"}));
  ASSERT_EQ(floating.status, 0) << floating.err;
  EXPECT_EQ(floating.err.find("clipped"), std::string::npos) << floating.err;

  // The float render keeps what the 24-bit file had to clip.
  Audio full;
  ASSERT_TRUE(ReadAudio(folder / "float.wav", full));
  size_t over[2] = {0, 0};
  double peak = 0;
  for (size_t c = 0; c < 2; ++c) {
    for (double x : full.channels[c]) {
      over[c] += std::fabs(x) > 1.0;
      peak = std::max(peak, std::fabs(x));
    }
  }
  ASSERT_GT(over[0], 0u);
  const std::string& err = clipped.err;
  EXPECT_NE(err.find("warning: 'clipped.wav' clipped "), std::string::npos) << err;
  EXPECT_EQ(NumberAfter(err, "clipped.wav' clipped "), static_cast<double>(over[0])) << err;
  EXPECT_EQ(NumberAfter(err, "left channel and "), static_cast<double>(over[1])) << err;
  EXPECT_NEAR(NumberAfter(err, "(peak "), 20 * std::log10(peak), 0.01) << err;
  EXPECT_NE(err.find("write float output (--sample-format float) or lower OUTPUT"), std::string::npos) << err;
  // The summary gives what the file holds, the float one what went beyond.
  EXPECT_NE(clipped.out.find("output: peak    0.00 dBFS"), std::string::npos) << clipped.out;
  EXPECT_NEAR(NumberAfter(floating.out, "output: peak "), 20 * std::log10(peak), 0.01) << floating.out;
}

TEST(RenderSafety, NonFiniteInputIsReportedAndCannotReachAnIntegerFile) {
  ScratchFolder folder;
  Audio input = TestSignal(0.5, 48000);
  input.channels[0][1000] = NAN;
  input.channels[1][2000] = INFINITY;
  ASSERT_TRUE(WriteAudio(folder / "bad.wav", input, SF_FORMAT_FLOAT));
  RunResult run = RunRender(folder, {"bad.wav", "-o", "out.wav", "--no-pictures", "--module", kVst3Bundle});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("warning: input 'bad.wav' has 2 non-finite samples (NaN or infinity), the first at "
                         "0.021 s (frame 1000, left channel)"),
            std::string::npos)
      << run.err;
  // The summary's levels are those of the finite samples.
  EXPECT_GT(NumberAfter(run.out, "input : peak "), -3.0) << run.out;
  EXPECT_GT(NumberAfter(run.out, "RMS "), -40.0) << run.out;

  const auto before = folder.Names();
  RunResult flac =
      RunRender(folder, {"bad.wav", "-o", "out.flac", "--no-pictures", "--set", "BYPASS=On", "--module", kVst3Bundle});
  EXPECT_EQ(flac.status, 5);
  EXPECT_NE(flac.err.find("error: cannot write 'out.flac': the output has a non-finite sample (NaN or infinity) at "
                          "0.021 s (frame 1000, left channel), which 24-bit PCM cannot hold"),
            std::string::npos)
      << flac.err;
  EXPECT_EQ(folder.Names(), before);
}

struct HeaderCase {
  const char* name;
  uint64_t claimedFrames;  // what the FLAC header is made to say
  size_t keepBytes;        // 0: the whole file
  int status;
  const char* message;     // expected on stderr ("" for nothing)
};

class RenderIgnoresHeaderLength : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(RenderIgnoresHeaderLength, ReadsToTheEndOfTheDataInLittleMemory) {
  const HeaderCase& c = GetParam();
  ScratchFolder folder;
  const Audio input = TestSignal(1.5, 48000);
  ASSERT_TRUE(WriteAudio(folder / "in.flac", input, SF_FORMAT_PCM_16, SF_FORMAT_FLAC));
  ASSERT_TRUE(SetFlacTotalSamples(folder / "in.flac", c.claimedFrames, c.keepBytes));
  RunResult run = RunRender(folder, {"in.flac", "-o", "out.wav", "--no-pictures", "--module", kVst3Bundle}, "", true);
  EXPECT_EQ(run.status, c.status) << run.err;
  EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  if (c.status == 0) {
    Audio output;
    ASSERT_TRUE(ReadAudio(folder / "out.wav", output));
    EXPECT_EQ(output.Frames(), input.Frames());
  } else {
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(folder.Names(), std::set<std::string>{"in.flac"});
  }
  EXPECT_LT(run.peakKiB, 150 * 1024) << "kB";
}

INSTANTIATE_TEST_SUITE_P(
    Flac, RenderIgnoresHeaderLength,
    ::testing::Values(HeaderCase{"LengthUnknown", 0, 0, 0, ""},
                      HeaderCase{"ClaimsFourBillionFrames", uint64_t{1} << 32, 0, 0,
                                 "warning: input 'in.flac' ended after 72000 frames though its header claims "
                                 "4294967296; rendered what is there"},
                      HeaderCase{"SixKilobytesClaimingAHundredMillionFrames", uint64_t{1} << 27, 6000, 3,
                                 "error: input 'in.flac' contains no audio that can be read"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RenderSafety, LongFileIsStreamedInConstantMemory) {
  ScratchFolder folder;
  // A minute and a half of stereo at 48 kHz: the whole file would be 69 MB
  // as doubles for the input alone, and 17 MB even as its own 16 bits.
  Audio input = TestSignal(10.0, 48000);
  ASSERT_TRUE(WriteAudio(folder / "long.wav", input, SF_FORMAT_PCM_16, SF_FORMAT_WAV, nullptr, 9));
  // The same render of one ninth of it first: the long one may take no
  // more memory than that, whatever a sanitizer adds to both. (The level
  // plot's own bound has a test of its own.)
  ASSERT_TRUE(WriteAudio(folder / "short.wav", input, SF_FORMAT_PCM_16));
  RunResult shortRun =
      RunRender(folder, {"short.wav", "--block", "4096", "--no-pictures", "--module", kVst3Bundle}, "", true);
  ASSERT_EQ(shortRun.status, 0) << shortRun.err;
  RunResult run = RunRender(folder, {"long.wav", "--block", "4096", "--no-pictures", "--module", kVst3Bundle}, "", true);
  ASSERT_EQ(run.status, 0) << run.err;
  SF_INFO info{};
  SNDFILE* file = sf_open((folder / "long-kestrune.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr);
  sf_close(file);
  EXPECT_EQ(info.frames, static_cast<sf_count_t>(9 * input.Frames()));
  EXPECT_LT(run.peakKiB - shortRun.peakKiB, 16 * 1024) << "kB more than for a ninth of the file";
}

TEST(RenderSafety, PipeAndDeviceOutputsAreWrittenIntoNotReplaced) {
  ScratchFolder folder;
  const Audio input = TestSignal(0.3);
  ASSERT_TRUE(WriteAudio(folder / "in.wav", input));
  ASSERT_EQ(mkfifo((folder / "fifo.wav").c_str(), 0644), 0);
  // A reader first, so the tool's open for writing finds one; and a writer
  // of our own, held until the tool has ended, so the reader's end of file
  // comes then whatever the tool did to the pipe.
  const int reader = open((folder / "fifo.wav").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const int holder = open((folder / "fifo.wav").c_str(), O_WRONLY);
  ASSERT_GE(holder, 0);
  fcntl(reader, F_SETFL, 0);
  std::string received;
  std::thread drain([&] {
    char buffer[65536];
    for (ssize_t got; (got = read(reader, buffer, sizeof(buffer))) > 0;) {
      received.append(buffer, static_cast<size_t>(got));
    }
  });
  RunResult run = RunRender(folder, {"in.wav", "-o", "fifo.wav", "--module", kVst3Bundle});
  close(holder);
  drain.join();
  close(reader);
  EXPECT_EQ(run.status, 0) << run.err;
  struct stat status;
  ASSERT_EQ(stat((folder / "fifo.wav").c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
  std::ofstream(folder / "received.wav", std::ios::binary) << received;
  Audio output;
  ASSERT_TRUE(ReadAudio(folder / "received.wav", output));
  EXPECT_EQ(output.Frames(), input.Frames());
  EXPECT_EQ(folder.Names(), (std::set<std::string>{"in.wav", "fifo.wav", "received.wav"}));

  // A null device of our own where we may make one (as root, where a fault
  // here would otherwise replace the machine's /dev/null); elsewhere the
  // real one, which a user cannot replace anyway.
  std::string null = folder / "null";
  if (mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) null = "/dev/null";
  run = RunRender(folder, {"in.wav", "-o", null, "--module", kVst3Bundle});
  EXPECT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(stat(null.c_str(), &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
}

TEST(RenderSafety, WavThatMayPassFourGibIsRf64AndRf64StaysRf64) {
  using render::ChooseWavFlavour;
  using render::SampleFormat;
  using render::WavFlavour;
  // 1440 s at 192 kHz, stereo: 4.4 GB as doubles, 1.1 GB as 16-bit.
  const int64_t frames = 1440 * 192000;
  EXPECT_EQ(ChooseWavFlavour(SF_FORMAT_WAV, frames, 2, SampleFormat::Double), WavFlavour::Rf64);
  EXPECT_EQ(ChooseWavFlavour(SF_FORMAT_FLAC, frames, 2, SampleFormat::Pcm16), WavFlavour::Riff);
  EXPECT_EQ(ChooseWavFlavour(SF_FORMAT_FLAC, -1, 2, SampleFormat::Pcm16), WavFlavour::Rf64UnlessSmall);

  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "in.wav", TestSignal(0.3), SF_FORMAT_PCM_24, SF_FORMAT_RF64));
  RunResult run = RunRender(folder, {"in.wav", "-o", "out.wav", "--no-pictures", "--module", kVst3Bundle});
  ASSERT_EQ(run.status, 0) << run.err;
  SF_INFO info{};
  SNDFILE* file = sf_open((folder / "out.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr);
  sf_close(file);
  EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_RF64);
}

TEST(RenderSafety, LibraryInsideTheLoadedBundleIsNeverAnOutput) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "in.wav", TestSignal(0.3)));
  const std::string library = "Kestrune.vst3/Contents/x86_64-linux/Kestrune.so";
  ASSERT_EQ(std::system(("mkdir -p '" + folder / "Kestrune.vst3/Contents/x86_64-linux" + "' && cp '" + kVst3Bundle +
                         "/Contents/x86_64-linux/Kestrune.so' '" + folder / library + "'")
                            .c_str()),
            0);
  const std::string before = Slurp(folder / library);
  for (const char* option : {"--save-preset", "-o"}) {
    RunResult run = RunRender(folder, {"in.wav", option, library, "--type", "wav", "--no-pictures", "--module", "Kestrune.vst3"});
    EXPECT_EQ(run.status, 2) << option;
    EXPECT_NE(run.err.find("is the same file as --module 'Kestrune.vst3'"), std::string::npos) << run.err;
  }
  EXPECT_TRUE(Slurp(folder / library) == before);
}

TEST(RenderSafety, TruncatedWavAndAiffAreRenderedWithAWarning) {
  ScratchFolder folder;
  for (int container : {SF_FORMAT_WAV, SF_FORMAT_AIFF}) {
    ASSERT_TRUE(WriteAudio(folder / "in", TestSignal(1.0, 48000), SF_FORMAT_PCM_24, container));
    ASSERT_EQ(truncate((folder / "in").c_str(), 100000), 0);
    Audio there;
    ASSERT_TRUE(ReadAudio(folder / "in", there));
    RunResult run = RunRender(folder, {"in", "-o", "out.wav", "--no-pictures", "--module", kVst3Bundle});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("warning: input 'in' ended after " + std::to_string(there.Frames()) +
                           " frames though its header claims 48000; rendered what is there"),
              std::string::npos)
        << container << ": " << run.err;
  }
  // A data chunk whose size says 0 though the audio follows: libsndfile
  // reads nothing, which must not pass for an empty file.
  ASSERT_TRUE(WriteAudio(folder / "zero.wav", TestSignal(0.01), SF_FORMAT_PCM_16));
  std::string bytes = Slurp(folder / "zero.wav");
  const size_t data = bytes.find("data");
  ASSERT_NE(data, std::string::npos);
  bytes.replace(data + 4, 4, std::string(4, '\0'));
  std::ofstream(folder / "zero.wav", std::ios::binary) << bytes;
  RunResult run = RunRender(folder, {"zero.wav", "-o", "out.wav", "--no-pictures", "--module", kVst3Bundle});
  EXPECT_NE(run.err.find("warning: input 'zero.wav' says its audio is empty, yet " +
                         std::to_string(bytes.size() - data - 8) + " bytes follow its header"),
            std::string::npos)
      << run.err;
}

TEST(RenderSafety, FileSizeLimitIsAWriteErrorThatLeavesNothing) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "in.wav", TestSignal(1.0)));
  struct rlimit previous;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
  struct rlimit small = previous;
  small.rlim_cur = 64 * 1024;  // the tool inherits it; its output is 350 kB
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  RunResult run = RunRender(folder, {"in.wav", "-o", "out.wav", "--module", kVst3Bundle});
  // Audio that fits and an editor picture (250 kB) that does not.
  ASSERT_TRUE(WriteAudio(folder / "short.wav", TestSignal(0.02)));
  RunResult picture = RunRender(folder, {"short.wav", "-o", "short-out.wav", "--module", kVst3Bundle});
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &previous), 0);
  EXPECT_EQ(run.status, 5);
  EXPECT_EQ(run.err, "kestrune-render: error: cannot write 'out.wav': " + std::string(strerror(EFBIG)) + "\n");
  EXPECT_EQ(picture.status, 5);
  EXPECT_EQ(picture.err, "kestrune-render: error: cannot write 'short-out-editor.png': " +
                             std::string(strerror(EFBIG)) + "; the audio was discarded with it\n");
  EXPECT_EQ(folder.Names(), (std::set<std::string>{"in.wav", "short.wav"}));
}

TEST(RenderSafety, ReplacedOutputKeepsModeAndHardLinksAndNoClobberKeepsTheFile) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "in.wav", TestSignal(0.3)));
  const std::vector<std::string> args = {"in.wav", "-o", "out.wav", "--no-pictures", "--module", kVst3Bundle};
  std::ofstream(folder / "out.wav") << "old";
  ASSERT_EQ(chmod((folder / "out.wav").c_str(), 0640), 0);
  ASSERT_EQ(RunRender(folder, args).status, 0);
  struct stat status;
  ASSERT_EQ(stat((folder / "out.wav").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);

  ASSERT_EQ(link((folder / "out.wav").c_str(), (folder / "linked.wav").c_str()), 0);
  std::ofstream(folder / "out.wav", std::ios::trunc) << "old";
  ASSERT_EQ(RunRender(folder, args).status, 0);
  EXPECT_TRUE(Slurp(folder / "linked.wav") == Slurp(folder / "out.wav"));
  ASSERT_EQ(stat((folder / "out.wav").c_str(), &status), 0);
  EXPECT_EQ(status.st_nlink, 2u);
  EXPECT_TRUE(Slurp(folder / "out.wav") != "old");

  std::ofstream(folder / "out.wav", std::ios::trunc) << "old";
  RunResult kept = RunRender(folder, With(args, {"-n"}));
  EXPECT_EQ(kept.status, 2);
  EXPECT_EQ(kept.err, "kestrune-render: error: -o 'out.wav' exists and -n (--no-clobber) keeps existing files; "
                      "choose another name\n");
  EXPECT_TRUE(Slurp(folder / "out.wav") == "old");
}

}  // namespace
