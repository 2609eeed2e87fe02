// The LV2 UI in a real host: jalv.gtk3 (which embeds an X11 UI through suil)
// on a private Xvfb and a private JACK server with the dummy driver, a
// metronome click on the plug-in's inputs. A drag on the editor's INPUT knob
// with XTest must reach the DSP through the host (the gain-reduction output
// port jalv prints rises from nothing), and the gain reduction must come
// back to the editor's meter through port_event (its pixels change).
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "XTestSupport.h"

using namespace xtest;

namespace {

constexpr int kEditorWidth = 912;
constexpr int kEditorHeight = 287;
constexpr Rect kMeterRect = {592, 13, 766, 108};
constexpr int kInputX = 132, kInputY = 88;  // centre of the INPUT knob
// Hangs only: every wait below ends as soon as its condition holds.
constexpr int kHangSeconds = 30;

// A child process in its own session, ended with the test (SIGTERM by pid).
class Child {
 public:
  // `out`: a file descriptor for the child's standard output, or -1 for
  // /dev/null. Standard error goes to `errPath`.
  Child(const std::vector<std::string>& argv, int out, const std::string& errPath) {
    // Everything is ready before fork: the reader thread may hold the
    // allocator's lock at that moment, so the child only calls system calls.
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      setsid();
      dup2(devNull, 0);
      dup2(out >= 0 ? out : devNull, 1);
      dup2(err >= 0 ? err : devNull, 2);
      execvp(args[0], args.data());
      _exit(127);
    }
    close(devNull);
    if (err >= 0) close(err);
  }
  // Waits for the child's end: its exit status, or -1.
  int Wait() {
    int status = 0;
    const bool ended = pid_ > 0 && waitpid(pid_, &status, 0) == pid_;
    pid_ = -1;
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // SIGTERM, and SIGKILL for a child that has not ended within 10 s.
  ~Child() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 500; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      SleepMs(20);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

int RunToEnd(const std::vector<std::string>& argv) { return Child(argv, -1, "/dev/null").Wait(); }

// The gain reduction jalv prints (--print-controls), read as it comes.
class PrintedGainReduction {
 public:
  explicit PrintedGainReduction(int fd) : fd_(fd), reader_([this] { Read(); }) {}
  ~PrintedGainReduction() {
    reader_.join();  // ends when jalv's end closes the pipe
    close(fd_);
  }
  // The latest value, and the largest since the last call to Mark.
  bool Latest(double* value) {
    std::lock_guard<std::mutex> guard(lock_);
    *value = latest_;
    return seen_;
  }
  double LargestSinceMark() {
    std::lock_guard<std::mutex> guard(lock_);
    return largest_;
  }
  void Mark() {
    std::lock_guard<std::mutex> guard(lock_);
    largest_ = -1;
  }

 private:
  void Read() {
    std::string line;
    char c;
    while (read(fd_, &c, 1) == 1) {
      if (c != '\n') {
        line += c;
        continue;
      }
      const std::string key = "gain_reduction = ";
      if (line.compare(0, key.size(), key) == 0) {
        const double v = std::strtod(line.c_str() + key.size(), nullptr);
        std::lock_guard<std::mutex> guard(lock_);
        latest_ = v;
        seen_ = true;
        if (v > largest_) largest_ = v;
      }
      line.clear();
    }
  }
  int fd_;
  std::mutex lock_;
  double latest_ = 0, largest_ = -1;
  bool seen_ = false;
  std::thread reader_;
};

// Waits for `condition`, pumping nothing; false after kHangSeconds.
bool WaitFor(const std::function<bool()>& condition) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kHangSeconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    SleepMs(20);
  }
  return true;
}

// The editor's window: "Kestrune" at the editor's size, anywhere in the tree.
Window FindEditor(Display* display, Window w) {
  char* name = nullptr;
  XWindowAttributes a;
  if (XFetchName(display, w, &name) && name) {
    const bool match = std::string(name) == "Kestrune" && XGetWindowAttributes(display, w, &a) &&
                       a.width == kEditorWidth && a.height == kEditorHeight &&
                       a.map_state == IsViewable;
    XFree(name);
    if (match) return w;
  }
  Window root, parent, *kids = nullptr;
  unsigned int n = 0;
  Window found = 0;
  if (XQueryTree(display, w, &root, &parent, &kids, &n))
    for (unsigned int i = 0; i < n && !found; ++i) found = FindEditor(display, kids[i]);
  if (kids) XFree(kids);
  return found;
}

// Windows come and go while jalv builds its own: one that vanishes in the
// middle of the search (Xlib's default answer to that is to end the
// program) is simply not the editor.
int IgnoreVanishedWindow(Display*, XErrorEvent*) { return 0; }
Window FindEditorWhileWindowsChange(Display* display) {
  XSync(display, False);
  XErrorHandler previous = XSetErrorHandler(IgnoreVanishedWindow);
  const Window found = FindEditor(display, DefaultRootWindow(display));
  XSync(display, False);  // this search's errors arrive under its handler
  XSetErrorHandler(previous);
  return found;
}

TEST(JalvUi, DraggingInputInTheEditorReachesTheDspAndItsGainReductionMovesTheMeter) {
  const std::string work = KESTRUNE_TEST_WORK_DIR;
  const std::string lv2Path = work + "/lv2";
  mkdir(work.c_str(), 0755);
  mkdir(lv2Path.c_str(), 0755);
  unlink((lv2Path + "/Kestrune.lv2").c_str());
  ASSERT_EQ(symlink(KESTRUNE_LV2_BUNDLE, (lv2Path + "/Kestrune.lv2").c_str()), 0);
  // The same server name for every run in this build folder: JACK frees the
  // table entry of a server that was killed only when one of the same name
  // starts, so a run takes over what an interrupted one left.
  const std::string server = "kestrune_ui_test_" + std::to_string(std::hash<std::string>{}(work) % 100000000);
  setenv("LV2_PATH", lv2Path.c_str(), 1);
  setenv("HOME", work.c_str(), 1);
  setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
  setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
  setenv("JACK_NO_START_SERVER", "1", 1);

  Child jackd({"jackd", "-n", server, "-r", "-d", "dummy", "-r", "48000", "-p", "256"}, -1,
              work + "/jackd.log");
  ASSERT_EQ(RunToEnd({"jack_wait", "-w", "-t", std::to_string(kHangSeconds)}), 0)
      << "no JACK server (is jackd2 installed?); see " << work << "/jackd.log";
  Child metro({"jack_metro", "-n", "metro", "-b", "240", "-D", "50", "-A", "0.9"}, -1,
              work + "/metro.log");
  int pipeFds[2];
  ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
  // The reader before jalv: jalv ends first, and the reader sees the pipe close.
  PrintedGainReduction printed(pipeFds[0]);
  // Line-buffered, so each control change arrives as jalv prints it.
  Child jalv({"stdbuf", "-oL", "jalv.gtk3", "--print-controls", "urn:marlowind:kestrune"},
             pipeFds[1], work + "/jalv.log");
  close(pipeFds[1]);

  HostDisplay host;
  ASSERT_TRUE(host.Get());
  Window editor = 0;
  ASSERT_TRUE(WaitFor([&] { return (editor = FindEditorWhileWindowsChange(host.Get())) != 0; }))
      << "jalv showed no editor; see " << work << "/jalv.log";
  for (const char* port : {"Kestrune:in_left", "Kestrune:in_right"})
    ASSERT_TRUE(WaitFor([&] { return RunToEnd({"jack_connect", "metro:240_bpm", port}) == 0; }))
        << port;

  // INPUT at 0: the clicks cause no reduction, once the meter has settled.
  double latest = 0;
  ASSERT_TRUE(WaitFor([&] { return printed.Latest(&latest) && latest < 0.05; })) << latest;
  printed.Mark();
  // Found by its size, the window may still be on its way to the screen.
  std::vector<uint32_t> resting;
  ASSERT_TRUE(WaitFor([&] {
    resting = host.Capture(editor);
    return resting.size() == static_cast<size_t>(kEditorWidth * kEditorHeight);
  })) << "the editor's window cannot be read";

  host.MoveTo(editor, kInputX, kInputY);
  host.Button(1, true);
  for (int step = 1; step <= 12; ++step) host.MoveTo(editor, kInputX, kInputY - 5 * step);
  host.Button(1, false);

  EXPECT_TRUE(WaitFor([&] { return printed.LargestSinceMark() > 3.0; }))
      << "the DSP reports no gain reduction after the drag: " << printed.LargestSinceMark();
  std::vector<uint32_t> shot;
  EXPECT_TRUE(WaitFor([&] {
    shot = host.Capture(editor);
    return ChangedPixels(shot, resting, kEditorWidth, kMeterRect) > 50;
  })) << "the editor's meter did not move";
  SavePng(shot, kEditorWidth, kEditorHeight, work + "/jalv-editor.png");
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new VirtualDisplay);
  return RUN_ALL_TESTS();
}
