// The DLL's exports on Windows: 32-bit handles and records, the platform's answers; JUnit holds the data.
#include <gtest/gtest.h>

#include <jni.h>
#include <winsock2.h>  // before windows.h, as Win32Api.h includes it
#include <windows.h>
#include <dpapi.h>
#include <shellapi.h>
#include <shlobj.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "QuorvaneDll.h"
#include "SettingsTestSupport.h"

namespace {

using qvtest::DllJni;
using Value = DllJni::Value;
namespace fs = std::filesystem;

HANDLE Handle(jint h) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(h)); }

DWORD WINAPI RunFunction(LPVOID function) {
  (*static_cast<std::function<void()>*>(function))();
  return 0;
}

class ExportedMethods : public qvtest::QuorvaneDll {
 protected:
  jstring Str(const fs::path& p) { return jni_.Str(p.wstring()); }

  settings_test::TempFolder temp_;
  const fs::path folder_ = temp_.Path();
};

TEST_F(ExportedMethods, EventHandlesAreTheProcesssOwn) {
  const jint event = Call<jint>("CreateEvent", jint(0), jboolean(0), jboolean(1), jstring());
  ASSERT_NE(0, event);
  EXPECT_EQ(WAIT_OBJECT_0, Call<jint>("WaitForSingleObject", event, jint(0)));
  EXPECT_EQ(WAIT_TIMEOUT, Call<jint>("WaitForSingleObject", event, jint(0))) << "auto reset";
  EXPECT_TRUE(SetEvent(Handle(event)));
  EXPECT_EQ(WAIT_OBJECT_0, Call<jint>("WaitForSingleObject", event, jint(0))) << "kernel32 sees the same object";
  EXPECT_EQ(1, Call<jint>("SetEvent", event));
  EXPECT_EQ(1, Call<jint>("CloseHandle", event));
  EXPECT_EQ(0, Call<jint>("CloseHandle", event)) << "closed twice";
  EXPECT_EQ(-1, Call<jint>("GetCurrentProcess"));
  EXPECT_EQ(WAIT_TIMEOUT, Call<jint>("WaitForSingleObject", jint(-1), jint(0))) << "this process is running";
}

TEST_F(ExportedMethods, BlobsAreDpapisLabelledArkSecret) {
  const std::string plain("secret\0\xff", 8);
  const jbyteArray blob = Call<jbyteArray>("encryptUserWin32", jni_.Bytes(plain));
  ASSERT_NE(nullptr, blob) << jni_.pending;
  const jbyteArray back = Call<jbyteArray>("decryptUserWin32", blob);
  ASSERT_NE(nullptr, back) << jni_.pending;
  EXPECT_EQ(plain, std::string(DllJni::BytesOf(back).begin(), DllJni::BytesOf(back).end()));

  auto& bytes = DllJni::BytesOf(blob);
  DATA_BLOB in = {static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(bytes.data())}, out = {};
  LPWSTR description = nullptr;
  ASSERT_TRUE(CryptUnprotectData(&in, &description, nullptr, nullptr, nullptr, 0, &out));
  EXPECT_STREQ(L"ark_secret", description);
  LocalFree(description);
  LocalFree(out.pbData);
  bytes.back() ^= 0x40;  // inside the signature
  EXPECT_EQ(nullptr, Call<jbyteArray>("decryptUserWin32", blob));
  EXPECT_EQ(0u, jni_.pending.rfind("Error unencrypting data: 0x", 0)) << jni_.pending;
}

TEST_F(ExportedMethods, ProcessesMessagesVersionsAndInterfacesComeFromTheSystem) {
  // psapi: the base name, in any case, and nothing else.
  const std::wstring path = qvtest::ProgramPath();
  std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
  CharUpperW(&name[0]);
  EXPECT_TRUE(Call<jboolean>("isProcessRunning", jni_.Str(name)));
  EXPECT_FALSE(Call<jboolean>("isProcessRunning", jni_.Str(path))) << "a full path never matches";

  // The system message table, with the insert.
  const auto message = [&](jint id, const wchar_t* insert) {
    return DllJni::Text(Call<jstring>("getSystemMessage", id, jni_.Str(insert)));
  };
  const std::u16string notFound = message(2, L"x");
  ASSERT_GT(notFound.size(), 3u);
  EXPECT_EQ(u".\r\n", notFound.substr(notFound.size() - 3));
  EXPECT_NE(std::u16string::npos, message(193, L"tool.exe").find(u"tool.exe"));

  // version.dll's reading of kernel32.dll; a file without a resource (this program) leaves the arrays alone.
  wchar_t system[MAX_PATH];
  const std::wstring kernel = std::wstring(system, GetSystemDirectoryW(system, MAX_PATH)) + L"\\kernel32.dll";
  jintArray parts[4];
  for (auto& p : parts) p = jni_.NewInts({-1});
  const auto version = [&](const fs::path& file) {
    return Call<jboolean>("getFileVersionNumber", Str(file), parts[0], parts[1], parts[2], parts[3]);
  };
  EXPECT_FALSE(version(path));
  EXPECT_EQ(-1, DllJni::Ints(parts[0])[0]);
  ASSERT_TRUE(version(kernel));
  std::vector<BYTE> block(GetFileVersionInfoSizeW(kernel.c_str(), nullptr));
  ASSERT_TRUE(GetFileVersionInfoW(kernel.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length));
  const DWORD expected[] = {HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                            HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS)};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(jint(expected[i]), DllJni::Ints(parts[i])[0]) << i;
  // An array with no room for its number is refused before any is written.
  for (auto& p : parts) p = jni_.NewInts({-1});
  parts[3] = jni_.NewInts({});
  EXPECT_FALSE(version(kernel));
  EXPECT_EQ("array too short", jni_.pending);
  jni_.pending.clear();
  EXPECT_EQ(-1, DllJni::Ints(parts[0])[0]);

  // ws2_32: up, IPv4, not loopback, with a contiguous mask; the machine has such an interface, and an ordinary
  // user gets it too.
  Call<void>("getNetworkInterfaceInfo", DllJni::Ref(jni_.NewObject()));
  EXPECT_TRUE(jni_.pending.empty()) << jni_.pending;
  EXPECT_FALSE(jni_.added.empty()) << "no interface but loopback";
  for (const auto& address : jni_.added) {
    ASSERT_EQ(8u, address.size());
    EXPECT_NE(127, address[0]);
    const uint32_t mask = uint32_t(address[4]) << 24 | address[5] << 16 | address[6] << 8 | address[7];
    EXPECT_EQ(0u, (~mask + 1) & ~mask);
  }
}

// Keys cross as sign-extended ints (HKEY_CURRENT_USER is negative); values reach the registry byte for byte.
TEST_F(ExportedMethods, KeysAndValuesReachTheRegistry) {
  const wchar_t kKey[] = L"Software\\Quorvane Wine Registry Test";
  const jintArray handle = jni_.NewInts({0}), itself = jni_.NewInts({0});
  ASSERT_EQ(ERROR_SUCCESS, Call<jint>("RegCreateKey", jint(intptr_t(HKEY_CURRENT_USER)), jni_.Str(kKey), handle));
  const jint key = DllJni::Ints(handle)[0];
  ASSERT_NE(0, key);
  ASSERT_EQ(ERROR_SUCCESS, Call<jint>("RegCreateKey", key, jstring(), itself));
  using Case = std::tuple<const wchar_t*, DWORD, std::string>;  // a null name: the default value
  for (const auto& [name, kind, data] : {Case{nullptr, REG_SZ, std::string("d\0\xe9\0\0\0", 6)},
                                          Case{L"qword", REG_QWORD, std::string("\1\2\3\4\5\6\7\x80", 8)}}) {
    EXPECT_EQ(ERROR_SUCCESS, Call<jint>("RegSetValueEx", DllJni::Ints(itself)[0], name ? jni_.Str(name) : jstring(),
                                        jint(0), jint(kind), jni_.Bytes(data), jint(data.size())));
    std::string stored(64, '\0');
    DWORD type = 0, size = static_cast<DWORD>(stored.size());
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(HKEY(Handle(key)), name ? name : L"", nullptr, &type,
                                              reinterpret_cast<BYTE*>(&stored[0]), &size));
    EXPECT_EQ(std::to_string(kind) + ": " + data, std::to_string(type) + ": " + stored.substr(0, size));
  }
  RegCloseKey(HKEY(Handle(DllJni::Ints(itself)[0])));
  RegCloseKey(HKEY(Handle(key)));
  RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
}

TEST_F(ExportedMethods, FileHandlesSharingAndChangeRecordsAreThePlatforms) {
  const auto open = [&](const fs::path& path, jint access, jint share, jint disposition, jint flags) {
    return Call<jint>("CreateFile", Str(path), access, share, jint(0), disposition, flags, jint(0));
  };
  const jint writer = open(folder_ / "shared.txt", GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW, 0);
  ASSERT_NE(-1, writer);
  EXPECT_EQ(-1, open(folder_ / "shared.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0));
  EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
  EXPECT_TRUE(CloseHandle(Handle(writer)));

  const jint folder = open(folder_, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  ASSERT_NE(-1, folder);
  const jbyteArray buffer = jni_.Bytes(std::string(4096, '\0'));
  const jintArray count = jni_.NewInts({0});
  const auto changes = [&](jint overlapped) {
    return Call<jboolean>("ReadDirectoryChangesW", folder, buffer, jint(4096), jboolean(0),
                          jint(FILE_NOTIFY_CHANGE_FILE_NAME), count, overlapped, jint(0));
  };
  // Asynchronous completion would write into released elements: refused before the platform sees it.
  EXPECT_FALSE(changes(1));
  jboolean result = 0;
  std::function<void()> read = [&] { result = changes(0); };
  const HANDLE thread = CreateThread(nullptr, 0, RunFunction, &read, 0, nullptr);  // blocks until a change
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
  const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(DllJni::BytesOf(buffer).data());
  EXPECT_LE(20, DllJni::Ints(count)[0]) << "bytes of records";
  EXPECT_EQ(std::to_wstring(FILE_ACTION_ADDED) + L" new.txt",
            std::to_wstring(record->Action) + L" " + std::wstring(record->FileName, record->FileNameLength / 2));
  CloseHandle(Handle(folder));
}

// The first name of the platform's device list, or null.
TEST_F(ExportedMethods, DosDeviceIsThePlatformsAnswer) {
  wchar_t devices[1040] = {};
  ASSERT_NE(0u, QueryDosDeviceW(L"C:", devices, 1040));
  EXPECT_EQ(DllJni::Units(devices), DllJni::Text(Call<jstring>("QueryDosDevice", jni_.Str(L"C:"))));
  EXPECT_EQ(nullptr, Call<jstring>("QueryDosDevice", jni_.Str(L"QV-NO-SUCH-DEVICE")));
}

Value* FileInfoObject(DllJni& jni) {
  Value* o = jni.NewObject();
  for (const char* name : {"hIcon", "iIcon", "dwAttributes"}) DllJni::Add(o, name, "I");
  DllJni::Add(o, "szDisplayName", "[C").object = jni.NewText(std::u16string(260, u'\0'));
  DllJni::Add(o, "szTypeName", "[C").object = jni.NewText(std::u16string(80, u'\0'));
  return o;
}

// SHFILEINFOW of 32-bit Windows into the Java record, never past its arrays.
TEST_F(ExportedMethods, ShellFolderAndFileInfoAreTheShellsAnswers) {
  wchar_t appData[MAX_PATH] = {};
  ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData));
  EXPECT_EQ(DllJni::Units(appData), DllJni::Text(Call<jstring>("getSpecialFolderPath", jint(CSIDL_APPDATA))));
  EXPECT_EQ(nullptr, Call<jstring>("getSpecialFolderPath", jint(0x00FF))) << "no such folder";

  PIDLIST_ABSOLUTE pidl = nullptr;  // the default user's, as the token -1 asks
  ASSERT_EQ(S_OK, SHGetFolderLocation(nullptr, CSIDL_DESKTOPDIRECTORY, reinterpret_cast<HANDLE>(-1), 0, &pidl));
  SHFILEINFOW expected = {};
  ASSERT_NE(0u, SHGetFileInfoW(reinterpret_cast<LPCWSTR>(pidl), 0, &expected, sizeof expected,
                               SHGFI_PIDL | SHGFI_DISPLAYNAME | SHGFI_TYPENAME));
  ILFree(pidl);
  Value* info = FileInfoObject(jni_);
  ASSERT_TRUE(Call<jboolean>("GetSpecialFolderInfo", jint(CSIDL_DESKTOPDIRECTORY), DllJni::Ref(info)));
  EXPECT_EQ(DllJni::Units(expected.szDisplayName), DllJni::Text(info->fields["szDisplayName"].object));
  EXPECT_EQ(DllJni::Units(expected.szTypeName), DllJni::Text(info->fields["szTypeName"].object));
  if (info->fields["hIcon"].i != 0) DestroyIcon(reinterpret_cast<HICON>(info->fields["hIcon"].i));

  const std::wstring path = qvtest::ProgramPath();
  const jint flags = SHGFI_DISPLAYNAME | SHGFI_TYPENAME | SHGFI_ATTRIBUTES;
  expected = {};
  const DWORD_PTR answer = SHGetFileInfoW(path.c_str(), 0, &expected, sizeof expected, flags);
  ASSERT_NE(0u, answer);
  info = FileInfoObject(jni_);
  info->fields["szDisplayName"].object->units.assign(300, u'z');
  EXPECT_EQ(static_cast<jint>(answer),
            Call<jint>("SHGetFileInfo", jni_.Str(path), jint(0), DllJni::Ref(info), jint(692), flags));
  EXPECT_EQ(static_cast<jint>(expected.dwAttributes), info->fields["dwAttributes"].i);
  EXPECT_EQ(DllJni::Units(expected.szDisplayName), DllJni::Text(info->fields["szDisplayName"].object));
  EXPECT_EQ(DllJni::Units(expected.szTypeName), DllJni::Text(info->fields["szTypeName"].object));
  EXPECT_EQ(u'z', info->fields["szDisplayName"].object->units[260]) << "nothing past the member's 260 units";
}

TEST_F(ExportedMethods, ShellFileOperationRefusesANameListWithoutItsLastZero) {
  for (const char* name : {"a.txt", "b.txt"}) std::ofstream(folder_ / name) << name;
  Value* op = jni_.NewObject();
  for (const char* name : {"hWnd", "wFunc", "hNameMappings"}) DllJni::Add(op, name, "I");
  op->fields["wFunc"].i = FO_COPY;
  const std::wstring from = (folder_ / "a.txt").wstring() + L'\0' + (folder_ / "b.txt").wstring() + L'\0';
  DllJni::Add(op, "pFrom", "Ljava/lang/String;").object = jni_.NewText(DllJni::Units(from));
  DllJni::Field& to = DllJni::Add(op, "pTo", "Ljava/lang/String;");
  to.object = jni_.NewText(DllJni::Units((folder_ / "out").wstring()));
  DllJni::Add(op, "lpszProgressTitle", "Ljava/lang/String;");
  DllJni::Add(op, "fFlags", "S").i = FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_SILENT | FOF_NOERRORUI;
  DllJni::Add(op, "fAnyOperationsAborted", "Z");
  EXPECT_EQ(0x7C, Call<jint>("SHFileOperation", DllJni::Ref(op))) << "DE_INVALIDFILES, shell32 not called";
  EXPECT_FALSE(fs::exists(folder_ / "out"));
  to.object = jni_.NewText(DllJni::Units((folder_ / "out").wstring() + L'\0'));
  EXPECT_EQ(0, Call<jint>("SHFileOperation", DllJni::Ref(op)));
  for (const char* name : {"a.txt", "b.txt"}) EXPECT_TRUE(fs::exists(folder_ / "out" / name)) << name;
}

}  // namespace
