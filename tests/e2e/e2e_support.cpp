#include "tests/e2e/e2e_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

struct Started {
  pid_t pid = -1;
  std::string out_path, err_path;
};

Started Start(const std::vector<std::string>& argv, const std::string& device_folder, int number) {
  Started started;
  std::string base = (std::filesystem::temp_directory_path() /
                      ("qk_e2e_" + std::to_string(getpid()) + "_" + std::to_string(number)))
                         .string();
  started.out_path = base + ".out";
  started.err_path = base + ".err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, started.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, started.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::string setting = "QUADRAKEY_DEVICE=" + device_folder;
  std::vector<char*> env;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "QUADRAKEY_DEVICE=", 17) != 0) env.push_back(*e);
  if (!device_folder.empty()) env.push_back(setting.data());
  env.push_back(nullptr);
  if (posix_spawn(&started.pid, argv[0].c_str(), &actions, nullptr, args.data(), env.data()) != 0)
    started.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return started;
}

RunResult Finish(const Started& started) {
  RunResult result;
  if (started.pid > 0) {
    int status = 0;
    if (waitpid(started.pid, &status, 0) == started.pid && WIFEXITED(status))
      result.status = WEXITSTATUS(status);
  }
  result.out = ReadAll(started.out_path);
  result.err = ReadAll(started.err_path);
  std::remove(started.out_path.c_str());
  std::remove(started.err_path.c_str());
  return result;
}

std::string Quoted(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) text += " '" + arg + "'";
  return text;
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const std::string& device_folder) {
  return Finish(Start(argv, device_folder, 0));
}

std::vector<RunResult> RunTogether(const std::vector<std::vector<std::string>>& argvs,
                                   const std::string& device_folder) {
  std::vector<Started> started;
  for (size_t i = 0; i < argvs.size(); ++i)
    started.push_back(Start(argvs[i], device_folder, static_cast<int>(i) + 1));
  std::vector<RunResult> results;
  for (const Started& one : started) results.push_back(Finish(one));
  return results;
}

std::string Event::Member(const std::string& name) const {
  if (!object.is_object() || !object.contains(name)) return "";
  return object[name].dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::vector<Event> ParseEvents(const std::string& json_lines) {
  std::vector<Event> events;
  std::istringstream lines(json_lines);
  std::string line;
  while (std::getline(lines, line)) {
    // series prints a heading line before its entries unless --json.
    nlohmann::ordered_json object = nlohmann::ordered_json::parse(line, nullptr, false);
    if (!object.is_object()) continue;
    Event event;
    event.line = line;
    event.t = object.value("t", int64_t{0});
    event.pid = object.value("pid", int64_t{0});
    event.event = object.value("event", std::string());
    event.object = std::move(object);
    events.push_back(std::move(event));
  }
  return events;
}

std::vector<Event> OfKind(const std::vector<Event>& events, const std::string& kind) {
  std::vector<Event> found;
  for (const Event& event : events)
    if (event.event == kind) found.push_back(event);
  return found;
}

std::vector<Event> KeyDowns(const std::vector<Event>& events) {
  std::vector<Event> found;
  for (const Event& event : OfKind(events, "key"))
    if (event.Is("up", "false")) found.push_back(event);
  return found;
}

std::string EndToEndTest::Program(const std::string& name) const {
  return std::string(QK_BIN_DIR) + "/" + name;
}

void EndToEndTest::SetUp() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qke2e.XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  folder_ = pattern;
  Sim({"init"});
  Sim({"install", QK_BIN_DIR});
  SetSettingDword("HoldInterval", 300);
  SetSettingDword("DblClickInterval", 400);
}

void EndToEndTest::TearDown() {
  std::error_code ignored;
  if (!folder_.empty() && std::getenv("QK_KEEP_TEST_DEVICES") == nullptr)
    std::filesystem::remove_all(folder_, ignored);
}

std::string EndToEndTest::Sim(std::vector<std::string> args) {
  args.insert(args.begin(), {Program("devicesim"), "--device", folder_});
  RunResult result = RunProgram(args, "");
  EXPECT_EQ(result.status, 0) << "devicesim" << Quoted(args) << "\n" << result.err;
  return result.out;
}

void EndToEndTest::SetSetting(const std::string& name, const std::string& text) {
  Sim({"reg", "set", "HKLM\\Software\\Quadrakey", name, "--sz", text});
}

void EndToEndTest::SetSettingDword(const std::string& name, uint32_t value) {
  Sim({"reg", "set", "HKLM\\Software\\Quadrakey", name, "--dword", std::to_string(value)});
}

std::string EndToEndTest::GetSetting(const std::string& name) {
  std::string text = Sim({"reg", "get", "HKLM\\Software\\Quadrakey", name});
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

void EndToEndTest::TakeOver(const std::string& entry, int button) {
  const std::string letter(1, static_cast<char>('A' + button));
  const std::string shortcut = "\\Program Files\\Quadrakey\\Tapdeck" + letter + ".lnk";
  Sim({"shortcut", shortcut, "\"\\Program Files\\Quadrakey\\TapdeckX.exe\" " + std::to_string(button)});
  Sim({"reg", "set", "HKLM\\SOFTWARE\\Microsoft\\Shell\\Keys\\" + entry, "@", "--sz", "\"" + shortcut + "\""});
  SetSettingDword("VirtualKey" + letter, static_cast<uint32_t>(std::strtoul(entry.c_str() + 2, nullptr, 16)));
}

std::vector<Event> EndToEndTest::Series(const std::string& entry, const std::vector<int>& durations) {
  std::vector<std::string> args = {"series", entry};
  for (int ms : durations) args.push_back(std::to_string(ms));
  args.push_back("--json");
  return ParseEvents(Sim(args));
}

std::string EndToEndTest::DeviceFile(const std::string& device_path) {
  RunResult result = RunProgram({Program("devicesim"), "--device", folder_, "path", device_path}, "");
  std::string host = result.out;
  while (!host.empty() && host.back() == '\n') host.pop_back();
  if (result.status != 0 || !std::filesystem::exists(host)) return "<none>";
  return ReadAll(host);
}
