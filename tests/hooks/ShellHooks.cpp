// Test-only natives of com.quorvane.test.TestHooks, never shipped: the shell's record marshallers run
// alone, so Java sees exactly what reached the native record, or fills a record of its choosing into a Java object.
#include <jni.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "Guards.h"
#include "HookSupport.h"
#include "JNIException.h"
#include "JavaChars.h"
#include "RecordMarshalling.h"
#include "Win32Api.h"

using namespace quorvane::jni;
using namespace quorvane::jni::hooks;

#define HOOK(name) Java_com_quorvane_test_TestHooks_##name

namespace {

template <size_t N>
std::wstring Member(const WCHAR (&member)[N]) {
  return std::wstring(member, wcsnlen(member, N));
}

// A name list as "a|b|c", up to its double zero, which must lie within the holder's characters and terminator.
std::wstring NameList(const JavaChars& holder) {
  const std::wstring& text = holder.Text();
  std::wstring out;
  size_t at = 0;
  while (at < text.size() && text[at] != 0) {
    const size_t end = text.find(L'\0', at);
    if (end == std::wstring::npos) return L"<past the characters>";
    if (!out.empty()) out += L'|';
    out += text.substr(at, end - at);
    at = end + 1;
  }
  return out;
}

template <size_t N>
void Fill(JNIEnv* env, jstring text, WCHAR (&member)[N]) {
  const std::wstring wide = JavaChars(env, text).Text();
  wide.copy(member, std::min(wide.size(), N));
}

}  // namespace

extern "C" {

// Members as TestHooks lists them; texts start as "kept" to show untouched members.
JNIEXPORT jobjectArray JNICALL HOOK(readNotifyIcon)(JNIEnv* env, jclass, jobject object) {
  return JavaExceptionGuard(env, jobjectArray(nullptr), [&] {
    NOTIFYICONDATAW r = {};
    for (WCHAR* text : {r.szTip, r.szInfo, r.szInfoTitle}) wcscpy(text, L"kept");
    ReadNotifyIconData(env, object, r);
    const auto n = [](long long v) { return std::to_wstring(v); };
    std::vector<std::wstring> texts = {
        n(r.cbSize),  n(reinterpret_cast<intptr_t>(r.hWnd)), n(r.uID), n(r.uFlags), n(r.uCallbackMessage),
        n(reinterpret_cast<intptr_t>(r.hIcon)), n(r.dwState), n(r.dwStateMask), n(r.uVersion), n(r.dwInfoFlags),
        Member(r.szTip), Member(r.szInfo), Member(r.szInfoTitle)};
    return StringArray(env, texts);
  });
}

// Members as TestHooks lists them; null for a null member.
JNIEXPORT jobjectArray JNICALL HOOK(readFileOperation)(JNIEnv* env, jclass, jobject object) {
  return JavaExceptionGuard(env, jobjectArray(nullptr), [&] {
    SHFILEOPSTRUCTW r = {};
    std::unique_ptr<JavaChars> from, to, title;
    ReadFileOperation(env, object, r, from, to, title);
    const auto n = [](long long v) { return std::to_wstring(v); };
    std::vector<std::wstring> texts = {n(reinterpret_cast<intptr_t>(r.hwnd)), n(r.wFunc), n(r.fFlags),
                                       n(r.fAnyOperationsAborted), n(reinterpret_cast<intptr_t>(r.hNameMappings)),
                                       r.pFrom ? NameList(*from) : L"", r.pTo ? NameList(*to) : L"",
                                       r.lpszProgressTitle ? r.lpszProgressTitle : L""};
    return StringArray(env, texts, {true, true, true, true, true, r.pFrom != nullptr, r.pTo != nullptr,
                                r.lpszProgressTitle != nullptr});
  });
}

// Texts copied into the members whole (at most 260 / 80), so what follows a zero is what followed the name.
JNIEXPORT void JNICALL HOOK(writeFileInfo)(JNIEnv* env, jclass, jobject object, jint icon, jint index,
                                           jint attributes, jstring displayName, jstring typeName) {
  JavaExceptionGuardVoid(env, [&] {
    SHFILEINFOW r = {};
    r.hIcon = reinterpret_cast<HICON>(static_cast<intptr_t>(icon));
    r.iIcon = index;
    r.dwAttributes = static_cast<DWORD>(attributes);
    Fill(env, displayName, r.szDisplayName);
    Fill(env, typeName, r.szTypeName);
    WriteFileInfo(env, object, r);
  });
}

// Writes {data1, data2, data3, {0, 1, ..., 7}} into a GUID object.
JNIEXPORT void JNICALL HOOK(writeGuid)(JNIEnv* env, jclass, jobject object, jint data1, jint data2, jint data3) {
  JavaExceptionGuardVoid(env, [&] {
    GUID g = {static_cast<uint32_t>(data1), static_cast<uint16_t>(data2), static_cast<uint16_t>(data3),
              {0, 1, 2, 3, 4, 5, 6, 7}};
    WriteGuid(env, object, g);
  });
}

}  // extern "C"
