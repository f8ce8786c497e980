// The DLL imports only system DLLs, loads, and resolves every method: on i686
// both ways (decorated and plain) to the same code, on x64 by its plain name.
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s DLL EXPORTS_TABLE\n", argv[0]);
    return 2;
  }
  // Mapped without resolving its imports, which may be missing here.
  HMODULE module = LoadLibraryExA(argv[1], nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (module == nullptr) {
    std::printf("%s does not map: error %lu\n", argv[1], GetLastError());
    return 1;
  }
  const int foreign = ForeignImports(reinterpret_cast<const BYTE*>(module));
  FreeLibrary(module);
  if (foreign) return 1;
  if ((module = LoadLibraryA(argv[1])) == nullptr) {
    std::printf("LoadLibrary failed: error %lu\n", GetLastError());
    return 1;
  }
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
  std::printf("%d native methods: %d problems\n", methods, problems);
  return problems || methods == 0 ? 1 : 0;
}
