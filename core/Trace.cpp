#include "Trace.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

void FormatTraceStamp(const std::tm& local, const std::tm& utc, char* out, size_t outSize) {
  if (!out || outSize == 0) return;
  char when[32];
  if (strftime(when, sizeof when, "%Y%m%d %H:%M ", &local) == 0) when[0] = '\0';

  int minutes = (local.tm_hour * 60 + local.tm_min) - (utc.tm_hour * 60 + utc.tm_min);
  // Across a year end the day of the year jumps; count such a jump as one day.
  int dayDiff = local.tm_yday - utc.tm_yday;
  if (dayDiff > 1) dayDiff = -1;
  else if (dayDiff < -1) dayDiff = 1;
  minutes += dayDiff * 24 * 60;

  char sign = minutes >= 0 ? '+' : '-';
  int absolute = abs(minutes);
  snprintf(out, outSize, "%s%c%02d%02d", when, sign, absolute / 60, absolute % 60);
}

const char* TraceStamp() {
  static char stamp[64];
  static std::once_flag once;
  std::call_once(once, [] {
    std::time_t now = std::time(nullptr);
    std::tm local{}, utc{};
#if defined(_WIN32)
    localtime_s(&local, &now);
    gmtime_s(&utc, &now);
#else
    localtime_r(&now, &local);
    gmtime_r(&now, &utc);
#endif
    FormatTraceStamp(local, utc, stamp, sizeof stamp);
  });
  return stamp;
}
