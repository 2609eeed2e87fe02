#include "RenderOptions.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "PendingFile.h"

namespace render {

void PrintUsage(FILE* out) {
  fprintf(out,
          "usage: %s [options] [INPUT...]\n"
          "\n"
          "Renders each INPUT (WAV, AIFF or FLAC, mono or stereo; '-' reads standard\n"
          "input) through the built Kestrune plug-in, loaded as a host loads it. Without\n"
          "INPUT, eight seconds of embedded drums and bass are rendered with settings that\n"
          "make the compression obvious.\n"
          "\n"
          "  -o, --output FILE|DIR   output audio (.wav, .aif, .flac), a folder for the\n"
          "                          outputs (DIR/ is made if missing), or '-' for\n"
          "                          standard output (streamed; a FLAC stream gets only\n"
          "                          libsndfile's tags, no pictures); default: INPUT with\n"
          "                          '-kestrune' added, or kestrune-default.wav\n"
          "  --type wav|aiff|flac|raw  output type where the name does not tell (default\n"
          "                          wav; raw: samples only, little-endian); a name of\n"
          "                          another type is refused\n"
          "  --sidechain FILE        external sidechain, resampled to the input's rate if\n"
          "                          need be; a shorter one is padded with silence, a\n"
          "                          longer one trimmed; switches Sidechain to external\n"
          "                          unless --set\n"
          "  --set NAME=VALUE        set a parameter by the plug-in's name, as the plug-in\n"
          "                          shows it or in its units, e.g. ATTACK=0.8ms,\n"
          "                          RATIO=8:1 or 8, SLAM=on (repeatable; a step index\n"
          "                          is refused); see --list-params\n"
          "  --preset FILE           start from a .vstpreset, .fxp or saved state\n"
          "  --save-preset FILE      save the plug-in's state after rendering: a\n"
          "                          .vstpreset (VST3) or .fxp (VST2) preset file by\n"
          "                          its name, else the raw state\n"
          "  --format vst3|vst2|lv2|clap\n"
          "                          plug-in format (default: found from the module)\n"
          "  --module PATH           module to load (default: the build's own module,\n"
          "                          else ~/.vst3/Kestrune.vst3, ~/.vst/Kestrune.so,\n"
          "                          ~/.lv2/Kestrune.lv2 or ~/.clap/Kestrune.clap)\n"
          "  --block N               frames per processing block, 1..%d (default 512)\n"
          "  --precision 32|64       sample precision of the processing (default 32)\n"
          "  --sample-format F       pcm16, pcm24, pcm32, float or double (default: the\n"
          "                          input's, else pcm24)\n"
          "  --no-dither             no TPDF dither on 16-bit output (on by default)\n"
          "  --editor-png FILE       editor picture (default: OUTPUT name + '-editor.png')\n"
          "  --editor-scale S        editor picture at S times its size, 0.75..3 (default 1)\n"
          "  --plot-png FILE         level plot (default: OUTPUT name + '-levels.png')\n"
          "  --no-pictures           write no pictures\n"
          "  --list-params           print every parameter and exit\n"
          "  --progress, --no-progress  progress bar on stderr (default: for files longer\n"
          "                          than 20 s when stderr is a terminal)\n"
          "  -n, --no-clobber        refuse to replace an existing file (status 2)\n"
          "  -j, --jobs N            render up to N inputs at once (1..%d), each in a\n"
          "                          plug-in instance of its own (default: the number\n"
          "                          of cores); the outputs are those of -j 1, and\n"
          "                          messages and summaries come in input order\n"
          "  --json                  the summary as one JSON object (a line) per input\n"
          "  -q, --quiet             print only warnings and errors (no automatic\n"
          "                          progress bar)\n"
          "  --version               the tool's version\n"
          "  -h, --help              this text\n"
          "  --                      what follows is INPUT, even if it starts with '-'\n"
          "\n"
          "No output is written over an input, the loaded module or another output,\n"
          "nor inside a plug-in bundle (.vst3, .lv2) or a module's .images folder.\n"
          "A replaced file keeps its mode and hard links; a device or a pipe (a FIFO,\n"
          "/dev/null) is written into, not replaced. Exit status:\n"
          "0 done, 1 unexpected failure (such as running out of memory), 2 bad command\n"
          "line, parameter, colliding file names or, with -n, an existing output,\n"
          "3 unusable input, sidechain or preset file, 4 module missing, not Kestrune\n"
          "or failing, 5 output cannot be written (also a full disk or a file-size\n"
          "limit). With several inputs each is rendered whatever becomes of the\n"
          "others (a missing one too), the inputs that failed are listed at the end\n"
          "(with --json each gets a line with its status and error), and the status\n"
          "is that of the first input that failed.\n"
          "Interrupted (Ctrl-C, SIGTERM, SIGHUP, a closed pipe), it removes its\n"
          "unfinished files and ends by that signal.\n",
          kTool, kMaxBlock, kMaxParallelRenders);
}

bool ParseInt(const std::string& text, int& value) {
  if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-' || text[0] == '+')) {
    return false;
  }
  char* end = nullptr;
  long parsed = strtol(text.c_str(), &end, 10);
  if (*end || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  value = static_cast<int>(parsed);
  return true;
}

bool ParsePlainNumber(const std::string& text, double& value) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exponentDigits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  if (i != text.size()) return false;
  const double parsed = strtod(text.c_str(), nullptr);
  if (!std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

bool ParseOptions(int argc, char** argv, Options& options, Failure& failure) {
  auto usage = [&](const std::string& message) {
    failure = {kExitUsage, message + " (see --help)"};
    return false;
  };
  bool optionsEnded = false;
  bool picturesOff = false;
  bool jobsGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
      options.inputs.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string value;
    bool hasInlineValue = false;
    if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
      value = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
      hasInlineValue = true;
    }
    auto needs = [&](std::string& out) {
      if (hasInlineValue) {
        out = value;
        return true;
      }
      if (i + 1 >= argc) {
        usage("option " + arg + " needs a value");
        return false;
      }
      out = argv[++i];
      return true;
    };
    auto flag = [&]() {
      if (hasInlineValue) return usage("option " + arg + " takes no value");
      return true;
    };
    if (arg == "-h" || arg == "--help") {
      options.help = true;
      return true;
    } else if (arg == "--version") {
      options.version = true;
      return true;
    } else if (arg == "-o" || arg == "--output") {
      if (!needs(options.output)) return false;
    } else if (arg == "--type") {
      if (!needs(options.outputType)) return false;
      std::transform(options.outputType.begin(), options.outputType.end(), options.outputType.begin(), ::tolower);
      if (options.outputType == "aif") options.outputType = "aiff";
      if (options.outputType != "wav" && options.outputType != "aiff" && options.outputType != "flac" &&
          options.outputType != "raw") {
        return usage("unknown output type '" + options.outputType + "'; use wav, aiff, flac or raw");
      }
    } else if (arg == "--sidechain") {
      if (!needs(options.sidechain)) return false;
    } else if (arg == "--set") {
      std::string assignment;
      if (!needs(assignment)) return false;
      size_t equals = assignment.find('=');
      if (equals == std::string::npos || equals == 0) {
        return usage("--set needs NAME=VALUE, got '" + assignment + "'");
      }
      options.sets.emplace_back(assignment.substr(0, equals), assignment.substr(equals + 1));
    } else if (arg == "--preset") {
      if (!needs(options.preset)) return false;
    } else if (arg == "--save-preset") {
      if (!needs(options.savePreset)) return false;
    } else if (arg == "--format") {
      if (!needs(options.format)) return false;
      std::transform(options.format.begin(), options.format.end(), options.format.begin(), ::tolower);
      if (options.format != "vst3" && options.format != "vst2" && options.format != "lv2" &&
          options.format != "clap") {
        return usage("unknown plug-in format '" + options.format + "'; use vst3, vst2, lv2 or clap");
      }
    } else if (arg == "--module") {
      if (!needs(options.module)) return false;
    } else if (arg == "--block") {
      std::string text;
      if (!needs(text)) return false;
      if (!ParseInt(text, options.block) || options.block < 1 || options.block > kMaxBlock) {
        return usage("block size must be a whole number from 1 to " + std::to_string(kMaxBlock) +
                     ", got '" + text + "'");
      }
    } else if (arg == "--precision") {
      std::string text;
      if (!needs(text)) return false;
      if (text != "32" && text != "64") return usage("precision must be 32 or 64, got '" + text + "'");
      options.doublePrecision = text == "64";
    } else if (arg == "--sample-format") {
      std::string text;
      if (!needs(text)) return false;
      if (!ParseSampleFormat(text, options.sampleFormat)) {
        return usage("unknown sample format '" + text + "'; use pcm16, pcm24, pcm32, float or double");
      }
      options.haveSampleFormat = true;
    } else if (arg == "--no-dither") {
      if (!flag()) return false;
      options.dither = false;
    } else if (arg == "--editor-png") {
      if (!needs(options.editorPng)) return false;
    } else if (arg == "--editor-scale") {
      std::string text;
      if (!needs(text)) return false;
      char* end = nullptr;
      const double scale = std::strtod(text.c_str(), &end);
      if (text.empty() || !end || *end != '\0' || !(scale >= 0.75 && scale <= 3.0)) {
        return usage("editor scale must be a number from 0.75 to 3, got '" + text + "'");
      }
      options.editorScale = scale;
    } else if (arg == "--plot-png") {
      if (!needs(options.plotPng)) return false;
    } else if (arg == "--no-pictures") {
      if (!flag()) return false;
      picturesOff = true;
    } else if (arg == "--list-params") {
      if (!flag()) return false;
      options.listParams = true;
    } else if (arg == "--progress") {
      if (!flag()) return false;
      options.progress = 1;
    } else if (arg == "--no-progress") {
      if (!flag()) return false;
      options.progress = 0;
    } else if (arg == "-n" || arg == "--no-clobber") {
      if (!flag()) return false;
      options.noClobber = true;
    } else if (arg == "-j" || arg == "--jobs" || (arg.rfind("-j", 0) == 0 && arg.size() > 2)) {
      std::string text;
      if (arg.size() > 2 && arg[1] == 'j') {
        text = arg.substr(2);  // -j4
      } else if (!needs(text)) {
        return false;
      }
      if (!ParseInt(text, options.jobs) || options.jobs < 1 || options.jobs > kMaxParallelRenders) {
        return usage("-j must be a whole number from 1 to " + std::to_string(kMaxParallelRenders) + ", got '" +
                     text + "'");
      }
      jobsGiven = true;
    } else if (arg == "--json") {
      if (!flag()) return false;
      options.json = true;
    } else if (arg == "-q" || arg == "--quiet") {
      if (!flag()) return false;
      options.quiet = true;
    } else {
      return usage("unknown option '" + arg + "'");
    }
  }
  if (!jobsGiven) {
    options.jobs = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxParallelRenders);
  }
  if (picturesOff) {
    if (!options.editorPng.empty() || !options.plotPng.empty()) {
      return usage(std::string("--no-pictures contradicts ") +
                   (!options.editorPng.empty() ? "--editor-png" : "--plot-png"));
    }
    options.pictures = false;
  }
  if (std::count(options.inputs.begin(), options.inputs.end(), "-") > 1) {
    return usage("standard input ('-') can be read only once");
  }
  if (options.inputs.size() > 1 && (!options.editorPng.empty() || !options.plotPng.empty())) {
    return usage("with several inputs the pictures are named after each output; drop --editor-png and --plot-png");
  }
  if (options.inputs.size() > 1 && options.output == "-") {
    return usage("several inputs cannot all go to standard output; name a folder with -o");
  }
  for (const std::string& picture : {options.editorPng, options.plotPng}) {
    if (picture == "-") return usage("pictures cannot go to standard output; name a file");
  }
  if (options.savePreset == "-") return usage("--save-preset needs a file name");
  if (!options.sidechain.empty() && options.inputs.empty()) {
    return usage("--sidechain needs an input file");
  }
  if (options.sidechain == "-" || options.preset == "-") {
    return usage("only the input can come from standard input");
  }
  return true;
}

}  // namespace render
