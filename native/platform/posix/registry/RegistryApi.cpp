// advapi32's registry functions over our stores and handle table.
#include "RegistryApi.h"

#include <cstring>
#include <string>
#include <vector>

#include "../base/WinError.h"
#include "RegistryKeys.h"

using namespace quorvane::posix::registry;

namespace {

// The key rights that change something: + DELETE, WRITE_DAC and WRITE_OWNER.
constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | 0x000D0000u;
constexpr REGSAM kGenericRead = 0x80000000u, kGenericWrite = 0x40000000u, kGenericExecute = 0x20000000u,
                 kGenericAll = 0x10000000u;

// The rights a new handle holds: generic rights as the key type maps them,
// MAXIMUM_ALLOWED as everything the store lets this user do. Write rights
// on a store the user cannot write are refused, as Windows refuses them to
// a non-administrator.
LONG Grant(RegistryStore& store, REGSAM desired, REGSAM* granted) {
  REGSAM rights = desired & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY | MAXIMUM_ALLOWED |
                              kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
  if (desired & (kGenericRead | kGenericExecute)) rights |= KEY_READ;
  if (desired & kGenericWrite) rights |= KEY_WRITE;
  if (desired & kGenericAll) rights |= KEY_ALL_ACCESS;
  // Only a handle that may write asks the store (which may make it).
  if ((rights & kWriteRights) == 0 && (desired & MAXIMUM_ALLOWED) == 0) {
    *granted = rights;
    return ERROR_SUCCESS;
  }
  const bool writable = store.Writable();
  if ((rights & kWriteRights) != 0 && !writable) return ERROR_ACCESS_DENIED;
  if (desired & MAXIMUM_ALLOWED) rights |= writable ? KEY_ALL_ACCESS : KEY_READ;
  *granted = rights;
  return ERROR_SUCCESS;
}

LONG NewHandle(KeyRef ref, REGSAM desired, PHKEY result) {
  ref.classesRoot = false;
  LONG error = Grant(*ref.store, desired, &ref.access);
  if (error != ERROR_SUCCESS) return error;
  *result = Register(ref);
  return *result != nullptr ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

// The key behind the handle, when it holds `right`.
LONG KeyWith(HKEY key, REGSAM right, KeyRef* ref) {
  LONG error = Resolve(key, ref);
  if (error != ERROR_SUCCESS) return error;
  return (ref->access & right) == right ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

LONG ValueName(LPCWSTR name, Name* out) {
  const std::wstring text = name != nullptr ? std::wstring(name) : std::wstring();
  if (Utf16Length(text) > QV_MAX_VALUE_NAME) return ERROR_INVALID_PARAMETER;
  *out = NameOf(text);
  return ERROR_SUCCESS;
}

// Copies a name into a caller's buffer of *units (terminator included);
// *units becomes the name's length. ERROR_MORE_DATA, nothing copied, when
// it does not fit.
LONG CopyName(const std::string& utf8, LPWSTR buffer, LPDWORD units) {
  const std::wstring name = Wide(utf8);
  if (name.size() + 1 > *units) return ERROR_MORE_DATA;
  std::memcpy(buffer, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  *units = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// The data a caller's buffer can take, -1 for no buffer (nothing is read).
int64_t Capacity(LPBYTE buffer, LPDWORD size) {
  return buffer != nullptr && size != nullptr ? static_cast<int64_t>(*size) : -1;
}

// RegQueryValueExW's contract for the data: the size always; the bytes
// when a buffer is given and large enough, else ERROR_MORE_DATA.
LONG CopyData(const ValueRead& value, LPBYTE buffer, LPDWORD size) {
  if (size == nullptr) return buffer != nullptr ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  *size = value.size;
  if (buffer == nullptr) return ERROR_SUCCESS;
  if (!value.loaded) return ERROR_MORE_DATA;
  if (!value.data.empty()) std::memcpy(buffer, value.data.data(), value.data.size());
  return ERROR_SUCCESS;
}

LONG OpenKey(HKEY key, LPCWSTR subKey, REGSAM desired, PHKEY result) {
  KeyRef ref;
  LONG error = Resolve(key, &ref);
  if (error != ERROR_SUCCESS) return error;
  std::vector<Name> path;
  error = SplitPath(subKey, &path);
  if (error != ERROR_SUCCESS) return error;
  KeyRef opened = ref;
  error = ref.store->Open(ref.id, path, &opened.id);
  if (error == ERROR_FILE_NOT_FOUND && ref.classesRoot && !path.empty()) {
    // A class the user lacks: the machine's, if it has one.
    KeyRef machine;
    if (Resolve(HKEY_LOCAL_MACHINE, &machine) == ERROR_SUCCESS) {
      std::vector<Name> full = {NameOf(L"Software"), NameOf(L"Classes")};
      full.insert(full.end(), path.begin(), path.end());
      opened.store = machine.store;
      error = machine.store->Open(machine.id, full, &opened.id);
    }
  }
  if (error != ERROR_SUCCESS) return error;
  return NewHandle(opened, desired, result);
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  const LONG error = OpenKey(hKey, lpSubKey, samDesired, phkResult);
  if (error != ERROR_SUCCESS) *phkResult = nullptr;
  return error;
}

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                        const _SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (phkResult == nullptr || lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  // An existing key is opened (the machine's classes included); only a
  // missing one is made, in the handle's store.
  LONG error = OpenKey(hKey, lpSubKey, samDesired, phkResult);
  if (error == ERROR_SUCCESS) {
    if (lpdwDisposition != nullptr) *lpdwDisposition = REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  }
  if (error != ERROR_FILE_NOT_FOUND) return error;
  KeyRef ref;
  error = KeyWith(hKey, KEY_CREATE_SUB_KEY, &ref);
  if (error != ERROR_SUCCESS) return error;
  std::vector<Name> path;
  error = SplitPath(lpSubKey, &path);
  if (error != ERROR_SUCCESS) return error;
  KeyRef made = ref;
  bool created = false;
  error = ref.store->Create(ref.id, path, &made.id, &created);
  if (error != ERROR_SUCCESS) return error;
  error = NewHandle(made, samDesired, phkResult);
  if (error == ERROR_SUCCESS && lpdwDisposition != nullptr)
    *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return error;
}

LSTATUS RegCreateKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  if (lpSubKey == nullptr || lpSubKey[0] == 0) return RegOpenKeyExW(hKey, nullptr, 0, MAXIMUM_ALLOWED, phkResult);
  return RegCreateKeyExW(hKey, lpSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, MAXIMUM_ALLOWED, nullptr, phkResult,
                         nullptr);
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  KeyRef ref;
  LONG error = KeyWith(hKey, KEY_SET_VALUE, &ref);
  if (error != ERROR_SUCCESS) return error;
  if (lpData == nullptr && cbData != 0) return ERROR_NOACCESS;
  if (cbData > QV_MAX_VALUE_SIZE) return ERROR_FILE_TOO_LARGE;
  Name name;
  error = ValueName(lpValueName, &name);
  if (error != ERROR_SUCCESS) return error;
  return ref.store->SetValue(ref.id, name, dwType, lpData, cbData);
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData) {
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  LONG error = KeyWith(hKey, KEY_QUERY_VALUE, &ref);
  if (error != ERROR_SUCCESS) return error;
  Name name;
  error = ValueName(lpValueName, &name);
  if (error != ERROR_SUCCESS) return error;
  ValueRead value;
  value.capacity = Capacity(lpData, lpcbData);
  error = ref.store->QueryValue(ref.id, name, &value);
  if (error != ERROR_SUCCESS) return error;
  if (lpType != nullptr) *lpType = value.type;
  return CopyData(value, lpData, lpcbData);
}

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR lpClass,
                      LPDWORD lpcchClass, LPFILETIME lpftLastWriteTime) {
  if (lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  LONG error = KeyWith(hKey, KEY_ENUMERATE_SUB_KEYS, &ref);
  if (error != ERROR_SUCCESS) return error;
  std::string name;
  error = ref.store->EnumKey(ref.id, reinterpret_cast<uintptr_t>(hKey), dwIndex, &name);
  if (error != ERROR_SUCCESS) return error;
  error = CopyName(name, lpName, lpcchName);
  if (error != ERROR_SUCCESS) return error;
  // Keys have no class here, and no write time is kept.
  if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) lpClass[0] = 0;
  if (lpcchClass != nullptr) *lpcchClass = 0;
  if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpValueName == nullptr || lpcchValueName == nullptr) return ERROR_INVALID_PARAMETER;
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  LONG error = KeyWith(hKey, KEY_QUERY_VALUE, &ref);
  if (error != ERROR_SUCCESS) return error;
  std::string name;
  ValueRead value;
  value.capacity = Capacity(lpData, lpcbData);
  error = ref.store->EnumValue(ref.id, reinterpret_cast<uintptr_t>(hKey), dwIndex, &name, &value);
  if (error != ERROR_SUCCESS) return error;
  error = CopyName(name, lpValueName, lpcchValueName);
  if (error != ERROR_SUCCESS) return error;
  if (lpType != nullptr) *lpType = value.type;
  return CopyData(value, lpData, lpcbData);
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  KeyRef ref;
  LONG error = KeyWith(hKey, KEY_SET_VALUE, &ref);
  if (error != ERROR_SUCCESS) return error;
  Name name;
  error = ValueName(lpValueName, &name);
  if (error != ERROR_SUCCESS) return error;
  return ref.store->DeleteValue(ref.id, name);
}

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  LONG error = Resolve(hKey, &ref);
  if (error != ERROR_SUCCESS) return error;
  std::vector<Name> path;
  error = SplitPath(lpSubKey, &path);
  if (error != ERROR_SUCCESS) return error;
  // An empty sub-key deletes the key itself; a predefined root never goes.
  if (path.empty() && IsPredefined(hKey)) return ERROR_ACCESS_DENIED;
  return ref.store->DeleteKey(ref.id, path);
}

LSTATUS RegCloseKey(HKEY hKey) {
  if (IsPredefined(hKey)) return ERROR_SUCCESS;
  return Unregister(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
