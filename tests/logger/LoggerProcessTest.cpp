// A log shared by processes: whole lines, once each, in writer order, one roll per crossing; a dying holder.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "../native/SettingsTestSupport.h"
#include "Win32Api.h"

extern char** environ;

namespace {

const char kWriter[] = QV_LOG_WRITER;
const char kLoggerMutex[] = "Quorvane Native Logger Mutex";
const char kLinePattern[] =
    R"(^\d{4}\.\d{2}\.\d{2} \d{2}:\d{2}:\d{2}\.\d{3} (\S+) +\[(\d+):(\d+)\] (\S+) - (.*)$)";
const uintmax_t kThreshold = 1048576;

using settings_test::Lines;
using settings_test::ReadBytes;

// A process of `program`, its standard output readable through Output().
class Child {
 public:
  Child(const std::string& program, const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    output_ = fds[0];
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      Wait();
    }
    if (output_ >= 0) close(output_);
  }
  bool Started() const { return pid_ > 0; }
  std::string ReadLine() {
    std::string line;
    char c;
    while (read(output_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  void Kill() { kill(pid_, SIGKILL); }
  int Wait() {
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) continue;
    reaped_ = true;
    return status;
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  bool reaped_ = false;
};

class LoggerProcesses : public ::testing::Test {
 protected:
  LoggerProcesses() {
    std::filesystem::create_directories(data_);
    std::filesystem::copy_file(kWriter, writer_);
  }
  void Settings(const std::string& text) { settings_test::WriteBytes(data_ + "/ai.config", text); }
  std::string LogPath() const { return data_ + "/shared.log"; }

  settings_test::TempFolder root_;
  settings_test::ScopedVariable xdg_{"XDG_DATA_HOME", root_.Path()};
  const std::string data_ = root_.Path() + "/Quorvane/data";
  // A short executable path keeps the lines short (the path is in each line).
  const std::string writer_ = root_.Path() + "/w";
};

TEST_F(LoggerProcesses, FourWritersShareOneFileAndRollOnce) {
  const int kWriters = 4, kLines = 5000;
  Settings("logger.file=shared.log\nlogger.level=INFO\n");
  {
    std::vector<std::unique_ptr<Child>> writers;
    for (int w = 0; w < kWriters; ++w)
      writers.emplace_back(new Child(writer_, {"write", std::to_string(kLines), "w" + std::to_string(w)}));
    for (auto& child : writers) {
      ASSERT_TRUE(child->Started());
      ASSERT_EQ(0, child->Wait());  // exited with 0
    }
  }
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
    if (i == firstOfNewFile) {
      EXPECT_EQ("Previous log file rolled to '" + LogPath() + ".1' after exceeding 1048576 bytes.", text);
      continue;
    }
    ASSERT_TRUE(std::regex_match(text, n, message)) << text;  // so no second roll report
    const int writer = std::stoi(n[1]);
    EXPECT_EQ(next[writer]++, std::stoi(n[2])) << "writer " << writer << " in order";
    EXPECT_TRUE(seen.insert(text).second) << "once: " << text;
  }
  EXPECT_EQ(static_cast<size_t>(kWriters * kLines), seen.size());
}

// A writer killed holding the logger's mutex abandons it; the next writer takes it over, dropping no line.
TEST_F(LoggerProcesses, TheLogGoesOnAfterAWriterDiesHoldingTheLoggerMutex) {
  Settings("logger.file=shared.log\nlogger.level=INFO\n");
  const std::wstring wideName(kLoggerMutex, kLoggerMutex + sizeof kLoggerMutex - 1);
  // Our handle keeps the name alive: the next writer meets the abandoned mutex.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, wideName.c_str());
  ASSERT_NE(nullptr, mutex);
  {
    Child holder(writer_, {"hold", kLoggerMutex});
    ASSERT_EQ("held", holder.ReadLine());
    holder.Kill();
    holder.Wait();
  }
  EXPECT_EQ(0, Child(writer_, {"write", "3", "after"}).Wait());  // exited with 0
  const auto lines = Lines(ReadBytes(LogPath()));
  ASSERT_EQ(3u, lines.size());
  EXPECT_NE(std::string::npos, lines[0].find(" - after 000000"));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, 0)) << "released by the writer";
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

}  // namespace
