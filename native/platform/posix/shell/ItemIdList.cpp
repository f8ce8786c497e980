#include "ItemIdList.h"

#include <cstring>
#include <cwchar>
#include <limits>

#include "../storage/ComBase.h"

namespace quorvane {
namespace posix {

namespace {
constexpr size_t kCountBytes = sizeof(USHORT);
}  // namespace

LPITEMIDLIST ItemIdListFromPath(const std::wstring& path) {
  const size_t textBytes = (path.size() + 1) * sizeof(WCHAR);
  const size_t itemBytes = kCountBytes + textBytes;
  if (itemBytes > std::numeric_limits<USHORT>::max()) return nullptr;
  auto* bytes = static_cast<BYTE*>(CoTaskMemAlloc(itemBytes + kCountBytes));
  if (bytes == nullptr) return nullptr;
  const USHORT cb = static_cast<USHORT>(itemBytes);
  std::memcpy(bytes, &cb, kCountBytes);
  std::memcpy(bytes + kCountBytes, path.c_str(), textBytes);
  std::memset(bytes + itemBytes, 0, kCountBytes);
  return reinterpret_cast<LPITEMIDLIST>(bytes);
}

std::wstring PathFromItemIdList(LPCITEMIDLIST pidl) {
  if (pidl == nullptr) return std::wstring();
  const auto* bytes = reinterpret_cast<const BYTE*>(pidl);
  USHORT cb = 0;
  std::memcpy(&cb, bytes, kCountBytes);
  if (cb <= kCountBytes) return std::wstring();
  const size_t units = (cb - kCountBytes) / sizeof(WCHAR);
  std::wstring path(units, L'\0');
  std::memcpy(&path[0], bytes + kCountBytes, units * sizeof(WCHAR));
  path.resize(std::wcslen(path.c_str()));
  return path;
}

}  // namespace posix
}  // namespace quorvane

void ILFree(LPITEMIDLIST pidl) { CoTaskMemFree(pidl); }
