// The shared foundation across processes, on the emulated device.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/device/device.h"
#include "platform/platform.h"
#include "shared/debuglog.h"
#include "shared/settings.h"
#include "shared/text.h"
#include "tests/shared/device_file.h"
#include "tests/support/journal_expect.h"
#include "tests/support/log_bound_device_test.h"

extern char** environ;

namespace {

// Starts a helper program with one argument; its device is ours through the
// environment that device::SetFolder prepared.
pid_t Start(const char* program, const std::string& argument) {
  std::vector<char*> argv = {const_cast<char*>(program), const_cast<char*>(argument.c_str()),
                             nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, program, nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

// The exit code, or -1 when the program did not end normally.
int WaitFor(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs a helper with QUADRAKEY_FAULTS set to `faults` for it, with its error
// output in `stderr_file`.
int RunWithFaults(const char* program, const std::string& argument, const std::string& faults,
                  const std::string& stderr_file) {
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("QUADRAKEY_FAULTS=", 0) != 0) environment.emplace_back(*e);
  }
  environment.push_back("QUADRAKEY_FAULTS=" + faults);
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<char*> argv = {const_cast<char*>(program), const_cast<char*>(argument.c_str()),
                             nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, stderr_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? WaitFor(pid) : -1;
}

std::vector<journal::Entry> Messages(int64_t after) {
  return journal::OfKind(journal::Read(after), "message");
}

bool WaitForFile(const std::u16string& path) {
  for (int i = 0; i < 1000; ++i) {
    if (FileExists(path)) return true;
    plat::Sleep(10);
  }
  return false;
}

using SharedHostTest = LogBoundDeviceTest;

TEST_F(SharedHostTest, TwoProgramsLoggingAtOnceKeepEveryLineWhole) {
  constexpr int kLines = 150;
  const pid_t a = Start(LOG_WRITER_PATH, "a " + std::to_string(kLines));
  const pid_t b = Start(LOG_WRITER_PATH, "b " + std::to_string(kLines));
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  EXPECT_EQ(WaitFor(a), 0);
  EXPECT_EQ(WaitFor(b), 0);

  std::istringstream lines(shared_test::ReadDeviceFile(u"\\shared.log"));
  std::map<char, std::set<int>> seen;
  std::string line;
  int torn = 0;
  while (std::getline(lines, line)) {
    // "<tag> <number> <10000 times the tag>"
    const char tag = line.empty() ? '?' : line[0];
    const size_t second_blank = line.find(' ', 2);
    const bool whole = (tag == 'a' || tag == 'b') && line.size() > 2 && line[1] == ' ' &&
                       second_blank != std::string::npos &&
                       line.substr(second_blank + 1) == std::string(10000, tag);
    if (!whole) {
      ++torn;
      continue;
    }
    seen[tag].insert(std::stoi(line.substr(2, second_blank - 2)));
  }
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(seen['a'].size(), static_cast<size_t>(kLines));
  EXPECT_EQ(seen['b'].size(), static_cast<size_t>(kLines));
}

TEST_F(SharedHostTest, HeldMutexTimesOutAndDropsTheLine) {
  SetLogFile(u"\\wait.log");
  EnableLog(true);
  LogText(u"before\n");

  const pid_t holder = Start(LOG_HOLDER_PATH, "11500");
  ASSERT_GT(holder, 0);
  ASSERT_TRUE(WaitForFile(u"\\holding"));
  const int64_t mark = device::LastJournalId();
  LogText(u"dropped\n");  // waits the full 10000 ms

  // OK and top-most, no icon.
  EXPECT_TRUE(journal::Matches(Messages(mark), {{"message",
                                                 {{"text", "Timed out waiting to write to log file"},
                                                  {"caption", "Velbrook Software debug"},
                                                  {"flags", plat::kMbOk | plat::kMbTopmost}}}}));

  EXPECT_EQ(WaitFor(holder), 0);
  LogText(u"after\n");
  EXPECT_EQ(shared_test::ReadDeviceFile(u"\\wait.log"), "before\nafter\n");
}

TEST_F(SharedHostTest, MutexLeftByAnEndedProgramIsTakenOver) {
  SetLogFile(u"\\abandoned.log");
  EnableLog(true);
  const pid_t holder = Start(LOG_HOLDER_PATH, "die");
  ASSERT_GT(holder, 0);
  EXPECT_EQ(WaitFor(holder), 0);
  const int64_t mark = device::LastJournalId();
  LogText(u"still logged\n");
  EXPECT_TRUE(Messages(mark).empty());
  EXPECT_EQ(shared_test::ReadDeviceFile(u"\\abandoned.log"), "still logged\n");
}

TEST_F(SharedHostTest, WithoutTheMutexTheProgramSaysSoOnceAndGoesOn) {
  const std::string errors = device::Folder() + "/writer.stderr";
  EXPECT_EQ(RunWithFaults(LOG_WRITER_PATH, "a 2", "shared_log_writer/mutex-create:5", errors), 0);
  std::ifstream in(errors);
  std::string line;
  int complaints = 0;
  while (std::getline(in, line)) {
    if (line == "Velbrook Software debug: Failed to create log mutex") ++complaints;
  }
  // Three control calls and two lines, one box: the mutex is never tried again.
  EXPECT_EQ(complaints, 1);
}

TEST_F(SharedHostTest, RunningOutOfMemoryShowsTheMessageAndExitsWithOne) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's operator new reports a failed allocation itself instead of "
                  "calling the program's handler, and its shadow memory does not fit under the "
                  "helper's address-space limit; the plain host build runs this test";
#endif
  // Also in the middle of a registry transaction, which the end of the
  // program rolls back: the message is journalled all the same.
  for (const char* where : {"", "transaction"}) {
    SCOPED_TRACE(where);
    const int64_t mark = device::LastJournalId();
    const pid_t program = Start(OOM_PATH, where);
    ASSERT_GT(program, 0);
    EXPECT_EQ(WaitFor(program), 1);
    // No caption of its own: the platform's default.
    EXPECT_TRUE(journal::Matches(
        Messages(mark), {{"message", {{"text", "out of memory"}, {"caption", "Error"}, {"flags", 0}}}}));
  }
}

TEST_F(SharedHostTest, FailedStringWritesAreLoggedWithTheCode) {
  SetLogFile(u"\\writes.log");
  EnableLog(true);
  plat::faults::FailCall(plat::faults::Op::RegistryWrite, 1, plat::kErrorAccessDenied);
  plat::faults::FailCall(plat::faults::Op::RegistryWrite, 2, plat::kErrorAccessDenied);
  SetShortcut(1, 2, true, u"<Today>");
  SetLaunchParams(u"RotateScreen", 0, 1, false, u"3");
  plat::faults::Clear();
  EXPECT_EQ(GetShortcut(1, 2, true), u"") << "the failed write stored nothing";
  EXPECT_EQ(shared_test::ReadDeviceFile(u"\\writes.log"),
            "SetShortcut() Error writing reg string ButtonB2h: 5\n"
            "SetLaunchParams() Error writing reg string ButtonA-RotateScreen: 5\n"
            "GetShortcut() Error reading reg string ButtonB2h: 2\n");
}

}  // namespace
