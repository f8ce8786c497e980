// Win32Impl system information: whether a process runs, a file's version
// number, system message texts and the machine's IPv4 interfaces. An
// ordinary "no" is false or a fixed text; only the interface list reports
// failures as Java exceptions, all of them before any Winsock work.
#include <cstring>
#include <string>
#include <vector>

#include "Exports.h"
#include "Guards.h"
#include "JavaArrayElements.h"
#include "JavaChars.h"
#include "VersionInfoReader.h"
#include "Win32Api.h"

using namespace quorvane::jni;

namespace {

constexpr size_t kProcessIdCapacity = 1024;  // the first try; the list grows past it
constexpr size_t kMostProcessIds = size_t(1) << 24;
constexpr size_t kLongestPath = 32768;  // UNICODE_STRING's limit
constexpr DWORD kProcessAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
constexpr DWORD kInterfaceListBytes = 5120;  // 67 records of 76 bytes
// Windows messages number their inserts up to %99.
constexpr size_t kMessageInserts = 99;
const char kNoSystemMessage[] = "Unknown error (couldn't find a system message for it).";
const char kNetworkAddressClass[] = "com/quorvane/infrastructure/network/NetworkAddress";

// Whether process `id` runs an executable whose base name is `name`: by its
// first module where this process may read its modules, otherwise by its
// image's path. A 32-bit process cannot read a 64-bit one's modules, and
// limited query rights open processes that full ones cannot.
bool ProcessHasName(DWORD id, LPCWSTR name) {
  if (const HANDLE process = OpenProcess(kProcessAccess, FALSE, id)) {
    HMODULE module = nullptr;
    DWORD needed = 0;
    WCHAR baseName[MAX_PATH];
    const bool read = EnumProcessModules(process, &module, sizeof module, &needed) &&
                      GetModuleBaseNameW(process, module, baseName, MAX_PATH) != 0;
    CloseHandle(process);
    if (read) return lstrcmpiW(baseName, name) == 0;
  }
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (process == nullptr) return false;
  std::vector<WCHAR> path(MAX_PATH);
  DWORD length = 0;
  bool read = false;
  for (;;) {
    length = static_cast<DWORD>(path.size());
    read = QueryFullProcessImageNameW(process, 0, path.data(), &length) != FALSE;
    if (read || GetLastError() != ERROR_INSUFFICIENT_BUFFER || path.size() >= kLongestPath) break;
    path.resize(path.size() * 4);
  }
  CloseHandle(process);
  if (!read) return false;
  const std::wstring image(path.data(), length);
  return lstrcmpiW(image.substr(image.find_last_of(L"\\/") + 1).c_str(), name) == 0;
}

// The ids of every running process: the list grows until it is not full.
bool RunningProcesses(std::vector<DWORD>* ids) {
  ids->resize(kProcessIdCapacity);
  for (;;) {
    const DWORD capacity = static_cast<DWORD>(ids->size() * sizeof(DWORD));
    DWORD bytes = 0;
    if (!EnumProcesses(ids->data(), capacity, &bytes)) return false;
    if (bytes < capacity || ids->size() >= kMostProcessIds) {
      ids->resize(bytes / sizeof(DWORD));
      return true;
    }
    ids->resize(ids->size() * 2);
  }
}

// WSAStartup's count, undone when the call ends.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data;
    started_ = WSAStartup(0x0202, &data) == 0;
  }
  ~WinsockSession() {
    if (started_) WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  bool Started() const { return started_; }

 private:
  bool started_ = false;
};

// A UDP socket: Windows gives raw ones to administrators only, and a
// datagram socket answers the interface list for every user.
class QuerySocket {
 public:
  QuerySocket() : socket_(WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, 0)) {}
  ~QuerySocket() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
  }
  QuerySocket(const QuerySocket&) = delete;
  QuerySocket& operator=(const QuerySocket&) = delete;
  SOCKET Get() const { return socket_; }

 private:
  SOCKET socket_;
};

jmethodID RequireMethod(JNIEnv* env, jclass type, const char* name, const char* signature, const char* message) {
  jmethodID method = type != nullptr ? env->GetMethodID(type, name, signature) : nullptr;
  if (method == nullptr) {
    env->ExceptionClear();
    throw ClassNotFoundException(env, message);
  }
  return method;
}

const BYTE* AddressBytes(const sockaddr_gen& address) {
  return reinterpret_cast<const BYTE*>(&address.AddressIn.sin_addr);
}

}  // namespace

extern "C" {

JNIEXPORT jboolean JNICALL QV_NATIVE(isProcessRunning)(JNIEnv* env, jclass, jstring name) {
  return JavaExceptionGuard(env, jboolean(JNI_FALSE), [&]() -> jboolean {
    JavaChars text(env, name);
    if (text.IsNull()) return JNI_FALSE;
    std::vector<DWORD> ids;
    if (!RunningProcesses(&ids)) return JNI_FALSE;
    for (DWORD id : ids)
      if (ProcessHasName(id, text.chars)) return JNI_TRUE;
    return JNI_FALSE;
  });
}

JNIEXPORT jboolean JNICALL QV_NATIVE(getFileVersionNumber)(JNIEnv* env, jclass, jstring path, jintArray major,
                                                           jintArray minor, jintArray patch, jintArray build) {
  return JavaExceptionGuard(env, jboolean(JNI_FALSE), [&]() -> jboolean {
    // The path's characters are released as soon as the resource is read.
    const quorvane::VersionInfoReader reader = [&] {
      JavaChars text(env, path);
      return quorvane::VersionInfoReader(text.chars);
    }();
    if (!reader.Ok()) return JNI_FALSE;
    bool ok;
    {
      JavaArrayElements<jint> buildElements(env, build, 1);
      JavaArrayElements<jint> patchElements(env, patch, 1);
      JavaArrayElements<jint> minorElements(env, minor, 1);
      JavaArrayElements<jint> majorElements(env, major, 1);
      auto first = [](JavaArrayElements<jint>& a) { return reinterpret_cast<uint32_t*>(a.elements); };
      ok = reader.GetFileVersion(first(majorElements), first(minorElements), first(patchElements),
                                 first(buildElements));
    }
    return ok ? JNI_TRUE : JNI_FALSE;
  });
}

JNIEXPORT jstring JNICALL QV_NATIVE(getSystemMessage)(JNIEnv* env, jclass, jint id, jstring insert) {
  return JavaExceptionGuard(env, jstring(nullptr), [&]() -> jstring {
    JavaChars text(env, insert);
    DWORD_PTR inserts[kMessageInserts];
    for (auto& slot : inserts) slot = reinterpret_cast<DWORD_PTR>(L"");
    if (!text.IsNull()) inserts[0] = reinterpret_cast<DWORD_PTR>(text.chars);
    LPWSTR message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY, nullptr,
        static_cast<DWORD>(id), 0, reinterpret_cast<LPWSTR>(&message), 0, reinterpret_cast<va_list*>(inserts));
    if (length == 0 || message == nullptr) {
      if (message != nullptr) LocalFree(message);
      jstring fixed = env->NewStringUTF(kNoSystemMessage);
      if (fixed == nullptr) throw JNIException();
      return fixed;
    }
    std::wstring result(message, length);
    LocalFree(message);
    return NewJavaString(env, result);
  });
}

JNIEXPORT void JNICALL QV_NATIVE(getNetworkInterfaceInfo)(JNIEnv* env, jclass, jobject set) {
  JavaExceptionGuardVoid(env, [&] {
    if (set == nullptr) throw IllegalArgumentException(env, "Error, in/out value cannot be null");
    jmethodID add = RequireMethod(env, env->GetObjectClass(set), "add", "(Ljava/lang/Object;)Z",
                                  "Error, native unable to find Set add method (Ljava/lang/Object;)Z");
    jclass addressClass = env->FindClass(kNetworkAddressClass);
    if (addressClass == nullptr) {
      env->ExceptionClear();
      throw ClassNotFoundException(env, "Error, unable to find NetworkAddress return class definition");
    }
    jmethodID constructor = RequireMethod(env, addressClass, "<init>", "()V",
                                          "Error, uanble to find NetworkAddress return class constructor");
    jmethodID setAddress = RequireMethod(env, addressClass, "setAddress", "(IIIIIIII)V",
                                         "Error, unable to find setAddress method identifier");
    WinsockSession winsock;
    if (!winsock.Started()) throw RuntimeException(env, "Unable to startup WinSock");
    QuerySocket socket;
    if (socket.Get() == INVALID_SOCKET) return;
    char buffer[kInterfaceListBytes] = {};
    DWORD bytes = 0;
    if (WSAIoctl(socket.Get(), SIO_GET_INTERFACE_LIST, nullptr, 0, buffer, sizeof buffer, &bytes, nullptr,
                 nullptr) != 0)
      return;
    for (DWORD i = 0; i < bytes / sizeof(INTERFACE_INFO); ++i) {
      INTERFACE_INFO record;
      memcpy(&record, buffer + i * sizeof record, sizeof record);
      if (!(record.iiFlags & IFF_UP) || (record.iiFlags & IFF_LOOPBACK) ||
          record.iiAddress.Address.sa_family != AF_INET || record.iiNetmask.Address.sa_family != AF_INET)
        continue;
      const BYTE* a = AddressBytes(record.iiAddress);
      const BYTE* m = AddressBytes(record.iiNetmask);
      jobject address = env->NewObject(addressClass, constructor);
      if (address == nullptr) throw JNIException();
      env->CallVoidMethod(address, setAddress, a[0], a[1], a[2], a[3], m[0], m[1], m[2], m[3]);
      // A Java exception from the client's own code ends the list with it pending.
      if (env->ExceptionCheck()) throw JNIException();
      env->CallBooleanMethod(set, add, address);
      if (env->ExceptionCheck()) throw JNIException();
      env->DeleteLocalRef(address);
    }
  });
}

}  // extern "C"
