// devicesim run and devicesim ui against a real program with windows (the
// window system's test program), as a person at the device would drive it.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>

#include "platform/person.h"
#include "tests/devicesim/run_program.h"
#include "tests/platform_host/json_checker.h"

namespace fs = std::filesystem;

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Running, not merely waiting to be reaped.
bool Running(int pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(file, line)) return false;
  size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

std::string Comm(int pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(file, name);
  return name;
}

class DevicesimUi : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "qkdevui.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    folder_ = root_ + "/device";
    ProgramRun init = Sim({"init"});
    ASSERT_EQ(init.status, 0) << init.err;
    ProgramRun path = Sim({"path", "\\Program Files\\Quadrakey\\uitest.exe"});
    ASSERT_EQ(path.status, 0) << path.err;
    fs::copy_file(UI_PROGRAM_PATH, path.out.substr(0, path.out.find('\n')));
  }
  void TearDown() override {
    // Only the test programs this test started, and only while they still are.
    for (int pid : started_)
      if (Comm(pid) == "uitest.exe") kill(pid, SIGKILL);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  ProgramRun Sim(std::vector<std::string> args) {
    args.insert(args.begin(), {DEVICESIM_PATH, "--device", folder_});
    return RunProgram(args);
  }
  // devicesim ui ARGS, which is expected to succeed; its output.
  std::string Ui(std::vector<std::string> args) {
    args.insert(args.begin(), "ui");
    ProgramRun run = Sim(args);
    EXPECT_EQ(run.status, 0) << args[1] << ": " << run.err;
    return run.out;
  }
  // devicesim ui ARGS, which is expected to be refused; its message.
  std::string Refused(std::vector<std::string> args, int status = 1) {
    args.insert(args.begin(), "ui");
    ProgramRun run = Sim(args);
    EXPECT_EQ(run.status, status) << run.out;
    return run.err;
  }
  // Starts the test program; its pid once it waits for input.
  int Start(std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"run", "uitest"});
    ProgramRun run = Sim(args);
    EXPECT_EQ(run.status, 0) << run.err;
    std::smatch match;
    if (!std::regex_search(run.out, match, std::regex("pid ([0-9]+)"))) {
      ADD_FAILURE() << run.out;
      return -1;
    }
    int pid = std::stoi(match[1]);
    started_.push_back(pid);
    EXPECT_TRUE(Has(run.out, "pid " + std::to_string(pid) + " waits for input\n")) << run.out;
    return pid;
  }

  std::string root_;
  std::string folder_;
  std::vector<int> started_;
};

TEST_F(DevicesimUi, APersonWorksThroughPagesDialogsFilesAndMessageBoxes) {
  int pid = Start();
  std::string state = Sim({"state"}).out;
  std::smatch window;
  ASSERT_TRUE(std::regex_search(state, window, std::regex("main window: (0x[0-9a-f]+) \"UI Test\" \\(class "
                                                          "QkUiTestWindow\\), pid " + std::to_string(pid) + "\n")))
      << state;
  EXPECT_TRUE(Has(state, "foreground window: " + window[1].str() + "\n")) << state;
  std::string screen = Ui({"show"});
  EXPECT_TRUE(Has(screen, "uitest (pid " + std::to_string(pid) + ")\npage set \"UI Test\": [Page A] Page B\n")) << screen;
  EXPECT_TRUE(Has(screen, "  109    label      \"ready\"\n")) << screen;

  // A selection by text or number reaches the page, which answers in its label.
  EXPECT_TRUE(Has(Ui({"select", "101", "GAMMA"}), "  109    label      \"list: 2 code 30\"\n"));
  EXPECT_TRUE(Has(Ui({"select", "103", "4"}), "  109    label      \"combo: 4 code 1004\"\n"));
  // A click toggles the check box before the page hears of it; the page shows its note.
  screen = Ui({"click", "102"});
  EXPECT_TRUE(Has(screen, "  102    check box  \"Use the thing\"  checked\n")) << screen;
  EXPECT_TRUE(Has(screen, "  105    label      \"A note shown with the thing\"\n")) << screen;
  // Negative numbers reach the action: the thumb stops at its left end; no
  // line has the number -1, so it is looked for as a text.
  EXPECT_TRUE(Has(Ui({"slide", "104", "-5"}), "  104    trackbar   range 200..800, position 200\n"));
  EXPECT_EQ(Refused({"select", "101", "-1"}), "devicesim ui: control 101 has no line \"-1\"\n");
  EXPECT_TRUE(Has(Ui({"slide", "104", "9000"}), "  104    trackbar   range 200..800, position 800\n"));
  EXPECT_EQ(Refused({"click", "106"}), "devicesim ui: control 106 is disabled\n");
  EXPECT_EQ(Refused({"click", "1009"}), "devicesim ui: control 1009 is hidden\n");
  EXPECT_EQ(Refused({"select", "101", "Delta"}), "devicesim ui: control 101 has no line \"Delta\"\n");
  EXPECT_EQ(Refused({"click", "111"}), "devicesim ui: no control 111 on page \"Page A\"\n");

  // An action that opens a dialog returns with the dialog on the screen.
  screen = Ui({"click", "107"});
  EXPECT_TRUE(Has(screen, "dialog \"Choose\" (template 210, 138x168 dialog units, Done button):\n")) << screen;
  EXPECT_TRUE(Has(screen, "  121    check box  \"One\"  checked\n")) << screen;
  EXPECT_EQ(Ui({"click", "122", "--quiet"}), "");
  EXPECT_TRUE(Has(Ui({"done"}), "  109    label      \"dialog: 7\"\n"));

  screen = Ui({"tab", "page b"});
  EXPECT_TRUE(Has(screen, "page set \"UI Test\": Page A [Page B]\n")) << screen;
  screen = Ui({"click", "112"});
  EXPECT_TRUE(Has(screen, "file-open dialog \"Select file to launch\" (the file must exist), in front:\n")) << screen;
  EXPECT_EQ(Refused({"file", "\\My Documents\\nothing.txt"}),
            "devicesim ui: no file \\My Documents\\nothing.txt on the device (this dialog takes only a file that "
            "exists)\n");
  EXPECT_TRUE(Has(Ui({"file", "\\My Documents\\Welcome.htm"}),
                  "  119    label      \"file: \\My Documents\\Welcome.htm\"\n"));
  Ui({"click", "112"});
  EXPECT_TRUE(Has(Ui({"cancel-file"}), "  119    label      \"file: none (error 0)\"\n"));
  // The program gives the dialog room for 39 characters: a longer path fails it, whole.
  Ui({"click", "112"});
  ProgramRun made = Sim({"path", "\\My Documents\\a file with a rather long name.txt"});
  std::ofstream(made.out.substr(0, made.out.find('\n'))) << "x";
  EXPECT_TRUE(Has(Ui({"file", "\\My Documents\\a file with a rather long name.txt"}),
                  "  119    label      \"file: none (error 122)\"\n"));

  screen = Ui({"click", "111"});
  EXPECT_TRUE(Has(screen, "message box \"UI Test\" (flags 0x40), in front:\n  \"Hello from page B\"\n  [OK]\n"))
      << screen;
  EXPECT_EQ(Refused({"done"}), "devicesim ui: a message box is in front: answer it first\n");
  EXPECT_TRUE(Has(Ui({"answer"}), "  119    label      \"answered 1\"\n"));

  // Done: page A's apply shows its box, and the program ends once it is answered.
  screen = Ui({"done"});
  EXPECT_TRUE(Has(screen, "  \"Applying page A\"\n  [OK]\n")) << screen;
  EXPECT_EQ(Ui({"answer"}), "uitest (pid " + std::to_string(pid) + ") ended with exit code 0\n");
  EXPECT_EQ(Refused({"show"}), "devicesim ui: no tapdeck runs on this device\n");

  std::string journal = Sim({"journal"}).out;
  EXPECT_TRUE(Has(journal, "message    text=\"Hello from page B\" caption=\"UI Test\" flags=64")) << journal;
  EXPECT_TRUE(Has(journal, "uitest     apply=\"A\" slider=800\n")) << journal;
  EXPECT_TRUE(Has(journal, "uitest     apply=\"B\"\n")) << journal;
}

TEST_F(DevicesimUi, TheJsonScreenHoldsEverythingABrowserDraws) {
  Start({"lines", "10000"});
  std::string json = Ui({"show", "--json"});
  EXPECT_TRUE(JsonChecker(json).Valid()) << json.substr(0, 2000);
  EXPECT_TRUE(Has(json, "\"front\":\"pageset\",\"stack\":[{\"kind\":\"pageset\",")) << json.substr(0, 2000);
  EXPECT_TRUE(Has(json, "\"tabs\":[\"Page A\",\"Page B\"],\"current\":0,"));
  EXPECT_TRUE(Has(json, "{\"text\":\"Entry 9999\",\"code\":10999}]"));
  EXPECT_TRUE(Has(json, "\"class\":\"QkUiTestWindow\",\"title\":\"UI Test\",\"area\":{\"left\":0,\"top\":26,"
                        "\"width\":240,\"height\":294}"));
  std::string brief = Ui({"select", "103", "Entry 9998", "--json", "--no-lines"});
  EXPECT_TRUE(JsonChecker(brief).Valid()) << brief;
  EXPECT_FALSE(Has(brief, "Entry 9999"));
  EXPECT_TRUE(Has(brief, "\"lineCount\":10000,\"selected\":9998,\"selectedText\":\"Entry 9998\","
                         "\"selectedCode\":10998}"));
  EXPECT_TRUE(Has(brief, "\"text\":\"combo: 9998 code 10998\""));
  // Text leaves the catalogue's lines out unless asked.
  EXPECT_FALSE(Has(Ui({"show"}), "Entry 5\""));
  EXPECT_TRUE(Has(Ui({"show", "--lines"}), "      5: \"Entry 5\" (code 1005)\n"));

  Ui({"click", "107"});
  json = Ui({"show", "--json"});
  EXPECT_TRUE(JsonChecker(json).Valid());
  EXPECT_TRUE(Has(json, "\"front\":\"dialog\"")) << json.substr(0, 500);
  EXPECT_TRUE(Has(json, "{\"kind\":\"dialog\",\"owner\":"));
  EXPECT_TRUE(Has(json, "\"template\":210,\"caption\":\"Choose\",\"font\":\"Arial\",\"pointSize\":10,"));
}

TEST_F(DevicesimUi, TimeLimitsAndProgramsThatAreGone) {
  EXPECT_EQ(Refused({"show"}), "devicesim ui: no tapdeck runs on this device\n");
  int pid = Start();
  // The busy button holds the program until the test makes its release file,
  // so the requests below meet a busy program however slow the machine is.
  ProgramRun busy;
  std::atomic<bool> busy_answered{false};
  std::thread busy_click([&] {
    busy = Sim({"ui", "click", "110", "--timeout", "600000"});
    busy_answered = true;
  });
  bool started = false;
  for (auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
       !started && std::chrono::steady_clock::now() < give_up;) {
    started = Has(Sim({"journal"}).out, "busy=\"started\"");
    if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(started) << "the busy button was never clicked";
  // The client gives up, and its late click is never made.
  std::string err = Refused({"click", "102", "--timeout", "100"});
  EXPECT_TRUE(Has(err, " did not wait for input within 100 ms (it was busy; the action may still happen)")) << err;
  err = Refused({"show", "--timeout", "50"});
  EXPECT_TRUE(Has(err, " did not wait for input within 50 ms\n")) << err;
  EXPECT_FALSE(busy_answered) << "the program answered while busy: " << busy.out;
  ProgramRun release = Sim({"path", "\\busy-release"});
  std::ofstream(release.out.substr(0, release.out.find('\n'))) << "go";
  busy_click.join();
  EXPECT_EQ(busy.status, 0) << busy.err;
  EXPECT_TRUE(Has(busy.out, "  109    label      \"busy done\"\n")) << busy.out;
  std::string screen = Ui({"show"});
  EXPECT_TRUE(Has(screen, "  109    label      \"busy done\"\n")) << screen;
  EXPECT_TRUE(Has(screen, "  102    check box  \"Use the thing\"  unchecked\n")) << screen;

  // A second start brings the first copy to the front and ends.
  ProgramRun second = Sim({"run", "uitest"});
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_TRUE(std::regex_search(second.out, std::regex("pid [0-9]+ ended with exit code 0\n"))) << second.out;
  std::string journal = Sim({"journal", "--json"}).out;
  std::smatch foreground;
  ASSERT_TRUE(std::regex_search(journal, foreground, std::regex("\"event\":\"foreground\",\"window\":([0-9]+)")));
  EXPECT_TRUE(Has(journal.substr(foreground.position() + foreground.length()),
                  "\"event\":\"foreground\",\"window\":" + foreground[1].str()))
      << journal;

  // Cancelling ends this program with its own exit code; a killed one is simply gone.
  EXPECT_EQ(Ui({"cancel"}), "uitest (pid " + std::to_string(pid) + ") ended with exit code 4\n");
  int other = Start();
  kill(other, SIGKILL);
  for (auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
       Running(other) && std::chrono::steady_clock::now() < give_up;)
    usleep(5000);
  EXPECT_EQ(Refused({"show"}), "devicesim ui: no tapdeck runs on this device\n");
}

TEST_F(DevicesimUi, RunAndUiCommandLines) {
  EXPECT_EQ(Refused({}, 2), "devicesim ui: which action? (show, select, click, slide, type, tab, done, cancel, answer, "
                            "file, cancel-file)\nTry 'devicesim ui --help'.\n");
  EXPECT_TRUE(Has(Refused({"frob"}, 2), "unknown action 'frob'"));
  EXPECT_TRUE(Has(Refused({"select", "101"}, 2), "usage: devicesim ui select ID LINE"));
  EXPECT_TRUE(Has(Refused({"click", "ok"}, 2), "'ok' is not a control id"));
  EXPECT_TRUE(Has(Refused({"slide", "104", "far"}, 2), "'far' is not a position"));
  EXPECT_TRUE(Has(Refused({"file"}, 2), "usage: devicesim ui file PATH"));
  EXPECT_TRUE(Has(Refused({"show", "--timeout", "0"}, 2), "--timeout takes milliseconds"));
  EXPECT_TRUE(Has(Refused({"cancel-file", "now"}, 2), "usage: devicesim ui cancel-file"));
  EXPECT_TRUE(Has(Refused({"show", "--text"}, 2), "--text goes with an action that takes a LINE"));
  EXPECT_TRUE(Has(Refused({"click", "-"}, 2), "'-' is not a control id"));
  // The help lists every action of the table, with its arguments.
  const std::string help = Sim({"ui", "--help"}).out;
  for (const plat::person::ActionSpec& spec : plat::person::kActionSpecs)
    EXPECT_TRUE(Has(help, "\n  " + std::string(spec.verb) + " ")) << spec.verb << "\n" << help;
  EXPECT_TRUE(Has(help, "  select ID LINE      select a line of list box or combo box ID; LINE is a line\n"))
      << help;

  ProgramRun run = Sim({"run"});
  EXPECT_EQ(run.status, 2);
  run = Sim({"run", "nosuch"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run.err, "no program nosuch on the device (looked for \\Program Files\\Quadrakey\\nosuch.exe and "
                           "\\Windows\\nosuch.exe"))
      << run.err;
  // A stock program of the device only shows in the journal.
  run = Sim({"run", "notes"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Has(run.out, "only journalled")) << run.out;

  // By device path, without waiting, with its command line; its output goes to the device folder.
  run = Sim({"run", "--no-wait", "\\Program Files\\Quadrakey\\uitest.exe", "lines", "3"});
  EXPECT_EQ(run.status, 0) << run.err;
  std::smatch match;
  ASSERT_TRUE(std::regex_search(run.out, match, std::regex("pid ([0-9]+) \\(output: (.*)\\)\n")));
  started_.push_back(std::stoi(match[1]));
  EXPECT_EQ(match[2].str(), folder_ + "/output/uitest.txt");
  // Not waited for: its first screen may still be coming.
  std::string screen;
  for (int tries = 0; tries < 1000 && screen.empty(); ++tries) {
    ProgramRun show = Sim({"ui", "show"});
    if (show.status == 0) {
      screen = show.out;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  EXPECT_TRUE(Has(screen, "  103    combo box  3 lines, none selected\n")) << screen;
  Ui({"tab", "Page B"});
  Ui({"click", "111"});
  std::ifstream output(folder_ + "/output/uitest.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(output), {}), "UI Test: Hello from page B\n");
}

}  // namespace
