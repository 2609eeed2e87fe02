// Tracing hook. Every notable operation reports a tag ("Class::Operation"),
// a line number and a printf-style message. This build writes nothing: the
// hook exists so the call sites document what a diagnostic build would log.
#pragma once

#include <cstddef>
#include <ctime>

inline void TraceLine(const char* /*tag*/, int /*line*/, const char* /*format*/, ...) {}

// The process-wide trace stamp: "YYYYmmdd HH:MM +hhmm", local time and its
// offset from UTC. Built once, on first use.
const char* TraceStamp();

// Formats the stamp from a local and a UTC broken-down time of one instant.
void FormatTraceStamp(const std::tm& local, const std::tm& utc, char* out, size_t outSize);
