#include "RecordMarshalling.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "JNIException.h"
#include "JavaObjectFields.h"
#include "Utf16.h"
#include "natives/NativeHandles.h"

#ifdef _WIN32
// The shell's records as each Windows build lays them out. Java objects carry
// the members by name, so only the sizes sent to the shell follow the build.
#ifdef _WIN64
static_assert(sizeof(SHFILEINFOW) == 696, "SHFILEINFOW of the 64-bit shell: an 8-byte icon handle");
static_assert(offsetof(NOTIFYICONDATAW, guidItem) == 952, "NOTIFYICONDATAW up to its GUID member, 64-bit");
static_assert(sizeof(SHFILEOPSTRUCTW) == 56, "SHFILEOPSTRUCTW is naturally aligned on Win64");
#else
static_assert(sizeof(SHFILEINFOW) == 692, "SHFILEINFOW of the 32-bit shell");
static_assert(offsetof(NOTIFYICONDATAW, guidItem) == 936, "NOTIFYICONDATAW up to its GUID member");
static_assert(sizeof(SHFILEOPSTRUCTW) == 30, "SHFILEOPSTRUCTW is byte-packed on Win32");
#endif
static_assert(NOTIFYICONDATAW_V2_SIZE == offsetof(NOTIFYICONDATAW, guidItem), "the size member sent for that layout");
#endif

namespace quorvane {
namespace jni {

namespace {

// The layout without the GUID member: 936 bytes on 32-bit Windows, 952 on 64-bit.
constexpr DWORD kNotifyIconDataSize = NOTIFYICONDATAW_V2_SIZE;

bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }

// UTF-16 units a platform character takes in Java.
size_t Utf16Width(WCHAR c) {
  return sizeof(WCHAR) > 2 && static_cast<uint32_t>(c) >= 0x10000 && static_cast<uint32_t>(c) <= 0x10FFFF ? 2 : 1;
}

// Copies `text` up to its first zero into `member`, cut to fit N UTF-16 units
// with the terminator (the member's capacity in the Windows record), never
// between the halves of a surrogate pair.
template <size_t N>
void CopyTextIntoMember(const std::wstring& text, WCHAR (&member)[N]) {
  size_t count = 0;
  size_t units = 0;
  for (; count < text.size() && text[count] != 0; ++count) {
    if (units + Utf16Width(text[count]) > N - 1) break;
    units += Utf16Width(text[count]);
  }
  const bool cut = count < text.size() && text[count] != 0;
  if (cut && count > 0 && IsHighSurrogate(static_cast<uint32_t>(text[count - 1]))) --count;
  text.copy(member, count);
  member[count] = 0;
}

// Reads a char[] field into a text member; a null array leaves it unchanged.
template <size_t N>
void ReadText(const JavaObjectFields& fields, const char* name, WCHAR (&member)[N]) {
  const auto array = static_cast<jcharArray>(fields.GetObject(name, "[C"));
  if (array == nullptr) return;
  {
    JavaChars chars(fields.env, array);
    CopyTextIntoMember(chars.Text(), member);
  }
  fields.env->DeleteLocalRef(array);
}

// All N units of a text member in UTF-16. On Linux a text with characters
// beyond U+FFFF widens; it is cut so its terminator stays within N.
template <size_t N>
std::u16string Utf16Member(const WCHAR (&member)[N]) {
  std::u16string units = Utf16FromWide(member, N);
  const size_t zero = units.find(u'\0');
  if (zero == std::u16string::npos || zero >= N) {
    size_t end = N - 1;
    if (IsHighSurrogate(units[end - 1])) --end;
    units[end] = u'\0';
  }
  units.resize(N);
  return units;
}

template <size_t N>
void WriteText(const JavaObjectFields& fields, const char* name, const WCHAR (&member)[N]) {
  const std::u16string units = Utf16Member(member);
  fields.SetCharArray(name, units.data(), units.size() * sizeof(char16_t));
}

// A string field borrowed into `holder`; its characters, or null.
const WCHAR* BorrowString(const JavaObjectFields& fields, const char* name, std::unique_ptr<JavaChars>& holder) {
  const auto string = static_cast<jstring>(fields.GetObject(name, "Ljava/lang/String;"));
  holder.reset(new JavaChars(fields.env, string));
  return holder->chars;
}

// A name list ends in two zero units: the string's last one and the holder's
// terminator. A string that lacks its last zero is borrowed as a copy that
// has it, so nothing reads past its characters, and *complete is false.
const WCHAR* BorrowNameList(const JavaObjectFields& fields, const char* name, std::unique_ptr<JavaChars>& holder,
                            bool* complete) {
  JNIEnv* const env = fields.env;
  auto string = static_cast<jstring>(fields.GetObject(name, "Ljava/lang/String;"));
  if (string != nullptr) {
    const jsize length = env->GetStringLength(string);
    std::vector<jchar> units(static_cast<size_t>(length) + 1, 0);
    env->GetStringRegion(string, 0, length, units.data());
    if (length == 0 || units[length - 1] != 0) {
      *complete = false;
      env->DeleteLocalRef(string);
      string = env->NewString(units.data(), length + 1);
      if (string == nullptr) throw JNIException();
    }
  }
  holder.reset(new JavaChars(env, string));
  return holder->chars;
}

}  // namespace

void ReadNotifyIconData(JNIEnv* env, jobject object, NOTIFYICONDATAW& record) {
  const JavaObjectFields f(env, object);
  record.cbSize = kNotifyIconDataSize;
  record.hWnd = WindowFromJava(f.GetInt("hWnd"));
  record.uID = static_cast<UINT>(f.GetInt("uID"));
  record.uFlags = static_cast<UINT>(f.GetInt("uFlags"));
  record.uCallbackMessage = static_cast<UINT>(f.GetInt("uCallbackMessage"));
  record.hIcon = static_cast<HICON>(HandleFromJava(f.GetInt("hIcon")));
  ReadText(f, "szTip", record.szTip);
  record.dwState = static_cast<DWORD>(f.GetInt("dwState"));
  record.dwStateMask = static_cast<DWORD>(f.GetInt("dwStateMask"));
  ReadText(f, "szInfo", record.szInfo);
  // One member: the version, read last, is the value sent.
  record.uTimeout = static_cast<UINT>(f.GetInt("uTimeout"));
  record.uVersion = static_cast<UINT>(f.GetInt("uVersion"));
  ReadText(f, "szInfoTitle", record.szInfoTitle);
  record.dwInfoFlags = static_cast<DWORD>(f.GetInt("dwInfoFlags"));
}

void WriteGuid(JNIEnv* env, jobject object, const GUID& guid) {
  const JavaObjectFields f(env, object);
  f.SetInt("Data1", static_cast<jint>(guid.Data1));
  f.SetInt("Data2", static_cast<jint>(static_cast<uint16_t>(guid.Data2)));
  f.SetInt("Data3", static_cast<jint>(static_cast<uint16_t>(guid.Data3)));
  f.SetByteArray("Data4", guid.Data4, sizeof guid.Data4);
}

void WriteFileInfo(JNIEnv* env, jobject object, const SHFILEINFOW& info) {
  const JavaObjectFields f(env, object);
  f.SetInt("hIcon", HandleToJava(info.hIcon));
  f.SetInt("iIcon", static_cast<jint>(info.iIcon));
  f.SetInt("dwAttributes", static_cast<jint>(info.dwAttributes));
  WriteText(f, "szDisplayName", info.szDisplayName);
  WriteText(f, "szTypeName", info.szTypeName);
}

bool ReadFileOperation(JNIEnv* env, jobject object, SHFILEOPSTRUCTW& record, std::unique_ptr<JavaChars>& fromHolder,
                       std::unique_ptr<JavaChars>& toHolder, std::unique_ptr<JavaChars>& titleHolder) {
  const JavaObjectFields f(env, object);
  bool complete = true;
  record.hwnd = WindowFromJava(f.GetInt("hWnd"));
  record.wFunc = static_cast<UINT>(f.GetInt("wFunc"));
  record.pFrom = BorrowNameList(f, "pFrom", fromHolder, &complete);
  record.pTo = BorrowNameList(f, "pTo", toHolder, &complete);
  record.lpszProgressTitle = BorrowString(f, "lpszProgressTitle", titleHolder);
  record.fFlags = static_cast<FILEOP_FLAGS>(f.GetShort("fFlags"));
  record.fAnyOperationsAborted = BoolFromJava(f.GetBoolean("fAnyOperationsAborted"));
  record.hNameMappings = HandleFromJava(f.GetInt("hNameMappings"));
  return complete;
}

}  // namespace jni
}  // namespace quorvane
