#include "bench/accuracy/busy_load.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace accuracy {

bool BusyLoad::Start(int count, unsigned limit_seconds) {
  const pid_t parent = getpid();
  for (int i = 0; i < count; ++i) {
    const pid_t pid = fork();
    if (pid < 0) {
      Stop();
      return false;
    }
    if (pid == 0) {
      // Gone with the benchmark (also if it died before this line ran), and
      // after its limit in any case: SIGALRM's default ends the process.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(0);
      prctl(PR_SET_NAME, "qk-busy");
      // Not the benchmark's handlers: a stop signal ends a busy process.
      signal(SIGINT, SIG_DFL);
      signal(SIGTERM, SIG_DFL);
      alarm(limit_seconds);
      volatile unsigned long spin = 0;
      for (;;) spin = spin + 1;
    }
    pids_.push_back(pid);
  }
  return true;
}

void BusyLoad::Stop() {
  for (pid_t pid : pids_) kill(pid, SIGKILL);
  for (pid_t pid : pids_) waitpid(pid, nullptr, 0);
  pids_.clear();
}

}  // namespace accuracy
