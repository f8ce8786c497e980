// Win32Impl shell services: the notification-area icon, file information,
// special folders, shell file operations and new UUIDs. Pass-throughs: the
// platform's result comes back unchanged and its last-error code is not
// read; record objects are marshalled by RecordMarshalling. Each method ends
// in the Java-exception guard.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <memory>
#include <string>

#include "ComApartment.h"
#include "Exports.h"
#include "Guards.h"
#include "JavaChars.h"
#include "NativeHandles.h"
#include "RecordMarshalling.h"
#include "Win32Api.h"

using namespace quorvane::jni;

namespace {

constexpr UINT kFolderInfoFlags = SHGFI_PIDL | SHGFI_SMALLICON | SHGFI_ICON | SHGFI_DISPLAYNAME | SHGFI_TYPENAME;
static_assert(kFolderInfoFlags == 0x709, "item list, small icon, icon, display name, type name");

// DE_INVALIDFILES, the shell's answer to a malformed name list.
constexpr jint kInvalidFiles = 0x7C;

// Token asking for the default user's folders.
const HANDLE kDefaultUserToken = HandleFromJava(-1);

jboolean ToJava(BOOL value) { return value ? JNI_TRUE : JNI_FALSE; }

// The Java size argument counts bytes of the 32-bit record (handle, index and
// attributes of 4 bytes, then 260 + 80 UTF-16 units). It is mapped to the
// same members of the local record, whose handle is 8 bytes on 64-bit
// Windows and whose text is UTF-32 on Linux, and held to it, so the shell
// never writes past it.
UINT FileInfoSize(jint javaSize) {
  struct Member {
    UINT windowsOffset, windowsUnit, offset, unit;
  };
  static const Member kMembers[] = {
      {0, 4, offsetof(SHFILEINFOW, hIcon), sizeof(HICON)},
      {4, 4, offsetof(SHFILEINFOW, iIcon), sizeof(int)},
      {8, 4, offsetof(SHFILEINFOW, dwAttributes), sizeof(DWORD)},
      {12, 2, offsetof(SHFILEINFOW, szDisplayName), sizeof(WCHAR)},
      {532, 2, offsetof(SHFILEINFOW, szTypeName), sizeof(WCHAR)},
  };
  const UINT size = static_cast<UINT>(javaSize);
  if (size >= 692) return sizeof(SHFILEINFOW);
  UINT mapped = 0;
  for (const Member& m : kMembers)
    if (size >= m.windowsOffset) mapped = m.offset + (size - m.windowsOffset) / m.windowsUnit * m.unit;
  return mapped;
}

struct ItemIdListFree {
  void operator()(ITEMIDLIST* pidl) const { ILFree(pidl); }
};

}  // namespace

extern "C" {

JNIEXPORT jboolean JNICALL QV_NATIVE(ShellNotifyIcon)(JNIEnv* env, jclass, jint message, jobject data) {
  return JavaExceptionGuard(env, jboolean(JNI_FALSE), [&] {
    // No record, no call: shell32 reads the record unconditionally (Wine's
    // faults on null), and FALSE is what a shell that checks would answer.
    if (data == nullptr) return jboolean(JNI_FALSE);
    NOTIFYICONDATAW record = {};
    ReadNotifyIconData(env, data, record);
    const quorvane::ComApartment apartment;
    return ToJava(::Shell_NotifyIconW(static_cast<DWORD>(message), &record));
  });
}

JNIEXPORT jint JNICALL QV_NATIVE(SHGetFileInfo)(JNIEnv* env, jclass, jstring path, jint fileAttributes, jobject info,
                                                jint infoSize, jint flags) {
  return JavaExceptionGuard(env, jint(0), [&] {
    JavaChars text(env, path);
    SHFILEINFOW record = {};
    // A Java string is never an item identifier list: the shell would read
    // the characters as one, past their end.
    const UINT textFlags = static_cast<UINT>(flags) & ~static_cast<UINT>(SHGFI_PIDL);
    const quorvane::ComApartment apartment;
    const DWORD_PTR result = ::SHGetFileInfoW(text.chars, static_cast<DWORD>(fileAttributes), &record,
                                              FileInfoSize(infoSize), textFlags);
    WriteFileInfo(env, info, record);
    return static_cast<jint>(result);
  });
}

JNIEXPORT jboolean JNICALL QV_NATIVE(GetSpecialFolderInfo)(JNIEnv* env, jclass, jint folder, jobject info) {
  return JavaExceptionGuard(env, jboolean(JNI_FALSE), [&] {
    const quorvane::ComApartment apartment;
    ITEMIDLIST* location = nullptr;
    if (::SHGetFolderLocation(nullptr, folder, kDefaultUserToken, 0, &location) != S_OK) {
      if (location != nullptr) ::ILFree(location);
      return jboolean(JNI_FALSE);
    }
    const std::unique_ptr<ITEMIDLIST, ItemIdListFree> owned(location);
    SHFILEINFOW record = {};
    const DWORD_PTR result = ::SHGetFileInfoW(reinterpret_cast<LPCWSTR>(location), 0, &record,
                                              sizeof(SHFILEINFOW), kFolderInfoFlags);
    WriteFileInfo(env, info, record);
    return ToJava(result != 0);
  });
}

JNIEXPORT jstring JNICALL QV_NATIVE(getSpecialFolderPath)(JNIEnv* env, jclass, jint folder) {
  return JavaExceptionGuard(env, jstring(nullptr), [&] {
    WCHAR path[MAX_PATH] = {};
    const quorvane::ComApartment apartment;
    if (FAILED(::SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, path))) return jstring(nullptr);
    return NewJavaString(env, std::wstring(path, wcsnlen(path, MAX_PATH)));
  });
}

JNIEXPORT jint JNICALL QV_NATIVE(SHFileOperation)(JNIEnv* env, jclass, jobject operation) {
  return JavaExceptionGuard(env, jint(-1), [&] {
    if (operation == nullptr) return jint(-1);
    SHFILEOPSTRUCTW record = {};
    std::unique_ptr<JavaChars> from, to, title;
    // A list without its last zero is the caller's bug: refused, touching
    // nothing, on every platform (shell32 would read past the string).
    if (!ReadFileOperation(env, operation, record, from, to, title)) return kInvalidFiles;
    const quorvane::ComApartment apartment;
    return static_cast<jint>(::SHFileOperationW(&record));
  });
}

JNIEXPORT jint JNICALL QV_NATIVE(UuidCreate)(JNIEnv* env, jclass, jobject guid) {
  return JavaExceptionGuard(env, jint(0), [&] {
    UUID uuid = {};
    const RPC_STATUS status = ::UuidCreate(&uuid);
    WriteGuid(env, guid, uuid);
    return static_cast<jint>(status);
  });
}

}  // extern "C"
