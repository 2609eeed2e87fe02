// kestrune-render's command line: the options, their parsing and the help
// text.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "AudioFile.h"

namespace render {

// Exit statuses, one per kind of problem; a run ended by a signal (SIGINT,
// SIGTERM, SIGHUP, SIGPIPE) dies by that signal after removing its
// temporary files.
enum ExitStatus {
  kExitOk = 0,
  kExitInternal = 1,    // out of memory or another unexpected failure
  kExitUsage = 2,       // command line, parameter names and values, outputs that collide
  kExitInput = 3,       // input, sidechain or preset file
  kExitModule = 4,      // the plug-in module
  kExitOutput = 5,      // an output file
};

struct Failure {
  int status = kExitOk;
  std::string message;
};

constexpr const char* kTool = "kestrune-render";
constexpr int kMaxBlock = 8192;

struct Options {
  std::vector<std::string> inputs;  // none: the embedded material; "-": standard input
  std::string output;               // a file, a folder (ends in '/' or exists as one) or "-"
  std::string outputType;           // --type: wav, aiff or flac
  std::string sidechain;
  std::string format;               // vst3, vst2 or lv2; empty: found from the module
  std::string module;
  std::string preset;
  std::string savePreset;
  std::string editorPng;
  double editorScale = 1.0;         // pixels per editor design unit
  std::string plotPng;
  std::vector<std::pair<std::string, std::string>> sets;
  int block = 512;
  bool doublePrecision = false;
  bool haveSampleFormat = false;
  SampleFormat sampleFormat = SampleFormat::Pcm24;
  bool dither = true;
  bool pictures = true;
  bool listParams = false;
  int progress = -1;  // -1 automatic, 0 off, 1 on
  bool quiet = false;
  bool json = false;  // the summary as one JSON object per input
  bool noClobber = false;  // -n: never replace an existing file
  int jobs = 1;            // -j: inputs rendered at once
  bool help = false;
  bool version = false;
};

bool ParseOptions(int argc, char** argv, Options& options, Failure& failure);
void PrintUsage(FILE* out);

// Whole numbers and plain decimal numbers only: no hexadecimal, no
// infinity, nothing after the number.
bool ParseInt(const std::string& text, int& value);
bool ParsePlainNumber(const std::string& text, double& value);

}  // namespace render
