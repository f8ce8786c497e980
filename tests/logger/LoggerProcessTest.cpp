// A log shared by processes: whole lines, once each, in writer order, one roll per crossing; a dying holder.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "../native/SettingsTestSupport.h"
#include "Win32Api.h"

namespace {

const char kWriter[] = QV_LOG_WRITER;
const char kLoggerMutex[] = "Quorvane Native Logger Mutex";
const char kLinePattern[] =
    R"(^\d{4}\.\d{2}\.\d{2} \d{2}:\d{2}:\d{2}\.\d{3} (\S+) +\[(\d+):(\d+)\] (\S+) - (.*)$)";
const uintmax_t kThreshold = 1048576;

using settings_test::Lines;
using settings_test::ReadBytes;

class LoggerProcesses : public ::testing::Test {
 protected:
  LoggerProcesses() {
    std::filesystem::create_directories(data_);
    std::filesystem::copy_file(kWriter, writer_);
  }
  void Settings(const std::string& text) { settings_test::WriteBytes(data_ + "/ai.config", text); }
  std::string LogPath() const { return data_ + "/shared.log"; }
  // The writer program with `args`; its standard output is the stream, pclose its wait status.
  FILE* Run(const std::string& args) const { return popen((writer_ + " " + args).c_str(), "r"); }

  settings_test::TempFolder root_;
  settings_test::ScopedVariable xdg_{"XDG_DATA_HOME", root_.Path()};
  const std::string data_ = root_.Path() + "/Quorvane/data";
  // A short executable path keeps the lines short (the path is in each line).
  const std::string writer_ = root_.Path() + "/w";
};

TEST_F(LoggerProcesses, FourWritersShareOneFileAndRollOnceAndGoOnAfterOneDiesHoldingTheMutex) {
  const int kWriters = 4, kLines = 5000;
  Settings("logger.file=shared.log\nlogger.level=INFO\n");
  std::vector<FILE*> writers;
  for (int w = 0; w < kWriters; ++w)
    writers.push_back(Run("write " + std::to_string(kLines) + " w" + std::to_string(w)));
  for (FILE* writer : writers) ASSERT_EQ(0, writer ? pclose(writer) : -1);  // exited with 0
  // Sized for one crossing: the rolled file ends with the line that crossed.
  const std::string rolledText = ReadBytes(LogPath() + ".1"), currentText = ReadBytes(LogPath());
  EXPECT_GT(rolledText.size(), kThreshold);
  EXPECT_LT(rolledText.size(), kThreshold + 200);
  ASSERT_LT(currentText.size(), kThreshold);
  ASSERT_TRUE(!currentText.empty() && currentText.back() == '\n' && rolledText.back() == '\n');

  const std::regex line(kLinePattern), message(R"(^w(\d) (\d{6})$)");
  std::map<int, int> next;  // writer -> next sequence number expected
  std::set<std::string> seen;
  std::vector<std::string> all = Lines(rolledText), current = Lines(currentText);
  const size_t firstOfNewFile = all.size();
  all.insert(all.end(), current.begin(), current.end());
  for (size_t i = 0; i < all.size(); ++i) {
    std::smatch m, n;
    ASSERT_TRUE(std::regex_match(all[i], m, line)) << "a whole line: " << all[i];
    const std::string text = m[5].str();
    if (i == firstOfNewFile) continue;  // the roll report, whose text LoggerTest checks
    ASSERT_TRUE(std::regex_match(text, n, message)) << text;  // so no second roll report
    const int writer = std::stoi(n[1]);
    EXPECT_EQ(next[writer]++, std::stoi(n[2])) << "writer " << writer << " in order";
    EXPECT_TRUE(seen.insert(text).second) << "once: " << text;
  }
  EXPECT_EQ(static_cast<size_t>(kWriters * kLines), seen.size());
  // A writer killed holding the logger's mutex abandons it; the next writer takes it over, dropping no line.
  std::filesystem::remove(LogPath());
  const std::wstring wideName(kLoggerMutex, kLoggerMutex + sizeof kLoggerMutex - 1);
  // Our handle keeps the name alive: the next writer meets the abandoned mutex.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, wideName.c_str());
  ASSERT_NE(nullptr, mutex);
  FILE* holder = Run(std::string("hold '") + kLoggerMutex + "'");
  unsigned long pid = 0;
  ASSERT_TRUE(holder && fscanf(holder, "held %lu", &pid) == 1);
  kill(static_cast<pid_t>(pid), SIGKILL);
  pclose(holder);
  FILE* writer = Run("write 3 after");
  EXPECT_EQ(0, writer ? pclose(writer) : -1);  // exited with 0
  const auto lines = Lines(ReadBytes(LogPath()));
  ASSERT_EQ(3u, lines.size());
  EXPECT_NE(std::string::npos, lines[0].find(" - after 000000"));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, 0)) << "released by the writer";
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

}  // namespace
