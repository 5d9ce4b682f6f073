// Named mutex: an flock on locks/<name>.lock. The holder's pid is kept in the
// file while it owns the mutex, so the next owner can tell that a holder
// died without releasing it.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "platform/host/device/host_internal.h"

using namespace device::internal;

namespace {

constexpr uint32_t kInfinite = 0xFFFFFFFF;
// The holder's pid in a field of fixed size at the start of the lock file,
// zeros when nobody holds it: rewritten in place, never truncated, because
// every log line takes the lock.
constexpr size_t kOwnerMarkSize = 16;

// One per lock file in this process: a Win32 mutex belongs to a thread, so
// every handle of this process on the same name shares one state.
struct SharedLock {
  int fd = -1;
  // The owner mark, mapped shared: every log line takes the lock, and a
  // read and two writes of the file would cost it three more system calls.
  // Null where the file cannot be mapped; the mark is then read and written.
  char* mark = nullptr;
  int handles = 0;
  int recursion = 0;
  std::thread::id owner;
};

// Never destroyed: static objects of other modules (the debug log's state)
// close their mutexes at program end, whatever the order of destruction.
std::mutex& TableGuard() {
  static auto* guard = new std::mutex;
  return *guard;
}

std::map<std::string, SharedLock>& Table() {
  static auto* table = new std::map<std::string, SharedLock>;
  return *table;
}

std::string LockFileName(const std::u16string& name) {
  std::u16string lower;
  for (char16_t c : name) lower += plat::CharToLower(c);
  std::string utf8 = device::ToUtf8(lower);
  std::string safe;
  static const char kHex[] = "0123456789abcdef";
  for (unsigned char c : utf8) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.') {
      safe += static_cast<char>(c);
    } else {
      safe += '%';
      safe += kHex[c >> 4];
      safe += kHex[c & 15];
    }
  }
  if (safe.size() > 180) {  // keep within the host's name limit, still one file per name
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : utf8) hash = (hash ^ c) * 1099511628211ull;
    std::string tail;
    for (int i = 0; i < 16; ++i) tail += kHex[(hash >> (i * 4)) & 15];
    safe = safe.substr(0, 160) + "~" + tail;
  }
  return safe + ".lock";
}

// Maps the lock file's owner mark. A mapped page with no disk block behind
// it kills the process (SIGBUS) when a write finds the disk full, so a file
// shorter than the mark is first lengthened by a write, under the lock so
// that no owner's mark is overwritten, and a file with no blocks (a hole)
// is not mapped. Null where it cannot be mapped: the mark is then read and
// written as file data. Nothing shortens a lock file.
char* MapOwnerMark(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return nullptr;
  constexpr off_t kSize = kOwnerMarkSize;
  if (st.st_size < kSize) {
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return nullptr;
    static const char kZeros[kOwnerMarkSize] = {};
    const bool grown = fstat(fd, &st) == 0 &&
                       (st.st_size >= kSize || pwrite(fd, kZeros, kSize - st.st_size, st.st_size) == kSize - st.st_size);
    flock(fd, LOCK_UN);
    if (!grown) return nullptr;
  } else if (st.st_blocks == 0) {
    return nullptr;
  }
  void* mark = mmap(nullptr, kOwnerMarkSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return mark == MAP_FAILED ? nullptr : static_cast<char*>(mark);
}

void WriteOwnerMark(const SharedLock& shared, const char (&mark)[kOwnerMarkSize]) {
  if (shared.mark != nullptr) {
    std::memcpy(shared.mark, mark, kOwnerMarkSize);
  } else if (pwrite(shared.fd, mark, kOwnerMarkSize, 0) != static_cast<ssize_t>(kOwnerMarkSize)) {
    // Unwritten, a taken mark leaves an abandonment unnoticed and a cleared
    // one reports an abandonment that was not; the lock works either way.
  }
}

// True when the mark names an owner (a holder that died holding the lock).
bool TakeOwnerMark(const SharedLock& shared) {
  char previous[kOwnerMarkSize] = {};
  ssize_t got = sizeof previous;
  if (shared.mark != nullptr) {
    std::memcpy(previous, shared.mark, sizeof previous);
  } else {
    got = pread(shared.fd, previous, sizeof previous, 0);
  }
  bool abandoned = false;
  for (ssize_t i = 0; i < got; ++i) abandoned = abandoned || previous[i] != 0;
  char mark[kOwnerMarkSize] = {};
  std::to_string(OwnPid()).copy(mark, sizeof mark - 1);
  WriteOwnerMark(shared, mark);
  return abandoned;
}

void ClearOwnerMark(const SharedLock& shared) {
  static const char kNoOwner[kOwnerMarkSize] = {};
  WriteOwnerMark(shared, kNoOwner);
}

}  // namespace

struct plat::MutexObject {
  std::string path;
};

namespace plat {

Mutex CreateNamedMutex(const std::u16string& name) {
  common::FaultGate gate(faults::Op::MutexCreate);
  if (gate.failed()) return nullptr;
  if (name.empty() || name.size() > 260) {
    Fail(kErrorInvalidParameter);
    return nullptr;
  }
  std::string folder = device::Folder();
  struct stat st;
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !device::Exists()) {
    Fail(kErrorPathNotFound);
    return nullptr;
  }
  std::string locks = folder + "/locks";
  if (mkdir(locks.c_str(), 0777) != 0 && errno != EEXIST) {
    Fail(FromErrno(errno));
    return nullptr;
  }
  std::string path = locks + "/" + LockFileName(name);
  std::lock_guard<std::mutex> hold(TableGuard());
  SharedLock& shared = Table()[path];
  if (shared.fd < 0) {
    shared.fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (shared.fd < 0) {
      uint32_t code = FromErrno(errno);
      Table().erase(path);
      Fail(code);
      return nullptr;
    }
    shared.mark = MapOwnerMark(shared.fd);
  }
  ++shared.handles;
  return new MutexObject{path};
}

WaitResult WaitForMutex(Mutex mutex, uint32_t timeout_ms) {
  common::FaultGate gate(faults::Op::MutexWait);
  if (gate.failed()) return WaitResult::Failed;
  if (mutex == nullptr) {
    Fail(kErrorInvalidHandle);
    return WaitResult::Failed;
  }
  auto start = std::chrono::steady_clock::now();
  auto pause = std::chrono::microseconds(200);
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(TableGuard());
      SharedLock& shared = Table()[mutex->path];
      if (shared.recursion > 0 && shared.owner == std::this_thread::get_id()) {
        ++shared.recursion;
        return WaitResult::Acquired;
      }
      if (shared.recursion == 0) {
        if (flock(shared.fd, LOCK_EX | LOCK_NB) == 0) {
          const bool abandoned = TakeOwnerMark(shared);
          shared.recursion = 1;
          shared.owner = std::this_thread::get_id();
          return abandoned ? WaitResult::Abandoned : WaitResult::Acquired;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
          Fail(FromErrno(errno));
          return WaitResult::Failed;
        }
      }
    }
    auto waited = std::chrono::steady_clock::now() - start;
    if (timeout_ms != kInfinite && waited >= std::chrono::milliseconds(timeout_ms))
      return WaitResult::Timeout;
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(5)) pause *= 2;
  }
}

void ReleaseMutex(Mutex mutex) {
  if (mutex == nullptr) {
    Fail(kErrorInvalidHandle);
    return;
  }
  std::lock_guard<std::mutex> hold(TableGuard());
  SharedLock& shared = Table()[mutex->path];
  if (shared.recursion == 0 || shared.owner != std::this_thread::get_id()) {
    Fail(kErrorNotOwner);
    return;
  }
  if (--shared.recursion > 0) return;
  shared.owner = std::thread::id();
  ClearOwnerMark(shared);
  flock(shared.fd, LOCK_UN);
}

void CloseMutex(Mutex mutex) {
  if (mutex == nullptr) return;
  {
    std::lock_guard<std::mutex> hold(TableGuard());
    auto it = Table().find(mutex->path);
    if (it != Table().end() && --it->second.handles <= 0) {
      // Closing while owned leaves the pid mark: the next owner sees an
      // abandoned mutex, as when an owning thread ends.
      if (it->second.mark != nullptr) munmap(it->second.mark, kOwnerMarkSize);
      close(it->second.fd);
      Table().erase(it);
    }
  }
  delete mutex;
}

}  // namespace plat
