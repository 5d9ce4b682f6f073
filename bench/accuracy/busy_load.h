// A CPU load beside the programs under test: busy processes at the ordinary
// priority, started by the benchmark and always stopped. Each also ends by
// itself after its time limit and when the benchmark dies, so none can
// outlive the run it was for.
#pragma once

#include <sys/types.h>

#include <vector>

namespace accuracy {

class BusyLoad {
 public:
  BusyLoad() = default;
  BusyLoad(const BusyLoad&) = delete;
  BusyLoad& operator=(const BusyLoad&) = delete;
  ~BusyLoad() { Stop(); }

  // `count` processes that spin for at most `limit_seconds`; false when one
  // could not be started (those started are stopped again).
  bool Start(int count, unsigned limit_seconds);
  void Stop();
  int running() const { return static_cast<int>(pids_.size()); }

 private:
  std::vector<pid_t> pids_;
};

}  // namespace accuracy
