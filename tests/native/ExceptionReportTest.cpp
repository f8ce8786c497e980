// The exception report text and the CHECK/RAISE categories.
#include <gtest/gtest.h>

#include <regex>

#include "ExceptionReport.h"
#include "PropertyTestSets.h"

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

// Each category throws its own class with the condition exactly as written.
TEST(Check, EachCategoryThrowsItsClassWithTheConditionText) {
  const int answer = 41;
  const std::regex runtime("exception at ExceptionReportTest\\.cpp, line \\d+ - runtime_error : answer == 42");
  EXPECT_TRUE(std::regex_match(qvtest::Thrown<std::runtime_error>([&] { CHECK(runtime_error, answer == 42); }), runtime));
  EXPECT_TRUE(std::regex_search(qvtest::Thrown<std::logic_error>([&] { CHECK(logic_error, answer > 50 && true); }),
                                std::regex(" - logic_error : answer > 50 && true$")));
  EXPECT_TRUE(std::regex_search(qvtest::Thrown<std::invalid_argument>([&] { CHECK(invalid_argument, !answer); }),
                                std::regex(" - invalid_argument : !answer$")));
  EXPECT_TRUE(std::regex_search(qvtest::Thrown<quorvane::invalid_state>([&] { CHECK(invalid_state, answer < 0); }),
                                std::regex(" - invalid_state : answer < 0$")));
  EXPECT_TRUE(std::regex_search(qvtest::Thrown<std::logic_error>([] { CHECK(invalid_state, false); }),
                                std::regex("invalid_state : false$")))
      << "invalid_state is a logic_error";
  EXPECT_NO_THROW(CHECK(runtime_error, answer == 41));
  EXPECT_TRUE(std::regex_match(qvtest::Thrown<std::runtime_error>([] { RAISE("Wrong property type"); }),
                               std::regex("exception at ExceptionReportTest\\.cpp, line \\d+ - Wrong property type")));
}
