// The DLL's native methods against what a hostile Java caller can hand them, as far as a JNIEnv without a JVM
// serves: nulls, empty and short arrays, record objects missing a field or with it wrongly typed, texts cut by a
// zero, with lone surrogates or 100,000 units, negative and extreme ints. A call must end in the method's answer
// for input it cannot use, or in a pending exception with the guard's neutral result, and with no JNI misuse;
// one that reaches a JNI function the env lacks ends the program, naming the case (HotspotJni's trap).
#include <gtest/gtest.h>

#include <jni.h>
#include <winsock2.h>  // before windows.h
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "QuorvaneDll.h"
#include "SettingsTestSupport.h"

namespace {

using qvtest::DllJni;
using Value = DllJni::Value;
using Arg = intptr_t;
using qvtest::kFileInfoRecord, qvtest::kFileOperationRecord, qvtest::kGuidRecord, qvtest::kNotifyIconRecord;

struct Method {
  const char* name;
  char result;          // Z boolean, I int, T String, A byte[], V void
  const char* args;     // I int, Z boolean, S String, B byte[], N int[], R the method's record, O any object
  const char* record;   // the record's fields: signature and name, a char[] or byte[] with its length
  const char* neutral;  // the guard's answer when a Java exception is pending
  const char* failure;  // regex: the answer to input it cannot use
  const char* usable;   // regex: cases that hand it something it can use, which may answer otherwise
};

const char kNonZero[] = "-?[1-9][0-9]*", kNone[] = "";
const char kEFail[] = "-2147467259";  // E_FAIL, the HRESULT guard's answer

const Method kMethods[] = {
    {"TestJavaClassFields", 'V', "O", nullptr, "", "", kNone},  // a probe needs static fields: null only
    {"SetEvent", 'I', "I", nullptr, "0", "0", kNone},
    {"ResetEvent", 'I', "I", nullptr, "0", "0", kNone},
    {"WaitForSingleObject", 'I', "II", nullptr, "0", "-1", "#0 (-1|2147483647)"},  // Wine waits on the latter
    {"CloseHandle", 'I', "I", nullptr, "0", "0", "#0 -1"},
    {"CreateEvent", 'I', "IZZS", nullptr, "0", "0", "#[12] .*|#3 .*"},
    {"OpenEvent", 'I', "IZS", nullptr, "0", "0", kNone},
    {"AnimateWindow", 'I', "III", nullptr, "0", "0", kNone},
    {"SetErrorMode", 'I', "I", nullptr, "0", ".*", kNone},  // the previous mode
    {"SetLayeredWindowAttributes", 'I', "IIII", nullptr, "0", "0", kNone},
    {"FlashWindow", 'I', "IZ", nullptr, "0", "0", kNone},
    {"GetCurrentProcess", 'I', "", nullptr, "0", "-1", kNone},
        // Wine's stubs accept any process and size.
    {"SetProcessWorkingSetSize", 'I', "III", nullptr, "0", "0", "#.*"},
    {"EmptyWorkingSet", 'I', "I", nullptr, "0", "0", "#.*"},
    {"getLastInputTime", 'I', "", nullptr, "0", ".*", kNone},
    {"RegisterWindowMessage", 'I', "S", nullptr, "0", "0", "#0 (?!null|empty|100,000).*"},
    // A null Properties: only what comes before the properties are read.
    {"getCompoundDocumentUserProperties", 'I', "SOZ", nullptr, kEFail, kNonZero, kNone},
    {"getCompoundDocumentSummaryProperties", 'I', "SO", nullptr, kEFail, kNonZero, kNone},
    {"copySummaryPropertiesToUserProperties", 'I', "SO", nullptr, kEFail, kNonZero, kNone},
    {"setCompoundDocumentUserProperties", 'I', "SO", nullptr, kEFail, kNonZero, kNone},
    {"ShellNotifyIcon", 'Z', "IR", kNotifyIconRecord, "false", "false", kNone},
    {"SHGetFileInfo", 'I', "SIRII", kFileInfoRecord, "0", "0",
     "#0 (?!null|unpaired).*|#[13] .*|#2 sz\\w+ (empty|one short)|#4 -2147483648"},
    {"GetSpecialFolderInfo", 'Z', "IR", kFileInfoRecord, "false", "false",
     "#0 -2147483648|#1 sz\\w+ (empty|one short)"},
    {"getSpecialFolderPath", 'T', "I", nullptr, "null", "null", "#0 -2147483648"},  // the shell keeps the low bits
    {"SHFileOperation", 'I', "R", kFileOperationRecord, "-1", kNonZero, "#0 (lpszProgressTitle .*|pTo null)"},
    {"UuidCreate", 'I', "R", kGuidRecord, "0", "0", kNone},
    {"ReadDirectoryChangesW", 'Z', "IBIZINII", nullptr, "false", "false", kNone},
    {"CreateFile", 'I', "SIIIIII", nullptr, "0", "-1", "#0 (embedded zero|path folder)|#[1256] .*"},
    {"SetFileAttributes", 'Z', "SI", nullptr, "false", "false", "#0 (embedded zero|path folder)|#1 .*"},
    {"StgIsStorageFile", 'I', "S", nullptr, "0", kNonZero, kNone},
    {"GetDriveType", 'I', "S", nullptr, "0", "[01]", "#0 (null|path folder)"},
    {"QueryDosDevice", 'T', "S", nullptr, "null", "null", "#0 (null|empty)"},
    {"RegCreateKey", 'I', "ISN", nullptr, "0", kNonZero, "#0 -2147483648|#1 (?!100,000).*"},
    {"RegSetValueEx", 'I', "ISIIBI", nullptr, "0", kNonZero, "#0 -2147483648|#1 (?!100,000).*|#[23] .*"},
    {"encryptUserWin32", 'A', "B", nullptr, "null", "null", "#0 one short"},
    {"decryptUserWin32", 'A', "B", nullptr, "null", "null", kNone},
    {"isProcessRunning", 'Z', "S", nullptr, "false", "false", kNone},
    {"getFileVersionNumber", 'Z', "SNNNN", nullptr, "false", "false", kNone},
    {"getSystemMessage", 'T', "IS", nullptr, "null", "Unknown error \\(couldn't find a system message for it\\)\\.",
     "#1 .*"},
    {"getNetworkInterfaceInfo", 'V', "O", nullptr, "", "", "#0 plain object"},
    {"postMessage", 'V', "SSIZBO", nullptr, "", "", kNone},  // to a closed port: every case fails
};

template <size_t... I>
Arg Invoke(FARPROC f, JNIEnv* env, const std::vector<Arg>& a, std::index_sequence<I...>) {
  using Fn = Arg(JNICALL*)(JNIEnv*, jclass, decltype(I, Arg())...);
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(f))(env, nullptr, a[I]...);
}

// Every argument takes one 4-byte slot on i686 (one register or 8-byte slot on x64), so one pointer type per count.
template <size_t... N>
Arg InvokeAny(FARPROC f, JNIEnv* env, const std::vector<Arg>& a, std::index_sequence<N...>) {
  Arg result = 0;
  ((a.size() == N ? (result = Invoke(f, env, a, std::make_index_sequence<N>()), 0) : 0), ...);
  return result;
}

class HostileInput : public qvtest::QuorvaneDll {
 protected:
  Arg Text(const std::wstring& s) { return Arg(jni_.Str(s)); }
  Arg Path(const char* name) { return Text((folder_ / name).wstring()); }

  // The texts a caller may pass; paths when asked.
  std::vector<std::pair<std::string, Arg>> Texts(bool paths) {
    std::vector<std::pair<std::string, Arg>> v = {
        {"null", 0},
        {"empty", Text(L"")},
        {"embedded zero", Text((folder_ / "file").wstring() + std::wstring(1, L'\0') + L"tail")},
        {"unpaired surrogates", Text(L"\xDC00" L"a\xD800")},
        {"100,000 chars", Text(std::wstring(100000, L'\xE9'))}};
    if (paths) v.insert(v.end(), {{"path folder", Path("folder")}, {"path missing", Path("missing")}});
    return v;
  }

  // A record object of `fields` (HotspotJni::NewRecord), leaving out `without` and giving `retyped` another
  // signature; a copy of two files when it is SHFILEOPSTRUCT.
  Value* Record(const char* fields, const std::string& without = "", const std::string& retyped = "") {
    Value* record = jni_.NewRecord(fields);
    record->fields.erase(without);
    if (!retyped.empty()) record->fields[retyped] = DllJni::Field{"J"};
    for (auto& [name, field] : record->fields) {
      if (name == "wFunc") field.i = FO_COPY;
      if (name == "fFlags") field.i = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
      if ((name == "pFrom" || name == "pTo") && field.signature[0] == 'L')
        field.object = &DllJni::V(jni_.Str((folder_ / (name[1] == 'F' ? "file" : "copied")).wstring() + L'\0'));
    }
    return record;
  }

  // The arguments each call succeeds or fails ordinarily with; the cases change one at a time.
  std::vector<Arg> Baseline(const Method& m) {
    const std::string name = m.name;
    std::vector<Arg> args;
    for (const char* t = m.args; *t; ++t) {
      switch (*t) {
        case 'S': args.push_back(Path("file")); break;
        case 'B': args.push_back(Arg(jni_.Bytes(std::string(16, '\0')))); break;
        case 'N': args.push_back(Arg(jni_.NewInts({0}))); break;
        case 'R': args.push_back(Arg(Record(m.record))); break;
        default: args.push_back(0);
      }
    }
    if (name == "SHGetFileInfo") args = {args[0], 0, args[2], 692, SHGFI_DISPLAYNAME | SHGFI_TYPENAME};
    if (name == "RegCreateKey" || name == "RegSetValueEx") args[0] = Arg(intptr_t(HKEY_CURRENT_USER));
    if (name == "RegCreateKey") args[1] = Text(L"Software\\QvHostile");
    if (name == "RegSetValueEx") args = {args[0], Text(L"v"), 0, REG_BINARY, args[4], 16};
    if (name == "ReadDirectoryChangesW") args[2] = 16;
    if (name == "CreateFile") args = {Path("file"), Arg(GENERIC_READ), 7, 0, OPEN_EXISTING, 0, 0};
    if (name == "getFileVersionNumber") args[0] = Text(kernel32_);
    if (name == "getNetworkInterfaceInfo") args[0] = Arg(jni_.NewHashSet());
    if (name == "postMessage")
      args = {Text(L"127.0.0.1"), Text(L"/r"), closedPort_, 0, args[4], Arg(jni_.NewOutputStream())};
    if (name.rfind("Compound") != std::string::npos) args[1] = Arg(jni_.NewProperties());
    return args;
  }

  // The values argument i of m is swept with.
  std::vector<std::pair<std::string, Arg>> Variants(const Method& m, size_t i) {
    const char type = m.args[i];
    if (type == 'I') return {{"-1", -1}, {"-2147483648", INT32_MIN}, {"2147483647", INT32_MAX}};
    if (type == 'Z') return {{"flipped", 1}};
    if (type == 'S') {
      if (std::string(m.name) == "postMessage" && i == 0) return {{"null", 0}, {"empty", Text(L"")}};
      return Texts(std::string(m.name) != "postMessage");
    }
    if (type == 'B' || type == 'N') {
      const Value& whole = DllJni::V(reinterpret_cast<void*>(Baseline(m)[i]));
      Value* shorter = jni_.NewArray(whole.kind);
      shorter->bytes = whole.bytes, shorter->ints = whole.ints;
      if (type == 'B') shorter->bytes.pop_back(); else shorter->ints.pop_back();
      return {{"null", 0}, {"empty", Arg(jni_.NewArray(shorter->kind))}, {"one short", Arg(shorter)}};
    }
    std::vector<std::pair<std::string, Arg>> v = {{"null", 0}};
    if (std::string(m.name) == "getNetworkInterfaceInfo") v.push_back({"plain object", Arg(jni_.NewObject())});
    if (type != 'R') return v;
    v.push_back({"plain object", Arg(jni_.NewObject())});
    for (const auto& [field, f] : jni_.NewRecord(m.record)->fields) {
      v.push_back({"no " + field, Arg(Record(m.record, field))});
      v.push_back({field + " wrongly typed", Arg(Record(m.record, "", field))});
      if (f.signature == "[C" || f.signature == "[B") {
        for (const char* label : {" null", " empty", " one short"}) {
          Value* record = Record(m.record);
          Value*& array = record->fields[field].object;
          if (label[1] == 'n') array = nullptr;
          else if (label[1] == 'e') array = jni_.NewArray(array->kind);
          else if (f.signature == "[C") array->units.pop_back();
          else array->bytes.pop_back();
          v.push_back({field + label, Arg(record)});
        }
      } else if (f.signature == "Ljava/lang/String;") {
        for (const auto& [label, text] : Texts(false)) {
          Value* record = Record(m.record);
          record->fields[field].object = text ? &DllJni::V(reinterpret_cast<void*>(text)) : nullptr;
          v.push_back({field + " " + label, Arg(record)});
        }
      }
    }
    return v;
  }

  // The answer as the Java side would print it.
  static std::string Show(char result, Arg r) {
    switch (result) {
      case 'Z': return (r & 0xFF) ? "true" : "false";
      case 'I': return std::to_string(static_cast<int32_t>(r));
      case 'T': {
        const std::u16string text = r ? DllJni::Text(reinterpret_cast<void*>(r)) : u"";
        return r ? std::string(text.begin(), text.end()) : "null";
      }
      case 'A': return r ? "byte[" + std::to_string(DllJni::V(reinterpret_cast<void*>(r)).bytes.size()) + "]" : "null";
      default: return "";
    }
  }

  settings_test::TempFolder temp_;
  const std::filesystem::path folder_ = temp_.Path();
  std::wstring kernel32_;
  Arg closedPort_ = 0;
};

TEST_F(HostileInput, EveryCaseEndsInTheMethodsAnswerOrAPendingExceptionWithItsNeutralResult) {
  WSADATA wsa;
  ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &wsa));
  wchar_t system[MAX_PATH];
  kernel32_ = std::wstring(system, GetSystemDirectoryW(system, MAX_PATH)) + L"\\kernel32.dll";
  const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at = {};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof at;
  ASSERT_EQ(0, bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at));
  ASSERT_EQ(0, getsockname(s, reinterpret_cast<sockaddr*>(&at), &size));
  closedPort_ = ntohs(at.sin_port);
  closesocket(s);
  WSACleanup();
  const UINT errorMode = GetErrorMode();
  std::filesystem::create_directory(folder_ / "folder");
  // An empty destination is the current folder: the temporary one, never the caller's.
  const std::filesystem::path home = std::filesystem::current_path();
  std::filesystem::current_path(folder_);

  std::vector<std::string> faults;
  size_t cases = 0;
  for (const Method& m : kMethods) {
    std::vector<std::pair<std::string, std::vector<Arg>>> calls = {{"baseline", Baseline(m)}};
    for (size_t i = 0; m.args[i]; ++i) {
      for (const auto& [label, value] : Variants(m, i)) {
        calls.push_back({"#" + std::to_string(i) + " " + label, Baseline(m)});
        calls.back().second[i] = value;
      }
    }
    const FARPROC method = Export(m.name, std::strlen(m.args));
    ASSERT_NE(nullptr, method) << m.name;
    for (const auto& [label, args] : calls) {
      ++cases;
      const std::string name = std::string(m.name) + " " + label;
      DllJni::currentCase = name;  // the trap names it
      SetFileAttributesW((folder_ / "file").c_str(), FILE_ATTRIBUTE_NORMAL);
      std::ofstream(folder_ / "file") << "plain text";
      std::printf("%s\n", name.c_str());  // the last line names a case that crashed the program
      std::fflush(stdout);
      jni_.BeginCall(name);
      const Arg result = InvokeAny(method, jni_.env(), args, std::make_index_sequence<9>());
      const std::string pendingText = jni_.Pending();
      jni_.EndCall(m.result == 'T' || m.result == 'A' ? reinterpret_cast<jobject>(result) : nullptr);
      const std::string answer = Show(m.result, result);
      if (std::regex_match(m.name, std::regex("CreateFile|CreateEvent|OpenEvent")) && int32_t(result) != 0 &&
          int32_t(result) != -1)
        CloseHandle(reinterpret_cast<HANDLE>(static_cast<intptr_t>(int32_t(result))));
      const bool pending = !pendingText.empty();
      if (pending ? answer != m.neutral
                  : label != "baseline" && !std::regex_match(answer, std::regex(m.failure)) &&
                        !std::regex_match(label, std::regex(m.usable)))
        faults.push_back(name + ": " + answer + (pending ? " with " + pendingText : std::string(", not ") + m.failure));
    }
  }
  SetErrorMode(errorMode);
  std::filesystem::current_path(home);
  std::printf("hostile input sweep: %zu methods x %zu cases, %zu faults\n", std::size(kMethods), cases,
              faults.size());
  EXPECT_EQ(std::vector<std::string>(), faults);
  std::printf("JNI misuse in the sweep: %zu\n", jni_.faults.size());
}

}  // namespace
