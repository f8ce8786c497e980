// The DLL's file, shell and compound-document exports, each answer checked against the platform or the files.
#include "ExportedMethods.h"  // first: winsock2.h before windows.h

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

namespace {

using qvtest::DllJni;
using Value = DllJni::Value;
namespace fs = std::filesystem;

DWORD WINAPI RunFunction(LPVOID function) {
  (*static_cast<std::function<void()>*>(function))();
  return 0;
}

std::string Contents(const fs::path& p) { return settings_test::ReadBytes(p.string()); }

using ExportedMethods = qvtest::ExportedMethods;

TEST_F(ExportedMethods, FilesAreTheKernelsAndTheirChangesItsRecords) {
  const auto open = [&](const fs::path& path, jint access, jint share, jint disposition, jint flags) {
    return Call<jint>("CreateFile", Str(path), access, share, jint(0), disposition, flags, jint(0));
  };
  Row("CreateFile", "a handle kernel32 writes through; the sharing it asked for is enforced", [&] {
    const jint writer = open(folder_ / "shared.txt", GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW, 0);
    ASSERT_NE(-1, writer);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(Handle(writer), "abc", 3, &written, nullptr));
    EXPECT_EQ(-1, open(folder_ / "shared.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0));
    EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_TRUE(CloseHandle(Handle(writer)));
    EXPECT_EQ("abc", Contents(folder_ / "shared.txt"));
    EXPECT_EQ(-1, open(folder_ / "missing.txt", GENERIC_READ, 0, OPEN_EXISTING, 0));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
  });
  Row("SetFileAttributes", "the attributes kernel32 gives a twin file set by itself; a missing file fails", [&] {
    const DWORD attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    for (const char* name : {"attributes.txt", "twin.txt"}) std::ofstream(folder_ / name) << "x";
    EXPECT_TRUE(Call<jboolean>("SetFileAttributes", Str(folder_ / "attributes.txt"), jint(attributes)));
    ASSERT_TRUE(SetFileAttributesW((folder_ / "twin.txt").c_str(), attributes));
    const DWORD set = GetFileAttributesW((folder_ / "attributes.txt").c_str());
    EXPECT_EQ(GetFileAttributesW((folder_ / "twin.txt").c_str()), set);
    EXPECT_EQ(attributes, set & attributes);
    for (const char* name : {"attributes.txt", "twin.txt"})
      SetFileAttributesW((folder_ / name).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(Call<jboolean>("SetFileAttributes", Str(folder_ / "missing.txt"), jint(FILE_ATTRIBUTE_NORMAL)));
  });
  Row("ReadDirectoryChangesW", "the record of a file made meanwhile; asynchronous use refused", [&] {
    const jint folder = open(folder_, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_NE(-1, folder);
    const jbyteArray buffer = jni_.Bytes(std::string(4096, '\0'));
    const jintArray count = jni_.NewInts({-5});
    // Asynchronous completion would write into released elements: refused before the platform sees it.
    EXPECT_FALSE(Call<jboolean>("ReadDirectoryChangesW", folder, buffer, jint(4096), jboolean(0),
                                jint(FILE_NOTIFY_CHANGE_FILE_NAME), count, jint(1), jint(0)));
    EXPECT_EQ(0, DllJni::Ints(count)[0]);
    // The thread calls through its own env, as each Java thread has one.
    DllJni threadJni;
    jboolean result = 0;
    std::function<void()> read = [&] {
      const auto method = reinterpret_cast<jboolean(JNICALL*)(JNIEnv*, jclass, jint, jbyteArray, jint, jboolean, jint,
                                                               jintArray, jint, jint)>(
          reinterpret_cast<void*>(Export("ReadDirectoryChangesW", 8)));
      threadJni.BeginCall("ReadDirectoryChangesW");
      result = method(threadJni.env(), nullptr, folder, buffer, 4096, 0, FILE_NOTIFY_CHANGE_FILE_NAME, count, 0, 0);
      threadJni.EndCall(nullptr);
    };
    const HANDLE thread = CreateThread(nullptr, 0, RunFunction, &read, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    Sleep(200);
    std::ofstream(folder_ / "new.txt") << "x";
    if (WaitForSingleObject(thread, 10000) != WAIT_OBJECT_0) {
      CancelSynchronousIo(thread);
      WaitForSingleObject(thread, 2000);
      ADD_FAILURE() << "no change reported";
    }
    CloseHandle(thread);
    EXPECT_TRUE(result);
    EXPECT_EQ(std::vector<std::string>(), threadJni.faults);
    const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(DllJni::BytesOf(buffer).data());
    EXPECT_LE(20, DllJni::Ints(count)[0]) << "bytes of records";
    EXPECT_EQ(std::to_wstring(FILE_ACTION_ADDED) + L" new.txt",
              std::to_wstring(record->Action) + L" " + std::wstring(record->FileName, record->FileNameLength / 2));
    CloseHandle(Handle(folder));
  });
  Row("StgIsStorageFile", "ole32's answers for a compound file, a text file and a missing one", [&] {
    IStorage* made = nullptr;
    ASSERT_EQ(S_OK, StgCreateDocfile((folder_ / "doc.doc").c_str(), STGM_CREATE | STGM_READWRITE |
                                     STGM_SHARE_EXCLUSIVE, 0, &made));
    made->Release();
    std::ofstream(folder_ / "text.doc") << "not a compound file";
    for (const char* name : {"doc.doc", "text.doc", "missing.doc"})
      EXPECT_EQ(jint(StgIsStorageFile((folder_ / name).c_str())), Call<jint>("StgIsStorageFile", Str(folder_ / name)))
          << name;
    EXPECT_EQ(S_OK, Call<jint>("StgIsStorageFile", Str(folder_ / "doc.doc")));
    EXPECT_EQ(S_FALSE, Call<jint>("StgIsStorageFile", Str(folder_ / "text.doc")));
  });
  Row("GetDriveType", "kernel32's type of each root", [&] {
    for (const wchar_t* root : {L"C:\\", L"Z:\\", L"Q:\\", L"C:\\windows\\"})
      EXPECT_EQ(jint(GetDriveTypeW(root)), Call<jint>("GetDriveType", jni_.Str(root))) << DllJni::Units(root).size();
    EXPECT_EQ(DRIVE_FIXED, Call<jint>("GetDriveType", jni_.Str(L"C:\\")));
  });
  // The first name of the platform's device list, or null.
  Row("QueryDosDevice", "kernel32's first device name; null for a name it does not know", [&] {
    wchar_t devices[1040] = {};
    ASSERT_NE(0u, QueryDosDeviceW(L"C:", devices, 1040));
    EXPECT_EQ(DllJni::Units(devices), DllJni::Text(Call<jstring>("QueryDosDevice", jni_.Str(L"C:"))));
    EXPECT_EQ(nullptr, Call<jstring>("QueryDosDevice", jni_.Str(L"QV-NO-SUCH-DEVICE")));
  });
}

// SHFILEINFOW of 32-bit Windows into the Java record, never past its arrays.
TEST_F(ExportedMethods, ShellAnswersAreShell32s) {
  Row("getSpecialFolderPath", "shell32's path; null for a folder it does not know", [&] {
    wchar_t appData[MAX_PATH] = {};
    ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData));
    EXPECT_EQ(DllJni::Units(appData), DllJni::Text(Call<jstring>("getSpecialFolderPath", jint(CSIDL_APPDATA))));
    EXPECT_EQ(nullptr, Call<jstring>("getSpecialFolderPath", jint(0x00FF))) << "no such folder";
  });
  Row("GetSpecialFolderInfo", "the default user's desktop folder as shell32 names it", [&] {
    PIDLIST_ABSOLUTE pidl = nullptr;  // the default user's, as the token -1 asks
    ASSERT_EQ(S_OK, SHGetFolderLocation(nullptr, CSIDL_DESKTOPDIRECTORY, reinterpret_cast<HANDLE>(-1), 0, &pidl));
    SHFILEINFOW expected = {};
    ASSERT_NE(0u, SHGetFileInfoW(reinterpret_cast<LPCWSTR>(pidl), 0, &expected, sizeof expected,
                                 SHGFI_PIDL | SHGFI_DISPLAYNAME | SHGFI_TYPENAME));
    ILFree(pidl);
    Value* info = jni_.NewRecord(qvtest::kFileInfoRecord);
    ASSERT_TRUE(Call<jboolean>("GetSpecialFolderInfo", jint(CSIDL_DESKTOPDIRECTORY), DllJni::Ref(info)));
    EXPECT_EQ(DllJni::Units(expected.szDisplayName), DllJni::Text(info->fields["szDisplayName"].object));
    EXPECT_EQ(DllJni::Units(expected.szTypeName), DllJni::Text(info->fields["szTypeName"].object));
    if (info->fields["hIcon"].i != 0) DestroyIcon(reinterpret_cast<HICON>(intptr_t(info->fields["hIcon"].i)));
  });
  Row("SHGetFileInfo", "shell32's answer, attributes and names for this program; nothing past the arrays", [&] {
    const std::wstring path = qvtest::ProgramPath();
    const jint flags = SHGFI_DISPLAYNAME | SHGFI_TYPENAME | SHGFI_ATTRIBUTES;
    SHFILEINFOW expected = {};
    const DWORD_PTR answer = SHGetFileInfoW(path.c_str(), 0, &expected, sizeof expected, flags);
    ASSERT_NE(0u, answer);
    Value* info = jni_.NewRecord(qvtest::kFileInfoRecord);
    info->fields["szDisplayName"].object->units.assign(300, u'z');
    EXPECT_EQ(jint(answer), Call<jint>("SHGetFileInfo", jni_.Str(path), jint(0), DllJni::Ref(info), jint(692), flags));
    EXPECT_EQ(jint(expected.dwAttributes), info->fields["dwAttributes"].i);
    EXPECT_EQ(DllJni::Units(expected.szDisplayName), DllJni::Text(info->fields["szDisplayName"].object));
    EXPECT_EQ(DllJni::Units(expected.szTypeName), DllJni::Text(info->fields["szTypeName"].object));
    EXPECT_EQ(u'z', info->fields["szDisplayName"].object->units[260]) << "nothing past the member's 260 units";
  });
  Row("SHFileOperation", "a name list without its last zero is refused; with it, shell32 copies both files", [&] {
    for (const char* name : {"a.txt", "b.txt"}) std::ofstream(folder_ / name) << name;
    Value* op = jni_.NewRecord(qvtest::kFileOperationRecord);
    op->fields["wFunc"].i = FO_COPY;
    op->fields["fFlags"].i = FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_SILENT | FOF_NOERRORUI;
    const std::wstring from = (folder_ / "a.txt").wstring() + L'\0' + (folder_ / "b.txt").wstring() + L'\0';
    op->fields["pFrom"].object = &DllJni::V(jni_.Str(from));
    Value*& to = op->fields["pTo"].object;
    to = &DllJni::V(jni_.Str((folder_ / "out").wstring()));
    EXPECT_EQ(0x7C, Call<jint>("SHFileOperation", DllJni::Ref(op))) << "DE_INVALIDFILES, shell32 not called";
    EXPECT_FALSE(fs::exists(folder_ / "out"));
    to = &DllJni::V(jni_.Str((folder_ / "out").wstring() + L'\0'));
    EXPECT_EQ(0, Call<jint>("SHFileOperation", DllJni::Ref(op)));
    for (const char* name : {"a.txt", "b.txt"}) EXPECT_EQ(name, Contents(folder_ / "out" / name)) << name;
    EXPECT_EQ(-1, Call<jint>("SHFileOperation", jobject()));
  });
  Row("UuidCreate", "rpcrt4's random UUIDs (version 4, RFC variant) into the record, a new one each call", [&] {
    std::vector<std::string> seen;
    for (int n = 0; n < 2; ++n) {
      Value* guid = jni_.NewRecord(qvtest::kGuidRecord);
      EXPECT_EQ(RPC_S_OK, Call<jint>("UuidCreate", DllJni::Ref(guid)));
      const auto& f = guid->fields;
      EXPECT_EQ(4, f.at("Data3").i >> 12) << "version";
      EXPECT_EQ(0x80, f.at("Data4").object->bytes[0] & 0xC0) << "variant";
      EXPECT_EQ(0, f.at("Data2").i >> 16) << "16 bits, not sign-extended";
      seen.push_back(std::to_string(f.at("Data1").i) + std::string(f.at("Data4").object->bytes.begin(),
                                                                   f.at("Data4").object->bytes.end()));
    }
    EXPECT_NE(seen[0], seen[1]);
  });
  Row("ShellNotifyIcon", "an icon added for a real window is one shell32 deletes; null data is false", [&] {
    const HWND window = NewWindow();
    Value* data = jni_.NewRecord(qvtest::kNotifyIconRecord);
    data->fields["szTip"].object = jni_.NewText(u"qv tip");
    data->fields["hWnd"].i = jint(intptr_t(window));
    data->fields["uID"].i = 7;
    data->fields["uFlags"].i = NIF_TIP | NIF_ICON;
    data->fields["hIcon"].i = jint(intptr_t(LoadIconW(nullptr, IDI_APPLICATION)));
    const jboolean added = Call<jboolean>("ShellNotifyIcon", jint(NIM_ADD), DllJni::Ref(data));
    NOTIFYICONDATAW remove = {};
    remove.cbSize = sizeof remove;
    remove.hWnd = window;
    remove.uID = 7;
    EXPECT_EQ(added != 0, Shell_NotifyIconW(NIM_DELETE, &remove) != 0) << "deleted only what the DLL added";
    EXPECT_FALSE(Call<jboolean>("ShellNotifyIcon", jint(NIM_DELETE), DllJni::Ref(data))) << "deleted already";
    EXPECT_FALSE(Call<jboolean>("ShellNotifyIcon", jint(NIM_ADD), jobject()));
    DestroyWindow(window);
  });
}

}  // namespace
