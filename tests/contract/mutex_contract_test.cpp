// Named mutex behaviour every backend must share.
#include <atomic>
#include <thread>

#include "platform/platform.h"
#include "tests/support/test_device.h"

using namespace plat;

namespace {

class MutexContract : public DeviceTest {};

bool Acquired(WaitResult r) { return r == WaitResult::Acquired || r == WaitResult::Abandoned; }

TEST_F(MutexContract, SameNameIsOneMutexAndOwnerMayReenter) {
  Mutex a = CreateNamedMutex(u"QuadrakeyContractSame");
  Mutex b = CreateNamedMutex(u"QuadrakeyContractSame");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(Acquired(WaitForMutex(a, 1000)));
  EXPECT_TRUE(Acquired(WaitForMutex(b, 0)));  // same owner, through the other handle

  // Another thread sees it held until both acquisitions are released.
  std::atomic<int> seen{-1};
  auto try_from_thread = [&] {
    std::thread other([&] {
      WaitResult r = WaitForMutex(a, 0);
      seen = Acquired(r) ? 1 : (r == WaitResult::Timeout ? 0 : 2);
      if (Acquired(r)) ReleaseMutex(a);
    });
    other.join();
    return seen.load();
  };
  EXPECT_EQ(try_from_thread(), 0);
  ReleaseMutex(b);
  EXPECT_EQ(try_from_thread(), 0);
  ReleaseMutex(a);
  EXPECT_EQ(try_from_thread(), 1);
  CloseMutex(b);
  CloseMutex(a);
}

TEST_F(MutexContract, WaitEndsByTheTimeoutWhileAnotherHolds) {
  Mutex mutex = CreateNamedMutex(u"QuadrakeyContractTimed");
  ASSERT_NE(mutex, nullptr);
  std::atomic<bool> held{false}, done{false};
  std::thread holder([&] {
    if (Acquired(WaitForMutex(mutex, 5000))) held = true;
    while (!done) Sleep(1);
    ReleaseMutex(mutex);
  });
  while (!held) Sleep(1);

  uint64_t before = TickCount();
  EXPECT_EQ(WaitForMutex(mutex, 150), WaitResult::Timeout);
  EXPECT_GE(TickCount() - before, 120u);  // it did wait, roughly the time asked

  done = true;
  holder.join();
  EXPECT_TRUE(Acquired(WaitForMutex(mutex, 5000)));
  ReleaseMutex(mutex);
  CloseMutex(mutex);
}

TEST_F(MutexContract, DifferentNamesDoNotBlockEachOther) {
  Mutex first = CreateNamedMutex(u"QuadrakeyContractFirst");
  Mutex second = CreateNamedMutex(u"QuadrakeyContractSecond");
  ASSERT_TRUE(Acquired(WaitForMutex(first, 1000)));
  std::atomic<bool> got{false};
  std::thread other([&] {
    got = Acquired(WaitForMutex(second, 0));
    if (got) ReleaseMutex(second);
  });
  other.join();
  EXPECT_TRUE(got);
  ReleaseMutex(first);
  CloseMutex(first);
  CloseMutex(second);
}

}  // namespace
