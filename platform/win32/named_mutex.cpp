// Named mutex: a kernel mutex, shared by every process that uses the name.
#include "platform/common/fault_gate.h"
#include "platform/win32/win32_api.h"

namespace {
HANDLE Handle(plat::Mutex mutex) { return reinterpret_cast<HANDLE>(mutex); }
}  // namespace

namespace plat {

Mutex CreateNamedMutex(const std::u16string& name) {
  common::FaultGate gate(faults::Op::MutexCreate);
  if (gate.failed()) return nullptr;
  // Opens the existing mutex when another process made it first.
  HANDLE handle = ::CreateMutexW(nullptr, FALSE, win32::W(name));
  return reinterpret_cast<Mutex>(handle);
}

WaitResult WaitForMutex(Mutex mutex, uint32_t timeout_ms) {
  common::FaultGate gate(faults::Op::MutexWait);
  if (gate.failed()) return WaitResult::Failed;
  if (mutex == nullptr) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return WaitResult::Failed;
  }
  switch (::WaitForSingleObject(Handle(mutex), timeout_ms)) {
    case WAIT_OBJECT_0: return WaitResult::Acquired;
    case WAIT_ABANDONED: return WaitResult::Abandoned;
    case WAIT_TIMEOUT: return WaitResult::Timeout;
    default: return WaitResult::Failed;
  }
}

void ReleaseMutex(Mutex mutex) {
  if (mutex != nullptr) ::ReleaseMutex(Handle(mutex));
}

void CloseMutex(Mutex mutex) {
  if (mutex != nullptr) ::CloseHandle(Handle(mutex));
}

}  // namespace plat
