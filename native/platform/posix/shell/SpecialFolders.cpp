// SHGetFolderPathW and SHGetFolderLocation: the special folders of the
// calling user, as the freedesktop folders that GLib reads.
//
// GLib reads the XDG user directories ($XDG_CONFIG_HOME/user-dirs.dirs), the
// XDG base directories and $HOME once per process and keeps them: a folder
// moved, or an environment changed, after the first call is seen by the next
// process. We never call g_reload_user_special_dirs_cache: it frees the
// strings that any other GLib user in the JVM (or another of our threads)
// may be holding, and it is not thread-safe.
//
// No identifier but CSIDL_PROFILE ever answers the home folder itself: a
// client that empties "Templates" or syncs "Music" must not act on the whole
// home. A user directory that user-dirs.dirs does not set is its XDG default
// (~/Templates, ~/Music, ...); one set to the home folder (how xdg-user-dirs
// turns a folder off) is not there, and answers E_FAIL, even with
// CSIDL_FLAG_CREATE.
//
// The owner window and the access token are not used: only the calling
// user's folders exist here (the default user's token -1 included). There is
// no redirection either, so SHGFP_TYPE_DEFAULT answers the current folder.
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "../base/ErrnoMapping.h"
#include "../text/FileSystemText.h"
#include "../loader/GioLibrary.h"
#include "ItemIdList.h"
#include "ShellApi.h"

namespace quorvane {
namespace posix {
namespace {

enum class Base { kUserDir, kConfig, kData, kCache, kHome };
constexpr GUserDirectory kNone = G_USER_N_DIRECTORIES;

struct SpecialFolder {
  int csidl;
  Base base;
  GUserDirectory userDir;  // with kUserDir, else kNone
  const char* below;       // a subfolder of the base (with kUserDir: of the home folder when unset), or null
  mode_t createMode;       // 0700 for folders that only the user may read
};

// Sorted by CSIDL value.
constexpr SpecialFolder kFolders[] = {
    {CSIDL_DESKTOP, Base::kUserDir, G_USER_DIRECTORY_DESKTOP, "Desktop", 0777},
    {CSIDL_PERSONAL, Base::kUserDir, G_USER_DIRECTORY_DOCUMENTS, "Documents", 0777},
    {CSIDL_STARTUP, Base::kConfig, kNone, "autostart", 0700},
    {CSIDL_MYMUSIC, Base::kUserDir, G_USER_DIRECTORY_MUSIC, "Music", 0777},
    {CSIDL_MYVIDEO, Base::kUserDir, G_USER_DIRECTORY_VIDEOS, "Videos", 0777},
    {CSIDL_DESKTOPDIRECTORY, Base::kUserDir, G_USER_DIRECTORY_DESKTOP, "Desktop", 0777},
    {CSIDL_FONTS, Base::kData, kNone, "fonts", 0700},
    {CSIDL_TEMPLATES, Base::kUserDir, G_USER_DIRECTORY_TEMPLATES, "Templates", 0777},
    {CSIDL_APPDATA, Base::kConfig, kNone, nullptr, 0700},
    {CSIDL_LOCAL_APPDATA, Base::kData, kNone, nullptr, 0700},
    {CSIDL_INTERNET_CACHE, Base::kCache, kNone, nullptr, 0700},
    {CSIDL_MYPICTURES, Base::kUserDir, G_USER_DIRECTORY_PICTURES, "Pictures", 0777},
    {CSIDL_PROFILE, Base::kHome, kNone, nullptr, 0700},
    // The public share stands in for the shared documents.
    {CSIDL_COMMON_DOCUMENTS, Base::kUserDir, G_USER_DIRECTORY_PUBLIC_SHARE, "Public", 0777},
};

const SpecialFolder* Find(int csidl) {
  for (const SpecialFolder& folder : kFolders)
    if (folder.csidl == csidl) return &folder;
  return nullptr;
}

// The folder's path, without creating or checking it.
std::string FolderPath(const SpecialFolder& folder) {
  const char* path = nullptr;
  switch (folder.base) {
    case Base::kUserDir:
      path = Gio().get_user_special_dir(folder.userDir);
      if (path != nullptr) return path;
      break;  // not set: the XDG default below the home folder
    case Base::kConfig:
      path = Gio().get_user_config_dir();
      break;
    case Base::kData:
      path = Gio().get_user_data_dir();
      break;
    case Base::kCache:
      path = Gio().get_user_cache_dir();
      break;
    case Base::kHome:
      break;
  }
  std::string bytes = path != nullptr ? path : Gio().get_home_dir();
  if (folder.below != nullptr) bytes += std::string("/") + folder.below;
  return bytes;
}

// By name or by inode: "$HOME/", "$HOME/." and a link to it are all the home folder.
bool IsHomeFolder(const std::string& path) {
  const std::string home = Gio().get_home_dir();
  const auto trimmed = [](std::string text) {
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
  };
  if (trimmed(path) == trimmed(home)) return true;
  struct stat a, b;
  return stat(path.c_str(), &a) == 0 && stat(home.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The folder's path; created first with CSIDL_FLAG_CREATE. S_FALSE when it
// does not exist (unless CSIDL_FLAG_DONT_VERIFY).
HRESULT ResolveFolder(int csidl, std::wstring& path) {
  const SpecialFolder* folder = Find(csidl & ~CSIDL_FLAG_MASK);
  if (folder == nullptr) return E_INVALIDARG;
  if (GioLibrary::Get() == nullptr) return E_FAIL;  // GLib reads the folders
  const std::string bytes = FolderPath(*folder);
  if (bytes.empty() || bytes[0] != '/') return E_FAIL;
  if (folder->base != Base::kHome && IsHomeFolder(bytes)) return E_FAIL;
  if ((csidl & CSIDL_FLAG_CREATE) != 0 &&
      Gio().mkdir_with_parents(bytes.c_str(), static_cast<int>(folder->createMode)) != 0)
    return HRESULT_FROM_WIN32(Win32ErrorFromErrno(errno));
  path = WideFromFileSystemText(bytes);
  if ((csidl & CSIDL_FLAG_DONT_VERIFY) != 0) return S_OK;
  struct stat status;
  return stat(bytes.c_str(), &status) == 0 && S_ISDIR(status.st_mode) ? S_OK : S_FALSE;
}

}  // namespace
}  // namespace posix
}  // namespace quorvane

HRESULT SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath) {
  if (pszPath == nullptr) return E_INVALIDARG;
  pszPath[0] = 0;
  std::wstring path;
  const HRESULT hr = quorvane::posix::ResolveFolder(csidl, path);
  if (FAILED(hr)) return hr;
  if (path.size() >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  path.copy(pszPath, path.size());
  pszPath[path.size()] = 0;
  return hr;
}

HRESULT SHGetFolderLocation(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, PIDLIST_ABSOLUTE* ppidl) {
  if (ppidl == nullptr) return E_INVALIDARG;
  *ppidl = nullptr;
  std::wstring path;
  const HRESULT hr = quorvane::posix::ResolveFolder(csidl, path);
  if (FAILED(hr)) return hr;
  // A list of a folder that is not there would name nothing.
  if (hr != S_OK) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  *ppidl = quorvane::posix::ItemIdListFromPath(path);
  return *ppidl != nullptr ? S_OK : E_OUTOFMEMORY;
}
