// The exception report text (each CHECK and RAISE text is compared where the code raises it).
#include <gtest/gtest.h>

#include "ExceptionReport.h"

using quorvane::ExceptionReport;

TEST(ExceptionReport, FormsTheReportFromFileLineAndTextCuttingThePathAtBackslashesOnly) {
  struct Case { const char* text; const char* file; int line; const char* expected; };
  const Case cases[] = {
      {"runtime_error : x", "FileStore.cpp", 12, "exception at FileStore.cpp, line 12 - runtime_error : x"},
      {"", nullptr, 7, "exception at <unknown file>, line 7 - unknown exception"},
      {"t", "c:\\src\\Common\\Logger.cpp", 1, "exception at Logger.cpp, line 1 - t"},
      {"t", "src/Common/Logger.cpp", -3, "exception at src/Common/Logger.cpp, line -3 - t"},
      {"t", "c:\\src\\", 1, "exception at , line 1 - t"},
      {"t", "a\\b/c.cpp", 1, "exception at b/c.cpp, line 1 - t"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, ExceptionReport(c.text, c.file, c.line)) << c.expected;
}
