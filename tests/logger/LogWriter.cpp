// The logger cross-process tests' other processes, on the library's objects:
//   qv_log_writer write <count> <tag>   logs <count> INFO lines "<tag> <n>" through the process's logger
//   qv_log_writer hold <mutex name>     takes the named mutex, prints "held <pid>" and waits to be killed
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Logger.h"
#include "Win32Api.h"

namespace {

std::wstring Wide(const char* text) { return std::wstring(text, text + std::strlen(text)); }

int Write(int count, const char* tag) {
  Logger& logger = Logger::Instance();
  if (logger.GetLevel() < Logger::LevelInfo || !logger.FileOutputOn()) {
    std::fprintf(stderr, "the logger is not writing INFO lines to a file\n");
    return 2;
  }
  const std::wstring wideTag = Wide(tag);
  for (int i = 0; i < count; ++i) logger.LogInfo(L"%1 %2!06d!", wideTag, i);
  return 0;
}

int Hold(const char* name) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, Wide(name).c_str());
  if (mutex == nullptr) return 2;
  const DWORD wait = WaitForSingleObject(mutex, INFINITE);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return 3;
  std::printf("held %lu\n", static_cast<unsigned long>(GetCurrentProcessId()));
  std::fflush(stdout);
#ifdef _WIN32
  for (;;) Sleep(INFINITE);
#else
  for (;;) pause();
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "write") == 0) return Write(std::atoi(argv[2]), argv[3]);
  if (argc == 3 && std::strcmp(argv[1], "hold") == 0) return Hold(argv[2]);
  std::fprintf(stderr, "usage: %s write <count> <tag> | hold <mutex name>\n", argv[0]);
  return 1;
}
