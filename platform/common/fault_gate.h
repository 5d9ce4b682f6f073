// How a backend's operation consults the fault table. Private to platform/.
#pragma once

#include <string>

#include "platform/faults.h"

namespace plat::common {

// The first thing of every operation in the table:
//   FaultGate gate(faults::Op::RegistryRead);
//   if (gate.failed()) return false;
// Counts the call unless another operation of this thread is already
// running (then it is the backend's own call), and tells whether the table
// fails it; the last error is then set.
class FaultGate {
 public:
  explicit FaultGate(faults::Op op);
  ~FaultGate();
  FaultGate(const FaultGate&) = delete;
  FaultGate& operator=(const FaultGate&) = delete;
  bool failed() const { return failed_; }

 private:
  bool failed_ = false;
};

// For an operation that runs the program's own code while it lasts (a
// dialog's procedure, a modal loop that dispatches to the program's
// windows): the gate is passed and left before the operation begins, so
// that the calls made in there are the program's and count. True when the
// table fails the call; the last error is then set.
inline bool FailsAtGate(faults::Op op) {
  FaultGate gate(op);
  return gate.failed();
}

// A backend met a damaged registry (plat::RegistryDamage): the first error
// is kept.
void NoteRegistryDamage(uint32_t error);
// faults::Clear forgets it too, so that one test's damage stays its own.
void ForgetRegistryDamage();

// The running program's file name, as QUADRAKEY_FAULTS names programs.
// Each backend gives it.
std::string ProgramFileName();
// Ends the program at once, as a kill from outside would (":kill" in
// QUADRAKEY_FAULTS): nothing of it runs after. Each backend gives it.
[[noreturn]] void KillProgram();

}  // namespace plat::common
