// The debug log: one process-wide log file; every operation of every running
// program of the system takes the named mutex "VelbrookSoftwareLogMutex"
// (at most 10000 ms) so that their lines never interleave.
//
// Formats use "%s" for a UTF-16 text and "%ld" for a 32-bit signed number;
// "%%" is a percent sign. Nothing else is a directive.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

void SetLogFile(const std::u16string& path);
void SetLogFlush(bool flush_each_write);
void ResetLogFile();
void EnableLog(bool enabled);

// The log's process-wide state (initial path, disabled, flushing) and its
// mutex, made by DeviceStartUp and released by DeviceShutDown
// (shared/startup.cpp). Before the one and after the other every log
// operation does nothing.
void CreateLogState();
void ReleaseLogState();

// Writes `text` unchanged.
void LogText(const std::u16string& text, bool flush_now = false);

// One argument of LogFormat: a text or a 32-bit number. Holds a view of the
// caller's text, so it lives only for the call.
struct LogArg {
  LogArg(const std::u16string& t) : text(t), is_text(true) {}
  LogArg(const char16_t* t) : text(t), is_text(true) {}
  LogArg(int32_t n) : number(n) {}
  LogArg(uint32_t n) : number(static_cast<int32_t>(n)) {}
  LogArg(bool b) : number(b ? 1 : 0) {}
  std::u16string_view text;
  int32_t number = 0;
  bool is_text = false;
};

// Up to four arguments.
void LogFormat(const std::u16string& format, bool flush_now, const LogArg& a);
void LogFormat(const std::u16string& format, bool flush_now, const LogArg& a, const LogArg& b);
void LogFormat(const std::u16string& format, bool flush_now, const LogArg& a, const LogArg& b,
               const LogArg& c);
void LogFormat(const std::u16string& format, bool flush_now, const LogArg& a, const LogArg& b,
               const LogArg& c, const LogArg& d);

// Formats without logging; the formatter behind LogFormat. A directive
// without an argument of its kind is written as it stands.
std::u16string FormatLogLine(const std::u16string& format, const LogArg* args, int count);
