#include "shared/debuglog.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "platform/platform.h"
#include "shared/text.h"
#include "tests/shared/device_file.h"
#include "tests/support/log_bound_device_test.h"

namespace {

using shared_test::ReadDeviceFile;

std::u16string Format(const std::u16string& format, std::initializer_list<LogArg> args) {
  return FormatLogLine(format, args.begin(), static_cast<int>(args.size()));
}

TEST(LogFormatter, TheCallersFormats) {
  EXPECT_EQ(Format(u"SetShortcut() Error writing reg string %s: %ld\n", {u"ButtonB2h", 5}),
            u"SetShortcut() Error writing reg string ButtonB2h: 5\n");
  EXPECT_EQ(Format(u"CE %ld.%ld, build %ld, platform %ld\n", {4, 21, 14955, 3}),
            u"CE 4.21, build 14955, platform 3\n");
  EXPECT_EQ(Format(u"\nAssignment %ld-%ld-%ld:\n", {0, 2, true}), u"\nAssignment 0-2-1:\n");
  EXPECT_EQ(Format(u"  subkey: %s\n", {std::u16string(u"40C1")}), u"  subkey: 40C1\n");
}

TEST(LogFormatter, NumbersAreSigned32Bit) {
  EXPECT_EQ(Format(u"%ld", {INT32_MIN}), u"-2147483648");
  EXPECT_EQ(Format(u"%ld", {INT32_MAX}), u"2147483647");
  EXPECT_EQ(Format(u"%ld", {0xFFFFFFFFu}), u"-1");
  EXPECT_EQ(Format(u"%ld", {0}), u"0");
}

TEST(LogFormatter, PercentSignsThatAreNotDirectives) {
  EXPECT_EQ(Format(u"100%% done %ld%%", {7}), u"100% done 7%");
  EXPECT_EQ(Format(u"%d %x %l %", {1}), u"%d %x %l %");
  // An argument's text is never read as a format.
  EXPECT_EQ(Format(u"[%s]", {u"50% %ld %s"}), u"[50% %ld %s]");
}

TEST(LogFormatter, MissingOrMismatchedArgumentsStayAsWritten) {
  EXPECT_EQ(Format(u"%s and %ld", {}), u"%s and %ld");
  EXPECT_EQ(Format(u"%ld then %ld", {3}), u"3 then %ld");
  EXPECT_EQ(Format(u"%s then %ld", {4, u"x"}), u"%s then %ld");
  EXPECT_EQ(FormatLogLine(u"%s", nullptr, 2), u"%s");
}

class LogTest : public LogBoundDeviceTest {
 protected:
  void StartLog(const std::u16string& path) {
    SetLogFile(path);
    SetLogFlush(true);
    ResetLogFile();
    EnableLog(true);
  }
};

TEST_F(LogTest, NothingIsWrittenBeforeLoggingIsSwitchedOn) {
  SetLogFile(u"\\early.log");
  LogText(u"too early\n", true);
  LogFormat(u"%ld\n", true, 1);
  EXPECT_FALSE(FileExists(u"\\early.log"));
  EXPECT_FALSE(FileExists(u"\\Velbrook.log"));
  EnableLog(true);
  LogText(u"now\n");
  EXPECT_EQ(ReadDeviceFile(u"\\early.log"), "now\n");
}

TEST_F(LogTest, LinesAreWrittenExactlyAsGiven) {
  StartLog(u"\\run.log");
  LogText(u"\nShortcut list:\n");
  LogText(u"50% of %s and %ld%%\n");
  LogFormat(u"  %ld: ", false, 3);
  LogFormat(u"%s\n", false, u"\\Windows\\Start Menu\\Notes.lnk");
  LogFormat(u"  button %ld == %ld\n", false, 1, 2);
  LogFormat(u"%s %ld\n", false, u"caf\u00E9", -4);
  EXPECT_EQ(ReadDeviceFile(u"\\run.log"),
            "\nShortcut list:\n"
            "50% of %s and %ld%%\n"
            "  3: \\Windows\\Start Menu\\Notes.lnk\n"
            "  button 1 == 2\n"
            "caf\xC3\xA9 -4\n");
}

TEST_F(LogTest, DefaultPathIsUsedUntilAnotherIsSet) {
  EnableLog(true);
  LogText(u"to the default\n");
  EXPECT_EQ(ReadDeviceFile(u"\\Velbrook.log"), "to the default\n");
}

TEST_F(LogTest, SetLogFileMovesLaterLinesToTheNewFile) {
  StartLog(u"\\first.log");
  LogText(u"one\n");
  SetLogFile(u"\\second.log");
  LogText(u"two\n");
  EXPECT_EQ(ReadDeviceFile(u"\\first.log"), "one\n");
  EXPECT_EQ(ReadDeviceFile(u"\\second.log"), "two\n");
  SetLogFile(u"\\first.log");
  LogText(u"three\n");
  EXPECT_EQ(ReadDeviceFile(u"\\first.log"), "one\nthree\n") << "reopened for appending";
}

TEST_F(LogTest, DisablingClosesAndReenablingAppends) {
  StartLog(u"\\toggle.log");
  LogText(u"before\n");
  EnableLog(false);
  LogText(u"dropped\n", true);
  EXPECT_EQ(ReadDeviceFile(u"\\toggle.log"), "before\n");
  // Closed: another program may delete it while logging is off.
  EXPECT_TRUE(plat::DeleteFile(u"\\toggle.log"));
  ASSERT_TRUE(shared_test::WriteDeviceFile(u"\\toggle.log", u"kept\n"));
  EnableLog(true);
  LogText(u"after\n");
  EXPECT_EQ(ReadDeviceFile(u"\\toggle.log"), "kept\nafter\n");
}

TEST_F(LogTest, ResetStartsTheFileAfresh) {
  ASSERT_TRUE(shared_test::WriteDeviceFile(u"\\fresh.log", u"last run\n"));
  SetLogFile(u"\\fresh.log");
  EnableLog(true);
  LogText(u"appended\n");
  EXPECT_EQ(ReadDeviceFile(u"\\fresh.log"), "last run\nappended\n");
  ResetLogFile();
  EXPECT_FALSE(FileExists(u"\\fresh.log"));
  LogText(u"this run\n");
  EXPECT_EQ(ReadDeviceFile(u"\\fresh.log"), "this run\n");
  // Nothing to delete is no trouble either.
  SetLogFile(u"\\never.log");
  ResetLogFile();
  LogText(u"x\n");
  EXPECT_EQ(ReadDeviceFile(u"\\never.log"), "x\n");
}

TEST_F(LogTest, FlushNowOrSwitchingFlushOnMakesLinesVisible) {
  StartLog(u"\\flush.log");
  SetLogFlush(false);
  LogText(u"held\n");
  LogText(u"pushed\n", true);
  EXPECT_EQ(ReadDeviceFile(u"\\flush.log"), "held\npushed\n");
  LogText(u"pending\n");
  SetLogFlush(true);
  EXPECT_EQ(ReadDeviceFile(u"\\flush.log"), "held\npushed\npending\n");
}

TEST_F(LogTest, UnopenableFileLosesLinesButLaterPathsWork) {
  StartLog(u"\\no such folder\\x.log");
  LogText(u"lost\n");
  EXPECT_FALSE(FileExists(u"\\no such folder\\x.log"));
  SetLogFile(u"\\ok.log");
  LogText(u"kept\n");
  EXPECT_EQ(ReadDeviceFile(u"\\ok.log"), "kept\n");
}

TEST_F(LogTest, LoggingKeepsTheCallersErrorCode) {
  StartLog(u"\\code.log");
  plat::SetLastError(plat::kErrorFileNotFound);
  LogFormat(u"%ld\n", false, 2);
  EXPECT_EQ(plat::GetLastError(), plat::kErrorFileNotFound);
}

TEST_F(LogTest, StateBelongsToStartUpAndStartsOverAfterShutDown) {
  StartLog(u"\\first run.log");
  LogText(u"one\n");
  DeviceShutDown();
  // Without the process-wide state nothing is written and nothing complains.
  SetLogFile(u"\\between.log");
  EnableLog(true);
  LogText(u"lost\n", true);
  EXPECT_FALSE(FileExists(u"\\between.log"));
  DeviceStartUp();
  // A new start begins disabled, on the initial path.
  LogText(u"not yet\n");
  EnableLog(true);
  LogText(u"two\n");
  EXPECT_EQ(ReadDeviceFile(u"\\first run.log"), "one\n");
  EXPECT_EQ(ReadDeviceFile(u"\\Velbrook.log"), "two\n");
}

// Message boxes are failed by the fault table: counted, never shown.
TEST_F(LogTest, WithoutItsMutexTheMessageShowsOnceAndEveryCallIsSkipped) {
  namespace faults = plat::faults;
  DeviceShutDown();
  faults::Clear();
  faults::FailCall(faults::Op::MutexCreate, 1, plat::kErrorAccessDenied);
  DeviceStartUp();
  faults::FailCallsFrom(faults::Op::MessageBox, 1, plat::kErrorNotEnoughMemory);
  StartLog(u"\\no mutex.log");
  LogText(u"lost\n");
  LogFormat(u"%ld\n", false, 1);
  // Four control calls and two lines, one box; the mutex is never tried again.
  EXPECT_EQ(faults::Calls(faults::Op::MessageBox), 1u);
  EXPECT_EQ(faults::Calls(faults::Op::MutexCreate), 1u);
  EXPECT_EQ(faults::Calls(faults::Op::MutexWait), 0u);
  EXPECT_FALSE(FileExists(u"\\no mutex.log"));
}

TEST_F(LogTest, AFailedWaitDropsThatOperationOnly) {
  namespace faults = plat::faults;
  StartLog(u"\\wait.log");
  faults::FailCallsFrom(faults::Op::MessageBox, 1, plat::kErrorNotEnoughMemory);
  faults::FailCall(faults::Op::MutexWait, 2, plat::kErrorInvalidHandle);
  LogText(u"one\n");
  LogText(u"two\n");
  LogText(u"three\n");
  EXPECT_EQ(faults::Calls(faults::Op::MessageBox), 1u);
  EXPECT_EQ(ReadDeviceFile(u"\\wait.log"), "one\nthree\n");
}

}  // namespace
