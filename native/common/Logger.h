// The process's native log, configured per user from "ai.config" in the
// per-user data folder (PropertiesFile.h) and read once, when the library
// loads.
//
// Lines go to the chosen output (console or debugger) and, independently,
// to a log file in the same folder that every process of the user shares:
// each line is appended (seek to end, write, flush) under the named mutex
// "Quorvane Native Logger Mutex", and the file is moved to "<path>.1" once a
// line takes it past 1,048,576 bytes. Messages are Windows message-format
// strings with numbered inserts ("%1", "%2!x!"), given as wide strings or
// integers.
//
// Thread-safe: the settings never change after construction; file writes
// are serialised by the named mutex (recursive for its owning thread), and
// the outputs take no lock of their own. The logger never throws to its
// callers for its own problems: it reports them through itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <type_traits>

#include "Win32Api.h"

namespace quorvane {

// The DWORD_PTR slot of one message insert: wide text, or an integer of at
// most pointer size (signed values sign-extended, so "%1!d!" reads them back).
inline DWORD_PTR LogInsert(const wchar_t* text) { return reinterpret_cast<DWORD_PTR>(text ? text : L"(null)"); }
inline DWORD_PTR LogInsert(const std::wstring& text) { return reinterpret_cast<DWORD_PTR>(text.c_str()); }
template <typename T, typename = typename std::enable_if<std::is_integral<T>::value || std::is_enum<T>::value>::type>
inline DWORD_PTR LogInsert(T value) {
  static_assert(sizeof(T) <= sizeof(DWORD_PTR), "an insert is one pointer-sized slot");
  return std::is_signed<T>::value ? static_cast<DWORD_PTR>(static_cast<intptr_t>(value))
                                  : static_cast<DWORD_PTR>(static_cast<uintptr_t>(value));
}

}  // namespace quorvane

class Logger {
 public:
  // A message is emitted when the configured level is at least its level.
  enum Level : int32_t {
    LevelNone = 0,
    LevelError = 1,
    LevelWarn = 2,
    LevelWarnAudible = 3,
    LevelInfo = 4,
    LevelDebug = 5,
    LevelTrace = 6,
  };
  enum Output : int32_t { OutputNone = 0, OutputConsole = 1, OutputDebugger = 2 };

  static const LONGLONG kRollThreshold = 1048576;
  static const DWORD kMutexWaitMs = 5000;
  static const int kPathCapacity = 260;

  // The logger of the process, built on first use (the library's load-time
  // initialisation makes that first use); a build that throws is tried again
  // by the next call.
  static Logger& Instance();

  // Reads the settings now. Public so that tests can build loggers against
  // a data folder of their own; the library uses Instance().
  Logger();
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // At INFO, when the level is INFO or higher.
  template <typename... Inserts>
  void LogInfo(LPCWSTR format, const Inserts&... inserts) {
    if (level_ < LevelInfo) return;
    const DWORD_PTR values[] = {quorvane::LogInsert(inserts)..., 0};
    Log(LevelInfo, format, values, sizeof...(Inserts));
  }
  // Formats the message, then logs it at ERROR (when the level is ERROR or
  // higher) with the console highlight.
  template <typename... Inserts>
  void LogError(LPCWSTR format, const Inserts&... inserts) {
    const DWORD_PTR values[] = {quorvane::LogInsert(inserts)..., 0};
    LogErrorWithInserts(format, values, sizeof...(Inserts));
  }
  // The logger's own problems: at ERROR whatever the level.
  template <typename... Inserts>
  void ReportProblem(LPCWSTR format, const Inserts&... inserts) {
    const DWORD_PTR values[] = {quorvane::LogInsert(inserts)..., 0};
    Log(LevelError, format, values, sizeof...(Inserts));
  }
  // The core: formats `format` with `count` inserts and emits one line at
  // `level` (no level check here).
  void Log(Level level, LPCWSTR format, const DWORD_PTR* inserts, size_t count);

  Level GetLevel() const { return level_; }
  Output GetOutput() const { return output_; }
  // Empty when no log file was configured.
  const wchar_t* LogFileFullPath() const { return logFileFullPath_; }
  // Whether lines currently reach a log file.
  bool FileOutputOn() const;

  // "NONE" for any number outside 1..6.
  static const wchar_t* LevelName(int32_t level);

 private:
  void LogErrorWithInserts(LPCWSTR format, const DWORD_PTR* inserts, size_t count);
  Level ParseLevel(const wchar_t* value);
  Output ParseOutput(const wchar_t* value);
  void SetUpConsole();
  void OpenLogFile();
  void Emit(const wchar_t* line, size_t length);
  void WriteToFile(const wchar_t* line, size_t length);
  void WriteLocked(const wchar_t* line, size_t length);
  LONGLONG GetLogFileSize();
  void RollLogFile();

  Level level_ = LevelNone;
  Output output_ = OutputNone;
  // Null before any file was opened, INVALID_HANDLE_VALUE once opening
  // failed (file output off for good). Changed only with the mutex held.
  std::atomic<HANDLE> logFile_{nullptr};
  HANDLE mutex_ = nullptr;
  // Only a console this logger allocated is freed: the JVM's own stays.
  bool consoleAllocated_ = false;
  wchar_t logFileName_[kPathCapacity] = {};
  wchar_t logFileFullPath_[kPathCapacity] = {};
};
