// The shell methods of quorvane.dll against the real shell32 and rpcrt4,
// called through their exports as the JVM calls them, with record objects
// of a JVM-less JNIEnv (FakeJni.h). What is checked is the Windows side: the
// 32-bit records, the pass-through of the platform's answer, and the Java
// arrays filled from it.
#include <gtest/gtest.h>

#include <jni.h>
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "FakeJni.h"
#include "OnWine.h"
#include "QuorvaneDll.h"

namespace {

using qvtest::FakeJni;
using Value = FakeJni::Value;

typedef jint(JNICALL* ObjectMethod)(JNIEnv*, jclass, jobject);
typedef jstring(JNICALL* FolderPathMethod)(JNIEnv*, jclass, jint);
typedef jboolean(JNICALL* FolderInfoMethod)(JNIEnv*, jclass, jint, jobject);
typedef jint(JNICALL* FileInfoMethod)(JNIEnv*, jclass, jstring, jint, jobject, jint, jint);
typedef jboolean(JNICALL* NotifyIconMethod)(JNIEnv*, jclass, jint, jobject);

Value* FileInfoObject(FakeJni& jni) {
  Value* o = jni.NewObject();
  for (const char* name : {"hIcon", "iIcon", "dwAttributes"}) FakeJni::Add(o, name, "I");
  FakeJni::Add(o, "szDisplayName", "[C").object = jni.NewChars(260);
  FakeJni::Add(o, "szTypeName", "[C").object = jni.NewChars(80);
  return o;
}

std::u16string Units(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

class ShellMethods : public qvtest::QuorvaneDll {
 protected:
  FakeJni jni_;
};

TEST_F(ShellMethods, UuidCreateFillsTheGuidObjectWithVersionFourUuids) {
  const auto uuidCreate = Method<ObjectMethod>("UuidCreate", 12);
  ASSERT_TRUE(uuidCreate);
  Value* guids[2];
  for (Value*& g : guids) {
    g = jni_.NewObject();
    for (const char* name : {"Data1", "Data2", "Data3"}) FakeJni::Add(g, name, "I");
    FakeJni::Add(g, "Data4", "[B").object = jni_.NewBytes(8);
    ASSERT_EQ(RPC_S_OK, uuidCreate(jni_.env(), nullptr, FakeJni::Ref(g)));
    EXPECT_EQ(4, g->fields["Data3"].i >> 12) << "version";
    EXPECT_EQ(0x80, g->fields["Data4"].object->bytes[0] & 0xC0) << "variant";
  }
  EXPECT_NE(guids[0]->fields["Data4"].object->bytes, guids[1]->fields["Data4"].object->bytes);
  EXPECT_TRUE(jni_.pending.empty()) << jni_.pending;
}

TEST_F(ShellMethods, SpecialFoldersAreTheShellsOwnOrNothing) {
  const auto folderPath = Method<FolderPathMethod>("getSpecialFolderPath", 12);
  const auto folderInfo = Method<FolderInfoMethod>("GetSpecialFolderInfo", 16);
  ASSERT_TRUE(folderPath && folderInfo);
  for (int csidl : {CSIDL_APPDATA, CSIDL_PERSONAL}) {
    wchar_t expected[MAX_PATH] = {};
    ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, expected));
    const jstring path = folderPath(jni_.env(), nullptr, csidl);
    ASSERT_NE(nullptr, path) << csidl;
    EXPECT_EQ(Units(expected), FakeJni::Text(reinterpret_cast<Value*>(path)));
  }
  EXPECT_EQ(nullptr, folderPath(jni_.env(), nullptr, 0x00FF)) << "no such folder";
  Value* info = FileInfoObject(jni_);
  info->fields["iIcon"].i = 77;
  EXPECT_FALSE(folderInfo(jni_.env(), nullptr, 0x00FF, FakeJni::Ref(info)));
  EXPECT_EQ(77, info->fields["iIcon"].i) << "untouched";

  // The default user's folder, as the token -1 asks.
  PIDLIST_ABSOLUTE pidl = nullptr;
  ASSERT_EQ(S_OK, SHGetFolderLocation(nullptr, CSIDL_DESKTOPDIRECTORY, reinterpret_cast<HANDLE>(-1), 0, &pidl));
  SHFILEINFOW expected = {};
  ASSERT_NE(0u, SHGetFileInfoW(reinterpret_cast<LPCWSTR>(pidl), 0, &expected, sizeof expected,
                               SHGFI_PIDL | SHGFI_DISPLAYNAME | SHGFI_TYPENAME));
  ILFree(pidl);
  ASSERT_TRUE(folderInfo(jni_.env(), nullptr, CSIDL_DESKTOPDIRECTORY, FakeJni::Ref(info)));
  EXPECT_EQ(Units(expected.szDisplayName), FakeJni::Text(info->fields["szDisplayName"].object));
  EXPECT_EQ(Units(expected.szTypeName), FakeJni::Text(info->fields["szTypeName"].object));
  if (info->fields["hIcon"].i != 0) DestroyIcon(reinterpret_cast<HICON>(info->fields["hIcon"].i));
}

TEST_F(ShellMethods, FileInfoIsThePlatformsAnswerInUtf16Arrays) {
  const auto fileInfo = Method<FileInfoMethod>("SHGetFileInfo", 28);
  ASSERT_TRUE(fileInfo);
  wchar_t program[MAX_PATH] = {};
  const std::wstring path(program, GetModuleFileNameW(nullptr, program, MAX_PATH));
  const UINT flags = SHGFI_DISPLAYNAME | SHGFI_TYPENAME | SHGFI_ATTRIBUTES;
  SHFILEINFOW expected = {};
  const DWORD_PTR answer = SHGetFileInfoW(path.c_str(), 0, &expected, sizeof expected, flags);
  ASSERT_NE(0u, answer);

  Value* info = FileInfoObject(jni_);
  info->fields["szDisplayName"].object->units.assign(300, u'z');
  const jstring text = reinterpret_cast<jstring>(jni_.NewText(Units(path)));
  EXPECT_EQ(static_cast<jint>(answer), fileInfo(jni_.env(), nullptr, text, 0, FakeJni::Ref(info), 692, flags));
  EXPECT_EQ(static_cast<jint>(expected.dwAttributes), info->fields["dwAttributes"].i);
  const auto& name = info->fields["szDisplayName"].object->units;
  EXPECT_EQ(Units(expected.szDisplayName), FakeJni::Text(info->fields["szDisplayName"].object));
  EXPECT_EQ(u'z', name[260]) << "nothing past the member's 260 units";
  EXPECT_EQ(Units(expected.szTypeName), FakeJni::Text(info->fields["szTypeName"].object));
}

TEST_F(ShellMethods, FileOperationCopiesANameList) {
  const auto fileOperation = Method<ObjectMethod>("SHFileOperation", 12);
  ASSERT_TRUE(fileOperation);
  EXPECT_EQ(-1, fileOperation(jni_.env(), nullptr, nullptr));

  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("qv-shell-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(folder);
  for (const char* name : {"a.txt", "b.txt"}) std::ofstream(folder / name) << name;
  Value* op = jni_.NewObject();
  for (const char* name : {"hWnd", "wFunc", "hNameMappings"}) FakeJni::Add(op, name, "I");
  op->fields["wFunc"].i = FO_COPY;
  const std::wstring from = (folder / "a.txt").wstring() + L'\0' + (folder / "b.txt").wstring() + L'\0';
  FakeJni::Add(op, "pFrom", "Ljava/lang/String;").object = jni_.NewText(Units(from));
  FakeJni::Add(op, "pTo", "Ljava/lang/String;").object = jni_.NewText(Units((folder / "out").wstring()));  // no zero
  FakeJni::Add(op, "lpszProgressTitle", "Ljava/lang/String;");
  FakeJni::Add(op, "fFlags", "S").i = FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_SILENT | FOF_NOERRORUI;
  FakeJni::Add(op, "fAnyOperationsAborted", "Z");

  EXPECT_EQ(0, fileOperation(jni_.env(), nullptr, FakeJni::Ref(op)));
  EXPECT_TRUE(std::filesystem::exists(folder / "out" / "a.txt"));
  EXPECT_TRUE(std::filesystem::exists(folder / "out" / "b.txt"));

  op->fields.erase("wFunc");
  EXPECT_EQ(-1, fileOperation(jni_.env(), nullptr, FakeJni::Ref(op)));
  EXPECT_EQ("NoSuchFieldError: wFunc", jni_.pending);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

TEST_F(ShellMethods, NotifyIconAddModifyDelete) {
  const auto notifyIcon = Method<NotifyIconMethod>("ShellNotifyIcon", 16);
  ASSERT_TRUE(notifyIcon);
  EXPECT_FALSE(notifyIcon(jni_.env(), nullptr, NIM_DELETE, nullptr)) << "no record, no fault";
  if (FindWindowW(L"Shell_TrayWnd", nullptr) == nullptr && qvtest::OnWine())
    GTEST_SKIP() << "Wine: no notification area (no Shell_TrayWnd window) without a desktop";
  const HWND window = CreateWindowExW(0, L"STATIC", L"qv", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, window);
  Value* icon = jni_.NewObject();
  for (const char* name :
       {"hWnd", "uID", "uFlags", "uCallbackMessage", "hIcon", "dwState", "dwStateMask", "uTimeout", "uVersion",
        "dwInfoFlags"})
    FakeJni::Add(icon, name, "I");
  icon->fields["hWnd"].i = static_cast<jint>(reinterpret_cast<intptr_t>(window));
  icon->fields["uID"].i = 1;
  icon->fields["uFlags"].i = NIF_TIP;
  FakeJni::Add(icon, "szTip", "[C").object = jni_.NewText(u"quorvane");
  FakeJni::Add(icon, "szInfo", "[C");
  FakeJni::Add(icon, "szInfoTitle", "[C");

  EXPECT_TRUE(notifyIcon(jni_.env(), nullptr, NIM_ADD, FakeJni::Ref(icon)));
  icon->fields["szTip"].object = jni_.NewText(u"changed");
  EXPECT_TRUE(notifyIcon(jni_.env(), nullptr, NIM_MODIFY, FakeJni::Ref(icon)));
  EXPECT_TRUE(notifyIcon(jni_.env(), nullptr, NIM_DELETE, FakeJni::Ref(icon)));
  EXPECT_FALSE(notifyIcon(jni_.env(), nullptr, NIM_DELETE, FakeJni::Ref(icon))) << "deleted twice";
  DestroyWindow(window);
}

}  // namespace
