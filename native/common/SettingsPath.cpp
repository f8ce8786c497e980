// GetSettingsFilePath: the per-user data folder and the files in it.
#include <cwchar>
#include <string>

#include "PropertiesFile.h"

namespace {

const wchar_t kDefaultFileName[] = L"ais.config";

// The variable's value; false when it is not set (or empty).
bool ReadVariable(LPCWSTR name, std::wstring& value) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return false;
  value.assign(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, &value[0], size);
  if (length == 0 || length >= size) return false;  // changed in between
  value.resize(length);
  return true;
}

// The folder the data folder is built on, within `capacity`; false when none
// can be had or it does not fit.
bool ProfileFolder(std::wstring& profile, size_t capacity) {
#ifdef _WIN32
  if (ReadVariable(L"USERPROFILE", profile)) return profile.size() < capacity;
  static const wchar_t kProfilesFolder[] = L"C:\\Documents and Settings\\";
  profile = kProfilesFolder;
  if (profile.size() >= capacity) return false;
  std::wstring user;
  if (!ReadVariable(L"USERNAME", user)) return false;
  profile += user;
  return profile.size() < capacity;
#else
  // The XDG base directory rules: a relative XDG_DATA_HOME is ignored.
  if (ReadVariable(L"XDG_DATA_HOME", profile) && profile[0] == L'/') return profile.size() < capacity;
  if (!ReadVariable(L"HOME", profile)) return false;
  if (profile.size() >= capacity) return false;
  profile += L"/.local/share";
  return profile.size() < capacity;
#endif
}

}  // namespace

bool GetSettingsFilePath(LPWSTR buffer, int capacity, LPCWSTR fileName) {
#ifdef _WIN32
  static const wchar_t kDataFolder[] = L"\\Application Data\\Quorvane\\data\\";
#else
  static const wchar_t kDataFolder[] = L"/Quorvane/data/";
#endif
  if (buffer == nullptr || capacity <= 0) return false;
  const size_t limit = static_cast<size_t>(capacity);
  std::wstring path;
  if (!ProfileFolder(path, limit)) return false;
  const wchar_t* name = fileName == nullptr || *fileName == L'\0' ? kDefaultFileName : fileName;
  const size_t nameLength = std::wcslen(name);
  const size_t folderLength = sizeof kDataFolder / sizeof kDataFolder[0] - 1;
  if (path.size() + folderLength + nameLength >= limit) return false;
  path += kDataFolder;
  path += name;
  std::wmemcpy(buffer, path.c_str(), path.size() + 1);
  return true;
}
