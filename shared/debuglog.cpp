#include "shared/debuglog.h"

#include "platform/platform.h"

namespace {

constexpr char16_t kInitialLogPath[] = u"\\Velbrook.log";
constexpr char16_t kLogMutexName[] = u"VelbrookSoftwareLogMutex";
constexpr uint32_t kLockTimeoutMs = 10000;

struct LogState {
  std::u16string path = kInitialLogPath;
  bool enabled = false;
  bool flush_each_write = true;
  plat::TextFile file = nullptr;
  plat::Mutex mutex = nullptr;
  bool told_no_mutex = false;

  LogState() { mutex = plat::CreateNamedMutex(kLogMutexName); }
  ~LogState() { Close(); }
  LogState(const LogState&) = delete;
  LogState& operator=(const LogState&) = delete;

  void CloseFile() {
    if (file != nullptr) plat::CloseTextFile(file);
    file = nullptr;
  }
  void Close() {
    CloseFile();
    if (mutex != nullptr) plat::CloseMutex(mutex);
    mutex = nullptr;
  }
};

// Made by DeviceStartUp; none before it and after DeviceShutDown.
LogState* state_made_at_start_up = nullptr;

void ShowLockProblem(const char16_t* text) {
  static const std::u16string caption = u"Velbrook Software debug";
  plat::MessageBox(text, &caption, plat::kMbOk | plat::kMbTopmost);
}

// Holds the log mutex for one operation; the operation runs only when held.
class LogLock {
 public:
  explicit LogLock(LogState* state) : state_(state) {
    if (state_ == nullptr) return;  // before start-up or after shut-down
    if (state_->mutex == nullptr) {
      // Said once: every line of a run would otherwise stop the person
      // with the same box, a hundred times before the first page.
      if (!state_->told_no_mutex) ShowLockProblem(u"Failed to create log mutex");
      state_->told_no_mutex = true;
      return;
    }
    const plat::WaitResult result = plat::WaitForMutex(state_->mutex, kLockTimeoutMs);
    if (result == plat::WaitResult::Timeout || result == plat::WaitResult::Failed) {
      ShowLockProblem(u"Timed out waiting to write to log file");
      return;
    }
    held_ = true;  // an abandoned mutex is ours now as well
  }
  ~LogLock() {
    if (held_) plat::ReleaseMutex(state_->mutex);
  }
  LogLock(const LogLock&) = delete;
  LogLock& operator=(const LogLock&) = delete;
  bool held() const { return held_; }

 private:
  LogState* state_;
  bool held_ = false;
};

// Logging must not disturb the error code that its caller is about to report.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : error_(plat::GetLastError()) {}
  ~LastErrorKeeper() { plat::SetLastError(error_); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  uint32_t error_;
};

void Write(const std::u16string& text, bool flush_now) {
  LastErrorKeeper keeper;
  LogLock lock(state_made_at_start_up);
  if (!lock.held()) return;
  LogState& state = *state_made_at_start_up;
  if (state.enabled) {
    if (state.file == nullptr) state.file = plat::OpenTextFile(state.path, "at");
    if (state.file != nullptr) plat::WriteTextFile(state.file, text);
  }
  if ((state.flush_each_write || flush_now) && state.file != nullptr) {
    plat::FlushTextFile(state.file);
  }
}

void AppendNumber(std::u16string& out, int32_t number) {
  char16_t digits[12];
  int count = 0;
  // Work in 64 bits so that the most negative number has a magnitude.
  int64_t magnitude = number;
  if (magnitude < 0) magnitude = -magnitude;
  do {
    digits[count++] = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (number < 0) out += u'-';
  while (count > 0) out += digits[--count];
}

}  // namespace

// ---- Control ----------------------------------------------------------------

void SetLogFile(const std::u16string& path) {
  LastErrorKeeper keeper;
  LogLock lock(state_made_at_start_up);
  if (!lock.held()) return;
  LogState& state = *state_made_at_start_up;
  state.path = path;
  state.CloseFile();
}

void SetLogFlush(bool flush_each_write) {
  LastErrorKeeper keeper;
  LogLock lock(state_made_at_start_up);
  if (!lock.held()) return;
  LogState& state = *state_made_at_start_up;
  state.flush_each_write = flush_each_write;
  if (flush_each_write && state.file != nullptr) plat::FlushTextFile(state.file);
}

void ResetLogFile() {
  LastErrorKeeper keeper;
  LogLock lock(state_made_at_start_up);
  if (!lock.held()) return;
  LogState& state = *state_made_at_start_up;
  state.CloseFile();
  plat::DeleteFile(state.path);  // a file that stays keeps its lines; new ones follow
}

void EnableLog(bool enabled) {
  LastErrorKeeper keeper;
  LogLock lock(state_made_at_start_up);
  if (!lock.held()) return;
  LogState& state = *state_made_at_start_up;
  state.enabled = enabled;
  if (!enabled) state.CloseFile();
}

void CreateLogState() {
  if (state_made_at_start_up == nullptr) state_made_at_start_up = new LogState;
}

void ReleaseLogState() {
  delete state_made_at_start_up;
  state_made_at_start_up = nullptr;
}

// ---- Writers ----------------------------------------------------------------

void LogText(const std::u16string& text, bool flush_now) { Write(text, flush_now); }

void LogFormat(const std::u16string& format, bool flush_now, const LogArg& a) {
  const LogArg args[] = {a};
  Write(FormatLogLine(format, args, 1), flush_now);
}

void LogFormat(const std::u16string& format, bool flush_now, const LogArg& a, const LogArg& b) {
  const LogArg args[] = {a, b};
  Write(FormatLogLine(format, args, 2), flush_now);
}

void LogFormat(const std::u16string& format, bool flush_now, const LogArg& a, const LogArg& b,
               const LogArg& c) {
  const LogArg args[] = {a, b, c};
  Write(FormatLogLine(format, args, 3), flush_now);
}

void LogFormat(const std::u16string& format, bool flush_now, const LogArg& a, const LogArg& b,
               const LogArg& c, const LogArg& d) {
  const LogArg args[] = {a, b, c, d};
  Write(FormatLogLine(format, args, 4), flush_now);
}

std::u16string FormatLogLine(const std::u16string& format, const LogArg* args, int count) {
  if (args == nullptr || count < 0) count = 0;
  std::u16string out;
  out.reserve(format.size());
  int next = 0;
  const size_t size = format.size();
  for (size_t i = 0; i < size; ++i) {
    const char16_t c = format[i];
    if (c != u'%' || i + 1 >= size) {
      out += c;
      continue;
    }
    if (format[i + 1] == u'%') {
      out += u'%';
      ++i;
      continue;
    }
    const bool is_text = format[i + 1] == u's';
    const bool is_number =
        !is_text && i + 2 < size && format[i + 1] == u'l' && format[i + 2] == u'd';
    if (!is_text && !is_number) {
      out += c;  // not a directive: the '%' stands as written
      continue;
    }
    const size_t length = is_text ? 2 : 3;
    // A missing argument, or one of the other kind, leaves the directive as
    // written rather than reading what is not there.
    if (next < count && args[next].is_text == is_text) {
      if (is_text) {
        out += args[next].text;
      } else {
        AppendNumber(out, args[next].number);
      }
    } else {
      out.append(format, i, length);
    }
    ++next;
    i += length - 1;
  }
  return out;
}
