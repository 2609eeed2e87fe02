// What the renderer does as an audio tool: a progress line that fits the
// terminal, parameters in a musician's units, dither, metadata carried over,
// standard input and output, several inputs, --version and --, sidechains of
// another length, and modules recognised by what they export.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include <FLAC/metadata.h>

#include "KestruneIdentity.h"
#include "Progress.h"
#include "RenderRig.h"

namespace {

using namespace rig;

// The module of a format, VST2 found by its entry point.
std::vector<std::string> DetectedModuleArgs(const std::string& format) {
  if (format == "lv2") return {"--format", "lv2", "--module", KESTRUNE_LV2_BUNDLE};
  return format == "vst2" ? std::vector<std::string>{"--module", kVst2Module}  // found by its entry
                          : std::vector<std::string>{"--module", kVst3Bundle};
}

// Splits stderr at carriage returns and newlines.
std::vector<std::string> Segments(const std::string& text) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

TEST(RenderProgress, FitsFortyColumnsOnOneLineAndShowsTimeWhenTheLengthIsUnknown) {
  // Too narrow for a bar: the percentage keeps its width, so "9%" after
  // "10%" leaves nothing behind.
  const render::ProgressBar narrow(false, 100, 1000);
  EXPECT_EQ(narrow.Line(90, 6).size(), narrow.Line(1000, 6).size());
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "in.flac", TestSignal(1.0), SF_FORMAT_PCM_16, SF_FORMAT_FLAC));
  setenv("COLUMNS", "40", 1);
  RunResult known = RunRender(folder, {"in.flac", "-o", "a.wav", "--no-pictures", "--progress", "-q", "--module", kVst3Bundle});
  ASSERT_EQ(known.status, 0) << known.err;
  EXPECT_EQ(known.err.find('\n'), std::string::npos) << known.err;
  const auto lines = Segments(known.err);
  ASSERT_FALSE(lines.empty());
  for (const std::string& line : lines) EXPECT_LE(line.size(), 39u) << line;
  EXPECT_NE(known.err.find("] 100%"), std::string::npos) << known.err;
  EXPECT_EQ(known.err.back(), '\r');  // the line is cleared for what follows

  ASSERT_TRUE(SetFlacTotalSamples(folder / "in.flac", 0));
  RunResult unknown = RunRender(folder, {"in.flac", "-o", "b.wav", "--no-pictures", "--progress", "-q", "--module", kVst3Bundle});
  unsetenv("COLUMNS");
  ASSERT_EQ(unknown.status, 0) << unknown.err;
  EXPECT_NE(unknown.err.find("s rendered"), std::string::npos) << unknown.err;
  EXPECT_EQ(unknown.err.find('%'), std::string::npos) << unknown.err;
}

// On a terminal the bar comes by itself for a file of unknown length; -q
// hides it.
TEST(RenderProgress, QuietHidesTheAutomaticBarOnATerminal) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "in.flac", TestSignal(0.5), SF_FORMAT_PCM_16, SF_FORMAT_FLAC));
  ASSERT_TRUE(SetFlacTotalSamples(folder / "in.flac", 0));
  auto onTerminal = [&](const std::vector<std::string>& more) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return std::string("(no terminal)");
    const pid_t pid = SpawnRender(folder, With({"in.flac", "-o", "out.wav", "--no-pictures", "--module", kVst3Bundle}, more),
                                  ptsname(master));
    int status = 0;
    waitpid(pid, &status, 0);
    fcntl(master, F_SETFL, O_NONBLOCK);
    std::string shown;
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof(buffer))) > 0;) shown.append(buffer, static_cast<size_t>(n));
    close(master);
    return shown;
  };
  EXPECT_NE(onTerminal({}).find("s rendered"), std::string::npos);
  EXPECT_EQ(onTerminal({"-q"}), "");
}

class RenderUnits : public ::testing::TestWithParam<std::string> {};

// What --list-params prints after `sets`.
std::string ListAfter(const std::string& format, const std::vector<std::string>& sets, std::string* err = nullptr) {
  ScratchFolder folder;
  std::vector<std::string> args = {"--list-params"};
  for (const std::string& set : sets) args.insert(args.end(), {"--set", set});
  RunResult run = RunRender(folder, With(args, DetectedModuleArgs(format)));
  if (err) *err = run.err;
  return run.out;
}

// The current-value column of one parameter in such a list.
std::string CurrentIn(const std::string& list, const std::string& name) {
  std::istringstream lines(list);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t at = line.find("  " + name + "  ");
    if (at == std::string::npos) continue;
    const size_t last = line.rfind("  ");  // columns are set apart by two spaces
    return line.substr(last + 2);
  }
  return "(not listed)";
}

std::string CurrentAfter(const std::string& format, const std::string& name, const std::vector<std::string>& sets,
                         std::string* err = nullptr) {
  return CurrentIn(ListAfter(format, sets, err), name);
}

TEST_P(RenderUnits, WhatAPersonWritesSetsWhatThePlainNumberSets) {
  const struct {
    const char* name;
    const char* withUnit;
    const char* plain;
    const char* shown;  // the display
  } cases[] = {
      {"ATTACK", "ATTACK=0.8ms", "ATTACK=0.8", "0.80 ms"},
      {"RELEASE", "RELEASE=150ms", "RELEASE=150", "150 ms"},
      {"HPF", "HPF=120Hz", "HPF=120", "120.0 Hz"},
      {"MID FREQ", "MID FREQ=2.5kHz", "MID FREQ=2500", "2.50 kHz"},
      {"OUTPUT", "OUTPUT=-3dB", "OUTPUT=-3", "-3.00 dB"},
      {"MIX", "MIX=50%", "MIX=50", "50.00 %"},
      {"RATIO", "RATIO=8:1", "RATIO=8", "8:1"},             {"SLAM", "SLAM=on", "SLAM=ON", "On"},
      {"Sidechain", "Sidechain=ext", "Sidechain=EXT", "EXT"}, {"OVERSAMPLING", "OVERSAMPLING=16x", "OVERSAMPLING=16", "16x"},
  };
  // Each way of writing all at once: every parameter shows its own.
  std::vector<std::string> withUnits, plains;
  for (const auto& c : cases) {
    withUnits.push_back(c.withUnit);
    plains.push_back(c.plain);
  }
  std::string err;
  const std::string withUnit = ListAfter(GetParam(), withUnits, &err);
  EXPECT_TRUE(err.empty()) << err;
  const std::string plain = ListAfter(GetParam(), plains), defaults = ListAfter(GetParam(), {});
  for (const auto& c : cases) {
    const std::string shown = CurrentIn(withUnit, c.name);
    EXPECT_EQ(shown, CurrentIn(plain, c.name)) << c.withUnit;
    // VST2 numbers are long enough for the unit a host appends into the
    // same buffer.
    const std::string vst2Shown = std::string(c.name) == "RELEASE"    ? "150.0 ms"
                                  : std::string(c.name) == "MID FREQ" ? "2.500 kHz"
                                                                      : c.shown;
    EXPECT_EQ(shown, GetParam() == "vst2" ? vst2Shown : c.shown) << c.withUnit;
    EXPECT_NE(shown, CurrentIn(defaults, c.name)) << c.withUnit << " is the default";
  }
}

TEST_P(RenderUnits, RangeEndsAreInsideAndCloseSettingsShowApart) {
  std::string err;
  CurrentAfter(GetParam(), "RELEASE", {"RELEASE=20ms", "INPUT=80", "HF=16", "ATTACK=0ms", "MID FREQ=10kHz"}, &err);
  EXPECT_TRUE(err.empty()) << err;
  CurrentAfter(GetParam(), "RELEASE", {"RELEASE=900ms"}, &err);
  EXPECT_NE(err.find(GetParam() == "vst2"
                         ? "warning: RELEASE=900ms is outside 20.0 ms .. 850.0 ms; using 850.0 ms"
                         : "warning: RELEASE=900ms is outside 20.0 ms .. 850 ms; using 850 ms"),
            std::string::npos)
      << err;
  EXPECT_NE(CurrentAfter(GetParam(), "ATTACK", {"ATTACK=0.5"}), CurrentAfter(GetParam(), "ATTACK", {"ATTACK=0.8"}));
  // A negative time is no value, whether meant as one or as the old plain number.
  CurrentAfter(GetParam(), "ATTACK", {"ATTACK=-0.0008"}, &err);
  EXPECT_NE(err.find("'-0.0008' is not a value for ATTACK"), std::string::npos) << err;
  // Nor is a time in seconds that would read as a few microseconds.
  CurrentAfter(GetParam(), "ATTACK", {"ATTACK=0.0008"}, &err);
  EXPECT_NE(err.find("'0.0008' is not a value for ATTACK: a bare number is in ms, and 0.0008 ms would show as 0 ms; "
                     "write 0.8 (or 0.8ms, 0.0008s)"), std::string::npos) << err;
  // A bare number on steps is a value in the unit they show: the nearest
  // step, held at the end beyond them; a switch shows no number.
  EXPECT_EQ(CurrentAfter(GetParam(), "RATIO", {"RATIO=3"}, &err), "4:1") << err;
  EXPECT_EQ(CurrentAfter(GetParam(), "RATIO", {"RATIO=10"}, &err), "12:1") << err;
  EXPECT_EQ(CurrentAfter(GetParam(), "RATIO", {"RATIO=100"}, &err), "20:1") << err;
  EXPECT_NE(err.find("warning: RATIO=100 is outside 4:1 .. 20:1; using 20:1"), std::string::npos) << err;
  for (const char* set : {"Sidechain=0", "BYPASS=1"}) {
    CurrentAfter(GetParam(), "RATIO", {set}, &err);
    EXPECT_NE(err.find("is not a value for"), std::string::npos) << set << ": " << err;
  }
  // LV2's ports of steps count from 0; a number still means what a step shows.
  if (GetParam() == std::string("vst3")) {
    EXPECT_EQ(CurrentAfter("lv2", "RATIO", {"RATIO=3"}, &err), "4:1") << err;
    EXPECT_EQ(CurrentAfter("lv2", "RATIO", {"RATIO=10"}, &err), "12:1") << err;
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, RenderUnits, ::testing::Values("vst3", "vst2"),
                         [](const auto& info) { return info.param; });

TEST(RenderDither, SixteenBitOutputIsDitheredUnlessSwitchedOffAndDeeperOutputIsNot) {
  ScratchFolder folder;
  Audio silence = TestSignal(0.5, 48000, 2, 0.0);
  for (auto& channel : silence.channels) std::fill(channel.begin(), channel.end(), 0.0);
  ASSERT_TRUE(WriteAudio(folder / "silence.wav", silence));
  const std::vector<std::string> common = {"silence.wav", "--no-pictures", "--set", "BYPASS=On", "--module", kVst3Bundle};
  ASSERT_EQ(RunRender(folder, With(common, {"-o", "d16.wav", "--sample-format", "pcm16"})).status, 0);
  ASSERT_EQ(RunRender(folder, With(common, {"-o", "n16.wav", "--sample-format", "pcm16", "--no-dither"})).status, 0);
  ASSERT_EQ(RunRender(folder, With(common, {"-o", "d24.wav", "--sample-format", "pcm24"})).status, 0);
  Audio d16, n16, d24;
  ASSERT_TRUE(ReadAudio(folder / "d16.wav", d16));
  ASSERT_TRUE(ReadAudio(folder / "n16.wav", n16));
  ASSERT_TRUE(ReadAudio(folder / "d24.wav", d24));
  size_t nonZero = 0;
  double largest = 0, sum = 0;
  for (const auto& channel : d16.channels) {
    for (double x : channel) {
      nonZero += x != 0;
      largest = std::max(largest, std::fabs(x));
      sum += x;
    }
  }
  // Triangular noise of one step either way: about half the samples move.
  EXPECT_GT(nonZero, d16.Frames() / 2);
  EXPECT_LE(largest, 1.0 / 32768);
  EXPECT_NEAR(sum / static_cast<double>(2 * d16.Frames()), 0.0, 0.02 / 32768);
  EXPECT_EQ(Differences(n16.channels, silence.channels), 0u);
  EXPECT_EQ(Differences(d24.channels, silence.channels), 0u);
}

TEST(RenderMetadata, TextAndBroadcastWaveChunkAreCarriedWhereTheOutputHoldsThem) {
  ScratchFolder folder;
  const Audio input = TestSignal(0.3);
  Audio flat = input;
  for (auto& channel : flat.channels) std::fill(channel.begin(), channel.end(), 0.1);
  ASSERT_TRUE(WriteAudio(folder / "take.wav", flat, SF_FORMAT_PCM_24, SF_FORMAT_WAV, [](SNDFILE* file) {
    SF_BROADCAST_INFO bext{};
    strcpy(bext.description, "Take 3, kick close");
    strcpy(bext.originator, "Studio B");
    bool tagged = sf_command(file, SFC_SET_BROADCAST_INFO, &bext, sizeof(bext)) == SF_TRUE;
    sf_set_string(file, SF_STR_TITLE, "Drums");
    sf_set_string(file, SF_STR_ARTIST, "The Band");
    sf_set_string(file, SF_STR_COMMENT, "rough mix");
    // Two markers, the second past the end of the audio (a damaged file).
    SF_CUES_VAR(2) cues{};
    cues.cue_count = 2;
    cues.cue_points[0] = {1, 100, 0x61746164, 0, 0, 100, ""};
    cues.cue_points[1] = {2, 20000, 0x61746164, 0, 0, 20000, ""};
    tagged = tagged && sf_command(file, SFC_SET_CUE, &cues, sizeof(cues)) == SF_TRUE;
    std::string ixml = "<BWFXML><SCENE>12A</SCENE></BWFXML>";
    SF_CHUNK_INFO chunk{};
    memcpy(chunk.id, "iXML", 4);
    chunk.id_size = 4;
    chunk.datalen = static_cast<unsigned>(ixml.size());
    chunk.data = ixml.data();
    return tagged && sf_set_chunk(file, &chunk) == SF_ERR_NO_ERROR;
  }));
  // INFO tags libsndfile has no string type for, in a LIST chunk of their own after the audio.
  auto le32 = [](size_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
  };
  auto entry = [&](const std::string& id, const std::string& text) {
    return id + le32(text.size() + 1) + text + '\0' + (text.size() % 2 == 0 ? std::string(1, '\0') : "");
  };
  const std::string unmapped[] = {entry("ITCH", "A. Tech"), entry("ISRC", "GBAYE0000002"), entry("IARL", "Vault 2")};
  // The markers' names, and a region from the first past the end.
  const std::string region = "ltxt" + le32(20) + le32(1) + le32(50000) + "rgn " + std::string(8, '\0');
  {
    std::string wav = Slurp(folder / "take.wav");
    const std::string list = "INFO" + unmapped[0] + unmapped[1] + unmapped[2];
    wav += "LIST" + le32(list.size()) + list;
    const std::string adtl = "adtl" + entry("labl", le32(1) + "Verse") + entry("labl", le32(2) + "Outro") + region;
    wav += "LIST" + le32(adtl.size()) + adtl;
    wav.replace(4, 4, le32(wav.size() - 8));
    std::ofstream(folder / "take.wav", std::ios::binary) << wav;
  }
  ASSERT_EQ(RunRender(folder, {"take.wav", "-o", "out.wav", "--no-pictures", "--module", kVst3Bundle}).status, 0);
  const std::string out = Slurp(folder / "out.wav");
  for (const std::string& tag : unmapped) EXPECT_NE(out.find(tag), std::string::npos) << tag.substr(0, 4);
  EXPECT_EQ(out.substr(4, 4), le32(out.size() - 8)) << "the RIFF size";
  // iXML and the markers within the audio, with their names; the region ends with it.
  EXPECT_NE(out.find("iXML"), std::string::npos);
  EXPECT_NE(out.find("<SCENE>12A</SCENE>"), std::string::npos);
  EXPECT_EQ(out.find("Outro"), std::string::npos);
  const size_t carriedRegion = out.find("ltxt");
  ASSERT_NE(carriedRegion, std::string::npos);
  EXPECT_EQ(out.substr(carriedRegion + 12, 4), le32(input.Frames() - 100));
  {
    SF_INFO info{};
    SNDFILE* file = sf_open((folder / "out.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    SF_CUES cues{};
    ASSERT_EQ(sf_command(file, SFC_GET_CUE, &cues, sizeof(cues)), SF_TRUE);
    sf_close(file);
    ASSERT_EQ(cues.cue_count, 1u);
    EXPECT_EQ(cues.cue_points[0].sample_offset, 100u);
    EXPECT_STREQ(cues.cue_points[0].name, "Verse");
  }
  const RunResult toFlac = RunRender(folder, {"take.wav", "-o", "out.flac", "--no-pictures", "--module", kVst3Bundle});
  ASSERT_EQ(toFlac.status, 0) << toFlac.err;
  EXPECT_NE(toFlac.err.find("warning: 'out.flac' has no room for the input's INFO IARL, 2 cue markers, iXML chunk, "
                            "marker texts (LIST/adtl); left out (write WAV to keep them)\n"),
            std::string::npos)
      << toFlac.err;
  auto commentsOf = [](const std::string& path) {
    std::set<std::string> found;
    FLAC__StreamMetadata* carried = nullptr;
    if (!FLAC__metadata_get_tags(path.c_str(), &carried)) return found;
    for (FLAC__uint32 i = 0; i < carried->data.vorbis_comment.num_comments; ++i) {
      const auto& entry = carried->data.vorbis_comment.comments[i];
      found.insert(std::string(reinterpret_cast<const char*>(entry.entry), entry.length));
    }
    FLAC__metadata_object_delete(carried);
    return found;
  };
  // INFO tags and the broadcast-wave texts as Vorbis comments.
  const std::set<std::string> flacTags = commentsOf(folder / "out.flac");
  for (const char* tag : {"TITLE=Drums", "ISRC=GBAYE0000002", "ENCODED-BY=A. Tech", "DESCRIPTION=Take 3, kick close",
                          "ORIGINATOR=Studio B"}) {
    EXPECT_EQ(flacTags.count(tag), 1u) << tag;
  }
  for (const char* name : {"out.wav", "out.flac"}) {
    SF_INFO info{};
    SNDFILE* file = sf_open((folder / name).c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << name;
    auto text = [&](int kind) {
      const char* value = sf_get_string(file, kind);
      return std::string(value ? value : "");
    };
    EXPECT_EQ(text(SF_STR_TITLE), "Drums") << name;
    EXPECT_EQ(text(SF_STR_ARTIST), "The Band") << name;
    EXPECT_EQ(text(SF_STR_COMMENT), "rough mix") << name;
    SF_BROADCAST_INFO bext{};
    const bool hasBext = sf_command(file, SFC_GET_BROADCAST_INFO, &bext, sizeof(bext)) == SF_TRUE;
    EXPECT_EQ(hasBext, std::string(name) == "out.wav") << name;
    if (hasBext) {
      EXPECT_STREQ(bext.description, "Take 3, kick close");
      EXPECT_STREQ(bext.originator, "Studio B");
    }
    sf_close(file);
  }

  // FLAC to FLAC: every tag and the cover, which libsndfile alone drops.
  ASSERT_TRUE(WriteAudio(folder / "song.flac", input, SF_FORMAT_PCM_16, SF_FORMAT_FLAC));
  const std::vector<std::string> tags = {"DESCRIPTION=live", "ISRC=GBAYE0000001", "COMPOSER=Someone",
                                         "ALBUMARTIST=The Band", "REPLAYGAIN_TRACK_GAIN=-6.20 dB",
                                         "TITLE=Take One", "TITLE=Take Two"};
  {
    FLAC__Metadata_Chain* chain = FLAC__metadata_chain_new();
    ASSERT_TRUE(FLAC__metadata_chain_read(chain, (folder / "song.flac").c_str()));
    FLAC__StreamMetadata* comment = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    for (const std::string& tag : tags) {
      FLAC__StreamMetadata_VorbisComment_Entry entry{static_cast<FLAC__uint32>(tag.size()),
                                                     reinterpret_cast<FLAC__byte*>(const_cast<char*>(tag.c_str()))};
      ASSERT_TRUE(FLAC__metadata_object_vorbiscomment_append_comment(comment, entry, true));
    }
    FLAC__StreamMetadata* picture = FLAC__metadata_object_new(FLAC__METADATA_TYPE_PICTURE);
    std::string cover = "\x89PNG not really";
    FLAC__metadata_object_picture_set_mime_type(picture, const_cast<char*>("image/png"), true);
    FLAC__metadata_object_picture_set_data(picture, reinterpret_cast<FLAC__byte*>(cover.data()),
                                           static_cast<FLAC__uint32>(cover.size()), true);
    picture->data.picture.type = FLAC__STREAM_METADATA_PICTURE_TYPE_FRONT_COVER;
    FLAC__Metadata_Iterator* at = FLAC__metadata_iterator_new();
    FLAC__metadata_iterator_init(at, chain);
    ASSERT_TRUE(FLAC__metadata_iterator_insert_block_after(at, comment));
    ASSERT_TRUE(FLAC__metadata_iterator_insert_block_after(at, picture));
    FLAC__metadata_iterator_delete(at);
    ASSERT_TRUE(FLAC__metadata_chain_write(chain, true, false));
    FLAC__metadata_chain_delete(chain);
  }
  ASSERT_EQ(RunRender(folder, {"song.flac", "-o", "song-out.flac", "--no-pictures", "--module", kVst3Bundle}).status, 0);
  // FLAC read from a pipe brings its tags and cover along too.
  ASSERT_EQ(system(("cd '" + folder.Path() + "' && cat song.flac | '" KESTRUNE_RENDER "' - -o piped-in.flac -q " +
                    "--no-pictures --module '" + kVst3Bundle + "'").c_str()),
            0);
  for (const std::string name : {"song-out.flac", "piped-in.flac"}) {
    SCOPED_TRACE(name);
    const std::set<std::string> found = commentsOf(folder / name);
    // All but REPLAYGAIN, which gives the loudness before processing.
    for (const std::string& tag : tags) EXPECT_EQ(found.count(tag), tag.rfind("REPLAYGAIN", 0) != 0) << tag;
    std::string coverData;
    FLAC__Metadata_Chain* chain = FLAC__metadata_chain_new();
    ASSERT_TRUE(FLAC__metadata_chain_read(chain, (folder / name).c_str()));
    FLAC__Metadata_Iterator* at = FLAC__metadata_iterator_new();
    FLAC__metadata_iterator_init(at, chain);
    do {
      const FLAC__StreamMetadata* block = FLAC__metadata_iterator_get_block(at);
      if (block->type == FLAC__METADATA_TYPE_PICTURE) {
        coverData.assign(reinterpret_cast<const char*>(block->data.picture.data), block->data.picture.data_length);
      }
    } while (FLAC__metadata_iterator_next(at));
    FLAC__metadata_iterator_delete(at);
    FLAC__metadata_chain_delete(chain);
    EXPECT_EQ(coverData, "\x89PNG not really");
  }
  // Into WAV: what its INFO chunk has no room for is named in one line.
  const RunResult toWav = RunRender(folder, {"song.flac", "-o", "song.wav", "--no-pictures", "--module", kVst3Bundle});
  EXPECT_EQ(toWav.status, 0) << toWav.err;
  EXPECT_NE(toWav.err.find("warning: the input's REPLAYGAIN tags are left out"), std::string::npos) << toWav.err;
  EXPECT_NE(toWav.err.find("warning: 'song.wav' has no room for the input's DESCRIPTION, ISRC, COMPOSER, "
                           "ALBUMARTIST, TITLE (a second one), 1 picture(s); left out"),
            std::string::npos)
      << toWav.err;
  // Streamed out, the header goes first and holds only libsndfile's tags: said in one line, which counts
  // neither REPLAYGAIN (no file keeps it either) nor what libsndfile writes.
  const RunResult streamed = RunRender(folder, {"song.flac", "-o", "-", "--type", "flac", "--no-pictures", "--module",
                                                kVst3Bundle});
  EXPECT_EQ(streamed.status, 0);
  EXPECT_NE(streamed.err.find("warning: standard output is a FLAC stream, which gets only the input's title, artist, "
                              "album, date, genre, track number, comment, copyright, license and software: 5 other "
                              "tags and 1 picture(s) are left out; write to a file to keep them"),
            std::string::npos)
      << streamed.err;
}

// A stereo 44.1 kHz file of `frames` frames at 0.1, with these cue points
// (four at most) and these chunks written as they are.
struct CuePoint {
  int32_t id;
  uint32_t frame;
  const char* name;
};
bool WriteMarkedFile(const std::string& path, int format, size_t frames, const std::vector<CuePoint>& points,
                     const std::vector<std::pair<const char*, std::string>>& chunks) {
  Audio flat;
  flat.rate = 44100;
  flat.channels.assign(2, std::vector<double>(frames, 0.1));
  return points.size() <= 4 &&
         WriteAudio(path, flat, format & SF_FORMAT_SUBMASK, format & SF_FORMAT_TYPEMASK, [&](SNDFILE* file) {
           SF_CUES_VAR(4) cues{};
           cues.cue_count = static_cast<uint32_t>(points.size());
           for (size_t i = 0; i < points.size(); ++i) {
             cues.cue_points[i] = {points[i].id, 0, 0x61746164, 0, 0, points[i].frame, ""};
             strncpy(cues.cue_points[i].name, points[i].name, sizeof(cues.cue_points[i].name) - 1);
           }
           bool tagged = points.empty() || sf_command(file, SFC_SET_CUE, &cues, sizeof(cues)) == SF_TRUE;
           for (const auto& [id, payload] : chunks) {
             SF_CHUNK_INFO chunk{};
             memcpy(chunk.id, id, 4);
             chunk.id_size = 4;
             chunk.datalen = static_cast<unsigned>(payload.size());
             chunk.data = const_cast<char*>(payload.data());
             tagged = tagged && sf_set_chunk(file, &chunk) == SF_ERR_NO_ERROR;
           }
           return tagged;
         });
}

// AIFF holds markers with their names (MARK), not their notes or regions;
// RF64 and a stream hold none. A marker past the output's end is dropped.
TEST(RenderMetadata, MarkersCrossBetweenWavAndAiffWithTheirNames) {
  ScratchFolder folder;
  const Audio input = TestSignal(0.1);
  auto le32 = [](size_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
  };
  // "Verse" inside the audio, "Outro" past its end (a damaged file).
  auto write = [&](const std::string& name, int format, uint32_t verseId, const std::string& rawCue = "") {
    if (rawCue.empty()) {
      ASSERT_TRUE(WriteMarkedFile(folder / name, format, input.Frames(),
                                  {{static_cast<int32_t>(verseId), 100, "Verse"}, {2, 20000, "Outro"}}, {}));
    } else {
      ASSERT_TRUE(WriteMarkedFile(folder / name, format, input.Frames(), {}, {{"cue ", rawCue}}));
    }
  };
  // Each marker's id, frame and name.
  using Markers = std::vector<std::tuple<int32_t, uint32_t, std::string>>;
  auto markersOf = [&](const std::string& name) {
    Markers found;
    SF_INFO info{};
    SNDFILE* file = sf_open((folder / name).c_str(), SFM_READ, &info);
    if (!file) return found;
    SF_CUES cues{};
    if (sf_command(file, SFC_GET_CUE, &cues, sizeof(cues)) == SF_TRUE) {
      for (uint32_t i = 0; i < cues.cue_count; ++i)
        found.emplace_back(cues.cue_points[i].indx, cues.cue_points[i].sample_offset, cues.cue_points[i].name);
    }
    EXPECT_EQ(info.frames, static_cast<sf_count_t>(input.Frames())) << name;
    sf_close(file);
    return found;
  };
  const Markers verse = {{1, 100, "Verse"}};
  auto render = [&](const std::string& from, const std::string& to) {
    const RunResult run = RunRender(folder, {from, "-o", to, "--no-pictures", "--module", kVst3Bundle});
    EXPECT_EQ(run.status, 0) << run.err;
    return run.err;
  };
  write("take.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 1);
  render("take.aiff", "aiff.aiff");
  EXPECT_EQ(markersOf("aiff.aiff"), verse);
  // The names become labl texts.
  render("take.aiff", "aiff.wav");
  EXPECT_EQ(markersOf("aiff.wav"), verse);
  EXPECT_EQ(Slurp(folder / "aiff.wav").find("Outro"), std::string::npos);
  // FLAC's cue sheet holds a disc's tracks, not named markers.
  const std::string toFlac = render("take.aiff", "aiff.flac");
  EXPECT_NE(toFlac.find("warning: 'aiff.flac' has no room for the input's 2 cue markers; left out (write AIFF to keep them)"),
            std::string::npos)
      << toFlac;
  // A WAV marker's id past AIFF's 16 bits is renumbered; its name comes
  // from the labl text, its region is left out and said to be.
  write("take.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 65537);
  {
    auto entry = [&](const std::string& id, const std::string& text) {
      return id + le32(text.size()) + text + (text.size() % 2 ? std::string(1, '\0') : "");
    };
    const std::string adtl = "adtl" + entry("labl", le32(65537) + "Verse" + '\0') +
                             entry("ltxt", le32(65537) + le32(50) + "rgn " + std::string(8, '\0'));
    std::string wav = Slurp(folder / "take.wav");
    wav += "LIST" + le32(adtl.size()) + adtl;
    wav.replace(4, 4, le32(wav.size() - 8));
    std::ofstream(folder / "take.wav", std::ios::binary) << wav;
  }
  const std::string toAiff = render("take.wav", "wav.aiff");
  EXPECT_EQ(markersOf("wav.aiff"), verse);
  EXPECT_NE(toAiff.find("warning: 'wav.aiff' has no room for the input's marker notes and regions (LIST/adtl); left out"),
            std::string::npos)
      << toAiff;
  // RF64: libsndfile neither reads nor writes its cue chunk.
  write("take.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_24, 1, le32(1) + le32(1) + le32(0) + "data" + le32(0) + le32(0) + le32(100));
  const std::string fromRf64 = render("take.rf64", "rf64.wav");
  EXPECT_NE(fromRf64.find("has no room for the input's cue markers (RF64)"), std::string::npos) << fromRf64;
  const RunResult streamed = RunRender(folder, {"take.aiff", "-o", "-", "--type", "wav", "--no-pictures", "--module", kVst3Bundle});
  EXPECT_NE(streamed.err.find("standard output has no room for the input's 2 cue markers"), std::string::npos)
      << streamed.err;
}

TEST(RenderMetadata, SamplerLoopsAreCarriedIntoTheirOwnFormatAndNamedElsewhere) {
  ScratchFolder folder;
  const Audio input = TestSignal(0.1);
  // A WAV file's smpl chunk and an AIFF file's INST chunk (its sustain loop
  // between markers 1 and 2), as samplers write them.
  const std::string smpl = std::string(28, '\0') + std::string("\1\0\0\0", 4) + std::string(4, '\0') +
                           std::string(8, '\0') + std::string("\x2c\1\0\0\xb8\x0b\0\0", 8) + std::string(8, '\0');
  const std::string inst("\x39\0\1\x7f\1\x7f\0\0\0\1\0\1\0\2\0\0\0\0\0\0", 20);
  auto write = [&](const std::string& name, int format, const char* id, const std::string& payload) {
    ASSERT_TRUE(WriteMarkedFile(folder / name, format, input.Frames(),
                                {{1, 300, "Loop start"}, {2, 3000, "Loop end"}}, {{id, payload}}));
  };
  write("take.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, "smpl", smpl);
  write("take.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, "INST", inst);
  struct Case {
    const char* from;
    const char* to;
    std::string kept;   // the chunk as the output holds it
    const char* named;  // or the warning's words where it has no room
  };
  const std::string intLe = std::string("smpl") + std::string("\x3c\0\0\0", 4) + smpl;
  const std::string intBe = std::string("INST") + std::string("\0\0\0\x14", 4) + inst;
  for (const Case& c : {Case{"take.wav", "wav.wav", intLe, nullptr},
                        Case{"take.wav", "wav.aiff", "", "smpl chunk; left out (write WAV to keep them)"},
                        Case{"take.aiff", "aiff.aiff", intBe, nullptr},
                        Case{"take.aiff", "aiff.wav", "", "INST chunk; left out (write AIFF to keep them)"},
                        Case{"take.aiff", "aiff.flac", "", "INST chunk; left out (write AIFF to keep them)"}}) {
    const RunResult run = RunRender(folder, {c.from, "-o", c.to, "--no-pictures", "--module", kVst3Bundle});
    ASSERT_EQ(run.status, 0) << run.err;
    if (!c.named) {
      EXPECT_NE(Slurp(folder / c.to).find(c.kept), std::string::npos) << c.to;
      EXPECT_EQ(run.err.find("no room"), std::string::npos) << c.to << ": " << run.err;
      continue;
    }
    EXPECT_NE(run.err.find(c.named), std::string::npos) << c.to << ": " << run.err;
  }
}

// BS.1770's calibration: a 997 Hz sine at -20 dBFS in one channel reads
// -23.0 LUFS. The figures go into the summary and into the output's
// broadcast-wave chunk, whose coding history then names this program.
TEST(RenderLoudness, CalibrationToneReadsAsTheStandardSaysInTheSummaryAndTheBroadcastChunk) {
  ScratchFolder folder;
  Audio tone;
  tone.rate = 48000;
  tone.channels.assign(2, std::vector<double>(48000, 0.0));
  for (size_t n = 0; n < 48000; ++n) tone.channels[0][n] = 0.1 * std::sin(2 * M_PI * 997 * static_cast<double>(n) / 48000);
  ASSERT_TRUE(WriteAudio(folder / "tone.wav", tone, SF_FORMAT_FLOAT, SF_FORMAT_WAV, [](SNDFILE* file) {
    SF_BROADCAST_INFO bext{};
    strcpy(bext.description, "calibration");
    return sf_command(file, SFC_SET_BROADCAST_INFO, &bext, sizeof(bext)) == SF_TRUE;
  }));
  RunResult run = RunRender(folder, {"tone.wav", "-o", "out.wav", "--no-pictures", "--set", "BYPASS=on", "--module",
                                     kVst3Bundle});
  ASSERT_EQ(run.status, 0) << run.err;
  // EBU Tech 3341 allows 0.1 LU either way.
  const size_t shown = run.out.find(" LUFS");
  ASSERT_NE(shown, std::string::npos) << run.out;
  EXPECT_NEAR(std::stod(run.out.substr(run.out.rfind(' ', shown - 1))), -23.01, 0.1) << run.out;
  SF_INFO info{};
  SNDFILE* file = sf_open((folder / "out.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr);
  SF_BROADCAST_INFO_VAR(4096) bext{};
  ASSERT_EQ(sf_command(file, SFC_GET_BROADCAST_INFO, &bext, sizeof(bext)), SF_TRUE);
  sf_close(file);
  EXPECT_EQ(bext.version, 2);
  EXPECT_NEAR(bext.loudness_value, -2301, 10);
  EXPECT_NEAR(bext.max_true_peak_level, -2000, 5);
  const std::string history(bext.coding_history, strnlen(bext.coding_history, bext.coding_history_size));
  EXPECT_NE(history.find("T=Kestrune-"), std::string::npos) << history;

  // The same figures for scripts: one JSON object a line.
  RunResult json = RunRender(folder, {"tone.wav", "-o", "json.wav", "--no-pictures", "--json", "--set", "BYPASS=on",
                                      "--module", kVst3Bundle});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out.find("{\"input\": \"tone.wav\", \"output\": \"json.wav\""), 0u) << json.out;
  EXPECT_EQ(json.out.find('\n'), json.out.size() - 1) << json.out;
  EXPECT_NE(json.out.find("\"output_levels\": {\"peak_dbfs\": "), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"integrated_lufs\": -23."), std::string::npos) << json.out;
}

TEST(RenderStreams, StandardInputToStandardOutputMatchesTheFileRender) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "in.wav", TestSignal(0.4), SF_FORMAT_PCM_16));
  ASSERT_EQ(RunRender(folder, {"in.wav", "-o", "ref.flac", "--no-pictures", "--module", kVst3Bundle}).status, 0);
  RunResult piped = RunRender(folder, {"-", "-o", "-", "--type", "flac", "--module", kVst3Bundle}, folder / "in.wav");
  ASSERT_EQ(piped.status, 0) << piped.err;
  EXPECT_NE(piped.err.find("audio:        standard output (16-bit PCM"), std::string::npos) << piped.err;
  std::ofstream(folder / "piped.flac", std::ios::binary) << piped.out;
  Audio reference, fromPipe;
  ASSERT_TRUE(ReadAudio(folder / "ref.flac", reference));
  ASSERT_TRUE(ReadAudio(folder / "piped.flac", fromPipe));
  EXPECT_EQ(Differences(fromPipe.channels, reference.channels), 0u);
  // Only the two files this test wrote itself, and the reference.
  EXPECT_EQ(folder.Names(), (std::set<std::string>{"in.wav", "ref.flac", "piped.flac"}));

  // Raw: the samples alone, little-endian, as sox writes them.
  RunResult raw = RunRender(folder, {"-", "-o", "-", "--type", "raw", "--module", kVst3Bundle}, folder / "in.wav");
  ASSERT_EQ(raw.status, 0) << raw.err;
  ASSERT_EQ(raw.out.size(), reference.Frames() * 2 * 2);
  size_t rawDifferences = 0;
  for (size_t n = 0; n < reference.Frames(); ++n) {
    for (size_t c = 0; c < 2; ++c) {
      const size_t at = 2 * (2 * n + c);
      const int16_t value = static_cast<int16_t>(static_cast<unsigned char>(raw.out[at]) |
                                                 static_cast<unsigned char>(raw.out[at + 1]) << 8);
      rawDifferences += value / 32768.0 != reference.channels[c][n];
    }
  }
  EXPECT_EQ(rawDifferences, 0u);

  RunResult noName = RunRender(folder, {"-", "--module", kVst3Bundle}, folder / "in.wav");
  EXPECT_EQ(noName.status, 2);
  EXPECT_NE(noName.err.find("standard input needs -o"), std::string::npos) << noName.err;
}

// `kestrune-render <(sox ...)`: a process substitution or a named pipe gives
// its bytes once, so it must be opened once, input and sidechain alike.
TEST(RenderStreams, ProcessSubstitutionAndNamedPipeAreReadOnce) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "in.flac", TestSignal(0.4), SF_FORMAT_PCM_16, SF_FORMAT_FLAC));
  ASSERT_TRUE(WriteAudio(folder / "side.wav", TestSignal(0.4, 44100, 1)));
  const std::vector<std::string> common = {"--no-pictures", "-q", "--module", kVst3Bundle};
  ASSERT_EQ(RunRender(folder, With({"in.flac", "--sidechain", "side.wav", "-o", "ref.wav"}, common)).status, 0);
  ASSERT_EQ(mkfifo((folder / "side.fifo").c_str(), 0600), 0);
  const std::string command = "cd '" + folder.Path() + "' && (cat side.wav > side.fifo &) && bash -c '" +
                              KESTRUNE_RENDER + " <(cat in.flac) --sidechain side.fifo -o piped.wav --no-pictures " +
                              "-q --module " + kVst3Bundle + "' 2> err";
  EXPECT_EQ(std::system(command.c_str()), 0) << Slurp(folder / "err");
  Audio reference, piped;
  ASSERT_TRUE(ReadAudio(folder / "ref.wav", reference));
  ASSERT_TRUE(ReadAudio(folder / "piped.wav", piped));
  EXPECT_EQ(Differences(piped.channels, reference.channels), 0u);
}

bool WriteAll(int fd, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string ReadAll(int fd) {
  std::string bytes;
  char buffer[65536];
  for (ssize_t n; (n = read(fd, buffer, sizeof(buffer))) > 0;) bytes.append(buffer, static_cast<size_t>(n));
  return bytes;
}

// Pipes both ways, as `sox ... | kestrune-render - -o - | ...` uses them.
TEST(RenderStreams, PipesAreStreamedBothWaysNothingIsStoredAndAReaderThatStopsEndsTheRun) {
  signal(SIGPIPE, SIG_IGN);  // this process writes into pipes the tool may close
  ScratchFolder folder;
  const std::string tmp = folder / "tmp";
  ASSERT_EQ(mkdir(tmp.c_str(), 0755), 0);
  ASSERT_TRUE(WriteAudio(folder / "in.flac", TestSignal(0.6), SF_FORMAT_PCM_16, SF_FORMAT_FLAC));
  ASSERT_EQ(RunRender(folder, {"in.flac", "-o", "ref.wav", "--no-pictures", "--module", kVst3Bundle}).status, 0);
  const std::string flac = Slurp(folder / "in.flac");
  const std::vector<std::string> args = {"-", "-o", "-", "--module", kVst3Bundle};

  // FLAC in through a pipe, WAV out through one: the same audio as from files.
  int toTool = -1, fromTool = -1, status = 0;
  pid_t pid = SpawnRenderPiped(folder, args, tmp, folder / "err1", toTool, fromTool);
  ASSERT_GT(pid, 0);
  std::thread feed([&] { WriteAll(toTool, flac), close(toTool); });
  const std::string wav = ReadAll(fromTool);
  feed.join();
  close(fromTool);
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Slurp(folder / "err1");
  std::ofstream(folder / "streamed.wav", std::ios::binary) << wav;
  Audio reference, streamed;
  ASSERT_TRUE(ReadAudio(folder / "ref.wav", reference));
  ASSERT_TRUE(ReadAudio(folder / "streamed.wav", streamed));
  EXPECT_EQ(Differences(streamed.channels, reference.channels), 0u);

  // That WAV, whose length was left open, read from a pipe: no length is
  // claimed, so no warning about a short file.
  pid = SpawnRenderPiped(folder, args, tmp, folder / "err2", toTool, fromTool);
  std::thread again([&] { WriteAll(toTool, wav), close(toTool); });
  const std::string twice = ReadAll(fromTool);
  again.join();
  close(fromTool);
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Slurp(folder / "err2").find("warning"), std::string::npos) << Slurp(folder / "err2");
  EXPECT_GT(twice.size(), wav.size() / 2);

  // Output comes while the input is still open; a reader that stops (as
  // `| head` does) ends the run by SIGPIPE.
  pid = SpawnRenderPiped(folder, args, tmp, folder / "err3", toTool, fromTool);
  ASSERT_TRUE(WriteAll(toTool, flac.substr(0, flac.size() / 2)));
  char first[4096];
  size_t got = 0;
  for (ssize_t n; got < sizeof(first) && (n = read(fromTool, first + got, sizeof(first) - got)) > 0;) got += n;
  EXPECT_EQ(got, sizeof(first));
  close(fromTool);
  WriteAll(toTool, flac.substr(flac.size() / 2));
  close(toTool);
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << Slurp(folder / "err3");
  EXPECT_EQ(Slurp(folder / "err3"), "");
  EXPECT_EQ(ScratchFolderNames(tmp), std::set<std::string>{});
  EXPECT_EQ(folder.Names(), (std::set<std::string>{"in.flac", "ref.wav", "streamed.wav", "tmp", "err1", "err2", "err3"}));
}

TEST(RenderStreams, SeveralInputsGoIntoTheFolderNamedByOutput) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "a.wav", TestSignal(0.3)));
  ASSERT_TRUE(WriteAudio(folder / "b.aiff", TestSignal(0.2), SF_FORMAT_PCM_24, SF_FORMAT_AIFF));
  ASSERT_TRUE(WriteAudio(folder / "a.flac", TestSignal(0.2), SF_FORMAT_PCM_16, SF_FORMAT_FLAC));
  ASSERT_EQ(mkdir((folder / "out").c_str(), 0755), 0);
  RunResult run = RunRender(folder, {"a.wav", "b.aiff", "a.flac", "-o", "out", "--module", kVst3Bundle});
  ASSERT_EQ(run.status, 0) << run.err;
  // a.wav and a.flac: pictures named by the whole name, so they do not collide.
  EXPECT_EQ(ScratchFolderNames(folder / "out"),
            (std::set<std::string>{"a.wav", "a-wav-editor.png", "a-wav-levels.png", "b.aiff", "b-editor.png",
                                   "b-levels.png", "a.flac", "a-flac-editor.png", "a-flac-levels.png"}));
  Audio b;
  ASSERT_TRUE(ReadAudio(folder / "out/b.aiff", b));
  EXPECT_EQ(b.Frames(), TestSignal(0.2).Frames());

  RunResult notAFolder = RunRender(folder, {"a.wav", "b.aiff", "-o", "one.wav", "--module", kVst3Bundle});
  EXPECT_EQ(notAFolder.status, 2);
  EXPECT_NE(notAFolder.err.find("with several inputs, -o must name a folder"), std::string::npos) << notAFolder.err;
}

TEST(RenderStreams, ParallelBatchWritesWhatASerialOneWritesWithOneBarAndReportsInInputOrder) {
  ScratchFolder folder;
  // The first takes longest, so with -j 3 the others finish before it.
  const std::vector<std::string> inputs = {"a.wav", "b.flac", "c.wav", "d.aiff"};
  // Integer WAV: libsndfile stamps a float file's PEAK chunk with the time.
  ASSERT_TRUE(WriteAudio(folder / "a.wav", TestSignal(1.5), SF_FORMAT_PCM_24));
  ASSERT_TRUE(WriteAudio(folder / "b.flac", TestSignal(0.2), SF_FORMAT_PCM_16, SF_FORMAT_FLAC));
  ASSERT_TRUE(WriteAudio(folder / "c.wav", TestSignal(0.3, 48000, 1), SF_FORMAT_PCM_16));
  ASSERT_TRUE(WriteAudio(folder / "d.aiff", TestSignal(0.1), SF_FORMAT_PCM_24, SF_FORMAT_AIFF));
  // Pictures take most of the time; parallel ones were seen to match by hand.
  const std::vector<std::string> common = {"--json", "--no-pictures", "--module", kVst3Bundle};
  const RunResult serial = RunRender(folder, With(With(inputs, {"-o", "serial/", "-j", "1"}), common));
  const RunResult parallel = RunRender(folder, With(With(inputs, {"-o", "parallel/", "-j3", "--progress"}), common));
  ASSERT_EQ(serial.status, 0) << serial.err;
  ASSERT_EQ(parallel.status, 0) << parallel.err;
  const std::set<std::string> names = ScratchFolderNames(folder / "serial");
  EXPECT_EQ(names.size(), 4u);
  EXPECT_EQ(ScratchFolderNames(folder / "parallel"), names);
  for (const std::string& name : names) {
    EXPECT_TRUE(Slurp(folder / ("parallel/" + name)) == Slurp(folder / ("serial/" + name))) << name;
  }
  std::istringstream lines(parallel.out);
  std::string line;
  for (const std::string& input : inputs) {
    ASSERT_TRUE(std::getline(lines, line)) << parallel.out;
    EXPECT_EQ(line.rfind("{\"input\": \"" + input + "\"", 0), 0u) << line;
  }
  // One bar for the batch, none per input.
  std::vector<std::string> bars = Segments(parallel.err);
  bars.erase(std::remove_if(bars.begin(), bars.end(),
                            [](const std::string& bar) { return bar.find_first_not_of(' ') == std::string::npos; }),
             bars.end());
  ASSERT_FALSE(bars.empty());
  for (const std::string& bar : bars) EXPECT_NE(bar.find(" of 4 inputs done"), std::string::npos) << bar;
  EXPECT_NE(bars.back().find("100%  4 of 4 inputs done"), std::string::npos) << bars.back();

  // A failing input in the middle and a missing one: the others are rendered
  // all the same, the failures are listed, and the status is the first's.
  std::ofstream(folder / "bad.wav") << "not audio";
  const RunResult failed =
      RunRender(folder, With({"a.wav", "bad.wav", "c.wav", "gone.wav", "-o", "failed/", "-j", "3"}, common));
  EXPECT_EQ(failed.status, 3);
  EXPECT_EQ(failed.err.find("kestrune-render: error: input 'bad.wav'"), 0u) << failed.err;
  const std::string listed = "kestrune-render: 2 of 4 inputs failed: 'bad.wav', 'gone.wav'\n";
  EXPECT_EQ(failed.err.substr(failed.err.size() - std::min(failed.err.size(), listed.size())), listed) << failed.err;
  EXPECT_NE(failed.out.find("{\"input\": \"gone.wav\", \"output\": \"failed/gone.wav\", \"status\": 3, "
                            "\"error\": \"input 'gone.wav' does not exist\"}\n"),
            std::string::npos)
      << failed.out;
  EXPECT_EQ(ScratchFolderNames(folder / "failed"), (std::set<std::string>{"a.wav", "c.wav"}));
  EXPECT_TRUE(Slurp(folder / "failed/c.wav") == Slurp(folder / "serial/c.wav"));
}

// The kestrune-render examples of the README, read from it so they cannot
// drift, run as written by a shell in a folder holding the inputs they
// name, with a home folder of its own where the modules are installed.
TEST(RenderReadme, EveryExampleRunsAsWritten) {
  if (system("command -v sox >/dev/null") != 0) GTEST_SKIP() << "sox is missing: scripts/install-deps.sh";
  const std::string readme = Slurp(KESTRUNE_README);
  const size_t section = readme.find("### kestrune-render");
  ASSERT_NE(section, std::string::npos);
  const size_t begin = readme.find("```sh\n", section);
  ASSERT_NE(begin, std::string::npos);
  const size_t end = readme.find("```", begin + 6);
  std::vector<std::string> examples;
  std::istringstream lines(readme.substr(begin + 6, end - begin - 6));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) examples.push_back(line);
  }
  ASSERT_GE(examples.size(), 5u);
  ScratchFolder folder;
  const std::string home = folder / "home";
  // As the per-user install lays them out.
  const std::string presets = home + "/.vst3/presets/Marlowind/Kestrune";
  ASSERT_EQ(system(("mkdir -p '" + presets + "' '" + home + "/.vst' '" + home + "/.lv2' && cp -r '" + kVst3Bundle +
                    "' '" + home + "/.vst3/' && cp '" + std::string(KESTRUNE_VST2_MODULE) + "' '" + home +
                    "/.vst/Kestrune.so' && cp -r '" + KESTRUNE_LV2_BUNDLE + "' '" + home + "/.lv2/' && cp '" +
                    KESTRUNE_PRESETS_DIR + "'/vst3/*.vstpreset '" + presets + "/'")
                       .c_str()),
            0);
  // Every audio file an example reads: a name ending in .wav, .flac or
  // .aiff that no -o or '>' writes.
  for (const std::string& example : examples) {
    std::istringstream words(example);
    std::string previous;
    for (std::string word; words >> word; previous = word) {
      const std::string ext = word.substr(std::min(word.size(), word.rfind('.')));
      if ((ext == ".wav" || ext == ".flac" || ext == ".aiff") && previous != "-o" && previous != ">" &&
          !std::ifstream(folder / word)) {
        ASSERT_TRUE(WriteAudio(folder / word, TestSignal(0.3), SF_FORMAT_PCM_16,
                               ext == ".flac" ? SF_FORMAT_FLAC : ext == ".aiff" ? SF_FORMAT_AIFF : SF_FORMAT_WAV))
            << word;
      }
    }
  }
  std::string binFolder = KESTRUNE_RENDER;
  binFolder.erase(binFolder.rfind('/'));
  for (const std::string& example : examples) {
    setenv("KESTRUNE_EXAMPLE", example.c_str(), 1);
    const int status = system(("cd '" + folder.Path() + "' && HOME='" + home + "' PATH='" + binFolder +
                               ":'\"$PATH\" sh -c \"$KESTRUNE_EXAMPLE\" >/dev/null 2>example-err")
                                  .c_str());
    EXPECT_EQ(status, 0) << example << "\n" << Slurp(folder / "example-err");
  }
  unsetenv("KESTRUNE_EXAMPLE");
  EXPECT_TRUE(std::ifstream(folder / "squashed/take3.flac")) << "the folder example";
  EXPECT_EQ(Slurp(folder / "out.flac").substr(0, 4), "fLaC");
}

TEST(RenderStreams, VersionAndDoubleDashEndingTheOptions) {
  ScratchFolder folder;
  RunResult version = RunRender(folder, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("kestrune-render ", 0), 0u) << version.out;
  EXPECT_GT(version.out.size(), std::string("kestrune-render \n").size());

  ASSERT_TRUE(WriteAudio(folder / "-take.wav", TestSignal(0.2)));
  RunResult dashed = RunRender(folder, {"--no-pictures", "--module", kVst3Bundle, "--", "-take.wav"});
  ASSERT_EQ(dashed.status, 0) << dashed.err;
  EXPECT_TRUE(folder.Names().count("-take-kestrune.wav"));
}

class RenderSidechainLength : public ::testing::TestWithParam<std::string> {};

TEST_P(RenderSidechainLength, ShorterIsPaddedWithSilenceAndLongerTrimmedWithAWarning) {
  ScratchFolder folder;
  const Audio input = TestSignal(1.0, 44100, 2, 0.0);
  const Audio sidechain = TestSignal(0.6, 44100, 2, 0.9);
  ASSERT_TRUE(WriteAudio(folder / "in.wav", input));
  ASSERT_TRUE(WriteAudio(folder / "short.wav", sidechain));
  ASSERT_TRUE(WriteAudio(folder / "long.wav", TestSignal(1.4, 44100, 2, 0.9)));
  const std::vector<std::string> common =
      With({"--no-pictures", "--sample-format", "float", "--set", "INPUT=40"}, DetectedModuleArgs(GetParam()));
  RunResult padded = RunRender(folder, With({"in.wav", "--sidechain", "short.wav", "-o", "padded.wav"}, common));
  ASSERT_EQ(padded.status, 0) << padded.err;
  EXPECT_NE(padded.err.find("warning: sidechain 'short.wav' has 26460 frames, the input 44100; padded with silence"),
            std::string::npos)
      << padded.err;
  Audio out;
  ASSERT_TRUE(ReadAudio(folder / "padded.wav", out));
  Audio extended = sidechain;
  for (auto& channel : extended.channels) channel.resize(input.Frames(), 0.0);
  const Channels expected =
      RenderInProcess(input, &extended, {{kestrune::kInput, 40}, {kestrune::kSidechain, 0}}, 512, false);
  EXPECT_EQ(Differences(out.channels, expected), 0u);

  RunResult trimmed = RunRender(folder, With({"in.wav", "--sidechain", "long.wav", "-o", "trimmed.wav"}, common));
  ASSERT_EQ(trimmed.status, 0) << trimmed.err;
  EXPECT_NE(trimmed.err.find("warning: sidechain 'long.wav' has " + std::to_string(TestSignal(1.4).Frames()) +
                             " frames, the input 44100; the rest was left out"),
            std::string::npos)
      << trimmed.err;
  // Found by its exported entry: the summary names the format it loaded.
  EXPECT_NE(trimmed.out.find(std::string("Kestrune ") + (GetParam() == "vst2" ? "VST2" : "VST3")), std::string::npos)
      << trimmed.out;
}

INSTANTIATE_TEST_SUITE_P(Formats, RenderSidechainLength, ::testing::Values("vst3", "vst2"),
                         [](const auto& info) { return info.param; });

}  // namespace
