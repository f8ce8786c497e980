// The logger's settings, lines, roll and reports about itself, over a temporary data folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>

#include "Logger.h"
#include "SettingsTestSupport.h"

namespace {

using namespace settings_test;

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

// "LEVEL|message" for each line of `text`.
std::vector<std::string> LevelsAndMessages(const std::string& text) {
  std::vector<std::string> seen;
  for (const auto& line : Lines(text)) seen.push_back(Fields(line)[kLevel] + "|" + Fields(line)[kMessage]);
  return seen;
}

// The per-user data folder hangs off USERPROFILE on Windows, XDG_DATA_HOME here.
#ifdef _WIN32
const char kProfileVariable[] = "USERPROFILE", kFallbackVariable[] = "USERNAME";
const char kDataFolder[] = "\\Application Data\\Quorvane\\data";
const char kSeparator[] = "\\";
#else
const char kProfileVariable[] = "XDG_DATA_HOME", kFallbackVariable[] = "HOME";
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

  TempFolder folder_;
  ScopedVariable xdg_;
};

// Standard error into a file for the life of the object.
struct CapturedStderr {
  TempFolder folder;
  std::string path = folder.Path() + "/stderr";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  StderrRedirect redirect{fd};
  ~CapturedStderr() { close(fd); }
  std::string Text() const { return ReadBytes(path); }
};

// Self-reports go to the log file only; unreadable settings are reported nowhere; levels; no folder, no log.
TEST_F(LoggerTest, SettingsCombinations) {
  using L = Logger;
  const std::string unknown = "ERROR|Didn't recognize the logger.", toNone = "'. Setting level to NONE.";
  const std::string level = unknown + "level value of '", output = unknown + "output value of '";
  const std::string toDebugger = "'. Setting to debugger.";
  const std::string file = "logger.file=test.log\n";
  const struct {
    std::string settings;
    L::Level level;
    L::Output output;
    bool file;                       // a log file is made
    std::vector<std::string> lines;  // its lines: the self-report, then what an INFO and an ERROR line left
  } cases[] = {
      {"logger.level=info\nlogger.output=CONSOLE\n", L::LevelInfo, L::OutputConsole, false, {}},
      {"logger.level = Error\nlogger.output = Debugger", L::LevelError, L::OutputDebugger, false, {}},
      {"logger.level=WARNAUDIBLE\nlogger.output=none", L::LevelWarnAudible, L::OutputNone, false, {}},
      {"logger.level=trace", L::LevelTrace, L::OutputNone, false, {}},
      {"logger.output=console", L::LevelNone, L::OutputConsole, false, {}},
      {file + "logger.level=verbose", L::LevelNone, L::OutputNone, true, {level + "verbose" + toNone}},
      {file + "logger.output=screen", L::LevelNone, L::OutputDebugger, true, {output + "screen" + toDebugger}},
      {file + "logger.output=", L::LevelNone, L::OutputDebugger, true, {output + toDebugger}},
      {"logger.file=\nlogger.level=INFO", L::LevelInfo, L::OutputNone, false, {}},
      {file + "logger.level=\\u0000", L::LevelNone, L::OutputNone, true, {level + toNone}},
      {file + "logger.level=INFO\n" + std::string(102400, '#'), L::LevelNone, L::OutputNone, false, {}},
      // Levels decide what is emitted; the file is made even when nothing is written.
      {file + "logger.level=ERROR", L::LevelError, L::OutputNone, true, {"ERROR|error"}},
      {file + "logger.level=INFO", L::LevelInfo, L::OutputNone, true, {"INFO |info", "ERROR|error"}},
      {file + "logger.level=NONE", L::LevelNone, L::OutputNone, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings.substr(0, 60));
    std::filesystem::remove(LogPath());
    Settings(c.settings);
    {
      CapturedStderr console;  // console cases must not reach the test's own output
      Logger logger;
      EXPECT_EQ(c.level, logger.GetLevel());
      EXPECT_EQ(c.output, logger.GetOutput());
      EXPECT_EQ(c.file, logger.FileOutputOn());
      EXPECT_EQ("", console.Text());
      if (logger.FileOutputOn()) {
        logger.LogInfo(L"info");
        logger.LogError(L"error");
      }
    }
    EXPECT_EQ(c.lines, LevelsAndMessages(Log()));
    EXPECT_EQ(c.file, std::filesystem::exists(LogPath()));
  }
  ScopedVariable profile(kProfileVariable, std::nullopt), fallback(kFallbackVariable, std::nullopt);
  Logger silent;
  EXPECT_EQ(Logger::LevelNone, silent.GetLevel()) << "no folder can be named";
  EXPECT_FALSE(silent.FileOutputOn()) << "no folder can be named";
}

TEST_F(LoggerTest, LineFormatEncodingAndRoll) {
  Settings("logger.file=test.log\nlogger.level=INFO");
  std::wstring wide;  // four UTF-8 bytes each, a surrogate pair where wchar_t is 16 bits
  std::string utf8 = " - ";
  for (int i = 0; i < 3000; ++i) wide += L"\U0001F600", utf8 += "\xF0\x9F\x98\x80";
  {
    Logger logger;
    logger.LogInfo(L"caf\u00e9 \u4e2d \U0001F600 %1 and %2!d!", L"<%1 %2>", 42);
    logger.LogError(L"Couldn't check the straggler tripwire on '%1' : 0x%2!x!", L"/tmp/a.doc",
                    static_cast<HRESULT>(0x80030020));
    logger.LogInfo(L"%1", wide);
  }
  const std::string bytes = Log();
  const auto lines = Lines(bytes);
  ASSERT_EQ(3u, lines.size());
  EXPECT_NE("\xEF\xBB\xBF", bytes.substr(0, 3)) << "no byte-order mark";
  EXPECT_EQ(std::string::npos, bytes.find_first_of(std::string("\r\0", 2)));
  EXPECT_EQ('\n', bytes.back());
  const auto fields = Fields(lines[0]);
  EXPECT_GE(std::stoi("0" + fields[kYear]), 2000);
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
  // UTF-8, and inserts are not scanned again.
  EXPECT_EQ((std::vector<std::string>{"INFO |caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80 <%1 %2> and 42",
                                      "ERROR|Couldn't check the straggler tripwire on '/tmp/a.doc' : 0x80030020"}),
            LevelsAndMessages(lines[0] + "\n" + lines[1]));
  // A long line arrives whole (std::regex recurses too deep to match it all).
  ASSERT_GT(lines[2].size(), utf8.size());
  EXPECT_EQ(utf8, lines[2].substr(lines[2].size() - utf8.size()));
  EXPECT_TRUE(std::regex_match(lines[2].substr(0, lines[2].size() - utf8.size()) + " - x", std::regex(kLinePattern)));
  // The file rolls only past one mebibyte, starting from a fresh one.
  std::filesystem::remove(LogPath());
  WriteBytes(LogPath() + ".1", "an older roll\n");
  Logger logger;
  logger.LogInfo(L"probe");
  const size_t lineSize = Log().size();
  // The next line lands exactly on the threshold: no roll yet.
  WriteBytes(LogPath(), std::string(Logger::kRollThreshold - lineSize, 'x'));
  logger.LogInfo(L"probe");
  EXPECT_EQ(static_cast<uintmax_t>(Logger::kRollThreshold), std::filesystem::file_size(LogPath()));
  EXPECT_EQ("an older roll\n", ReadBytes(LogPath() + ".1"));
  logger.LogInfo(L"over");
  const std::string rolled = ReadBytes(LogPath() + ".1");
  EXPECT_EQ(Logger::kRollThreshold + lineSize - 1, rolled.size());
  EXPECT_NE(std::string::npos, rolled.rfind(" - over\n"));
  EXPECT_EQ((std::vector<std::string>{"INFO |Previous log file rolled to '" + LogPath() +
                                      ".1' after exceeding 1048576 bytes."}),
            LevelsAndMessages(Log()));
  logger.LogInfo(L"after");
  EXPECT_EQ(2u, Lines(Log()).size());
  // At ERROR the roll report, an INFO line, is not written: the new file starts empty.
  Settings("logger.file=test.log\nlogger.level=ERROR");
  WriteBytes(LogPath(), std::string(Logger::kRollThreshold, 'x'));
  std::filesystem::remove(LogPath() + ".1");
  Logger atError;
  atError.LogError(L"crossing");
  EXPECT_TRUE(std::filesystem::exists(LogPath() + ".1"));
  EXPECT_EQ(0u, std::filesystem::file_size(LogPath()));
}

// These read the console from a terminal or standard error (WriteConsoleW on Windows); one needs /dev/full.
#ifndef _WIN32
TEST_F(LoggerTest, ErrorsAreHighlightedOnATerminal) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
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
  // Bright red on grey (0x7C) around the error line only, then the saved colours.
  const size_t red = seen.find("\x1b[91;47m"), reset = seen.find("\x1b[0m", red);
  ASSERT_TRUE(red != std::string::npos && reset != std::string::npos) << seen;
  EXPECT_NE(std::string::npos, seen.substr(red, reset - red).find(" ERROR ["));
  EXPECT_NE(std::string::npos, seen.find(" - plain", reset));
  EXPECT_EQ(std::string::npos, seen.find("\x1b[", reset + 4)) << "the INFO line is not coloured";
}

// Reports reach the console, not the file; a failing file's report is reported once more, each quoting its line.
TEST_F(LoggerTest, ALogFileThatCannotBeCreatedOrWrittenFallsBackToTheConsole) {
  for (const char* level : {"INFO", "bogus"}) {
    Settings(std::string("logger.file=missing/test.log\nlogger.output=console\nlogger.level=") + level);
    CapturedStderr console;
    Logger logger;
    EXPECT_FALSE(logger.FileOutputOn());
    logger.LogInfo(L"still on the console");
    EXPECT_EQ(std::vector<std::string>{level == std::string("INFO") ? "INFO |still on the console"
                   : "ERROR|Didn't recognize the logger.level value of 'bogus'. Setting level to NONE."},
              LevelsAndMessages(console.Text()));
  }
  std::filesystem::create_symlink("/dev/full", LogPath());
  Settings("logger.file=test.log\nlogger.level=INFO\nlogger.output=console");
  CapturedStderr console;
  Logger logger;
  ASSERT_TRUE(logger.FileOutputOn());
  logger.LogInfo(L"doomed");
  std::vector<std::string> starts;
  for (const auto& line : Lines(console.Text()))
    if (std::regex_search(line, std::regex(R"(^\d{4}\.\d{2}\.\d{2} )"))) starts.push_back(line);
  ASSERT_EQ(3u, starts.size()) << console.Text();
  const std::string report = " - Couldn't write this message to the log file (error code 112): ";
  EXPECT_NE(std::string::npos, starts[0].find(" - doomed"));
  EXPECT_NE(std::string::npos, starts[1].find(report + starts[0].substr(0, 10)));
  EXPECT_NE(std::string::npos, starts[2].find(report + starts[1].substr(0, 10)));
  EXPECT_NE(std::string::npos, starts[2].find(report, starts[2].find(report) + 1)) << "about the first report";
}

#endif  // _WIN32

}  // namespace
