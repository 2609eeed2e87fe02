// A small check runner for the Windows test programs (GoogleTest is not
// built for MinGW here): named tests, CHECK with a message, and the closing
// "N passed, N failed" line ctest and CI read.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>

namespace kestrune_wine {

// ---------------------------------------------------------------- checks

struct Runner {
  int passed = 0;
  int failed = 0;
  int skipped = 0;
  bool current = true;
  std::string currentName;

  static Runner& Get() {
    static Runner runner;
    return runner;
  }
  void Run(const char* name, const std::function<void()>& test) {
    current = true;
    currentName = name;
    std::printf("[ RUN  ] %s\n", name);
    std::fflush(stdout);
    test();
    if (current) {
      ++passed;
      std::printf("[   OK ] %s\n", name);
    } else {
      ++failed;
      std::printf("[ FAIL ] %s\n", name);
    }
    std::fflush(stdout);
  }
  void Skip(const char* name, const char* why) {
    ++skipped;
    std::printf("[ SKIP ] %s: %s\n", name, why);
  }
  // 77 (ctest's "skipped") when all that ran passed but something could not run.
  int Finish() {
    if (skipped)
      std::printf("%d passed, %d failed, %d skipped\n", passed, failed, skipped);
    else
      std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed ? 1 : skipped ? 77 : 0;
  }
};

inline bool CheckThat(bool ok, const char* file, int line, const char* what, const char* format,
                      ...) {
  if (ok) return true;
  Runner::Get().current = false;
  char detail[512] = {};
  if (format && *format) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(detail, sizeof detail, format, args);
    va_end(args);
  }
  std::printf("  %s:%d: %s %s\n", file, line, what, detail);
  return false;
}

#define CHECK(cond, ...) \
  ::kestrune_wine::CheckThat(static_cast<bool>(cond), __FILE__, __LINE__, #cond, "" __VA_ARGS__)

// Pumps the thread's messages for `ms` milliseconds (timers, paints, posted input).
inline void PumpMessages(DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  do {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Sleep(5);
  } while (static_cast<LONG>(end - GetTickCount()) > 0);
}

}  // namespace kestrune_wine
