// The logger's Windows-only parts; the bytes of its lines are LoggerTest's, which runs here too.
#include <gtest/gtest.h>

#include <process.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "Logger.h"
#include "SettingsTestSupport.h"
#include "OnWine.h"

using settings_test::WriteBytes;

namespace {

class LoggerWin : public ::testing::Test {
 protected:
  LoggerWin() : profile_("USERPROFILE", folder_.Path()) {
    std::filesystem::create_directories(DataFolder());
    WriteBytes(DataFolder() + "\\ai.config", "logger.file=test.log\nlogger.level=INFO\n");
  }
  std::string DataFolder() const { return folder_.Path() + "\\Application Data\\Quorvane\\data"; }

  settings_test::TempFolder folder_;
  settings_test::ScopedVariable profile_;
};

bool MutexExists() {
  const HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"Quorvane Native Logger Mutex");
  return mutex != nullptr && CloseHandle(mutex);
}

TEST_F(LoggerWin, TheNamedMutexLivesWithTheLogFile) {
  ASSERT_FALSE(MutexExists()) << "another logger of this user is running";
  {
    Logger logger;
    ASSERT_TRUE(logger.FileOutputOn());
    EXPECT_TRUE(MutexExists());
  }
  EXPECT_FALSE(MutexExists()) << "closed with the logger";
  WriteBytes(DataFolder() + "\\ai.config", "logger.level=INFO\n");
  Logger withoutFile;
  EXPECT_FALSE(MutexExists()) << "no file, no mutex";
}

// Every line whole and each process's lines in order, as both append to one file.
TEST_F(LoggerWin, TwoProcessesShareOneLogFile) {
  const int kLines = 400;
  const std::wstring exe = qvtest::ProgramFolder() + L"qv_wine_log_writer.exe", quoted = L"\"" + exe + L"\"";
  const auto start = [&](const wchar_t* tag) {
    return _wspawnl(_P_NOWAIT, exe.c_str(), quoted.c_str(), L"write", std::to_wstring(kLines).c_str(), tag, nullptr);
  };
  for (const intptr_t writer : {start(L"A"), start(L"B")}) {
    int code = -1;
    EXPECT_TRUE(writer != -1 && _cwait(&code, writer, 0) != -1 && code == 0) << "exit code " << code;
  }

  const std::string bytes = settings_test::ReadBytes(DataFolder() + "\\test.log");
  EXPECT_EQ(std::string::npos, bytes.find('\r'));
  const std::regex line(R"(^\d{4}\.\d{2}\.\d{2} \d{2}:\d{2}:\d{2}\.\d{3} INFO  \[(\d+):\d+\] .* - ([AB]) (\d{6})$)");
  std::map<std::string, int> next{{"A", 0}, {"B", 0}};
  std::map<std::string, std::string> process;
  for (const std::string& text : settings_test::Lines(bytes)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, line)) << text;
    const std::string tag = m[2];
    EXPECT_EQ(next[tag]++, std::stoi(m[3])) << text;
    if (process[tag].empty()) process[tag] = m[1];
    EXPECT_EQ(process[tag], m[1].str()) << "one process per tag";
  }
  EXPECT_EQ((std::map<std::string, int>{{"A", kLines}, {"B", kLines}}), next);
  EXPECT_NE(process["A"], process["B"]);
}

}  // namespace
