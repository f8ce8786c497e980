// Load check of the Windows DLL, run under Wine or Windows:
//   1. every DLL it imports (directly or delay-loaded) is one that a Windows
//      installation has, read from the file before anything is loaded;
//   2. it loads;
//   3. every native method of the exports table resolves by its decorated
//      (_Java_..._m@N) and its plain name, both to the same code, and no
//      other Java_ export names a method outside the table or another N.
// usage: qv_load_check DLL EXPORTS_TABLE
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char kPrefix[] = "Java_com_quorvane_infrastructure_os_windows_Win32Impl_";

// Shipped with every Windows installation the client supports.
const char* const kSystemDlls[] = {
    "kernel32.dll", "user32.dll",  "gdi32.dll",   "advapi32.dll", "shell32.dll",  "ole32.dll",
    "oleaut32.dll", "msvcrt.dll",  "ntdll.dll",   "psapi.dll",    "version.dll",  "wininet.dll",
    "crypt32.dll",  "ws2_32.dll",  "wsock32.dll", "iphlpapi.dll", "rpcrt4.dll",   "shlwapi.dll",
    "comctl32.dll", "winmm.dll",   "secur32.dll", "userenv.dll",  "comdlg32.dll", "netapi32.dll"};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// The PE image as a file: RVAs resolved through the section table.
class PeFile {
 public:
  explicit PeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (bytes_.size() < sizeof(IMAGE_DOS_HEADER)) return;
    const auto* dos = At<IMAGE_DOS_HEADER>(0);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return;
    nt_ = At<IMAGE_NT_HEADERS32>(dos->e_lfanew);
    if (nt_ == nullptr || nt_->Signature != IMAGE_NT_SIGNATURE ||
        nt_->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
      nt_ = nullptr;
      return;
    }
    const size_t sections = dos->e_lfanew + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                            nt_->FileHeader.SizeOfOptionalHeader;
    for (WORD i = 0; i < nt_->FileHeader.NumberOfSections; ++i) {
      const auto* s = At<IMAGE_SECTION_HEADER>(sections + i * sizeof(IMAGE_SECTION_HEADER));
      if (s) sections_.push_back(*s);
    }
  }
  bool Valid() const { return nt_ != nullptr; }

  // Names of the DLLs in the import and delay-import tables; false on a
  // damaged table.
  bool ImportedDlls(std::vector<std::string>& names) const {
    return AppendNames<IMAGE_IMPORT_DESCRIPTOR, &IMAGE_IMPORT_DESCRIPTOR::Name>(IMAGE_DIRECTORY_ENTRY_IMPORT, names) &&
           AppendNames<IMAGE_DELAYLOAD_DESCRIPTOR, &IMAGE_DELAYLOAD_DESCRIPTOR::DllNameRVA>(
               IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT, names);
  }

  std::vector<std::string> ExportNames() const {
    std::vector<std::string> names;
    const DWORD rva = nt_->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress;
    const auto* dir = rva ? AtRva<IMAGE_EXPORT_DIRECTORY>(rva) : nullptr;
    if (dir == nullptr) return names;
    for (DWORD i = 0; i < dir->NumberOfNames; ++i) {
      const DWORD* nameRva = AtRva<DWORD>(dir->AddressOfNames + i * sizeof(DWORD));
      const char* name = nameRva ? String(*nameRva) : nullptr;
      if (name) names.push_back(name);
    }
    return names;
  }

 private:
  // The DLL names of one descriptor table, which ends in a zero name.
  template <typename Descriptor, DWORD Descriptor::*NameRva>
  bool AppendNames(int directory, std::vector<std::string>& names) const {
    for (DWORD rva = nt_->OptionalHeader.DataDirectory[directory].VirtualAddress; rva != 0;
         rva += sizeof(Descriptor)) {
      const auto* d = AtRva<Descriptor>(rva);
      if (d == nullptr) return false;
      if (d->*NameRva == 0) break;
      const char* name = String(d->*NameRva);
      if (name == nullptr) return false;
      names.push_back(name);
    }
    return true;
  }
  template <typename T>
  const T* At(size_t offset) const {
    return offset + sizeof(T) <= bytes_.size() ? reinterpret_cast<const T*>(bytes_.data() + offset) : nullptr;
  }
  template <typename T>
  const T* AtRva(DWORD rva) const {
    for (const auto& s : sections_)
      if (rva >= s.VirtualAddress && rva - s.VirtualAddress < s.SizeOfRawData)
        return At<T>(s.PointerToRawData + (rva - s.VirtualAddress));
    return nullptr;
  }
  const char* String(DWORD rva) const {
    const char* start = AtRva<char>(rva);
    if (start == nullptr) return nullptr;
    const char* end = bytes_.data() + bytes_.size();
    return std::find(start, end, '\0') == end ? nullptr : start;
  }

  std::vector<char> bytes_;
  const IMAGE_NT_HEADERS32* nt_ = nullptr;
  std::vector<IMAGE_SECTION_HEADER> sections_;
};

struct Method {
  std::string name;
  int bytes;
};

// "method N" lines; comments and blank lines skipped.
bool ReadTable(const std::string& path, std::vector<Method>& methods) {
  std::ifstream in(path);
  if (!in) return false;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || !std::isalpha(static_cast<unsigned char>(line[0]))) continue;
    std::istringstream fields(line);
    Method m;
    if (!(fields >> m.name >> m.bytes)) return false;
    methods.push_back(m);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s DLL EXPORTS_TABLE\n", argv[0]);
    return 2;
  }
  const std::string dll = argv[1];
  std::vector<Method> methods;
  if (!ReadTable(argv[2], methods) || methods.empty()) {
    std::printf("cannot read the exports table %s\n", argv[2]);
    return 1;
  }
  const PeFile pe(dll);
  if (!pe.Valid()) {
    std::printf("%s is not a 32-bit PE image\n", dll.c_str());
    return 1;
  }
  int problems = 0;
  std::vector<std::string> imports;
  if (!pe.ImportedDlls(imports)) {
    std::printf("damaged import table\n");
    ++problems;
  }
  const std::set<std::string> system(std::begin(kSystemDlls), std::end(kSystemDlls));
  for (const std::string& name : imports) {
    // The API sets (api-ms-win-*) are Windows' own forwarders.
    const std::string lower = Lower(name);
    if (system.count(lower) == 0 && lower.rfind("api-ms-win-", 0) != 0) {
      std::printf("IMPORTS A NON-SYSTEM DLL: %s\n", name.c_str());
      ++problems;
    }
  }
  if (problems) {
    std::printf("%d problems\n", problems);
    return 1;
  }

  const HMODULE module = LoadLibraryA(dll.c_str());
  if (module == nullptr) {
    std::printf("LoadLibrary failed: error %lu\n", GetLastError());
    return 1;
  }
  std::set<std::string> expected;
  for (const Method& m : methods) {
    const std::string plain = kPrefix + m.name;
    const std::string decorated = "_" + plain + "@" + std::to_string(m.bytes);
    expected.insert(plain);
    expected.insert(decorated);
    const FARPROC byPlain = GetProcAddress(module, plain.c_str());
    const FARPROC byDecorated = GetProcAddress(module, decorated.c_str());
    if (byDecorated == nullptr) std::printf("NOT RESOLVED: %s\n", decorated.c_str());
    if (byPlain == nullptr) std::printf("NOT RESOLVED: %s\n", plain.c_str());
    if (byPlain && byDecorated && byPlain != byDecorated)
      std::printf("TWO ADDRESSES: %s and %s\n", plain.c_str(), decorated.c_str());
    if (!byPlain || !byDecorated || byPlain != byDecorated) ++problems;
  }
  // Any other Java_ export (the compiler's own Java_..._m@N among them)
  // must be a method of the table with the table's byte count.
  std::map<std::string, int> bytes;
  for (const Method& m : methods) bytes[m.name] = m.bytes;
  for (const std::string& name : pe.ExportNames()) {
    const size_t start = name.find(kPrefix);
    if (start > 1 || expected.count(name)) continue;
    std::string method = name.substr(start + sizeof kPrefix - 1);
    const size_t at = method.find('@');
    const int n = at == std::string::npos ? -1 : std::atoi(method.c_str() + at + 1);
    method = method.substr(0, at);
    const auto found = bytes.find(method);
    if (found == bytes.end()) {
      std::printf("EXPORTED BUT NOT IN THE TABLE: %s\n", name.c_str());
      ++problems;
    } else if (n != found->second) {
      std::printf("WRONG BYTE COUNT: %s (the table says %d)\n", name.c_str(), found->second);
      ++problems;
    }
  }
  FreeLibrary(module);
  std::printf("%zu imported DLLs, all system; %zu native methods, %zu names looked up: %d problems\n", imports.size(),
              methods.size(), expected.size(), problems);
  return problems ? 1 : 0;
}
