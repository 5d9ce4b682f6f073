#include "tests/devicesim/run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

extern char** environ;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string TempFile(const char* tag) {
  std::string pattern = "/tmp/devicesim_test_" + std::string(tag) + ".XXXXXX";
  int fd = mkstemp(pattern.data());
  if (fd >= 0) close(fd);
  return pattern;
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& argv, const std::string& input,
                      const std::vector<std::string>& environment, long long file_size_limit) {
  // Files rather than pipes: nothing can block on a full pipe.
  std::string in_path = TempFile("in"), out_path = TempFile("out"), err_path = TempFile("err");
  {
    std::ofstream in(in_path, std::ios::binary);
    in << input;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_TRUNC, 0);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_TRUNC, 0);

  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> env_text;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    // The tests name their device explicitly; an inherited one must not leak in.
    std::string text = *entry;
    if (text.rfind("QUADRAKEY_DEVICE=", 0) == 0) continue;
    bool replaced = false;
    for (const std::string& given : environment) {
      replaced |= text.compare(0, given.find('=') + 1, given, 0, given.find('=') + 1) == 0;
    }
    if (!replaced) env_text.push_back(text);
  }
  for (const std::string& entry : environment) env_text.push_back(entry);
  std::vector<char*> env;
  for (std::string& entry : env_text) env.push_back(entry.data());
  env.push_back(nullptr);

  ProgramRun run;
  pid_t pid = 0;
  // The child inherits the limit, and the ignored SIGXFSZ, from this process
  // for the moment of the spawn.
  struct rlimit saved_limit {};
  struct sigaction saved_action {};
  const bool limited = file_size_limit >= 0;
  if (limited) {
    getrlimit(RLIMIT_FSIZE, &saved_limit);
    struct rlimit limit = saved_limit;
    limit.rlim_cur = static_cast<rlim_t>(file_size_limit);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &saved_action);
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
  if (limited) {
    setrlimit(RLIMIT_FSIZE, &saved_limit);
    sigaction(SIGXFSZ, &saved_action, nullptr);
  }
  if (spawned == 0) {
    int status = 0;
    pid_t waited;
    do {
      waited = waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited == pid && WIFEXITED(status)) run.status = WEXITSTATUS(status);
    if (waited == pid && WIFSIGNALED(status))
      run.err = "ended by signal " + std::to_string(WTERMSIG(status)) + "\n";
    if (waited != pid) run.err = "lost track of the program\n";
  } else {
    run.err = "cannot start " + argv[0];
  }
  posix_spawn_file_actions_destroy(&actions);
  run.out = ReadAll(out_path);
  run.err += ReadAll(err_path);
  std::remove(in_path.c_str());
  std::remove(out_path.c_str());
  std::remove(err_path.c_str());
  return run;
}
