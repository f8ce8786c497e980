// The kernel handle table: values, staleness and thread safety.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "Win32Api.h"

using quorvane::posix::KernelObject;
using quorvane::posix::LookupHandle;
using quorvane::posix::RegisterHandle;
using quorvane::posix::UnregisterHandle;

namespace {

struct Dummy : KernelObject {
  explicit Dummy(std::atomic<int>* alive = nullptr) : alive_(alive) {
    if (alive_) ++*alive_;
  }
  ~Dummy() override {
    if (alive_) --*alive_;
  }
  DWORD Wait(DWORD) override { return WAIT_OBJECT_0; }
  std::atomic<int>* alive_;
};

HANDLE H(intptr_t v) { return reinterpret_cast<HANDLE>(v); }
intptr_t V(HANDLE h) { return reinterpret_cast<intptr_t>(h); }

}  // namespace

// Java holds handles as ints; closed, pseudo and foreign values are refused.
TEST(HandleTable, ValuesArePositiveJavaIntsAndClosedOrForeignValuesAreRefused) {
  HANDLE h = RegisterHandle(std::make_shared<Dummy>());
  ASSERT_NE(h, nullptr);
  EXPECT_GT(V(h), 0);
  EXPECT_LE(V(h), 0x7FFFFFFF);
  EXPECT_EQ(V(h) % 4, 0);
  EXPECT_NE(LookupHandle(h), nullptr);
  EXPECT_TRUE(UnregisterHandle(h));
  EXPECT_FALSE(UnregisterHandle(h));
  for (intptr_t v : {V(h), intptr_t(-1), intptr_t(-2), V(h) + 1, intptr_t(1) << 40}) {
    EXPECT_EQ(LookupHandle(H(v)), nullptr) << v;
    EXPECT_FALSE(UnregisterHandle(H(v))) << v;
  }
  EXPECT_EQ(RegisterHandle(nullptr), nullptr);
}

TEST(HandleTable, AClosedValueIsNotHandedOutAgainSoon) {
  std::set<intptr_t> seen;
  for (int i = 0; i < 100000; ++i) {
    HANDLE h = RegisterHandle(std::make_shared<Dummy>());
    ASSERT_TRUE(seen.insert(V(h)).second) << "value reused after " << i << " handles";
    ASSERT_TRUE(UnregisterHandle(h));
  }
}

TEST(HandleTable, TheObjectLivesWhileAnyUserHoldsIt) {
  std::atomic<int> alive{0};
  HANDLE h = RegisterHandle(std::make_shared<Dummy>(&alive));
  auto inUse = LookupHandle(h);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(alive.load(), 1);  // a wait in progress keeps it
  inUse.reset();
  EXPECT_EQ(alive.load(), 0);
}

TEST(HandleTable, ConcurrentRegistrationGivesDistinctValues) {
  constexpr int kThreads = 4, kEach = 5000;
  std::vector<std::vector<intptr_t>> values(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        HANDLE h = RegisterHandle(std::make_shared<Dummy>());
        values[t].push_back(V(h));
        if (i % 2) {
          EXPECT_TRUE(UnregisterHandle(h));
        }
      }
    });
  for (auto& t : threads) t.join();
  std::set<intptr_t> all;
  for (auto& v : values) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), size_t(kThreads * kEach));
  for (auto& v : values)
    for (size_t i = 0; i < v.size(); i += 2) EXPECT_TRUE(UnregisterHandle(H(v[i])));
}
