// Cost of one settings access as the press launcher makes them: every call
// opens the key, reads or writes one value and closes it again.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/host/device/device.h"
#include "shared/settings.h"

namespace {

// A fresh device for the whole run, removed at exit.
class BenchDevice {
 public:
  BenchDevice() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qkbench.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    folder_ = pattern;
    device::SetFolder(folder_);
    std::string error;
    if (!device::Create(&error)) std::abort();
    SetShortcut(0, 1, false, u"\\Windows\\Start Menu\\Programs\\Notes.lnk");
    SetState(0, 0);
  }
  ~BenchDevice() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

 private:
  std::string folder_;
};

void EnsureDevice() { static BenchDevice device; }

void BM_GetState(benchmark::State& state) {
  EnsureDevice();
  for (auto _ : state) benchmark::DoNotOptimize(GetState(0));
}
BENCHMARK(BM_GetState);

void BM_GetShortcut(benchmark::State& state) {
  EnsureDevice();
  for (auto _ : state) benchmark::DoNotOptimize(GetShortcut(0, 1, false).size());
}
BENCHMARK(BM_GetShortcut);

void BM_SetState(benchmark::State& state) {
  EnsureDevice();
  uint32_t value = 0;
  for (auto _ : state) SetState(0, ++value & 3);
}
BENCHMARK(BM_SetState);

}  // namespace
