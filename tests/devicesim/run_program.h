// Runs a program as a child process (argument vector, no shell) and collects
// what it printed.
#pragma once

#include <string>
#include <vector>

struct ProgramRun {
  int status = -1;  // exit status; -1 when it did not exit normally
  std::string out;
  std::string err;
};

// `input` is fed to standard input. `environment` entries ("NAME=value")
// are added to this process's environment. A `file_size_limit` of 0 or more
// lets the program grow no file past that many bytes, as a full disk would
// (the write fails; the program is not killed).
ProgramRun RunProgram(const std::vector<std::string>& argv, const std::string& input = {},
                      const std::vector<std::string>& environment = {},
                      long long file_size_limit = -1);
