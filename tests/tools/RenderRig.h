// What the renderer's end-to-end tests share: a scratch folder, audio files
// written and read with libsndfile, running the built kestrune-render, and
// the same effect driven in-process for reference.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sndfile.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Kestrune.h"

extern char** environ;

namespace rig {

// The built modules the renderer loads.
inline const std::string kVst3Bundle = KESTRUNE_VST3_BUNDLE;
inline const std::string kVst2Module = KESTRUNE_VST2_MODULE;

// The arguments with more appended.
inline std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

using Channels = std::vector<std::vector<double>>;

struct Audio {
  double rate = 44100;
  Channels channels;
  size_t Frames() const { return channels.empty() ? 0 : channels[0].size(); }
};

class ScratchFolder {
 public:
  ScratchFolder() {
    char pattern[] = "/tmp/kestrune-render-test-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~ScratchFolder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }
  std::set<std::string> Names() const;

 private:
  std::string path_;
};

inline std::set<std::string> ScratchFolderNames(const std::string& path) {
  std::set<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(dir);
  }
  return names;
}

inline std::set<std::string> ScratchFolder::Names() const { return ScratchFolderNames(path_); }

// Writes `audio` (`repeats` times over) to a new file; `tag`, when given,
// first adds what a test needs to the file's header and says if it could.
inline bool WriteAudio(const std::string& path, const Audio& audio, int subtype = SF_FORMAT_FLOAT,
                       int container = SF_FORMAT_WAV, const std::function<bool(SNDFILE*)>& tag = nullptr,
                       int repeats = 1) {
  SF_INFO info{};
  info.samplerate = static_cast<int>(audio.rate);
  info.channels = static_cast<int>(audio.channels.size());
  info.format = container | subtype;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file) return false;
  const bool tagged = !tag || tag(file);
  std::vector<double> interleaved(audio.Frames() * audio.channels.size());
  for (size_t n = 0; n < audio.Frames(); ++n) {
    for (size_t c = 0; c < audio.channels.size(); ++c) {
      interleaved[n * audio.channels.size() + c] = audio.channels[c][n];
    }
  }
  for (int i = 0; i < repeats; ++i)
    sf_writef_double(file, interleaved.data(), static_cast<sf_count_t>(audio.Frames()));
  return sf_close(file) == 0 && tagged;
}

inline bool ReadAudio(const std::string& path, Audio& audio) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) return false;
  std::vector<double> interleaved(static_cast<size_t>(info.frames * info.channels));
  sf_readf_double(file, interleaved.data(), info.frames);
  sf_close(file);
  audio.rate = info.samplerate;
  audio.channels.assign(static_cast<size_t>(info.channels), std::vector<double>(static_cast<size_t>(info.frames)));
  for (size_t n = 0; n < static_cast<size_t>(info.frames); ++n) {
    for (size_t c = 0; c < static_cast<size_t>(info.channels); ++c) {
      audio.channels[c][n] = interleaved[n * static_cast<size_t>(info.channels) + c];
    }
  }
  return true;
}

// Drum-like bursts over a quiet tone; values are exact floats.
inline Audio TestSignal(double seconds, double rate = 44100, int channels = 2, double level = 0.8) {
  Audio audio;
  audio.rate = rate;
  const size_t frames = static_cast<size_t>(seconds * rate);
  audio.channels.assign(static_cast<size_t>(channels), std::vector<double>(frames));
  uint32_t noise = 12345;
  for (size_t n = 0; n < frames; ++n) {
    const double t = static_cast<double>(n) / rate;
    const double beat = std::fmod(t, 0.25);
    noise = noise * 1664525u + 1013904223u;
    const double white = static_cast<double>(noise >> 8) / 8388608.0 - 1.0;
    const double hit = level * std::exp(-beat * 25.0) * (0.7 * std::sin(2 * M_PI * 70 * beat) + 0.3 * white);
    const double tone = 0.05 * std::sin(2 * M_PI * 330 * t);
    for (int c = 0; c < channels; ++c) {
      audio.channels[static_cast<size_t>(c)][n] = static_cast<float>(hit + tone * (c == 0 ? 1.0 : 0.8));
    }
  }
  return audio;
}

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
  long peakKiB = -1;  // the renderer's largest resident size, when asked for
};

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// kestrune-render with `args`, after `prefix` (a program that runs it).
inline std::vector<std::string> RenderCommand(const std::vector<std::string>& args,
                                              std::vector<std::string> prefix = {}) {
  prefix.push_back(KESTRUNE_RENDER);
  prefix.insert(prefix.end(), args.begin(), args.end());
  return prefix;
}

// Spawns `command` in `folder` with the given file actions (destroyed here)
// and SIGPIPE at its default: the test runner may ignore it, and the tool
// must not inherit that. Returns the pid, or -1.
inline pid_t SpawnInFolder(const ScratchFolder& folder, const std::vector<std::string>& command,
                           char* const* envp, posix_spawn_file_actions_t& actions) {
  std::vector<char*> argv;
  for (auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  char previous[4096];
  pid_t pid = -1;
  if (getcwd(previous, sizeof(previous)) && chdir(folder.Path().c_str()) == 0) {
    if (posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp) != 0) pid = -1;
    if (chdir(previous) != 0) pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return pid;
}

// Starts kestrune-render in `folder` without waiting; its output is dropped,
// its stderr too unless `errPath` names a file for it.
inline pid_t SpawnRender(const ScratchFolder& folder, const std::vector<std::string>& args,
                         const std::string& errPath = "/dev/null") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  return SpawnInFolder(folder, RenderCommand(args), environ, actions);
}

// Runs kestrune-render with `args` in `folder`, capturing its output;
// standard input comes from `stdinPath` when given. With `measurePeak` it
// runs under GNU time, which reports the renderer's own peak: a child
// spawned straight from this (much larger) process would be charged this
// process's peak as well.
inline RunResult RunRender(const ScratchFolder& folder, const std::vector<std::string>& args,
                           const std::string& stdinPath = "", bool measurePeak = false) {
  const std::string outPath = folder.Path() + "/../" + "render-stdout-" + std::to_string(getpid());
  const std::string errPath = folder.Path() + "/../" + "render-stderr-" + std::to_string(getpid());
  const std::string peakPath = folder.Path() + "/../" + "render-peak-" + std::to_string(getpid());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!stdinPath.empty()) posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY, 0);
  RunResult result;
  // The tool writes relative output names into the folder it runs in.
  const pid_t pid = SpawnInFolder(
      folder,
      RenderCommand(args, measurePeak ? std::vector<std::string>{"/usr/bin/time", "-f", "%M", "-o", peakPath}
                                      : std::vector<std::string>{}),
      environ, actions);
  if (pid < 0) return result;
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (measurePeak) {
    // The last line: time puts a note on a failed command's status first.
    std::istringstream lines(Slurp(peakPath));
    for (std::string line; std::getline(lines, line);) result.peakKiB = std::atol(line.c_str());
    unlink(peakPath.c_str());
  }
  result.out = Slurp(outPath);
  result.err = Slurp(errPath);
  unlink(outPath.c_str());
  unlink(errPath.c_str());
  return result;
}

// Starts kestrune-render in `folder` with standard input and output on pipes
// (`toTool` feeds it, `fromTool` gets what it writes), stderr into `errPath`,
// TMPDIR set to `tmpdir` and SIGPIPE at its default.
inline pid_t SpawnRenderPiped(const ScratchFolder& folder, const std::vector<std::string>& args,
                              const std::string& tmpdir, const std::string& errPath, int& toTool, int& fromTool) {
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return -1;
  std::vector<std::string> env = {"TMPDIR=" + tmpdir};
  for (char** e = environ; *e; ++e) {
    if (strncmp(*e, "TMPDIR=", 7) != 0) env.push_back(*e);
  }
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&actions, fd);
  const pid_t pid = SpawnInFolder(folder, RenderCommand(args), envp.data(), actions);
  close(in[0]);
  close(out[1]);
  toTool = in[1];
  fromTool = out[0];
  return pid;
}

// Runs kestrune-render with its stderr going into a pipe whose reading end
// is already closed, as in `kestrune-render ... 2>&1 | head -c 0`; returns
// the wait status.
inline int RunRenderIntoClosedPipe(const ScratchFolder& folder, const std::vector<std::string>& args) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  close(fds[0]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  const pid_t pid = SpawnInFolder(folder, RenderCommand(args), environ, actions);
  close(fds[1]);
  int status = -1;
  if (pid > 0) waitpid(pid, &status, 0);
  return status;
}

// Sets the total-samples field of a FLAC file's STREAMINFO block (0 means
// "unknown"), and optionally cuts the file to `keepBytes`.
inline bool SetFlacTotalSamples(const std::string& path, uint64_t total, size_t keepBytes = 0) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 26 || bytes.compare(0, 4, "fLaC") != 0) return false;
  // Bytes 18..25: 20 bits sample rate, 3 channels, 5 bits per sample, 36 total samples.
  uint64_t field = 0;
  for (int i = 18; i < 26; ++i) field = (field << 8) | static_cast<unsigned char>(bytes[static_cast<size_t>(i)]);
  field = (field & ~((uint64_t{1} << 36) - 1)) | (total & ((uint64_t{1} << 36) - 1));
  for (int i = 25; i >= 18; --i, field >>= 8) bytes[static_cast<size_t>(i)] = static_cast<char>(field & 0xFF);
  if (keepBytes) bytes.resize(std::min(keepBytes, bytes.size()));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

// Width and height from a PNG file's header; false if it is not a PNG.
inline bool PngSize(const std::string& path, int& width, int& height) {
  std::ifstream in(path, std::ios::binary);
  unsigned char header[24] = {};
  if (!in.read(reinterpret_cast<char*>(header), 24)) return false;
  if (memcmp(header, "\x89PNG\r\n\x1a\n", 8) != 0) return false;
  width = (header[16] << 24) | (header[17] << 16) | (header[18] << 8) | header[19];
  height = (header[20] << 24) | (header[21] << 16) | (header[22] << 8) | header[23];
  return true;
}

// The same effect in-process, started as the bindings start it, with plain
// values set as a host's typed entry sets them.
struct Setting {
  int index;
  double plain;
};

inline Channels RenderInProcess(const Audio& input, const Audio* sidechain,
                                const std::vector<Setting>& settings, int block, bool doublePrecision) {
  TestHost host;
  Kestrune plug(&host);
  plug.SetSampleRate(input.rate);
  plug.ChangeBlockSize(block);
  plug.NotifyAllParamsChanged();
  plug.ResetProcessing();
  for (const Setting& s : settings) {
    PlugLockGuard guard(plug);
    plug.ParamAt(s.index)->SetClamped(s.plain);
    plug.ParamChanged(s.index);
  }
  const size_t frames = input.Frames();
  Channels out(2, std::vector<double>(frames));
  const std::vector<double> silence(frames, 0.0);
  const double* sources[4] = {input.channels[0].data(),
                              input.channels[input.channels.size() > 1 ? 1 : 0].data(),
                              sidechain ? sidechain->channels[0].data() : silence.data(),
                              sidechain ? sidechain->channels[1].data() : silence.data()};
  std::vector<std::vector<float>> floatIn(4, std::vector<float>(frames));
  std::vector<std::vector<float>> floatOut(2, std::vector<float>(frames));
  for (int c = 0; c < 4; ++c) {
    for (size_t n = 0; n < frames; ++n) floatIn[c][n] = static_cast<float>(sources[c][n]);
  }
  for (size_t pos = 0; pos < frames; pos += static_cast<size_t>(block)) {
    const int n = static_cast<int>(std::min(static_cast<size_t>(block), frames - pos));
    if (doublePrecision) {
      const double* ins[4] = {sources[0] + pos, sources[1] + pos, sources[2] + pos, sources[3] + pos};
      double* outs[2] = {&out[0][pos], &out[1][pos]};
      plug.ProcessHostBlock(ins, 4, outs, 2, n);
    } else {
      const float* ins[4] = {&floatIn[0][pos], &floatIn[1][pos], &floatIn[2][pos], &floatIn[3][pos]};
      float* outs[2] = {&floatOut[0][pos], &floatOut[1][pos]};
      plug.ProcessHostBlock(ins, 4, outs, 2, n);
    }
  }
  if (!doublePrecision) {
    for (int c = 0; c < 2; ++c) {
      for (size_t n = 0; n < frames; ++n) out[c][n] = floatOut[c][n];
    }
  }
  return out;
}

// Number of samples that differ between two renders (all of them when the
// shapes differ).
inline size_t Differences(const Channels& a, const Channels& b) {
  if (a.size() != b.size() || a.empty() || a[0].size() != b[0].size()) return SIZE_MAX;
  size_t count = 0;
  for (size_t c = 0; c < a.size(); ++c) {
    for (size_t n = 0; n < a[c].size(); ++n) count += a[c][n] != b[c][n];
  }
  return count;
}

}  // namespace rig
