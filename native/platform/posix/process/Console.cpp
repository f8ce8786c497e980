#include "Console.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <string>

#include "../text/CodePages.h"
#include "../base/ErrnoMapping.h"
#include "../kernel/UniqueFd.h"
#include "../text/FileSystemText.h"
#include "../kernel/KernelObject.h"

namespace {

constexpr int kConsoleFd = STDERR_FILENO;
constexpr WORD kDefaultAttributes = FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE;

// The console output object behind GetStdHandle; waiting on it succeeds at
// once, as on a Windows console output handle.
class ConsoleOutput final : public quorvane::posix::KernelObject {
 public:
  DWORD Wait(DWORD) override { return WAIT_OBJECT_0; }
};

// Process-wide console state. Thread-safe: every member is used under mutex.
struct ConsoleState {
  std::mutex mutex;
  bool attached = fcntl(kConsoleFd, F_GETFD) != -1;
  HANDLE handle = nullptr;  // registered on first use, never closed
  WORD attributes = kDefaultAttributes;
  UINT codePage = CP_UTF8;
  COORD bufferSize{0, 0};  // 0: the terminal's own size
};

ConsoleState& State() {
  // Never destroyed: the logger writes from exit-time destructors.
  static ConsoleState* state = new ConsoleState();
  return *state;
}

bool IsConsoleHandle(ConsoleState& state, HANDLE handle) {
  return state.attached && state.handle != nullptr && handle == state.handle;
}

bool IsTerminal() { return isatty(kConsoleFd) == 1; }

// "ESC[<foreground>;<background>m" for a Windows attribute word.
std::string ColourSequence(WORD attributes) {
  auto ansi = [](WORD rgbi) {  // Windows bits: 1 blue, 2 green, 4 red, 8 intense
    const int colour = ((rgbi & 4) ? 1 : 0) | ((rgbi & 2) ? 2 : 0) | ((rgbi & 1) ? 4 : 0);
    return std::make_pair(colour, (rgbi & 8) != 0);
  };
  const auto fg = ansi(attributes & 0x0F);
  const auto bg = ansi((attributes >> 4) & 0x0F);
  return "\x1b[" + std::to_string((fg.second ? 90 : 30) + fg.first) + ";" +
         std::to_string((bg.second ? 100 : 40) + bg.first) + "m";
}

}  // namespace

BOOL AllocConsole() {
  ConsoleState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.attached) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (fcntl(kConsoleFd, F_GETFD) == -1) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  state.attached = true;
  state.attributes = kDefaultAttributes;
  return TRUE;
}

BOOL FreeConsole() {
  ConsoleState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.attached) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  state.attached = false;
  return TRUE;
}

HANDLE GetStdHandle(DWORD nStdHandle) {
  if (nStdHandle != STD_OUTPUT_HANDLE && nStdHandle != STD_ERROR_HANDLE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  ConsoleState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.attached) return nullptr;
  if (state.handle == nullptr) {
    state.handle = quorvane::posix::RegisterHandle(std::make_shared<ConsoleOutput>());
    if (state.handle == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
  return state.handle;
}

BOOL WriteConsoleW(HANDLE hConsoleOutput, const void* lpBuffer, DWORD nNumberOfCharsToWrite,
                   DWORD* lpNumberOfCharsWritten, LPVOID) {
  if (lpNumberOfCharsWritten) *lpNumberOfCharsWritten = 0;
  if (lpBuffer == nullptr && nNumberOfCharsToWrite > 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ConsoleState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!IsConsoleHandle(state, hConsoleOutput)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::string bytes =
      quorvane::posix::FileSystemTextFromWide(static_cast<const WCHAR*>(lpBuffer), nNumberOfCharsToWrite);
  if (state.attributes != kDefaultAttributes && IsTerminal() && !bytes.empty())
    bytes = ColourSequence(state.attributes) + bytes + "\x1b[0m";
  // One write for the whole text, so that lines of concurrent writers stay whole.
  if (!quorvane::posix::WriteAll(kConsoleFd, bytes.data(), bytes.size())) {
    quorvane::posix::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  if (lpNumberOfCharsWritten) *lpNumberOfCharsWritten = nNumberOfCharsToWrite;
  return TRUE;
}

BOOL SetConsoleOutputCP(UINT wCodePageID) {
  if (wCodePageID != 1200 && !IsValidCodePage(wCodePageID)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ConsoleState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.codePage = wCodePageID;
  return TRUE;
}

UINT GetConsoleOutputCP() {
  ConsoleState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.attached ? state.codePage : 0;
}

BOOL SetConsoleScreenBufferSize(HANDLE hConsoleOutput, COORD dwSize) {
  ConsoleState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!IsConsoleHandle(state, hConsoleOutput) || !IsTerminal()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (dwSize.X <= 0 || dwSize.Y <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // A terminal keeps its own scroll-back; the size is kept to be reported.
  state.bufferSize = dwSize;
  return TRUE;
}

BOOL GetConsoleScreenBufferInfo(HANDLE hConsoleOutput, PCONSOLE_SCREEN_BUFFER_INFO info) {
  ConsoleState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (info == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!IsConsoleHandle(state, hConsoleOutput) || !IsTerminal()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  struct winsize size {};
  if (ioctl(kConsoleFd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) size.ws_col = 80, size.ws_row = 25;
  const SHORT columns = static_cast<SHORT>(size.ws_col > 0x7FFF ? 0x7FFF : size.ws_col);
  const SHORT rows = static_cast<SHORT>(size.ws_row > 0x7FFF ? 0x7FFF : size.ws_row);
  info->dwSize = state.bufferSize.X > 0 ? state.bufferSize : COORD{columns, rows};
  info->dwCursorPosition = COORD{0, 0};
  info->wAttributes = state.attributes;
  info->srWindow = SMALL_RECT{0, 0, static_cast<SHORT>(columns - 1), static_cast<SHORT>(rows - 1)};
  info->dwMaximumWindowSize = COORD{columns, rows};
  return TRUE;
}

BOOL SetConsoleTextAttribute(HANDLE hConsoleOutput, WORD wAttributes) {
  ConsoleState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!IsConsoleHandle(state, hConsoleOutput)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  state.attributes = wAttributes;
  return TRUE;
}
