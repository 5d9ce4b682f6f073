// The emulated registry beyond the contract: order, handles of deleted keys,
// transactions, a missing device and many processes at once.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>

#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "platform/host/device/device.h"
#include "tests/platform_host/host_support.h"
#include "tests/support/test_device.h"

using namespace plat;

namespace {

class HostRegistry : public DeviceTest {};

TEST_F(HostRegistry, SubkeysEnumerateInCreationOrderWithWrittenCase) {
  for (const char16_t* name : {u"Zulu", u"alpha", u"Mike", u"40C1"})
    RegCloseKey(RegCreateKey(RegRoot::LocalMachine, std::u16string(u"Order\\") + name, kKeySetValue));
  std::vector<std::u16string> names;
  ASSERT_TRUE(device::ListSubkeys(RegRoot::LocalMachine, u"ORDER", &names));
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Zulu", u"alpha", u"Mike", u"40C1"}));
  RegKey key = RegOpenKey(RegRoot::LocalMachine, u"order", kKeyRead);
  char16_t name[8];
  ASSERT_TRUE(RegEnumKey(key, 2, name, 8));
  EXPECT_EQ(std::u16string(name), u"Mike");
  RegCloseKey(key);
}

TEST_F(HostRegistry, HandleOfADeletedKeyFailsEvenWhenTheKeyIsMadeAgain) {
  RegKey old_key = RegCreateKey(RegRoot::LocalMachine, u"Gone", kKeySetValue);
  ASSERT_NE(old_key, nullptr);
  ASSERT_TRUE(RegDeleteKey(RegRoot::LocalMachine, u"Gone"));
  RegKey new_key = RegCreateKey(RegRoot::LocalMachine, u"Gone", kKeySetValue);
  uint32_t one = 1;
  EXPECT_FALSE(RegSetValue(old_key, u"x", kRegDword, &one, 4));
  EXPECT_EQ(GetLastError(), kErrorKeyDeleted);
  std::vector<device::RegValue> values;
  ASSERT_TRUE(device::ListValues(RegRoot::LocalMachine, u"Gone", &values));
  EXPECT_TRUE(values.empty());
  RegCloseKey(old_key);
  RegCloseKey(new_key);
}

TEST_F(HostRegistry, ValuesListInNameOrderWithRawBytes) {
  RegKey key = RegCreateKey(RegRoot::LocalMachine, u"Listed", kKeySetValue);
  uint32_t n = 0x01020304;
  RegSetValue(key, u"beta", kRegDword, &n, 4);
  RegSetValue(key, u"Alpha", kRegSz, u"hi", 6);
  RegCloseKey(key);
  std::vector<device::RegValue> values;
  ASSERT_TRUE(device::ListValues(RegRoot::LocalMachine, u"listed", &values));
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].name, u"Alpha");
  EXPECT_EQ(values[0].data, std::string("h\0i\0\0\0", 6));
  EXPECT_EQ(values[1].type, kRegDword);
  EXPECT_EQ(values[1].data, std::string("\x04\x03\x02\x01", 4));
  EXPECT_FALSE(device::ListValues(RegRoot::LocalMachine, u"Unlisted", &values));
  EXPECT_TRUE(device::KeyExists(RegRoot::LocalMachine, u"LISTED"));
  EXPECT_FALSE(device::KeyExists(RegRoot::ClassesRoot, u"Listed"));
}

TEST_F(HostRegistry, TextDataIsUtf16LeWithItsZeroAndReadsUpToTheFirstZero) {
  // What a program stores through the API is what the helpers make.
  RegKey key = RegCreateKey(RegRoot::LocalMachine, u"Text", kKeySetValue);
  RegSetValue(key, u"v", kRegSz, u"h\u00e9", 6);
  RegCloseKey(key);
  std::vector<device::RegValue> values;
  ASSERT_TRUE(device::ListValues(RegRoot::LocalMachine, u"Text", &values));
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].data, device::RegTextData(u"h\u00e9"));
  EXPECT_EQ(device::RegTextData(u"h\u00e9"), std::string("h\0\xe9\0\0\0", 6));

  const std::u16string odd = u"\U0001F600 \xD800 \xDFFF";  // a pair, then two lone halves
  EXPECT_EQ(device::RegTextOf(device::RegTextData(odd)), odd);
  EXPECT_EQ(device::RegTextOf(std::string("a\0\0\0b\0", 6)), u"a");
  EXPECT_EQ(device::RegTextOf(std::string("a\0b\0", 4)), u"ab");  // no zero at the end
  EXPECT_EQ(device::RegTextOf(std::string("a\0b", 3)), u"a");  // the odd byte is no unit
  EXPECT_EQ(device::RegTextOf(""), u"");
}

TEST_F(HostRegistry, TransactionIsAllOrNothing) {
  auto write_then_fail = [](void*) {
    RegKey key = RegCreateKey(RegRoot::LocalMachine, u"Txn\\Partial", kKeySetValue);
    uint32_t one = 1;
    RegSetValue(key, u"x", kRegDword, &one, 4);
    RegCloseKey(key);
    SetLastError(1234);
    return false;
  };
  EXPECT_FALSE(device::Transaction(write_then_fail, nullptr));
  EXPECT_EQ(GetLastError(), 1234u);
  EXPECT_FALSE(device::KeyExists(RegRoot::LocalMachine, u"Txn"));

  auto write = [](void* context) {
    RegKey key = RegCreateKey(RegRoot::LocalMachine, u"Txn\\Whole", kKeySetValue);
    bool ok = RegSetValue(key, u"x", kRegDword, context, 4);
    RegCloseKey(key);
    return ok;
  };
  uint32_t seven = 7;
  EXPECT_TRUE(device::Transaction(write, &seven));
  EXPECT_TRUE(device::KeyExists(RegRoot::LocalMachine, u"Txn\\Whole"));
}

device::RegChange Change(device::RegChange::Kind kind, const std::u16string& path,
                         const std::u16string& name = u"", const std::string& data = "") {
  return {kind, RegRoot::LocalMachine, path, name, data.empty() ? 0u : kRegBinary, data};
}

std::vector<std::string> ValueData(const std::u16string& path) {
  std::vector<device::RegValue> values;
  std::vector<std::string> data;
  if (device::ListValues(RegRoot::LocalMachine, path, &values))
    for (const device::RegValue& value : values) data.push_back(device::ToUtf8(value.name) + "=" + value.data);
  return data;
}

// Each change sees the ones before it: a key deleted and made again, a key
// made on the way to a value, a path that shares its start with the last one
// but leaves it (in another case) or runs through a key deleted since.
TEST_F(HostRegistry, ChangesApplyInFileOrderAsOne) {
  using C = device::RegChange;
  RegCloseKey(RegCreateKey(RegRoot::LocalMachine, u"Im\\Old\\Child", kKeySetValue));
  const std::vector<C> changes = {
      Change(C::kDeleteKey, u"Im\\Old"),
      Change(C::kSetValue, u"Im\\Old\\Child", u"v", "1"),
      Change(C::kCreateKey, u"Im\\A\\B\\C"),
      Change(C::kSetValue, u"Im\\A\\B\\C\\D", u"w", "2"),
      Change(C::kSetValue, u"IM\\a\\b", u"x", "3"),  // the same keys in other case
      Change(C::kDeleteKey, u"Im\\A\\B"),
      Change(C::kSetValue, u"Im\\A\\B\\C\\D", u"y", "4"),  // made anew, without "w"
      Change(C::kDeleteValue, u"Im\\A\\Missing", u"z"),
      Change(C::kDeleteValue, u"Im\\A\\B\\C\\D", u"nothing"),
      Change(C::kDeleteKey, u"Im\\Never"),
  };
  device::RegChangeFailure failure;
  ASSERT_TRUE(device::ApplyRegChanges(changes, &failure)) << failure.index << " error " << failure.error;
  std::vector<std::u16string> under_old;
  ASSERT_TRUE(device::ListSubkeys(RegRoot::LocalMachine, u"Im\\Old", &under_old));
  EXPECT_EQ(under_old, std::vector<std::u16string>{u"Child"});
  EXPECT_EQ(ValueData(u"Im\\Old\\Child"), std::vector<std::string>{"v=1"});
  EXPECT_EQ(ValueData(u"Im\\A\\B\\C\\D"), std::vector<std::string>{"y=4"});
  EXPECT_FALSE(device::KeyExists(RegRoot::LocalMachine, u"Im\\Never"));
  std::u16string stored;
  ASSERT_TRUE(device::StoredKeyPath(RegRoot::LocalMachine, u"im\\a\\b\\c\\d", &stored));
  EXPECT_EQ(stored, u"Im\\A\\B\\C\\D");

  // One change that cannot be made leaves all of them unmade, and says which.
  const std::vector<C> failing = {
      Change(C::kSetValue, u"Im\\Fresh", u"v", "1"),
      Change(C::kSetValue, u"Im\\Fresh\\" + std::u16string(256, u'n'), u"v", "1"),
  };
  EXPECT_FALSE(device::ApplyRegChanges(failing, &failure));
  EXPECT_EQ(failure.index, 1u);
  EXPECT_TRUE(failure.at_key);
  EXPECT_EQ(failure.error, kErrorInvalidParameter);
  EXPECT_FALSE(device::KeyExists(RegRoot::LocalMachine, u"Im\\Fresh"));
}

// Another program changes the keys after the import planned and before it
// writes: the plan is made again rather than writing to keys that are gone.
TEST_F(HostRegistry, KeysChangedWhileAnImportPlansAreSeenBeforeItWrites) {
  RegCloseKey(RegCreateKey(RegRoot::LocalMachine, u"Race\\Target", kKeySetValue));
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open_v2((device_name_ + "/registry.db").c_str(), &other, SQLITE_OPEN_READWRITE, nullptr),
            SQLITE_OK);
  sqlite3_busy_timeout(other, 30000);
  // It holds the write lock with the key deleted and made again (a new row),
  // and commits only once the import waits for the lock.
  ASSERT_EQ(sqlite3_exec(other,
                         "BEGIN IMMEDIATE;"
                         "DELETE FROM keys WHERE folded = 'target';"
                         "INSERT INTO keys(parent, name, folded) "
                         "  SELECT id, 'Target', 'target' FROM keys WHERE folded = 'race'",
                         nullptr, nullptr, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(other);
  std::thread commit([other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  });
  device::RegChangeFailure failure;
  const bool applied = device::ApplyRegChanges(
      {Change(device::RegChange::kSetValue, u"Race\\Target", u"v", "1")}, &failure);
  commit.join();
  sqlite3_close(other);
  ASSERT_TRUE(applied) << failure.error;
  EXPECT_EQ(ValueData(u"Race\\Target"), std::vector<std::string>{"v=1"}) << "the value went to the old key";
}

TEST_F(HostRegistry, OverlongKeyNamesAndBadArgumentsAreRefused) {
  EXPECT_EQ(RegCreateKey(RegRoot::LocalMachine, u"Long\\" + std::u16string(256, u'k'), kKeySetValue), nullptr);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(device::KeyExists(RegRoot::LocalMachine, u"Long"));
  EXPECT_FALSE(RegQueryValue(nullptr, u"x", nullptr, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
  RegKey key = RegCreateKey(RegRoot::LocalMachine, u"Args", kKeySetValue);
  uint32_t value = 0;
  EXPECT_FALSE(RegSetValue(key, u"x", kRegDword, nullptr, 4));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  RegSetValue(key, u"x", kRegDword, &value, 4);
  EXPECT_FALSE(RegQueryValue(key, u"x", nullptr, &value, nullptr));  // data without a size
  EXPECT_FALSE(RegDeleteKey(RegRoot::LocalMachine, u""));            // the root stays
  RegCloseKey(key);
}

TEST_F(HostRegistry, MissingDeviceFailsWithPathNotFoundAndMakesNothing) {
  std::string missing = device_name_ + "/not-a-device";
  device::SetFolder(missing);
  EXPECT_EQ(RegCreateKey(RegRoot::LocalMachine, u"Software\\Quadrakey", kKeySetValue), nullptr);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_EQ(RegOpenKey(RegRoot::LocalMachine, u"Software", kKeyRead), nullptr);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_EQ(GetFileAttributes(u"\\Windows"), kInvalidFileAttributes);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_EQ(CreateNamedMutex(u"AnyMutex"), nullptr);
  EXPECT_FALSE(ShellOpen(u"\\Windows\\x.lnk"));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  device::Journal("beep", "\"type\":0");
  EXPECT_FALSE(device::Exists());
  EXPECT_FALSE(std::filesystem::exists(missing));

  // A device removed while its connection is open is not written through it.
  device::SetFolder(device_name_);
  RegKey before = RegCreateKey(RegRoot::LocalMachine, u"Before", kKeySetValue);
  ASSERT_NE(before, nullptr);
  RegCloseKey(before);
  std::filesystem::remove(device_name_ + "/registry.db");
  EXPECT_EQ(RegCreateKey(RegRoot::LocalMachine, u"After", kKeySetValue), nullptr);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_FALSE(std::filesystem::exists(device_name_ + "/registry.db"));
}

TEST_F(HostRegistry, DeviceMadeAnewUnderAnOpenConnectionGetsTheWrites) {
  RegCloseKey(RegCreateKey(RegRoot::LocalMachine, u"Old", kKeySetValue));
  // As a forced re-initialisation does while a program runs.
  for (const char* part : {"/registry.db", "/registry.db-wal", "/registry.db-shm"})
    std::filesystem::remove(device_name_ + part);
  std::string error;
  ASSERT_TRUE(device::Create(&error)) << error;

  RegKey key = RegCreateKey(RegRoot::LocalMachine, u"New", kKeySetValue);
  ASSERT_NE(key, nullptr) << "last error " << GetLastError();
  uint32_t seven = 7;
  EXPECT_TRUE(RegSetValue(key, u"x", kRegDword, &seven, 4));
  RegCloseKey(key);

  device::SetFolder(device_name_);  // a fresh connection sees what is on disk
  std::vector<device::RegValue> values;
  ASSERT_TRUE(device::ListValues(RegRoot::LocalMachine, u"New", &values)) << "the write was lost";
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].data, std::string("\x07\0\0\0", 4));
  EXPECT_FALSE(device::KeyExists(RegRoot::LocalMachine, u"Old"));
}

TEST_F(HostRegistry, ProgramStartedWithoutADeviceSaysSoAndEnds) {
  const std::string missing = device_name_ + "/not-a-device";
  const std::string errors = device_name_ + "/helper.stderr";
  std::string setting = "QUADRAKEY_DEVICE=" + missing;
  std::vector<char*> envp{setting.data(), nullptr};
  std::vector<char*> argv{const_cast<char*>(QK_HOST_HELPER), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, QK_HOST_HELPER, &actions, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(host_test::WaitAll({pid}), std::vector<int>{1});
  std::ifstream in(errors);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("no emulated device in " + missing), std::string::npos) << text;
  EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(HostRegistry, CorruptDatabaseFailsEveryCallWithoutCrashing) {
  device::SetFolder(device_name_ + "/other");
  std::filesystem::create_directories(device_name_ + "/other");
  { std::ofstream(device_name_ + "/other/registry.db") << std::string(8192, 'x'); }
  EXPECT_EQ(RegCreateKey(RegRoot::LocalMachine, u"Software", kKeySetValue), nullptr);
  EXPECT_EQ(GetLastError(), kErrorRegistryCorrupt);
  EXPECT_FALSE(device::KeyExists(RegRoot::LocalMachine, u""));
  EXPECT_TRUE(device::ReadJournal().empty());
  std::string error;
  EXPECT_FALSE(device::Create(&error));
  EXPECT_NE(error.find("registry.db"), std::string::npos) << error;

  // A database, but not a device's: one of its tables missing.
  const std::string plain = device_name_ + "/plain";
  std::filesystem::create_directories(plain);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((plain + "/registry.db").c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "PRAGMA journal_mode=WAL; CREATE TABLE keys(id INTEGER PRIMARY KEY)", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  device::SetFolder(plain);
  EXPECT_EQ(RegOpenKey(RegRoot::LocalMachine, u"Software", kKeyQueryValue), nullptr);
  EXPECT_EQ(GetLastError(), kErrorRegistryCorrupt);
  device::SetFolder(device_name_);
}

TEST_F(HostRegistry, CreatingAgainKeepsWhatTheDeviceHolds) {
  RegCloseKey(RegCreateKey(RegRoot::LocalMachine, u"Kept", kKeySetValue));
  std::string error;
  ASSERT_TRUE(device::Create(&error)) << error;
  EXPECT_TRUE(device::KeyExists(RegRoot::LocalMachine, u"Kept"));
}

TEST_F(HostRegistry, FiftyProcessesReadAndWriteAtOnceWithoutLoss) {
  host_test::InstallHelper(u"\\Windows\\helper.exe");
  constexpr int kWorkers = 50, kWrites = 20;
  size_t first = device::StartedProcesses().size();
  for (int i = 0; i < kWorkers; ++i)
    ASSERT_TRUE(CreateProcess(u"\\Windows\\helper.exe",
                              u"registry " + device::FromUtf8(std::to_string(i)) + u" " +
                                  device::FromUtf8(std::to_string(kWrites))));
  std::vector<int> pids = device::StartedProcesses();
  pids.erase(pids.begin(), pids.begin() + first);
  ASSERT_EQ(pids.size(), static_cast<size_t>(kWorkers));
  std::vector<int> codes = host_test::WaitAll(pids);
  for (int i = 0; i < kWorkers; ++i) EXPECT_EQ(codes[i], 0) << "worker " << i;

  std::vector<std::u16string> workers;
  ASSERT_TRUE(device::ListSubkeys(RegRoot::LocalMachine, u"Software\\Stress", &workers));
  EXPECT_EQ(workers.size(), kWorkers + 1u);  // and the shared key
  std::vector<device::RegValue> shared;
  ASSERT_TRUE(device::ListValues(RegRoot::LocalMachine, u"Software\\Stress\\Shared", &shared));
  EXPECT_EQ(shared.size(), static_cast<size_t>(kWorkers * kWrites));
  for (int i = 0; i < kWorkers; ++i) {
    std::vector<device::RegValue> values;
    std::u16string path = u"Software\\Stress\\Worker" + device::FromUtf8(std::to_string(i));
    ASSERT_TRUE(device::ListValues(RegRoot::LocalMachine, path, &values)) << i;
    ASSERT_EQ(values.size(), static_cast<size_t>(kWrites)) << i;
    // Each value holds what its writer wrote, not a neighbour's number.
    for (const device::RegValue& value : values) {
      int j = std::stoi(device::ToUtf8(value.name.substr(1)));
      uint32_t expected = static_cast<uint32_t>(i * 1000 + j);
      EXPECT_EQ(value.type, kRegDword);
      EXPECT_EQ(value.data, std::string(reinterpret_cast<const char*>(&expected), 4)) << i << "/" << j;
    }
  }
  for (const device::RegValue& value : shared) {
    std::string name = device::ToUtf8(value.name);  // "w<worker>-<write>"
    size_t dash = name.find('-');
    ASSERT_NE(dash, std::string::npos) << name;
    uint32_t expected = static_cast<uint32_t>(std::stoi(name.substr(1, dash - 1)) * 1000 +
                                              std::stoi(name.substr(dash + 1)));
    EXPECT_EQ(value.data, std::string(reinterpret_cast<const char*>(&expected), 4)) << name;
  }
}

}  // namespace

// The log reaches registry.db only by a fold: within the commit that passes
// 64 pages here, as devicesim and the tests have it, and only at the end for
// a device program, so that a press never waits for the disk before it acts.
TEST_F(HostRegistry, ADeviceProgramFoldsTheLogAsItEnds) {
  const std::string db = device_name_ + "/registry.db";
  const auto size = [&db] {
    struct stat st{};
    return stat(db.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
  };
  // A value of 3,000 bytes fills a page of the table on its own.
  const auto write_pages = [](const std::u16string& path) {
    RegKey key = RegCreateKey(RegRoot::LocalMachine, path, kKeySetValue);
    ASSERT_NE(key, nullptr);
    const std::string data(3000, 'x');
    for (int i = 0; i < 80; ++i)
      ASSERT_TRUE(RegSetValue(key, u"v" + device::FromUtf8(std::to_string(i)), kRegBinary, data.data(),
                              static_cast<uint32_t>(data.size())));
    RegCloseKey(key);
  };
  EXPECT_FALSE(device::FoldLogIfDue()) << "not asked for";
  long long before = size();
  write_pages(u"Fold\\Within");
  EXPECT_GT(size(), before) << "folded within the commit past 64 pages";

  device::FoldLogAtEnd();
  before = size();
  write_pages(u"Fold\\AtEnd");
  EXPECT_EQ(size(), before) << "folded before the end";
  EXPECT_TRUE(device::FoldLogIfDue());
  EXPECT_GT(size(), before);
  struct stat log{};
  ASSERT_EQ(stat((db + "-wal").c_str(), &log), 0);
  EXPECT_EQ(log.st_size, 0) << "the next program to open the device alone has no log to read";
  EXPECT_FALSE(device::FoldLogIfDue()) << "nothing left to fold";
  EXPECT_EQ(ValueData(u"Fold\\AtEnd").size(), 80u);
}

// Writers killed at any point (in a commit, in a fold of the log back into
// registry.db, between commits) leave a registry that is whole, where every
// transaction is all or nothing and none a writer saw committed is lost.
TEST_F(HostRegistry, WritersKilledAtAnyPointLoseNothingTheyCommitted) {
  host_test::InstallHelper(u"\\Windows\\helper.exe");
  constexpr int kWriters = 3, kRounds = 40;
  std::mt19937 random(20240607);
  int corrupt = 0, partial = 0, lost = 0;
  for (int round = 0; round < kRounds; ++round) {
    size_t first = device::StartedProcesses().size();
    // Each writer of each round has a key and a log of its own.
    auto id = [round](int w) { return std::to_string(round * kWriters + w); };
    for (int w = 0; w < kWriters; ++w)
      ASSERT_TRUE(CreateProcess(u"\\Windows\\helper.exe", u"commit " + device::FromUtf8(id(w))));
    std::vector<int> pids = device::StartedProcesses();
    pids.erase(pids.begin(), pids.begin() + first);
    std::this_thread::sleep_for(std::chrono::milliseconds(2 + random() % 60));
    for (int pid : pids) kill(pid, SIGKILL);
    host_test::WaitAll(pids);

    // A connection of its own, as the next program to start would open it.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2((device_name_ + "/registry.db").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr),
              SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
    const bool whole = sqlite3_step(check) == SQLITE_ROW &&
                       std::string(reinterpret_cast<const char*>(sqlite3_column_text(check, 0))) == "ok";
    sqlite3_finalize(check);
    sqlite3_close(db);
    if (!whole) ++corrupt;

    device::SetFolder(device_name_);
    for (int w = 0; w < kWriters; ++w) {
      // The last number the writer saw committed (a line cut by the kill is not one).
      std::istringstream log(host_test::GetFile(u"\\committed" + device::FromUtf8(id(w)) + u".txt"));
      uint32_t seen = 0;
      for (std::string line; std::getline(log, line);)
        if (!log.eof()) seen = static_cast<uint32_t>(std::stoul(line));
      std::vector<device::RegValue> values;
      std::set<uint32_t> stored;
      if (device::ListValues(RegRoot::LocalMachine, u"Software\\Kill\\Worker" + device::FromUtf8(id(w)), &values)) {
        for (const device::RegValue& value : values) {
          const std::string text = device::ToUtf8(device::RegTextOf(value.data));
          stored.insert(static_cast<uint32_t>(std::stoul(text.substr(0, text.find(':')))));
        }
      }
      if (values.size() != (stored.empty() ? 0u : 8u) || stored.size() > 1) ++partial;
      // Killed between its commit and its log line, a writer may be one ahead.
      const uint32_t now = stored.empty() ? 0 : *stored.begin();
      if (now < seen || now > seen + 1) ++lost;
      EXPECT_TRUE(now >= seen && now <= seen + 1) << "round " << round << " writer " << w << ": saw " << seen
                                                   << " committed, the registry holds " << now;
    }
  }
  // Printed, so that a run's counts can be quoted.
  std::printf("%d rounds of %d writers killed: %d corrupt, %d partial, %d lost\n", kRounds, kWriters, corrupt,
              partial, lost);
  EXPECT_EQ(corrupt, 0);
  EXPECT_EQ(partial, 0);
  EXPECT_EQ(lost, 0);
}
