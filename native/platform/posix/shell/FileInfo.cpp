// SHGetFileInfoW on Linux: what a Linux file manager shows of a file. Names
// and types come from GIO (the shared MIME database: "report.txt" is a
// "plain text document"), icons are theme icon names kept behind an HICON,
// and the shell attributes are read from the file and its folder's rights.
//
// Only the members the flags ask for are written, and only the parts of
// them that lie within cbFileInfo bytes; texts are cut to fit with their
// terminating zero. A file that cannot be read answers 0 and writes nothing;
// SHGFI_USEFILEATTRIBUTES answers from the name and dwFileAttributes alone.
#include <dirent.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../text/FileSystemText.h"
#include "../loader/GioLibrary.h"
#include "GioPath.h"
#include "ItemIdList.h"
#include "ShellIcon.h"

namespace qp = quorvane::posix;
using quorvane::posix::Gio;

namespace {

// What SHGFI_SYSICONINDEX answers: there is one system image list per
// process, and this stands for it.
constexpr DWORD_PTR kSystemImageList = 0x10;
constexpr size_t kSubfolderScanLimit = 1024;

struct GObjectUnref {
  void operator()(gpointer object) const { Gio().object_unref(object); }
};
template <class T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

struct Facts {
  std::string name;          // display name, UTF-8
  std::string contentType;
  DWORD attributes = 0;      // SFGAO_*
  bool folder = false;
};

bool HasSubfolder(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return false;
  bool found = false;
  size_t seen = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (++seen > kSubfolderScanLimit) break;
    const std::string name = entry->d_name;
    if (entry->d_type == DT_DIR && name != "." && name != "..") {
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

DWORD KindAttributes(bool folder) {
  DWORD attributes = SFGAO_FILESYSTEM | SFGAO_CANLINK | SFGAO_HASPROPSHEET;
  if (folder)
    attributes |= SFGAO_FOLDER | SFGAO_FILESYSANCESTOR | SFGAO_STORAGE | SFGAO_STORAGEANCESTOR | SFGAO_DROPTARGET;
  else
    attributes |= SFGAO_STREAM;
  return attributes;
}

Facts FromAttributes(const std::string& path, DWORD fileAttributes) {
  Facts facts;
  facts.folder = (fileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  gchar* name = Gio().filename_display_basename(path.c_str());
  facts.name = name;
  Gio().free(name);
  if (facts.folder) {
    facts.contentType = "inode/directory";
  } else {
    gchar* type = Gio().content_type_guess(path.c_str(), nullptr, 0, nullptr);
    facts.contentType = type;
    Gio().free(type);
  }
  facts.attributes = KindAttributes(facts.folder) | SFGAO_CANCOPY | SFGAO_CANMOVE | SFGAO_CANRENAME | SFGAO_CANDELETE;
  if (fileAttributes & FILE_ATTRIBUTE_READONLY) facts.attributes |= SFGAO_READONLY;
  if ((fileAttributes & FILE_ATTRIBUTE_HIDDEN) || facts.name[0] == '.') facts.attributes |= SFGAO_HIDDEN;
  return facts;
}

constexpr const char* kQuery =
    G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE "," G_FILE_ATTRIBUTE_STANDARD_DISPLAY_NAME
    "," G_FILE_ATTRIBUTE_STANDARD_IS_HIDDEN "," G_FILE_ATTRIBUTE_STANDARD_IS_SYMLINK "," G_FILE_ATTRIBUTE_STANDARD_TYPE
    "," G_FILE_ATTRIBUTE_ACCESS_CAN_READ "," G_FILE_ATTRIBUTE_ACCESS_CAN_WRITE "," G_FILE_ATTRIBUTE_ACCESS_CAN_DELETE
    "," G_FILE_ATTRIBUTE_ACCESS_CAN_RENAME;

// False when the file cannot be read.
bool FromDisk(const std::string& path, Facts* facts) {
  const std::string named = qp::GioPath(path);
  if (named.empty()) return false;
  GPtr<GFile> file(Gio().file_new_for_path(named.c_str()));
  // A link is described by its target, as a file manager does; a dangling
  // one by itself.
  GPtr<GFileInfo> info(Gio().file_query_info(file.get(), kQuery, G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
  if (!info)
    info.reset(Gio().file_query_info(file.get(), kQuery, G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS, nullptr, nullptr));
  if (!info) return false;
  facts->folder = Gio().file_info_get_file_type(info.get()) == G_FILE_TYPE_DIRECTORY;
  facts->name = Gio().file_info_get_display_name(info.get());
  const char* type = Gio().file_info_get_content_type(info.get());
  facts->contentType = type ? type : "application/octet-stream";
  DWORD attributes = KindAttributes(facts->folder);
  auto can = [&](const char* attribute) { return Gio().file_info_get_attribute_boolean(info.get(), attribute); };
  if (can(G_FILE_ATTRIBUTE_ACCESS_CAN_READ)) attributes |= SFGAO_CANCOPY;
  if (can(G_FILE_ATTRIBUTE_ACCESS_CAN_DELETE)) attributes |= SFGAO_CANDELETE | SFGAO_CANMOVE;
  if (can(G_FILE_ATTRIBUTE_ACCESS_CAN_RENAME)) attributes |= SFGAO_CANRENAME;
  if (!can(G_FILE_ATTRIBUTE_ACCESS_CAN_WRITE)) attributes |= SFGAO_READONLY;
  if (Gio().file_info_get_is_symlink(info.get())) attributes |= SFGAO_LINK;
  if (Gio().file_info_get_is_hidden(info.get()) || facts->name[0] == '.') attributes |= SFGAO_HIDDEN;
  if (facts->folder && HasSubfolder(path)) attributes |= SFGAO_HASSUBFOLDER;
  facts->attributes = attributes;
  return true;
}

std::vector<std::string> IconNames(const Facts& facts, bool open) {
  std::vector<std::string> names;
  if (facts.folder && open) names.push_back("folder-open");
  GPtr<GIcon> icon(Gio().content_type_get_icon(facts.contentType.c_str()));
  if (icon &&
      Gio().type_check_instance_is_a(reinterpret_cast<GTypeInstance*>(icon.get()), Gio().themed_icon_get_type())) {
    for (const gchar* const* name = Gio().themed_icon_get_names(reinterpret_cast<GThemedIcon*>(icon.get()));
         name && *name; ++name)
      names.push_back(*name);
  }
  if (names.empty()) names.push_back(facts.folder ? "folder" : "text-x-generic");
  return names;
}

// Writes to members of the caller's record that lie wholly inside `size` bytes.
class RecordWriter {
 public:
  RecordWriter(SHFILEINFOW* record, UINT size) : record_(record), size_(record ? size : 0) {}

  template <class T>
  bool Fits(T* member) const {
    return Offset(member) + sizeof(T) <= size_;
  }
  template <class T>
  void Put(T* member, T value) {
    if (Fits(member)) *member = value;
  }
  template <size_t N>
  void PutText(WCHAR (*member)[N], const std::string& utf8) {
    const size_t offset = Offset(member);
    if (offset >= size_) return;
    const size_t capacity = std::min(N, (size_ - offset) / sizeof(WCHAR));
    if (capacity == 0) return;
    const std::wstring text = qp::WideFromFileSystemText(utf8);
    const size_t count = std::min(text.size(), capacity - 1);
    std::memcpy(*member, text.data(), count * sizeof(WCHAR));
    (*member)[count] = 0;
  }
  SHFILEINFOW* Record() const { return record_; }

 private:
  template <class T>
  size_t Offset(T* member) const {
    return static_cast<size_t>(reinterpret_cast<const char*>(member) - reinterpret_cast<const char*>(record_));
  }

  SHFILEINFOW* record_;
  size_t size_;
};

}  // namespace

DWORD_PTR SHGetFileInfoW(LPCWSTR pszPath, DWORD dwFileAttributes, SHFILEINFOW* psfi, UINT cbFileInfo, UINT uFlags) {
  // Without GIO no file can be described.
  if (pszPath == nullptr || qp::GioLibrary::Get() == nullptr) return 0;
  const std::wstring wide = (uFlags & SHGFI_PIDL) ? qp::PathFromItemIdList(reinterpret_cast<LPCITEMIDLIST>(pszPath))
                                                  : std::wstring(pszPath);
  if (wide.empty()) return 0;
  const std::string path = qp::FileSystemTextFromWide(wide.c_str(), wide.size());
  Facts facts;
  if (uFlags & SHGFI_USEFILEATTRIBUTES) {
    facts = FromAttributes(path, dwFileAttributes);
  } else if (!FromDisk(path, &facts)) {
    return 0;
  }
  // No Linux file is a Windows executable.
  if (uFlags & SHGFI_EXETYPE) return 0;

  RecordWriter out(psfi, cbFileInfo);
  DWORD_PTR result = 1;
  if (psfi != nullptr && (uFlags & (SHGFI_ICON | SHGFI_SYSICONINDEX | SHGFI_ICONLOCATION))) {
    const std::vector<std::string> names = IconNames(facts, (uFlags & SHGFI_OPENICON) != 0);
    out.Put(&psfi->iIcon, qp::SystemIconIndex(names.front()));
    if ((uFlags & SHGFI_ICON) && out.Fits(&psfi->hIcon)) {
      HICON icon = qp::CreateShellIcon(names);
      if (icon == nullptr) return 0;
      psfi->hIcon = icon;
    }
    // The icon's "file" is its theme name.
    if (uFlags & SHGFI_ICONLOCATION) out.PutText(&psfi->szDisplayName, names.front());
  }
  if (uFlags & SHGFI_SYSICONINDEX) result = kSystemImageList;
  if (psfi == nullptr) return result;
  if (uFlags & SHGFI_ATTRIBUTES) {
    DWORD wanted = 0xFFFFFFFFu;
    if ((uFlags & SHGFI_ATTR_SPECIFIED) && out.Fits(&psfi->dwAttributes)) wanted = psfi->dwAttributes;
    out.Put(&psfi->dwAttributes, static_cast<DWORD>(facts.attributes & wanted));
  }
  if (uFlags & SHGFI_DISPLAYNAME) out.PutText(&psfi->szDisplayName, facts.name);
  if (uFlags & SHGFI_TYPENAME) {
    gchar* description = Gio().content_type_get_description(facts.contentType.c_str());
    out.PutText(&psfi->szTypeName, description ? description : "");
    Gio().free(description);
  }
  return result;
}
