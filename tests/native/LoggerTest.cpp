// The logger: its settings, the lines it writes, the roll, and its reports
// about itself. Each test builds its own Logger over a temporary data folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>

#include "Logger.h"
#include "SettingsTestSupport.h"

using settings_test::Lines;
using settings_test::ReadBytes;
using settings_test::ScopedVariable;
using settings_test::StderrRedirect;
using settings_test::TempFolder;
using settings_test::WriteBytes;

namespace {

const char kLinePattern[] =
    R"(^(\d{4})\.(\d{2})\.(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{3}) (\S+ *) \[(\d+):(\d+)\] (.*) - (.*)$)";
enum Field { kYear = 1, kLevel = 8, kPid = 9, kExe = 11, kMessage = 12 };

// The fields of a log line; "?" each, and the line as its message, when it is not one.
std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields(kMessage + 1, "?");
  std::smatch m;
  if (!std::regex_match(line, m, std::regex(kLinePattern))) fields[kMessage] = "not a log line: " + line;
  for (size_t i = 0; i < m.size(); ++i) fields[i] = m[i];
  return fields;
}

// The per-user data folder hangs off USERPROFILE on Windows, XDG_DATA_HOME here.
#ifdef _WIN32
const char kProfileVariable[] = "USERPROFILE";
const char kDataFolder[] = "\\Application Data\\Quorvane\\data";
const char kSeparator[] = "\\";
#else
const char kProfileVariable[] = "XDG_DATA_HOME";
const char kDataFolder[] = "/Quorvane/data";
const char kSeparator[] = "/";
#endif

class LoggerTest : public ::testing::Test {
 protected:
  LoggerTest() : xdg_(kProfileVariable, folder_.Path()) {
    std::filesystem::create_directories(DataFolder());
  }
  std::string DataFolder() const { return folder_.Path() + kDataFolder; }
  std::string LogPath() const { return DataFolder() + kSeparator + "test.log"; }
  void Settings(const std::string& text) { WriteBytes(DataFolder() + kSeparator + "ai.config", text); }
  std::string Log() const { return ReadBytes(LogPath()); }
  std::vector<std::string> LogLines() const { return Lines(Log()); }

  TempFolder folder_;
  ScopedVariable xdg_;
};

// Standard error into a file for the life of the object.
class CapturedStderr {
 public:
  CapturedStderr() : path_(folder_.Path() + "/stderr") {
    fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    redirect_.reset(new StderrRedirect(fd_));
  }
  ~CapturedStderr() { close(fd_); }
  std::string Text() const { return ReadBytes(path_); }

 private:
  TempFolder folder_;
  std::string path_;
  int fd_;
  std::unique_ptr<StderrRedirect> redirect_;
};

TEST_F(LoggerTest, SilentWhenNoFolderCanBeNamed) {
#ifdef _WIN32
  ScopedVariable profile("USERPROFILE", std::nullopt);
  ScopedVariable user("USERNAME", std::nullopt);
#else
  ScopedVariable xdg("XDG_DATA_HOME", std::nullopt);
  ScopedVariable home("HOME", std::nullopt);
#endif
  Logger logger;
  EXPECT_EQ(Logger::LevelNone, logger.GetLevel());
  EXPECT_FALSE(logger.FileOutputOn());
}

TEST_F(LoggerTest, SettingsCombinations) {
  struct Case {
    const char* settings;
    Logger::Level level;
    Logger::Output output;
    bool file;
    const char* reportInFile;  // a self-report expected in the log file, or null
  };
  const Case cases[] = {
      {"logger.level=info\nlogger.output=CONSOLE\n", Logger::LevelInfo, Logger::OutputConsole, false, nullptr},
      {"logger.level = Error\nlogger.output = Debugger", Logger::LevelError, Logger::OutputDebugger, false, nullptr},
      {"logger.level=WARNAUDIBLE\nlogger.output=none", Logger::LevelWarnAudible, Logger::OutputNone, false, nullptr},
      {"logger.level=trace", Logger::LevelTrace, Logger::OutputNone, false, nullptr},
      {"logger.output=console", Logger::LevelNone, Logger::OutputConsole, false, nullptr},
      {"logger.file=test.log\nlogger.level=verbose", Logger::LevelNone, Logger::OutputNone, true,
       "Didn't recognize the logger.level value of 'verbose'. Setting level to NONE."},
      {"logger.file=test.log\nlogger.output=screen", Logger::LevelNone, Logger::OutputDebugger, true,
       "Didn't recognize the logger.output value of 'screen'. Setting to debugger."},
      {"logger.file=test.log\nlogger.output=", Logger::LevelNone, Logger::OutputDebugger, true,
       "Didn't recognize the logger.output value of ''. Setting to debugger."},
      {"logger.file=\nlogger.level=INFO", Logger::LevelInfo, Logger::OutputNone, false, nullptr},
      {"logger.file=test.log\nlogger.level=\\u0000", Logger::LevelNone, Logger::OutputNone, true,
       "Didn't recognize the logger.level value of ''. Setting level to NONE."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    std::filesystem::remove(LogPath());
    Settings(c.settings);
    CapturedStderr console;  // console cases must not reach the test's own output
    Logger logger;
    EXPECT_EQ(c.level, logger.GetLevel());
    EXPECT_EQ(c.output, logger.GetOutput());
    EXPECT_EQ(c.file, logger.FileOutputOn());
    if (c.reportInFile) {
      const auto lines = LogLines();
      ASSERT_EQ(1u, lines.size()) << Log();
      EXPECT_EQ((std::vector<std::string>{"ERROR", c.reportInFile}),
                (std::vector<std::string>{Fields(lines[0])[kLevel], Fields(lines[0])[kMessage]}));
    }
  }
}

TEST_F(LoggerTest, UnreadableSettingsAreReportedNowhere) {
  Settings("logger.file=test.log\nlogger.level=INFO\n" + std::string(102400, '#'));
  CapturedStderr console;
  Logger logger;
  EXPECT_EQ(Logger::LevelNone, logger.GetLevel());
  EXPECT_EQ(Logger::OutputNone, logger.GetOutput());
  EXPECT_FALSE(logger.FileOutputOn());
  EXPECT_FALSE(std::filesystem::exists(LogPath()));
  EXPECT_EQ("", console.Text());
}

TEST_F(LoggerTest, LevelsDecideWhatIsEmitted) {
  struct Case {
    const char* level;
    std::vector<const char*> lines;  // the level field of each line written
  };
  const Case cases[] = {{"ERROR", {" ERROR ["}}, {"INFO", {" INFO  [", " ERROR ["}}, {"NONE", {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    std::filesystem::remove(LogPath());
    Settings(std::string("logger.file=test.log\nlogger.level=") + c.level);
    {
      Logger logger;
      EXPECT_TRUE(logger.FileOutputOn());
      logger.LogInfo(L"info");
      logger.LogError(L"error");
    }
    EXPECT_TRUE(std::filesystem::exists(LogPath())) << "created even when nothing is written";
    const auto lines = LogLines();
    ASSERT_EQ(c.lines.size(), lines.size()) << Log();
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_NE(std::string::npos, lines[i].find(c.lines[i])) << lines[i];
  }
}

TEST_F(LoggerTest, LineFormatAndEncoding) {
  Settings("logger.file=test.log\nlogger.level=INFO");
  {
    Logger logger;
    logger.LogInfo(L"caf\u00e9 \u4e2d \U0001F600 %1 and %2!d!", L"<%1 %2>", 42);
    logger.LogError(L"Couldn't check the straggler tripwire on '%1' : 0x%2!x!", L"/tmp/a.doc",
                    static_cast<HRESULT>(0x80030020));
  }
  const std::string bytes = Log();
  ASSERT_FALSE(bytes.empty());
  EXPECT_NE("\xEF\xBB\xBF", bytes.substr(0, 3)) << "no byte-order mark";
  EXPECT_EQ(std::string::npos, bytes.find('\0'));
  EXPECT_EQ(std::string::npos, bytes.find('\r'));
  EXPECT_EQ('\n', bytes.back());
  const auto lines = Lines(bytes);
  ASSERT_EQ(2u, lines.size());

  auto fields = Fields(lines[0]);
  EXPECT_GE(std::stoi("0" + fields[kYear]), 2000);
  EXPECT_EQ("INFO ", fields[kLevel]);
  EXPECT_EQ(std::to_string(getpid()), fields[kPid]);
#ifdef _WIN32
  wchar_t module[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::string exe(length * 3, '\0');
  exe.resize(WideCharToMultiByte(CP_UTF8, 0, module, length, &exe[0], static_cast<int>(exe.size()), nullptr, nullptr));
  EXPECT_EQ(exe, fields[kExe]);
#else
  EXPECT_EQ(std::filesystem::read_symlink("/proc/self/exe").string(), fields[kExe]);
#endif
  EXPECT_EQ("caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80 <%1 %2> and 42", fields[kMessage])
      << "UTF-8, and inserts are not scanned again";
  fields = Fields(lines[1]);
  EXPECT_EQ("ERROR", fields[kLevel]);
  EXPECT_EQ("Couldn't check the straggler tripwire on '/tmp/a.doc' : 0x80030020", fields[kMessage]);
}

TEST_F(LoggerTest, LongLinesOfWideCharactersArriveWhole) {
  Settings("logger.file=test.log\nlogger.level=INFO");
  std::wstring message;  // four UTF-8 bytes each, a surrogate pair where wchar_t is 16 bits
  for (int i = 0; i < 3000; ++i) message += L"\U0001F600";
  {
    Logger logger;
    logger.LogInfo(L"%1", message);
  }
  const auto lines = LogLines();
  ASSERT_EQ(1u, lines.size());
  std::string expected = " - ";  // (std::regex recurses too deep for a line this long)
  for (int i = 0; i < 3000; ++i) expected += "\xF0\x9F\x98\x80";
  ASSERT_GT(lines[0].size(), expected.size());
  EXPECT_EQ(expected, lines[0].substr(lines[0].size() - expected.size()));
  const std::string head = lines[0].substr(0, lines[0].size() - expected.size()) + " - x";
  EXPECT_TRUE(std::regex_match(head, std::regex(kLinePattern))) << head;
}

// On Windows the console output is the process's console (WriteConsoleW).
#ifndef _WIN32
TEST_F(LoggerTest, ErrorsAreHighlightedOnATerminal) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(0, grantpt(master));
  ASSERT_EQ(0, unlockpt(master));
  const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  Settings("logger.level=INFO\nlogger.output=console");
  {
    StderrRedirect redirect(terminal);
    Logger logger;
    logger.LogError(L"red");
    logger.LogInfo(L"plain");
  }
  close(terminal);
  std::string seen;
  char chunk[4096];
  fcntl(master, F_SETFL, O_NONBLOCK);
  for (ssize_t n; (n = read(master, chunk, sizeof chunk)) > 0;) seen.append(chunk, static_cast<size_t>(n));
  close(master);
  const size_t red = seen.find("\x1b[91;47m");  // 0x7C: bright red on grey
  ASSERT_NE(std::string::npos, red) << seen;
  const size_t reset = seen.find("\x1b[0m", red);
  ASSERT_NE(std::string::npos, reset);
  EXPECT_NE(std::string::npos, seen.substr(red, reset - red).find(" ERROR [")) << "the error line is inside";
  const size_t plain = seen.find(" - plain");
  ASSERT_NE(std::string::npos, plain);
  EXPECT_GT(plain, reset) << "the saved colours come back";
  EXPECT_EQ(std::string::npos, seen.find("\x1b[", reset + 4)) << "the INFO line is not coloured";
}

#endif  // _WIN32

TEST_F(LoggerTest, RollsOnlyPastOneMebibyte) {
  Settings("logger.file=test.log\nlogger.level=INFO");
  WriteBytes(LogPath() + ".1", "an older roll\n");
  Logger logger;
  logger.LogInfo(L"probe");
  const size_t lineSize = Log().size();
  // Fill so that the next line lands exactly on 1,048,576 bytes.
  WriteBytes(LogPath(), std::string(Logger::kRollThreshold - lineSize, 'x'));
  logger.LogInfo(L"probe");
  EXPECT_EQ(static_cast<uintmax_t>(Logger::kRollThreshold), std::filesystem::file_size(LogPath()));
  EXPECT_EQ("an older roll\n", ReadBytes(LogPath() + ".1")) << "exactly the threshold does not roll";

  logger.LogInfo(L"over");
  const std::string rolled = ReadBytes(LogPath() + ".1");
  EXPECT_EQ(static_cast<size_t>(Logger::kRollThreshold) + lineSize - std::string("probe").size() +
                std::string("over").size(),
            rolled.size());
  EXPECT_NE(std::string::npos, rolled.rfind(" - over\n"));
  const auto lines = LogLines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("INFO ", Fields(lines[0])[kLevel]);
  EXPECT_EQ("Previous log file rolled to '" + LogPath() + ".1' after exceeding 1048576 bytes.", Fields(lines[0])[kMessage]);
  logger.LogInfo(L"after");
  EXPECT_EQ(2u, LogLines().size());
}

TEST_F(LoggerTest, RollAtErrorLevelStartsAnEmptyFile) {
  Settings("logger.file=test.log\nlogger.level=ERROR");
  WriteBytes(LogPath(), std::string(Logger::kRollThreshold, 'x'));
  Logger logger;
  logger.LogError(L"crossing");
  EXPECT_TRUE(std::filesystem::exists(LogPath() + ".1"));
  EXPECT_EQ(0u, std::filesystem::file_size(LogPath())) << "the INFO line is below the level";
}

// Both read the console output from standard error; the second needs /dev/full.
#ifndef _WIN32
// Reports about the log file reach no output (none is set yet); the level
// report does once the output is known. Lines still reach the console.
TEST_F(LoggerTest, ALogFileThatCannotBeCreatedTurnsFileOutputOff) {
  for (const char* level : {"INFO", "bogus"}) {
    Settings(std::string("logger.file=missing/test.log\nlogger.output=console\nlogger.level=") + level);
    CapturedStderr console;
    Logger logger;
    EXPECT_FALSE(logger.FileOutputOn());
    logger.LogInfo(L"still on the console");
    const auto lines = Lines(console.Text());
    const std::vector<std::string> expected =
        level == std::string("INFO")
            ? std::vector<std::string>{"INFO |still on the console"}
            : std::vector<std::string>{"ERROR|Didn't recognize the logger.level value of 'bogus'. Setting level to NONE."};
    std::vector<std::string> seen;
    for (const auto& line : lines) seen.push_back(Fields(line)[kLevel] + "|" + Fields(line)[kMessage]);
    EXPECT_EQ(expected, seen);
  }
}

TEST_F(LoggerTest, AFailingLogFileDoesNotRecurseWithoutEnd) {
  std::filesystem::create_symlink("/dev/full", DataFolder() + "/test.log");
  Settings("logger.file=test.log\nlogger.level=INFO\nlogger.output=console");
  CapturedStderr console;
  Logger logger;
  ASSERT_TRUE(logger.FileOutputOn());
  logger.LogInfo(L"doomed");
  // The line, the report about it, and the report about that report (which
  // is not written to the file again). Each report carries the line it is
  // about, line feed included.
  std::vector<std::string> starts;
  for (const auto& line : Lines(console.Text()))
    if (std::regex_search(line, std::regex(R"(^\d{4}\.\d{2}\.\d{2} )"))) starts.push_back(line);
  ASSERT_EQ(3u, starts.size()) << console.Text();
  EXPECT_NE(std::string::npos, starts[0].find(" - doomed"));
  const std::string report = " - Couldn't write this message to the log file (error code 112): ";
  EXPECT_NE(std::string::npos, starts[1].find(report));
  EXPECT_NE(std::string::npos, starts[1].find(" - doomed")) << "the report carries the line";
  EXPECT_NE(std::string::npos, starts[2].find(report));
  EXPECT_NE(std::string::npos, starts[2].find(report, starts[2].find(report) + 1)) << "about the first report";
}

#endif  // _WIN32

}  // namespace
