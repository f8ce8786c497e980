#include "VersionInfoReader.h"

namespace quorvane {

VersionInfoReader::VersionInfoReader(LPCWSTR path) {
  WCHAR module[MAX_PATH];
  if (path == nullptr) {
    const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    path = module;
  }
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &handle);
  if (size == 0) return;
  std::vector<BYTE> block(size);
  if (!GetFileVersionInfoW(path, handle, size, block.data())) return;
  block_.swap(block);
}

bool VersionInfoReader::GetFileVersion(uint32_t* punMajor, uint32_t* punMinor, uint32_t* punPatch,
                                       uint32_t* punBuild) const {
  if (block_.empty()) return false;
  LPVOID value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block_.data(), L"\\", &value, &length) ||
      value == nullptr || length < sizeof(VS_FIXEDFILEINFO))
    return false;
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
  if (punMajor != nullptr) *punMajor = info->dwFileVersionMS >> 16;
  if (punMinor != nullptr) *punMinor = (info->dwFileVersionMS & 0xFFFFu);
  if (punPatch != nullptr) *punPatch = info->dwFileVersionLS >> 16;
  if (punBuild != nullptr) *punBuild = (info->dwFileVersionLS & 0xFFFFu);
  return true;
}

}  // namespace quorvane
