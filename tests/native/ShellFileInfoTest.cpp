// File information as a Linux file manager shows it, within the caller's record size.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "SettingsTestSupport.h"
#include "Win32Api.h"
#include "posix/shell/ItemIdList.h"

// GIO's MIME database (xdgmime) is loaded once per process into caches LeakSanitizer cannot follow.
extern "C" const char* __lsan_default_suppressions() { return "leak:libgio-2.0.so\n"; }

namespace {

using settings_test::Wide;

class ShellFileInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_test::WriteBytes(dir_.File("report.txt"), "hello\n");
    settings_test::WriteBytes(dir_.File(".hidden.txt"), "h\n");
    for (const char* folder : {"folder", "folder/sub"}) mkdir(dir_.File(folder).c_str(), 0755);
    symlink("report.txt", dir_.File("link.txt").c_str());
    settings_test::WriteBytes(dir_.File("folder/inner.txt"), "i\n");
    symlink("folder/sub", dir_.File("down").c_str());
    std::memset(&info_, 0xAB, sizeof info_);
  }
  DWORD_PTR Get(const std::string& name, UINT flags, DWORD attributes = 0, UINT size = sizeof(SHFILEINFOW)) {
    const std::wstring path = name[0] == '/' ? Wide(name) : Wide(dir_.File(name));
    return SHGetFileInfoW(path.c_str(), attributes, &info_, size, flags);
  }

  settings_test::TempFolder dir_;
  SHFILEINFOW info_;
};

// A name under the scratch folder, or an absolute one given with the caller's attributes.
const struct {
  const char* name;
  DWORD fileAttributes;
  const wchar_t* typeName;
  DWORD attributesSet, attributesClear;
} kCases[] = {
    {"report.txt", 0, L"plain text document",
     SFGAO_STREAM | SFGAO_FILESYSTEM | SFGAO_CANCOPY | SFGAO_CANRENAME | SFGAO_CANDELETE,
     SFGAO_FOLDER | SFGAO_HIDDEN | SFGAO_LINK},
    {"folder", 0, L"folder", SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_HASSUBFOLDER, SFGAO_STREAM},
    {"folder/sub", 0, L"folder", SFGAO_FOLDER, SFGAO_HASSUBFOLDER},
    {".hidden.txt", 0, L"plain text document", SFGAO_HIDDEN, 0},
    {"link.txt", 0, L"plain text document", SFGAO_LINK | SFGAO_STREAM, 0},  // described by its target
    {"down/../inner.txt", 0, L"plain text document", SFGAO_STREAM, SFGAO_LINK},  // ".." of the link's target
    {"/nowhere/at/all/notes.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, L"plain text document",
     SFGAO_READONLY | SFGAO_HIDDEN | SFGAO_STREAM, SFGAO_FOLDER},
    {"/nowhere/at/all/stuff", FILE_ATTRIBUTE_DIRECTORY, L"folder", SFGAO_FOLDER, SFGAO_READONLY | SFGAO_STREAM},
};

TEST_F(ShellFileInfo, TypeNamesAndAttributesByPathOrItemIdList) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::memset(&info_, 0xAB, sizeof info_);
    const UINT flags = SHGFI_TYPENAME | SHGFI_ATTRIBUTES | (c.fileAttributes ? SHGFI_USEFILEATTRIBUTES : 0);
    ASSERT_NE(Get(c.name, flags, c.fileAttributes), 0u);
    EXPECT_STREQ(info_.szTypeName, c.typeName);
    EXPECT_EQ(info_.dwAttributes & c.attributesSet, c.attributesSet);
    EXPECT_EQ(info_.dwAttributes & c.attributesClear, 0u);
  }
  LPITEMIDLIST pidl = quorvane::posix::ItemIdListFromPath(Wide(dir_.File("folder")));
  ASSERT_NE(pidl, nullptr);
  EXPECT_NE(SHGetFileInfoW(reinterpret_cast<LPCWSTR>(pidl), 0, &info_, sizeof info_,
                           SHGFI_PIDL | SHGFI_DISPLAYNAME | SHGFI_TYPENAME),
            0u);
  EXPECT_EQ(std::wstring(info_.szDisplayName) + L"|" + info_.szTypeName, L"folder|folder") << "by item id list";
  ILFree(pidl);
}

// Only the attributes asked for; nothing written for a missing file, nor past the caller's size; icons.
TEST_F(ShellFileInfo, WritesOnlyWhatWasAskedWithinTheCallersSizeAndIcons) {
  info_.dwAttributes = SFGAO_FOLDER | SFGAO_STREAM;
  ASSERT_NE(Get("report.txt", SHGFI_ATTRIBUTES | SHGFI_ATTR_SPECIFIED), 0u);
  EXPECT_EQ(info_.dwAttributes, SFGAO_STREAM);
  std::memset(&info_, 0xAB, sizeof info_);
  const SHFILEINFOW before = info_;
  EXPECT_EQ(Get("missing.txt", SHGFI_DISPLAYNAME | SHGFI_TYPENAME | SHGFI_ICON), 0u);
  EXPECT_EQ(std::memcmp(&before, &info_, sizeof info_), 0);
  EXPECT_EQ(SHGetFileInfoW(nullptr, 0, &info_, sizeof info_, SHGFI_DISPLAYNAME), 0u);
  const UINT size = offsetof(SHFILEINFOW, szDisplayName) + 4 * sizeof(WCHAR);
  ASSERT_NE(Get("report.txt", SHGFI_DISPLAYNAME | SHGFI_TYPENAME, 0, size), 0u);
  EXPECT_STREQ(info_.szDisplayName, L"rep");
  const auto* bytes = reinterpret_cast<const unsigned char*>(&info_);
  for (size_t i = size; i < sizeof info_; ++i) ASSERT_EQ(bytes[i], 0xAB) << "byte " << i;
  ASSERT_NE(Get("report.txt", SHGFI_DISPLAYNAME), 0u);  // the whole record: the name and its zero
  EXPECT_STREQ(info_.szDisplayName, L"report.txt");
  // Icons are handles with stable indexes.
  ASSERT_NE(Get("report.txt", SHGFI_ICON), 0u);
  const HICON first = info_.hIcon;
  const int textIndex = info_.iIcon;
  ASSERT_NE(Get(".hidden.txt", SHGFI_ICON), 0u);
  const HICON second = info_.hIcon;
  EXPECT_TRUE(first != second && info_.iIcon == textIndex);
  EXPECT_NE(Get("folder", SHGFI_SYSICONINDEX), 0u);
  EXPECT_NE(info_.iIcon, textIndex);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_FAILED);
  EXPECT_TRUE(DestroyIcon(first));
  EXPECT_FALSE(DestroyIcon(first));
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_FALSE(DestroyIcon(GetCurrentProcess()));
}

}  // namespace
