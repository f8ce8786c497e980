// The DLL imports only system DLLs, states Windows 7 as its minimum, loads,
// and resolves every method: on i686 both ways (decorated and plain) to the
// same code, on x64 by its plain name. Given a third DLL, that one is loaded
// first, as another mingw-built library may already be in the JVM. The load
// runs with a profile holding no settings file, so the logger's start throws
// and catches an exception, and with a console, which the unload must leave.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

const std::set<std::string> kSystemDlls = {
    "kernel32.dll", "user32.dll",  "gdi32.dll",   "advapi32.dll", "shell32.dll",  "ole32.dll",
    "oleaut32.dll", "msvcrt.dll",  "ntdll.dll",   "psapi.dll",    "version.dll",  "wininet.dll",
    "crypt32.dll",  "ws2_32.dll",  "wsock32.dll", "iphlpapi.dll", "rpcrt4.dll",   "shlwapi.dll",
    "comctl32.dll", "winmm.dll",   "secur32.dll", "userenv.dll",  "comdlg32.dll", "netapi32.dll"};

// Prints and counts the imports of a mapped image that are no system DLLs (api-ms-win-* sets are).
int ForeignImports(const BYTE* image) {
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew);
  struct Table {
    int directory;
    size_t size, nameOffset;
  };
  const Table tables[] = {
      {IMAGE_DIRECTORY_ENTRY_IMPORT, sizeof(IMAGE_IMPORT_DESCRIPTOR), offsetof(IMAGE_IMPORT_DESCRIPTOR, Name)},
      {IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT, sizeof(IMAGE_DELAYLOAD_DESCRIPTOR),
       offsetof(IMAGE_DELAYLOAD_DESCRIPTOR, DllNameRVA)}};
  int foreign = 0, count = 0;
  for (const Table& t : tables) {
    const DWORD start = nt->OptionalHeader.DataDirectory[t.directory].VirtualAddress;
    for (const BYTE* d = image + start; start != 0; d += t.size) {
      const DWORD name = *reinterpret_cast<const DWORD*>(d + t.nameOffset);
      if (name == 0) break;
      std::string lower = reinterpret_cast<const char*>(image + name);
      std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
      ++count;
      if (kSystemDlls.count(lower) == 0 && lower.rfind("api-ms-win-", 0) != 0) {
        std::printf("IMPORTS A NON-SYSTEM DLL: %s\n", image + name);
        ++foreign;
      }
    }
  }
  std::printf("%d imported DLLs\n", count);
  return foreign;
}

// The OS version the image requires, from its headers.
bool RequiresWindows7(const BYTE* image) {
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew);
  const auto& o = nt->OptionalHeader;
  std::printf("requires Windows %u.%u (subsystem %u.%u)\n", o.MajorOperatingSystemVersion,
              o.MinorOperatingSystemVersion, o.MajorSubsystemVersion, o.MinorSubsystemVersion);
  return o.MajorOperatingSystemVersion == 6 && o.MinorOperatingSystemVersion == 1 && o.MajorSubsystemVersion == 6 &&
         o.MinorSubsystemVersion == 1;
}

bool HasConsole() {
  const HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  CloseHandle(out);
  return true;
}

// Prints why the check fails, with the last error, and answers the exit status.
int Fail(const char* what) {
  std::printf("%s: error %lu\n", what, GetLastError());
  return 1;
}

// A profile folder of its own, empty: no settings file.
void UseEmptyProfile() {
  wchar_t temp[MAX_PATH], folder[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  GetTempFileNameW(temp, L"qvp", 0, folder);
  DeleteFileW(folder);
  CreateDirectoryW(folder, nullptr);
  SetEnvironmentVariableW(L"USERPROFILE", folder);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: %s DLL EXPORTS_TABLE [DLL_LOADED_FIRST]\n", argv[0]);
    return 2;
  }
  if (argc == 4) {
    // Its own dependencies are found beside it, which needs backslashes.
    std::string first = argv[3];
    std::replace(first.begin(), first.end(), '/', '\\');
    if (LoadLibraryExA(first.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) == nullptr)
      return Fail((first + " does not load").c_str());
    std::printf("loaded first: %s\n", argv[3]);
  }
  UseEmptyProfile();
  // Wine may attach a program whose output is a file to a console it cannot open: a real one is made.
  if (!HasConsole() && (FreeConsole(), !AllocConsole() || !HasConsole()))
    return Fail("NO CONSOLE: AllocConsole failed");
  // Mapped without resolving its imports, which may be missing here.
  HMODULE module = LoadLibraryExA(argv[1], nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (module == nullptr) return Fail((std::string(argv[1]) + " does not map").c_str());
  const int foreign = ForeignImports(reinterpret_cast<const BYTE*>(module));
  const bool windows7 = RequiresWindows7(reinterpret_cast<const BYTE*>(module));
  FreeLibrary(module);
  if (foreign) return 1;
  if (!windows7) return std::printf("THE HEADERS DO NOT STATE WINDOWS 7 (6.1)\n"), 1;
  if ((module = LoadLibraryA(argv[1])) == nullptr) return Fail("LoadLibrary failed");
  std::ifstream table(argv[2]);
  int methods = 0, problems = 0;
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string method;
    int bytes = 0;
    if (line.empty() || !std::isalpha(static_cast<unsigned char>(line[0])) || !(fields >> method >> bytes)) continue;
    ++methods;
    const std::string plain = "Java_com_quorvane_infrastructure_os_windows_Win32Impl_" + method;
    const FARPROC byPlain = GetProcAddress(module, plain.c_str());
    if (byPlain == nullptr) std::printf("NOT RESOLVED: %s\n", plain.c_str());
    bool resolved = byPlain != nullptr;
    if (sizeof(void*) == 4) {
      const std::string decorated = "_" + plain + "@" + std::to_string(bytes);
      const FARPROC byDecorated = GetProcAddress(module, decorated.c_str());
      if (byDecorated == nullptr) std::printf("NOT RESOLVED: %s\n", decorated.c_str());
      if (byPlain && byDecorated && byPlain != byDecorated) std::printf("TWO ADDRESSES: %s\n", plain.c_str());
      resolved = resolved && byDecorated == byPlain;
    }
    problems += !resolved;
  }
  FreeLibrary(module);
  if (!HasConsole()) {
    std::printf("THE UNLOAD DETACHED THE PROCESS FROM ITS CONSOLE\n");
    ++problems;
  }
  std::printf("%d native methods: %d problems\n", methods, problems);
  return problems || methods == 0 ? 1 : 0;
}
