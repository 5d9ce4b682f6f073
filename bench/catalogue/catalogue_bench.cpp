// The catalogue is built once at start-up, before the page set shows, so
// its cost is start-up delay. A Start Menu of 10,000 shortcuts in 200
// folders is far beyond a real device's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/model/catalogue.h"
#include "platform/host/device/device.h"

namespace {

constexpr int kFolders = 200;
constexpr int kShortcutsPerFolder = 50;

class GeneratedDevice {
 public:
  GeneratedDevice() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qkbench.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    folder_ = pattern;
    device::SetFolder(folder_);
    std::string error;
    if (!device::Create(&error)) {
      std::fprintf(stderr, "cannot make a device: %s\n", error.c_str());
      std::abort();
    }
    const std::filesystem::path menu = device::HostPath(u"\\Windows\\Start Menu");
    for (int f = 0; f < kFolders; ++f) {
      // Half the folders below Programs, some two levels deep.
      std::filesystem::path dir = menu / (f % 2 ? "Programs" : "") / ("Group " + std::to_string(f));
      if (f % 5 == 0) dir /= "Sub";
      std::filesystem::create_directories(dir);
      for (int s = 0; s < kShortcutsPerFolder; ++s) {
        std::ofstream(dir / ("App " + std::to_string((s * 7919 + f) % 10007) + ".lnk"))
            << "6#\\a.exe";
      }
      std::ofstream(dir / "readme.txt") << "not a shortcut";
    }
  }
  ~GeneratedDevice() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

 private:
  std::string folder_;
};

void BM_BuildCatalogue(benchmark::State& state) {
  GeneratedDevice generated;
  for (auto _ : state) {
    BuildCatalogue();
    benchmark::DoNotOptimize(GetCatalogueCount());
  }
  if (GetCatalogueCount() != static_cast<size_t>(kFolders * kShortcutsPerFolder))
    state.SkipWithError("the catalogue missed shortcuts");
  state.counters["entries"] = static_cast<double>(GetCatalogueCount());
}
BENCHMARK(BM_BuildCatalogue)->Unit(benchmark::kMillisecond);

}  // namespace
