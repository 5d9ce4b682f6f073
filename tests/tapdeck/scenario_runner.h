// Runs a page scenario: sets the device up, runs tapdeck's main in this
// process with the scenario's steps as the person, and checks the results.
// Failures are reported as GoogleTest failures naming the scenario and step.
#pragma once

#include <string>

#include "tests/tapdeck/scenario.h"

namespace tapdeck_scenario {

// What a backend supplies beyond platform.h.
struct ScenarioBackend {
  // The build this backend is: items marked for the other one are skipped.
  On platform;
  // Makes a device folder and every folder above it.
  bool (*make_folder)(const std::u16string& path);
  // The target command of a shortcut file; false when it is none.
  bool (*shortcut_target)(const std::u16string& path, std::u16string* target);
  // The text of a log file's bytes, as the platform wrote it.
  std::u16string (*log_text)(const std::string& bytes);
  // Key `virtual_key` goes down and up for the window in front, as a
  // person's key press reaches it.
  void (*press_key)(uint32_t virtual_key);
};

// The device must be fresh and current, with no copy of tapdeck running.
void RunScenario(const Scenario& scenario, const ScenarioBackend& backend);

}  // namespace tapdeck_scenario
