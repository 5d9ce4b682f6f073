// The emulated device's path (host build): a taken-over hardware button,
// pressed with 'devicesim series', through the shell's button table to the
// installed TapdeckX. The device's journal gives the key times and the
// dispatched keys, in its own milliseconds.
#pragma once

#include <string>
#include <vector>

#include "bench/accuracy/press_path.h"

namespace accuracy {

class HostPath : public PressPath {
 public:
  HostPath() = default;
  HostPath(const HostPath&) = delete;
  HostPath& operator=(const HostPath&) = delete;
  ~HostPath() override;

  // A fresh device with the programs of `bin_dir` (devicesim's folder).
  bool Prepare(const std::string& bin_dir, std::string* error);
  press_rule::Timing timing() const override { return timing_; }
  bool Play(const PlannedSeries& series, Observed* observed, std::string* problem) override;

 private:
  bool Sim(std::vector<std::string> args, std::string* out, std::string* error);

  std::string bin_dir_;
  std::string device_;
  press_rule::Timing timing_;
};

}  // namespace accuracy
