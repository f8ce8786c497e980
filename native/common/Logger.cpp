#include "Logger.h"

#include <boost/algorithm/string/predicate.hpp>
#include <climits>
#include <cwchar>
#include <string>

#include "MessageFormatter.h"
#include "PropertiesFile.h"

namespace {

const wchar_t kSettingsFileName[] = L"ai.config";
const wchar_t kMutexName[] = L"Quorvane Native Logger Mutex";
const wchar_t kRolledSuffix[] = L".1";
// UTF-8 takes at most three bytes per UTF-16 unit, four per UTF-32 character.
const size_t kMaxUtf8BytesPerChar = sizeof(wchar_t) == 2 ? 3 : 4;
const size_t kMaxConvertibleLength = INT_MAX / kMaxUtf8BytesPerChar;
// Twelve inserts: date, time, level, process and thread, executable, message.
// The line feed is appended after formatting: Windows' FormatMessage turns a
// line feed of the format into CR LF, and a log line ends in LF alone.
const wchar_t kLineFormat[] =
    L"%1!02d!.%2!02d!.%3!02d! %4!02d!:%5!02d!:%6!02d!.%7!03d! %8!-5s! [%9!d!:%10!d!] %11 - %12";
// Bright red text on a grey background.
const WORD kHighlightAttributes = 0x7C;

const wchar_t* const kLevelNames[] = {L"NONE", L"ERROR", L"WARN", L"WARNAUDIBLE", L"INFO", L"DEBUG", L"TRACE"};

// How deep WriteToFile is nested on this thread. A report issued while a
// line is being written (conversion, write or size failure, or the line
// after a roll) may itself be written once; a report about that write is
// not, so a log file that keeps failing cannot make the logger recurse
// without end. Those reports still reach the console or debugger.
thread_local int t_fileWriteDepth = 0;
const int kMaxFileWriteDepth = 2;

bool IsOpen(HANDLE file) { return file != nullptr && file != INVALID_HANDLE_VALUE; }

// Copies at most capacity - 1 characters and terminates.
void CopyCut(wchar_t* target, size_t capacity, const wchar_t* source) {
  size_t i = 0;
  for (; source[i] != L'\0' && i + 1 < capacity; ++i) target[i] = source[i];
  target[i] = L'\0';
}

}  // namespace

Logger& Logger::Instance() {
  static Logger logger;
  return logger;
}

Logger::Logger() {
  wchar_t settingsPath[kPathCapacity];
  if (!GetSettingsFilePath(settingsPath, kPathCapacity, kSettingsFileName)) return;  // silent
  PropertiesFile settings;
  try {
    settings.Load(settingsPath);
  } catch (const PropertiesException& e) {
    // Nothing is set up yet: this report reaches no output and no file.
    ReportProblem(L"Couldn't read logger settings from '%1'. Setting logger level to NONE. %2", settingsPath,
                  e.Message());
    output_ = OutputNone;
    level_ = LevelNone;
    return;
  }
  // The order decides where the logger's own reports go: a file problem
  // reaches nothing, an output problem only the file, a level problem both.
  const wchar_t* file = settings.Get(L"logger.file");
  if (file != nullptr && *file != L'\0') {
    CopyCut(logFileName_, kPathCapacity, file);
    OpenLogFile();
  }
  const Output output = ParseOutput(settings.Get(L"logger.output", L"none"));
  output_ = output;
  if (output_ == OutputConsole) SetUpConsole();
  const Level level = ParseLevel(settings.Get(L"logger.level", L"NONE"));
  level_ = level;
}

Logger::~Logger() {
  const HANDLE file = logFile_.exchange(nullptr);
  if (IsOpen(file)) CloseHandle(file);
  if (mutex_ != nullptr) CloseHandle(mutex_);
  if (consoleAllocated_) FreeConsole();
}

bool Logger::FileOutputOn() const { return mutex_ != nullptr && IsOpen(logFile_.load()); }

const wchar_t* Logger::LevelName(int32_t level) {
  return level >= LevelError && level <= LevelTrace ? kLevelNames[level] : kLevelNames[LevelNone];
}

Logger::Level Logger::ParseLevel(const wchar_t* value) {
  static const Level kOrder[] = {LevelError, LevelWarn, LevelWarnAudible, LevelInfo,
                                 LevelDebug, LevelTrace, LevelNone};
  for (Level level : kOrder)
    if (boost::algorithm::iequals(value, kLevelNames[level])) return level;
  ReportProblem(L"Didn't recognize the logger.level value of '%1'. Setting level to NONE.", value);
  return LevelNone;
}

Logger::Output Logger::ParseOutput(const wchar_t* value) {
  if (boost::algorithm::iequals(value, L"console")) return OutputConsole;
  if (boost::algorithm::iequals(value, L"debugger")) return OutputDebugger;
  if (boost::algorithm::iequals(value, L"none")) return OutputNone;
  ReportProblem(L"Didn't recognize the logger.output value of '%1'. Setting to debugger.", value);
  return OutputDebugger;
}

void Logger::SetUpConsole() {
  // A process that already has a console keeps it, and keeps it after unload.
  consoleAllocated_ = AllocConsole() != FALSE;
  SetConsoleOutputCP(1200);
  COORD size;
  size.X = 160;
  size.Y = 999;
  SetConsoleScreenBufferSize(GetStdHandle(STD_OUTPUT_HANDLE), size);
}

void Logger::OpenLogFile() {
  if (!GetSettingsFilePath(logFileFullPath_, kPathCapacity, logFileName_)) {
    logFileFullPath_[0] = L'\0';
    return;
  }
  const HANDLE file = CreateFileW(logFileFullPath_, GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    logFile_ = file;
    if (mutex_ == nullptr) mutex_ = CreateMutexW(nullptr, FALSE, kMutexName);
    return;
  }
  const DWORD error = GetLastError();
  logFile_ = INVALID_HANDLE_VALUE;  // file output off from now on
  ReportProblem(L"Couldn't create/open log file at '%1'. Error code: %2!d!", logFileFullPath_, error);
}

void Logger::LogErrorWithInserts(LPCWSTR format, const DWORD_PTR* inserts, size_t count) {
  std::wstring message;
  if (!quorvane::FormatMessageText(format, inserts, count, message)) message = format ? format : L"";
  if (level_ < LevelError) return;
  // The highlight is set whatever the output; with no console it is skipped.
  const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO saved;
  const bool highlight = IsOpen(console) && GetConsoleScreenBufferInfo(console, &saved);
  if (highlight) SetConsoleTextAttribute(console, kHighlightAttributes);
  // The message is an insert, so it is not scanned for inserts again.
  const DWORD_PTR text[] = {quorvane::LogInsert(message)};
  try {
    Log(LevelError, L"%1", text, 1);
  } catch (...) {
    if (highlight) SetConsoleTextAttribute(console, saved.wAttributes);
    throw;
  }
  if (highlight) SetConsoleTextAttribute(console, saved.wAttributes);
}

void Logger::Log(Level level, LPCWSTR format, const DWORD_PTR* inserts, size_t count) {
  std::wstring message;
  // A format FormatMessage refuses is logged as it stands rather than lost.
  if (!quorvane::FormatMessageText(format, inserts, count, message)) message = format ? format : L"";

  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t module[kPathCapacity + 1];
  const DWORD moduleLength = GetModuleFileNameW(nullptr, module, kPathCapacity);
  module[moduleLength < static_cast<DWORD>(kPathCapacity) ? moduleLength : kPathCapacity] = L'\0';

  using quorvane::LogInsert;
  const DWORD_PTR values[] = {
      LogInsert(now.wYear),   LogInsert(now.wMonth),  LogInsert(now.wDay),
      LogInsert(now.wHour),   LogInsert(now.wMinute), LogInsert(now.wSecond),
      LogInsert(now.wMilliseconds), LogInsert(LevelName(level)), LogInsert(GetCurrentProcessId()),
      LogInsert(GetCurrentThreadId()), LogInsert(module), LogInsert(message)};
  std::wstring line;
  if (!quorvane::FormatMessageText(kLineFormat, values, sizeof values / sizeof values[0], line)) return;
  line += L'\n';
  Emit(line.c_str(), line.size());
}

void Logger::Emit(const wchar_t* line, size_t length) {
  if (output_ == OutputDebugger) {
    OutputDebugStringW(line);
  } else if (output_ == OutputConsole) {
    DWORD written = 0;
    WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
  }
  if (mutex_ != nullptr) WriteToFile(line, length);
}

void Logger::WriteToFile(const wchar_t* line, size_t length) {
  if (t_fileWriteDepth >= kMaxFileWriteDepth) return;
  // Off for good; any other state is looked at with the mutex held.
  if (logFile_.load() == INVALID_HANDLE_VALUE) return;
  const DWORD wait = WaitForSingleObject(mutex_, kMutexWaitMs);
  // An abandoned mutex is ours now: its owner died, the file is still sound
  // up to its last whole write.
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return;  // dropped silently
  struct Holding {
    HANDLE mutex;
    explicit Holding(HANDLE m) : mutex(m) { ++t_fileWriteDepth; }
    ~Holding() {
      --t_fileWriteDepth;
      ReleaseMutex(mutex);
    }
  } holding(mutex_);
  WriteLocked(line, length);
}

void Logger::WriteLocked(const wchar_t* line, size_t length) {
  if (!IsOpen(logFile_.load())) return;  // closed while this thread rolls it
  // Other processes append too: write at the end. Every roll happens right
  // after a line takes the file past the threshold, so a handle whose file
  // is already past it names a copy that another process has rolled away:
  // append to the current file instead.
  LARGE_INTEGER end;
  end.QuadPart = 0;
  LARGE_INTEGER fromEnd;
  fromEnd.QuadPart = 0;
  bool atEnd = SetFilePointerEx(logFile_.load(), fromEnd, &end, FILE_END) != 0;
  if (atEnd && end.QuadPart > kRollThreshold) {
    CloseHandle(logFile_.exchange(nullptr));
    OpenLogFile();
    if (!IsOpen(logFile_.load())) return;
    atEnd = SetFilePointerEx(logFile_.load(), fromEnd, &end, FILE_END) != 0;
  }
  const HANDLE file = logFile_.load();

  // One conversion into a buffer of the largest size UTF-8 can take, rather
  // than asking for the size first.
  int converted = 0;
  DWORD conversionError = ERROR_NOT_ENOUGH_MEMORY;
  std::string bytes;
  if (length > 0 && length <= kMaxConvertibleLength) {
    bytes.resize(length * kMaxUtf8BytesPerChar);
    converted = WideCharToMultiByte(CP_UTF8, 0, line, static_cast<int>(length), &bytes[0],
                                    static_cast<int>(bytes.size()), nullptr, nullptr);
    if (converted <= 0) conversionError = GetLastError();
  }
  bool wroteAll = false;
  if (converted <= 0) {
    ReportProblem(L"Couldn't convert this log message string (error code %1!d!): %2", conversionError, line);
  } else {
    // No terminating zero byte and no byte-order mark, ever.
    DWORD written = 0;
    wroteAll = WriteFile(file, bytes.data(), static_cast<DWORD>(converted), &written, nullptr) != 0;
    if (!wroteAll) {
      const DWORD error = GetLastError();
      ReportProblem(L"Couldn't write this message to the log file (error code %1!d!): %2", error, line);
    }
#ifdef _WIN32
    FlushFileBuffers(file);
#else
    // On Linux the write has already handed the bytes to the kernel, which
    // keeps them when the process crashes: what the flush is for. Syncing
    // each line to the disk as well would hold the log to a few thousand
    // lines a second.
#endif
  }
  // With the mutex held nobody else writes, so after a whole write the file
  // ends where this write did: its size as this handle sees it, without
  // asking again. After a failure, a report may have been written (or the
  // file rolled) in between: ask.
  const LONGLONG size = atEnd && wroteAll ? end.QuadPart + converted : GetLogFileSize();
  if (size > kRollThreshold) RollLogFile();
}

LONGLONG Logger::GetLogFileSize() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(logFile_.load(), &size)) {
    const DWORD error = GetLastError();
    ReportProblem(L"Couldn't determine the size of the log file '%1' (error code %2!d!)", logFileFullPath_, error);
    return 0;
  }
  return size.QuadPart;
}

void Logger::RollLogFile() {
  wchar_t rolled[kPathCapacity];
  CopyCut(rolled, kPathCapacity, logFileFullPath_);
  const size_t used = std::wcslen(rolled);
  CopyCut(rolled + used, kPathCapacity - used, kRolledSuffix);

  const HANDLE file = logFile_.exchange(nullptr);
  if (IsOpen(file)) CloseHandle(file);
  const bool renamed = MoveFileExW(logFileFullPath_, rolled, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!renamed) {
    // The file is closed now: this report reaches the outputs only.
    const DWORD error = GetLastError();
    ReportProblem(L"Couldn't roll log file from '%1' to '%2' (error code %3!d!)", logFileFullPath_, rolled, error);
  }
  // A new, empty file after a rename; the old one again after a failed
  // rename, so the roll is tried again after the next line.
  OpenLogFile();
  if (renamed) LogInfo(L"Previous log file rolled to '%1' after exceeding %2!d! bytes.", rolled, 1048576);
}
