// A call's COM apartment: made for a thread without one, and the thread left as the caller had it.
#include <gtest/gtest.h>

#include <thread>

#include "ComApartment.h"

namespace {

// What the thread holds, asked by one more initialisation that is undone at once when it counted.
const char* Held() {
  const HRESULT multi = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(multi)) ::CoUninitialize();
  if (multi == S_OK) return "none";
  return multi == S_FALSE ? "multi-threaded" : "single-threaded";
}

TEST(ComApartment, MadeForAThreadWithoutOneAndTheCallersKeptAsTheyWere) {
  struct Row {
    const char* name;
    DWORD callerModel;  // ~0u: the caller has no COM
    const char* inside;
  };
  const Row rows[] = {
      {"a thread without COM gets an apartment for the call only", ~0u, "single-threaded"},
      {"a caller's single-threaded apartment is counted once more and balanced", COINIT_APARTMENTTHREADED,
       "single-threaded"},
      {"a caller's multi-threaded apartment serves as it is", COINIT_MULTITHREADED, "multi-threaded"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::thread([&] {
      if (row.callerModel != ~0u) {
        ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, row.callerModel));
      }
      const std::string before = Held();
      {
        const quorvane::ComApartment apartment;
        EXPECT_STREQ(row.inside, Held());
        const quorvane::ComApartment nested;
        EXPECT_STREQ(row.inside, Held());
      }
      EXPECT_EQ(before, Held());
      if (row.callerModel != ~0u) ::CoUninitialize();
      EXPECT_STREQ("none", Held()) << "every count the call took is given back";
    }).join();
  }
}

}  // namespace
