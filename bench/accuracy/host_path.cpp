#include "bench/accuracy/host_path.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "bench/support/bench_support.h"

namespace accuracy {
namespace {

// Button 2 of the stock device (index 1, letter B), taken over.
constexpr char kEntry[] = "40C2";
constexpr int kKey = 0xC2;
constexpr char kApp[] = "\\Program Files\\Quadrakey\\";
constexpr char kSettings[] = "HKLM\\Software\\Quadrakey";
// A series ends well within this; past it devicesim names what still runs.
constexpr int kSeriesTimeoutMs = 20000;

}  // namespace

HostPath::~HostPath() {
  if (device_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(device_, ignored);
  std::filesystem::remove(device_ + ".out", ignored);
}

bool HostPath::Sim(std::vector<std::string> args, std::string* out, std::string* error) {
  args.insert(args.begin(), {bin_dir_ + "/devicesim", "--device", device_});
  const std::string out_path = device_ + ".out";
  // A series beside a load tells of each key moved late; the times as
  // played are in the journal all the same.
  const int status = bench::RunProgram(args, out_path.c_str(), args[3] == "series");
  if (out != nullptr) {
    std::ifstream file(out_path);
    std::stringstream text;
    text << file.rdbuf();
    *out = text.str();
  }
  if (status == 0) return true;
  *error = "devicesim " + args[3] + " ended with " + std::to_string(status);
  return false;
}

bool HostPath::Prepare(const std::string& bin_dir, std::string* error) {
  bin_dir_ = bin_dir;
  device_ = bench::MakeTempFolder("qkaccuracy");
  if (device_.empty()) {
    *error = "cannot make a device folder";
    return false;
  }
  const std::string app = kApp;
  const std::vector<std::vector<std::string>> steps = {
      {"init"},
      {"install", bin_dir},
      {"shortcut", app + "TapdeckB.lnk", "\"" + app + "TapdeckX.exe\" 1"},
      {"reg", "set", std::string("HKLM\\SOFTWARE\\Microsoft\\Shell\\Keys\\") + kEntry, "@", "--sz",
       "\"" + app + "TapdeckB.lnk\""},
      {"reg", "set", kSettings, "VirtualKeyB", "--dword", std::to_string(kKey)},
      // The intervals as a new installation has them.
      {"reg", "set", kSettings, "HoldInterval", "--dword", std::to_string(press_rule::kDefaultIntervalMs)},
      {"reg", "set", kSettings, "DblClickInterval", "--dword", std::to_string(press_rule::kDefaultIntervalMs)},
      {"reg", "set", kSettings, "ButtonB", "--sz", kSlotActions[0].action},
      {"reg", "set", kSettings, "ButtonBh", "--sz", kSlotActions[1].action},
      {"reg", "set", kSettings, "ButtonB2", "--sz", kSlotActions[2].action},
      {"reg", "set", kSettings, "ButtonB2h", "--sz", kSlotActions[3].action},
  };
  for (const std::vector<std::string>& step : steps)
    if (!Sim(step, nullptr, error)) return false;
  timing_ = press_rule::Timing{press_rule::kDefaultIntervalMs, press_rule::kDefaultIntervalMs};
  return true;
}

bool HostPath::Play(const PlannedSeries& series, Observed* observed, std::string* problem) {
  *observed = Observed{};
  std::vector<std::string> args = {"series", kEntry};
  for (size_t i = 0; i < series.presses.size(); ++i) {
    if (i > 0) args.push_back(std::to_string(series.presses[i].down - series.presses[i - 1].up));
    args.push_back(std::to_string(series.presses[i].up - series.presses[i].down));
  }
  args.insert(args.end(), {"--json", "--timeout", std::to_string(kSeriesTimeoutMs)});
  std::string out;
  const bool ran = Sim(args, &out, problem);

  // The journal, "t" in ms from the first key down: the button's moves, and
  // the keys the dispatches sent.
  std::istringstream lines(out);
  std::string line;
  bool down = false;
  while (std::getline(lines, line)) {
    const nlohmann::json entry = nlohmann::json::parse(line, nullptr, false);
    if (!entry.is_object() || !entry.contains("t") || !entry["t"].is_number_integer()) continue;
    const int64_t t = entry["t"].get<int64_t>();
    const std::string event = entry.value("event", "");
    const int vk = entry.value("vk", -1);
    if (event == "button" && vk == kKey) {
      const bool went_down = entry.value("down", false);
      if (went_down == down || t < 0) {
        observed->complete = false;
        continue;
      }
      down = went_down;
      if (went_down) {
        observed->presses.push_back({static_cast<uint64_t>(t), 0});
      } else {
        observed->presses.back().up = static_cast<uint64_t>(t);
      }
    } else if (event == "key" && !entry.value("up", true)) {
      Slot slot;
      if (SlotOfKey(vk, &slot)) observed->dispatches.push_back({slot, t});
    }
  }
  if (down || observed->presses.empty()) observed->complete = false;
  return ran;
}

}  // namespace accuracy
