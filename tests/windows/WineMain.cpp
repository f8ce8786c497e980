// main() of the Windows unit tests. Under Wine, the shared tests of tests/native that Wine cannot pass are filtered out
// here, each with the Wine limitation that stops it; the tests of tests/windows skip themselves (OnWine.h).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "OnWine.h"

namespace {

// Test, limitation.
const char* const kWineLimitations[][2] = {
    {"PropsCodePages.MultiByteToWideCharCountsBuffersAndFailsLikeWindows",
     "Wine's MultiByteToWideChar accepts MB_PRECOMPOSED with CP_UTF8 (Windows: ERROR_INVALID_FLAGS)"},
    {"PropsCodePages.WideCharToMultiByteReportsReplacementsLikeWindows",
     "Wine's WideCharToMultiByte accepts lpUsedDefaultChar with CP_UTF8 (Windows: ERROR_INVALID_PARAMETER)"},
    {"PropsTime.FileTimeAndSystemTimeConvertAndRefuseLikeWindows",
     "Wine's SystemTimeToFileTime accepts 1900-02-29 and the year 30828 (Windows refuses both)"},
    {"MessageFormat.FloatsAndUnboundedWidthsAreRefused",
     "Wine's FormatMessageW prints '%1!f!' as 'f' and faults on the width 99999999 (page fault in "
     "ntdll's _vsnwprintf_s)"},
    {"FormatMessageW.StorageErrorsHaveTexts",
     "Wine's system message table has no STG_E_* texts (FormatMessageW answers ERROR_MR_MID_NOT_FOUND)"},
    {"DocfileProperties.UserSetIsCreatedOnFirstWriteAndKeepsKindsApart",
     "Wine's IEnumSTATPROPSTG hands out the names of an ANSI set as its narrow bytes, not UTF-16 (\"Client\" "
     "arrives as L\"\\x6C43\\x6569\\x746E\")"},
    {"DocfileProperties.ForeignTypesAreReadAsTheirKindOrRefusedAndSnapshotsSkipThemAlike",
     "Wine's property writer has no VT_BOOL (\"unsupported type: 11\"): Commit answers "
     "STG_E_INVALIDPARAMETER and leaves the set unreadable (STG_E_INVALIDHEADER)"},
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::string& filter = ::testing::GTEST_FLAG(filter);
  filter += filter.find('-') == std::string::npos ? "-" : ":";
  if (const char* wine = qvtest::WineVersion()) {
    for (const auto& [test, limitation] : kWineLimitations) {
      std::printf("[  SKIPPED ] %s on Wine %s: %s\n", test, wine, limitation);
      filter += std::string(test) + ":";
    }
  }
  return RUN_ALL_TESTS();
}
