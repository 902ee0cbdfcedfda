#include "common/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrova {
namespace {

// How many threads have ever done a piece of the work below: each counts itself once.
std::atomic<int> threadsSeen{0};
void CountThisThread() {
  thread_local const bool counted = (threadsSeen.fetch_add(1), true);
  (void)counted;
}

TEST(Parallel, ThreadsAreKeptAcrossBatches) {
  // A large site hands on hundreds of batches; a thread each cost a millisecond under Wine.
  threadsSeen = 0;
  CountThisThread();
  std::vector<int> v(200'000);
  for (int round = 0; round < 300; ++round) {
    FillInRanges(v.size(), [&](size_t begin, size_t end) {
      CountThisThread();
      for (size_t i = begin; i < end; ++i)
        v[i] = round;
    });
    Aside<int> aside = RunAside([round] {
      CountThisThread();
      return round;
    });
    ASSERT_EQ(aside.get(), round);
    ASSERT_FALSE(aside.valid());
  }
  EXPECT_EQ(std::accumulate(v.begin(), v.end(), 0LL), 299LL * 200'000);
  EXPECT_LE(threadsSeen.load(), static_cast<int>(Cores()) + 3);
}

TEST(Parallel, WorkHandedOnInsideHandedOnWorkIsAllDone) {
  // Batches made on every core, each beside the writing of the one before, each of
  // those filling ranges: more work waiting than threads, none of it lost or stuck.
  std::vector<std::vector<long>> made(40, std::vector<long>(60'000));
  std::vector<Aside<void>> batches;
  for (size_t b = 0; b < made.size(); ++b) {
    Aside<void> before = batches.empty() ? Aside<void>() : batches.back();
    batches.push_back(RunAside([&made, b, before = std::move(before)]() mutable {
      FillInRanges(
          made[b].size(),
          [&](size_t begin, size_t end) {
            for (size_t i = begin; i < end; ++i)
              made[b][i] = static_cast<long>(b * i);
          },
          1'000);
      Aside<void> previous = std::exchange(before, {});
      if (previous.valid()) previous.get();
    }));
  }
  batches.back().get();
  for (size_t b = 0; b < made.size(); ++b) {
    ASSERT_EQ(made[b][59'999], static_cast<long>(b * 59'999)) << b;
  }
}

TEST(Parallel, FailuresComeBackOnceEverythingIsDone) {
  std::vector<std::atomic<int>> filled(100'000);
  size_t failedAt = 0;
  EXPECT_THROW(FillInRanges(
                   filled.size(),
                   [&](size_t begin, size_t end) {
                     if (end == filled.size()) {
                       failedAt = begin;
                       throw std::runtime_error("last range");
                     }
                     std::this_thread::sleep_for(std::chrono::milliseconds(20));
                     for (size_t i = begin; i < end; ++i)
                       filled[i] = 1;
                   },
                   1),
               std::runtime_error);
  // Every other range had finished when the failure came back.
  int ones = 0;
  for (const std::atomic<int>& f : filled)
    ones += f.load();
  EXPECT_EQ(ones, static_cast<int>(failedAt));

  Aside<std::string> failing = RunAside([]() -> std::string { throw std::runtime_error("x"); });
  EXPECT_THROW(failing.get(), std::runtime_error);

  // The end of a handle waits for its work, as std::async's future does.
  std::atomic<bool> done{false};
  {
    Aside<void> slow = RunAside([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      done = true;
    });
  }
  EXPECT_TRUE(done.load());
}

}  // namespace
}  // namespace kestrova
