// The fault table: a test makes the k-th call of a named platform operation
// fail with a given Win32 error, or every call from the k-th on, so that it
// can reach every failure path on either backend. Both backends consult the
// one table at the start of each operation below.
//
// A call counts when it comes from above the platform layer: the calls a
// backend makes inside another operation (the host shell reading a shortcut
// while it opens it) are neither counted nor failed, so a count means the
// same on both backends. A failed call does nothing but fail: it returns the
// operation's failure result and leaves the error as the last error.
// The window operations (message boxes, dialogs, the file-open dialog, the
// page set) are counted when they begin; what the program does while one
// of them is open (a dialog procedure's calls) counts as its own calls.
//
// QUADRAKEY_FAULTS reaches programs that a test starts (through the
// environment, under Wine too): entries separated by commas,
//   [PROGRAM/]OPERATION[@K[+]]:ERROR
// OPERATION one of the names below, K the call that fails (default 1; "K+"
// that call and every one after it), ERROR the decimal Win32 number, or
// "kill": the program is killed as the call begins (nothing of the call is
// done), as a kill from outside between two calls would. With PROGRAM (a
// file name, ".exe" optional, any letter case) the entry applies only in
// that program. It is read once, before the table is first used; malformed
// entries are ignored. "start-delay:MS" is no operation: see StartDelayMs;
// nor is "mutex-delay:MS": every wait for a named mutex (mutex-wait) first
// waits MS more, as on a machine whose lock files are slow. Example:
//   QUADRAKEY_FAULTS='TapdeckX/registry-write@2:112,file-open@1+:5'
#pragma once

#include <cstdint>
#include <string>

namespace plat::faults {

// Every operation that can fail, with its name. An operation joins the table
// here, once for both backends, and its calls in each backend start with a
// FaultGate (platform/common/fault_gate.h).
#define QK_FAULT_OPERATIONS(X)                                                  \
  X(RegistryOpen, "registry-open")     /* RegOpenKey, RegCreateKey */            \
  X(RegistryRead, "registry-read")     /* RegQueryValue */                       \
  X(RegistryWrite, "registry-write")   /* RegSetValue */                         \
  X(RegistryDelete, "registry-delete") /* RegDeleteValue, RegDeleteKey */        \
  X(RegistryEnum, "registry-enum")     /* RegEnumKey */                          \
  X(FileOpen, "file-open")             /* OpenTextFile */                        \
  X(FileWrite, "file-write")           /* WriteTextFile, FlushTextFile */        \
  X(FileList, "file-list")             /* ListFiles */                           \
  X(FileDelete, "file-delete")         /* DeleteFile */                          \
  X(FileMove, "file-move")             /* MoveFileReplacing */                   \
  X(MutexCreate, "mutex-create")       /* CreateNamedMutex */                    \
  X(MutexWait, "mutex-wait")           /* WaitForMutex: WaitResult::Failed */    \
  X(ProcessStart, "process-start")     /* CreateProcess */                       \
  X(ShellOpen, "shell-open")           /* ShellOpen */                           \
  X(DisplaySet, "display-set")         /* SetDisplayOrientation: kDispChangeFailed */ \
  X(MessageBox, "message-box")         /* MessageBox, MessageBoxOwned: 0, nothing shown */ \
  X(DialogCreate, "dialog-create")     /* RunDialog: -1, its procedure never runs */ \
  X(FileDialog, "file-dialog")         /* GetOpenFileName: false, nothing shown */ \
  X(PageSet, "page-set")               /* RunPageSet: false, no page made */ \
  X(HotKeyRegister, "hotkey-register") /* RegisterHotKey */                     \
  X(SignInEntry, "signin-entry")       /* SetSignInStart, RemoveSignInStart */ \
  X(KeyWatch, "key-watch")             /* WatchKeys */                          \
  X(KeyCapture, "key-capture")         /* CaptureKey */                         \
  X(ProductFolder, "product-folder")   /* GetProductFolder */              \
  X(TrayIcon, "tray-icon")             /* ShowTrayIcon */

enum class Op : uint8_t {
#define QK_FAULT_ENUM(id, name) id,
  QK_FAULT_OPERATIONS(QK_FAULT_ENUM)
#undef QK_FAULT_ENUM
};

#define QK_FAULT_ONE(id, name) +1
constexpr int kOpCount = 0 QK_FAULT_OPERATIONS(QK_FAULT_ONE);
#undef QK_FAULT_ONE

const char* Name(Op op);
// False when no operation has that name.
bool ByName(const std::string& name, Op* op);

// The k-th call of `op` from now (1: the next) fails with `error`.
void FailCall(Op op, uint32_t k, uint32_t error);
// The k-th call of `op` from now, and every one after it, fail with `error`.
void FailCallsFrom(Op op, uint32_t k, uint32_t error);
// Drops every fault (those from QUADRAKEY_FAULTS too) and starts the counts
// at zero; forgets a damaged registry met so far (plat::RegistryDamage).
void Clear();
// Calls of `op` counted since the process began or the last Clear, failed
// ones included. Walking k = 1..Calls(op) over a task fails each of its
// calls once.
uint32_t Calls(Op op);

// A program made to start late, as on a busy machine: the entry
// "[PROGRAM/]start-delay:MS" of QUADRAKEY_FAULTS (at most 60000). The
// platform's entry waits this long before the program's own code runs.
uint32_t StartDelayMs();

}  // namespace plat::faults
