// The DLL's kernel, window, file, registry, protection, system-information and field-probe exports, each answer
// checked against the platform: 32-bit handles and records, the Win32 API's own answers.
#include "ExportedMethods.h"  // first: winsock2.h before windows.h

#include <dpapi.h>
#include <iphlpapi.h>
#include <psapi.h>

#include <algorithm>
#include <map>
#include <tuple>

namespace {

using qvtest::DllJni;
using Value = DllJni::Value;
namespace fs = std::filesystem;

using ExportedMethods = qvtest::ExportedMethods;

// The process's own events, seen by kernel32 and by the DLL alike.
TEST_F(ExportedMethods, KernelObjectsAreTheProcesssOwn) {
  const std::wstring name = L"QvEvent" + std::to_wstring(GetCurrentProcessId());
  Row("CreateEvent", "a named auto-reset event that kernel32 opens and signals", [&] {
    const jint event = Call<jint>("CreateEvent", jint(0), jboolean(0), jboolean(0), jni_.Str(name));
    ASSERT_NE(0, event);
    const HANDLE same = OpenEventW(EVENT_ALL_ACCESS, FALSE, name.c_str());
    ASSERT_NE(nullptr, same);
    EXPECT_TRUE(SetEvent(same));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(Handle(event), 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(Handle(event), 0)) << "auto reset";
    CloseHandle(same);
    CloseHandle(Handle(event));
  });
  Row("OpenEvent", "kernel32's named event, and ERROR_FILE_NOT_FOUND for a name nobody made", [&] {
    const HANDLE made = CreateEventW(nullptr, TRUE, FALSE, (name + L"b").c_str());
    const jint opened = Call<jint>("OpenEvent", jint(EVENT_ALL_ACCESS), jboolean(0), jni_.Str(name + L"b"));
    ASSERT_NE(0, opened);
    EXPECT_TRUE(SetEvent(made));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(Handle(opened), 0));
    EXPECT_EQ(0, Call<jint>("OpenEvent", jint(EVENT_ALL_ACCESS), jboolean(0), jni_.Str(name + L"-none")));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    CloseHandle(Handle(opened));
    CloseHandle(made);
  });
  const HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const jint m = jint(intptr_t(manual));
  Row("SetEvent", "kernel32 sees the event signalled", [&] {
    EXPECT_EQ(1, Call<jint>("SetEvent", m));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(manual, 0));
  });
  Row("ResetEvent", "kernel32 sees the event reset", [&] {
    EXPECT_EQ(1, Call<jint>("ResetEvent", m));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(manual, 0));
  });
  Row("WaitForSingleObject", "signalled, timed out, the running process, a closed handle", [&] {
    SetEvent(manual);
    EXPECT_EQ(WAIT_OBJECT_0, Call<jint>("WaitForSingleObject", m, jint(0)));
    ResetEvent(manual);
    EXPECT_EQ(WAIT_TIMEOUT, Call<jint>("WaitForSingleObject", m, jint(0)));
    EXPECT_EQ(WAIT_TIMEOUT, Call<jint>("WaitForSingleObject", jint(-1), jint(0))) << "this process is running";
  });
  Row("CloseHandle", "kernel32 no longer knows the handle; closing twice fails", [&] {
    EXPECT_EQ(1, Call<jint>("CloseHandle", m));
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(manual, &flags));
    EXPECT_EQ(0, Call<jint>("CloseHandle", m)) << "closed twice";
    EXPECT_EQ(WAIT_FAILED, DWORD(Call<jint>("WaitForSingleObject", m, jint(0))));
  });
  Row("GetCurrentProcess", "kernel32's pseudo-handle", [&] {
    EXPECT_EQ(jint(intptr_t(GetCurrentProcess())), Call<jint>("GetCurrentProcess"));
  });
  Row("SetErrorMode", "answers the previous mode; kernel32 then reports the new one", [&] {
    const UINT before = GetErrorMode();
    EXPECT_EQ(jint(before), Call<jint>("SetErrorMode", jint(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)));
    EXPECT_EQ(UINT(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX), GetErrorMode());
    SetErrorMode(before);
  });
  // kernel32's and psapi's own answers for the same arguments.
  using Sizes = std::tuple<jint, jint, jint>;
  for (const auto& [process, minimum, maximum] : {Sizes{-1, -1, -1}, Sizes{-1, 1 << 20, 1 << 22}, Sizes{0, -1, -1}}) {
    Row("SetProcessWorkingSetSize", "as kernel32 answers " + std::to_string(process) + ", " +
        std::to_string(minimum), [&] {
      const BOOL expected = SetProcessWorkingSetSize(Handle(process), SIZE_T(intptr_t(minimum)),
                                                     SIZE_T(intptr_t(maximum)));
      EXPECT_EQ(expected, Call<jint>("SetProcessWorkingSetSize", process, minimum, maximum));
    });
  }
  for (const jint process : {-1, 0}) {
    Row("EmptyWorkingSet", "as psapi answers process " + std::to_string(process), [&] {
      EXPECT_EQ(EmptyWorkingSet(Handle(process)), Call<jint>("EmptyWorkingSet", process));
    });
  }
}

// A window's effects are checked on a real one where the platform can make one (Wine needs a display for it);
// the documented failure for a handle that names no window is checked everywhere.
TEST_F(ExportedMethods, WindowsAreUser32s) {
  const HWND w = NewWindow(WS_EX_LAYERED);  // layered, so its alpha can be read back
  const jint window = jint(intptr_t(w)), invalid = 0x7FFF0;  // no such window
  Row("SetLayeredWindowAttributes", "user32 reads back the alpha, cut to its byte; no window fails", [&] {
    if (w != nullptr) {
      EXPECT_NE(0, Call<jint>("SetLayeredWindowAttributes", window, jint(0x00FF00), jint(0x1C8), jint(LWA_ALPHA)));
      BYTE alpha = 0;
      DWORD flags = 0;
      ASSERT_TRUE(GetLayeredWindowAttributes(w, nullptr, &alpha, &flags));
      EXPECT_EQ(0xC8, alpha);
      EXPECT_EQ(DWORD(LWA_ALPHA), flags);
    }
    EXPECT_EQ(0, Call<jint>("SetLayeredWindowAttributes", invalid, jint(0), jint(1), jint(LWA_ALPHA)));
    EXPECT_EQ(DWORD(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
  });
  Row("AnimateWindow", "shown, then hidden as user32 reports; no window fails", [&] {
    if (w != nullptr) {
      EXPECT_NE(0, Call<jint>("AnimateWindow", window, jint(1), jint(AW_ACTIVATE | AW_BLEND)));
      EXPECT_TRUE(IsWindowVisible(w));
      EXPECT_NE(0, Call<jint>("AnimateWindow", window, jint(1), jint(AW_HIDE | AW_BLEND)));
      EXPECT_FALSE(IsWindowVisible(w));
    }
    EXPECT_EQ(0, Call<jint>("AnimateWindow", invalid, jint(1), jint(AW_HIDE)));
  });
  Row("FlashWindow", "the state user32 answers for the same window; no window fails", [&] {
    if (w != nullptr) {
      const jint flashed = Call<jint>("FlashWindow", window, jboolean(1));
      EXPECT_EQ(FlashWindow(w, FALSE) != 0, flashed == 0) << "the first flash turned the caption over";
    }
    FlashWindow(HWND(intptr_t(invalid)), TRUE);
    const DWORD expected = GetLastError();  // Windows: ERROR_INVALID_WINDOW_HANDLE; Wine's: ERROR_INVALID_PARAMETER
    EXPECT_EQ(0, Call<jint>("FlashWindow", invalid, jboolean(1)));
    EXPECT_EQ(expected, GetLastError());
  });
  Row("getLastInputTime", "user32's last input tick", [&] {
    LASTINPUTINFO info = {sizeof info, 0};
    ASSERT_TRUE(GetLastInputInfo(&info));
    EXPECT_EQ(jint(info.dwTime), Call<jint>("getLastInputTime"));
  });
  Row("RegisterWindowMessage", "the message user32 registers for the same name", [&] {
    const jint message = Call<jint>("RegisterWindowMessage", jni_.Str(L"QvTestMessage"));
    EXPECT_EQ(jint(RegisterWindowMessageW(L"QvTestMessage")), message);
    EXPECT_LE(0xC000, message);
    EXPECT_EQ(0, Call<jint>("RegisterWindowMessage", jni_.Str(L""))) << "an empty name registers nothing";
  });
  DestroyWindow(w);
}

// Keys cross as sign-extended ints (HKEY_CURRENT_USER is negative); values reach the registry byte for byte,
// read back through advapi32 (the 32-bit view as well, which HKEY_CURRENT_USER\Software shares).
TEST_F(ExportedMethods, KeysAndValuesReachTheRegistry) {
  const wchar_t kKey[] = L"Software\\Quorvane Wine Registry Test";
  const jintArray handle = jni_.NewInts({0}), itself = jni_.NewInts({0});
  Row("RegCreateKey", "a key advapi32 opens; a null subkey opens the key itself", [&] {
    ASSERT_EQ(ERROR_SUCCESS, Call<jint>("RegCreateKey", jint(intptr_t(HKEY_CURRENT_USER)), jni_.Str(kKey), handle));
    ASSERT_NE(0, DllJni::Ints(handle)[0]);
    HKEY opened = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_WOW64_32KEY | KEY_READ, &opened));
    RegCloseKey(opened);
    ASSERT_EQ(ERROR_SUCCESS, Call<jint>("RegCreateKey", DllJni::Ints(handle)[0], jstring(), itself));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              Call<jint>("RegCreateKey", DllJni::Ints(handle)[0], jstring(), jni_.NewInts({})));
  });
  using Case = std::tuple<const wchar_t*, DWORD, std::string>;  // a null name: the default value
  for (const auto& [name, kind, data] : {Case{nullptr, REG_SZ, std::string("d\0\xe9\0\0\0", 6)},
                                         Case{L"qword", REG_QWORD, std::string("\1\2\3\4\5\6\7\x80", 8)},
                                         Case{L"bytes", REG_BINARY, std::string("\xff\0", 2)}}) {
    Row("RegSetValueEx", "type " + std::to_string(kind) + " read back by advapi32", [&] {
      EXPECT_EQ(ERROR_SUCCESS, Call<jint>("RegSetValueEx", DllJni::Ints(itself)[0], name ? jni_.Str(name) : jstring(),
                                          jint(0), jint(kind), jni_.Bytes(data), jint(data.size())));
      std::string stored(64, '\0');
      DWORD type = 0, size = DWORD(stored.size());
      HKEY key = nullptr;
      ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_WOW64_32KEY | KEY_READ, &key));
      ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, name ? name : L"", nullptr, &type,
                                                reinterpret_cast<BYTE*>(&stored[0]), &size));
      RegCloseKey(key);
      EXPECT_EQ(std::to_string(kind) + ": " + data, std::to_string(type) + ": " + stored.substr(0, size));
    });
  }
  Row("RegSetValueEx", "a length past the array is ERROR_NOACCESS, nothing written", [&] {
    EXPECT_EQ(ERROR_NOACCESS, Call<jint>("RegSetValueEx", DllJni::Ints(itself)[0], jni_.Str(L"long"), jint(0),
                                         jint(REG_BINARY), jni_.Bytes("ab"), jint(3)));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegGetValueW(HKEY_CURRENT_USER, kKey, L"long", RRF_RT_ANY, nullptr, nullptr,
                                                 nullptr));
  });
  RegCloseKey(HKEY(Handle(DllJni::Ints(itself)[0])));
  RegCloseKey(HKEY(Handle(DllJni::Ints(handle)[0])));
  RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
}

// The blob is DPAPI's, labelled ark_secret; the plain text's copy is wiped before it goes back.
TEST_F(ExportedMethods, BlobsAreDpapisAndThePlainTextsCopyIsWiped) {
  const std::string plain("secret\0\xff", 8);
  const jbyteArray input = jni_.Bytes(plain);
  jbyteArray blob = nullptr;
  Row("encryptUserWin32", "crypt32 unprotects the blob to the plain text, labelled ark_secret", [&] {
    blob = Call<jbyteArray>("encryptUserWin32", input);
    ASSERT_NE(nullptr, blob) << jni_.Pending();
    auto& bytes = DllJni::BytesOf(blob);
    DATA_BLOB in = {DWORD(bytes.size()), reinterpret_cast<BYTE*>(bytes.data())}, out = {};
    LPWSTR description = nullptr;
    ASSERT_TRUE(CryptUnprotectData(&in, &description, nullptr, nullptr, nullptr, 0, &out));
    EXPECT_STREQ(L"ark_secret", description);
    EXPECT_EQ(plain, std::string(reinterpret_cast<char*>(out.pbData), out.cbData));
    LocalFree(description);
    LocalFree(out.pbData);
  });
  Row("encryptUserWin32", "the copy handed out held zeros when released; the array is as that mode leaves it", [&] {
    const jbyteArray other = jni_.Bytes(plain);
    jni_.releases.clear();
    ASSERT_NE(nullptr, Call<jbyteArray>("encryptUserWin32", other));
    ASSERT_EQ(1u, jni_.releases.size());
    const DllJni::Release& r = jni_.releases[0];
    EXPECT_EQ(std::string(plain.size(), '\0'), r.copy) << "the copy is wiped";
    const std::string now(DllJni::BytesOf(other).begin(), DllJni::BytesOf(other).end());
    EXPECT_TRUE((r.mode == 0 && now == std::string(plain.size(), '\0')) || (r.mode == JNI_ABORT && now == plain))
        << "mode " << r.mode;
    EXPECT_EQ(nullptr, Call<jbyteArray>("encryptUserWin32", jni_.Bytes("")));
    EXPECT_EQ("java.lang.IllegalArgumentException: Error, plain text buffer is null or empty", jni_.Pending());
  });
  Row("decryptUserWin32", "the plain text; a damaged blob is Win32Exception with crypt32's error", [&] {
    ASSERT_NE(nullptr, blob);
    const jbyteArray back = Call<jbyteArray>("decryptUserWin32", blob);
    ASSERT_NE(nullptr, back) << jni_.Pending();
    EXPECT_EQ(plain, std::string(DllJni::BytesOf(back).begin(), DllJni::BytesOf(back).end()));
    auto& bytes = DllJni::BytesOf(blob);
    bytes.back() ^= 0x40;  // inside the signature
    DATA_BLOB in = {DWORD(bytes.size()), reinterpret_cast<BYTE*>(bytes.data())}, out = {};
    ASSERT_FALSE(CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, 0, &out));
    const DWORD expected = GetLastError();
    const std::vector<jbyte> damaged = bytes;
    EXPECT_EQ(nullptr, Call<jbyteArray>("decryptUserWin32", blob));
    EXPECT_EQ("com.quorvane.infrastructure.os.windows.Win32Exception: Error unencrypting data", jni_.Pending());
    EXPECT_EQ(jint(expected), jni_.PendingCode());
    EXPECT_EQ(damaged, bytes) << "the blob is left as it was";
  });
}

TEST_F(ExportedMethods, ProcessesVersionsMessagesAndInterfacesComeFromTheSystem) {
  const std::wstring path = qvtest::ProgramPath();
  Row("isProcessRunning", "this program's image name in any case; not a full path, nor a name nobody runs", [&] {
    std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
    CharUpperW(&name[0]);
    EXPECT_TRUE(Call<jboolean>("isProcessRunning", jni_.Str(name)));
    EXPECT_FALSE(Call<jboolean>("isProcessRunning", jni_.Str(path))) << "a full path never matches";
    EXPECT_FALSE(Call<jboolean>("isProcessRunning", jni_.Str(L"qv-nobody-runs-this.exe")));
  });
  Row("getSystemMessage", "FormatMessageW's text with the insert; the fixed text for an unknown id", [&] {
    wchar_t* expected = nullptr;
    DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>(L"tool.exe")};
    ASSERT_NE(0u, FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_ARGUMENT_ARRAY, nullptr, 193, 0, reinterpret_cast<LPWSTR>(&expected),
                                 0, reinterpret_cast<va_list*>(inserts)));
    EXPECT_EQ(DllJni::Units(expected),
              DllJni::Text(Call<jstring>("getSystemMessage", jint(193), jni_.Str(L"tool.exe"))));
    LocalFree(expected);
    EXPECT_EQ(u"Unknown error (couldn't find a system message for it).",
              DllJni::Text(Call<jstring>("getSystemMessage", jint(0x2FFFFFFF), jni_.Str(L"x"))));
  });
  // version.dll's reading of kernel32.dll; a file without a resource (this program) leaves the arrays alone.
  Row("getFileVersionNumber", "version.dll's numbers of kernel32.dll; none for this program; a short array", [&] {
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
    ASSERT_TRUE(GetFileVersionInfoW(kernel.c_str(), 0, DWORD(block.size()), block.data()));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length));
    const DWORD expected[] = {HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                              HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS)};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(jint(expected[i]), DllJni::Ints(parts[i])[0]) << i;
    for (auto& p : parts) p = jni_.NewInts({-1});
    parts[3] = jni_.NewInts({});
    EXPECT_FALSE(version(kernel));
    EXPECT_EQ("java.lang.IllegalArgumentException: array too short", jni_.Pending());
    EXPECT_EQ(-1, DllJni::Ints(parts[0])[0]) << "refused before any is written";
  });
  // Every address the DLL adds is one iphlpapi lists, with its mask, up and not loopback.
  Row("getNetworkInterfaceInfo", "iphlpapi's IPv4 addresses and masks", [&] {
    const jobject set = jni_.NewHashSet();
    Call<void>("getNetworkInterfaceInfo", set);
    EXPECT_EQ("", jni_.Pending());
    ULONG size = 0;
    GetIpAddrTable(nullptr, &size, FALSE);
    std::vector<char> buffer(size);
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    ASSERT_EQ(DWORD(NO_ERROR), GetIpAddrTable(table, &size, FALSE));
    std::vector<std::vector<jint>> listed;
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
      const auto* a = reinterpret_cast<const BYTE*>(&table->table[i].dwAddr);
      const auto* m = reinterpret_cast<const BYTE*>(&table->table[i].dwMask);
      if (a[0] != 127) listed.push_back({a[0], a[1], a[2], a[3], m[0], m[1], m[2], m[3]});
    }
    EXPECT_FALSE(jni_.added.empty()) << "no interface but loopback";
    for (const auto& address : jni_.added)
      EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), address)) << address[0] << "." << address[3];
  });
}

// The probe of FieldAccessTest: each field gains ADDEND (-1) with Java's wrapping.
TEST_F(ExportedMethods, FieldProbeChangesEveryWidthAsJavaWould) {
  const std::map<std::string, std::string> instance = {
      {"iarray", "[I"}, {"zf", "Z"}, {"zt", "Z"}, {"b", "B"}, {"s", "S"}, {"i", "I"}, {"j", "J"}, {"f", "F"},
      {"d", "D"}, {"barray", "[B"}};
  std::map<std::string, std::string> statics = {{"ADDEND", "B"}};
  for (const auto& [name, signature] : instance)
    if (name != "barray") statics["s_" + name] = signature;
  Row("TestJavaClassFields", "instance and static fields of every width, element 0 of the arrays", [&] {
    DllJni::ClassModel* probe = jni_.NewClass("MinusOneProbe", instance, statics);
    Value* p = jni_.NewObject(probe);
    auto& f = p->fields;
    auto& s = probe->statics;
    s["ADDEND"].i = -1;
    f["iarray"].object = &DllJni::V(jni_.NewInts({0}));
    f["barray"].object = &DllJni::V(jni_.Bytes(std::string("\x80\x05", 2)));
    f["zf"].i = 1, f["b"].i = -128, f["s"].i = -32768, f["i"].i = INT32_MIN, f["j"].j = INT64_MIN;
    f["f"].d = 0.25, f["d"].d = 0.5;
    s["s_iarray"].object = &DllJni::V(jni_.NewInts({INT32_MIN}));
    s["s_zt"].i = 1, s["s_f"].d = 16777216.0, s["s_d"].d = 1e300;
    Call<void>("TestJavaClassFields", DllJni::Ref(p));
    EXPECT_EQ("", jni_.Pending());
    EXPECT_EQ((std::vector<double>{-1, 0, 1, 127, 32767, 2147483647, 0.25 - 1, 0.5 - 1, 127, 5}),
              (std::vector<double>{double(f["iarray"].object->ints[0]), double(f["zf"].i), double(f["zt"].i),
                                   double(f["b"].i), double(f["s"].i), double(f["i"].i), f["f"].d, f["d"].d,
                                   double(f["barray"].object->bytes[0]), double(f["barray"].object->bytes[1])}));
    EXPECT_EQ(INT64_MAX, f["j"].j);
    EXPECT_EQ((std::vector<double>{2147483647, 1, 0, -1, -1, -1, 16777215, 1e300 - 1}),
              (std::vector<double>{double(s["s_iarray"].object->ints[0]), double(s["s_zf"].i), double(s["s_zt"].i),
                                   double(s["s_b"].i), double(s["s_s"].i), double(s["s_i"].i), s["s_f"].d,
                                   s["s_d"].d}));
    EXPECT_EQ(-1, s["s_j"].j);
  });
  Row("TestJavaClassFields", "a missing field stops at its step with NoSuchFieldError pending", [&] {
    DllJni::ClassModel* probe = jni_.NewClass("NoIarrayProbe", {{"zf", "Z"}, {"b", "B"}}, {{"ADDEND", "B"}});
    probe->statics["ADDEND"].i = 1;
    Value* o = jni_.NewObject(probe);
    o->fields["b"].i = 1;
    Call<void>("TestJavaClassFields", DllJni::Ref(o));
    EXPECT_EQ("java.lang.NoSuchFieldError: iarray", jni_.Pending());
    EXPECT_EQ((std::vector<jint>{0, 1}), (std::vector<jint>{o->fields["zf"].i, o->fields["b"].i}));
  });
}

}  // namespace
