// A stand-in java.exe for the launcher's test: records each start's command line in QV_FAKE_JAVA_LOG and, asked
// for its settings, names the data model in QV_FAKE_JAVA_BITS.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int main() {
  const wchar_t* line = GetCommandLineW();
  wchar_t log[MAX_PATH], bits[8] = L"64";
  if (GetEnvironmentVariableW(L"QV_FAKE_JAVA_LOG", log, MAX_PATH) != 0) {
    if (FILE* f = _wfopen(log, L"a")) {
      std::fwprintf(f, L"%ls\n", line);
      std::fclose(f);
    }
  }
  GetEnvironmentVariableW(L"QV_FAKE_JAVA_BITS", bits, 8);
  if (std::wcsstr(line, L"-XshowSettings:properties") != nullptr)
    std::fwprintf(stderr, L"Property settings:\n    sun.arch.data.model = %ls\n", bits);
  return 0;
}
