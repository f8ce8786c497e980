// Test-only natives of com.quorvane.test.TestHooks, never shipped: property layers driven in a real file, a document
// held open as another program would, and the tripwire read with a check that cannot open the document.
#include <jni.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <string>

#include "DateTime.h"
#include "DocfileProperties.h"
#include "Guards.h"
#include "HookSupport.h"
#include "JNIException.h"
#include "JavaChars.h"
#include "PropertiesWrapper.h"
#include "PropertyStorage.h"
#include "UserPropertiesRead.h"

using namespace quorvane;
using namespace quorvane::jni;
using namespace quorvane::jni::hooks;

#define HOOK(name) Java_com_quorvane_test_TestHooks_##name

namespace {

FILETIME FileTimeOf(unsigned long long ticks) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

// The summary's last-save time as the exact ticks given, below the typed access's millisecond precision.
jstring WriteSaveTicks(JNIEnv* env, jstring path, jstring value) {
  DocumentStorage document(JavaChars(env, path).chars, WriteDocumentMode);
  PropertySet summary(document, true, FMTID_SummaryInformation);
  PROPSPEC spec{};
  spec.ulKind = PRSPEC_PROPID;
  spec.propid = PIDSI_LASTSAVE_DTM;
  PROPVARIANT time{};
  time.vt = VT_FILETIME;
  time.filetime = FileTimeOf(std::stoull(Text(env, value)));
  const HRESULT hr = summary.Properties()->WriteMultiple(1, &spec, &time, 4096);
  if (FAILED(hr)) throw HResultException(hr);
  summary.Commit(STGC_DEFAULT);
  return nullptr;
}

HRESULT SharingViolation(const WCHAR*, IProperties*) { return STG_E_SHAREVIOLATION; }

}  // namespace

extern "C" {

// Opens the document with mode (a writer takes the writer lock); a handle for release(), or the failing HRESULT.
JNIEXPORT jlong JNICALL HOOK(hold)(JNIEnv* env, jclass, jstring path, jint mode) {
  DocumentStorage* held = nullptr;
  const jint hr = HResultGuard([&]() -> jint {
    held = new DocumentStorage(JavaChars(env, path).chars, static_cast<DWORD>(mode));
    return 0;
  });
  return hr == 0 ? reinterpret_cast<jlong>(held) : static_cast<jlong>(hr);
}

JNIEXPORT void JNICALL HOOK(release)(JNIEnv*, jclass, jlong handle) {
  delete reinterpret_cast<DocumentStorage*>(handle);
}

// getCompoundDocumentUserProperties(path, properties, true) with a check that always meets a sharing violation.
JNIEXPORT jint JNICALL HOOK(readWithUnopenableCheck)(JNIEnv* env, jclass, jstring path, jobject properties) {
  return HResultGuard([&]() -> jint {
    PropertiesWrapper wrapper(env, properties);
    ReadUserPropertiesCheckingTripwire(JavaChars(env, path).chars, wrapper, SharingViolation);
    return 0;
  });
}

// Whether the user-defined set is stored in code page 1200.
JNIEXPORT jboolean JNICALL HOOK(userSetIsUnicode)(JNIEnv* env, jclass, jstring path) {
  return JavaExceptionGuard(env, jboolean(JNI_FALSE), [&]() -> jboolean {
    DocumentStorage document(JavaChars(env, path).chars, ReadDocumentMode);
    return PropertySet(document, false, FMTID_UserDefinedProperties).IsUnicode() ? JNI_TRUE : JNI_FALSE;
  });
}

// op 1 Set, 2 GetDate, 3 SetDate, 4 Remove (Property; dates as FILETIME ticks), 5 the last-save ticks as others write.
JNIEXPORT jstring JNICALL HOOK(docfile)(JNIEnv* env, jclass, jstring path, jboolean write, jint op, jstring name,
                                        jstring value) {
  return JavaExceptionGuard(env, jstring(nullptr), [&]() -> jstring {
    if (op == 5) return WriteSaveTicks(env, path, value);
    const DWORD mode = write ? (STGM_READWRITE | STGM_SHARE_EXCLUSIVE) : (STGM_READ | STGM_SHARE_DENY_WRITE);
    IStorage* storage = nullptr;
    const HRESULT hr = StgOpenStorage(JavaChars(env, path).chars, nullptr, mode, nullptr, 0, &storage);
    if (FAILED(hr)) throw HResultException(hr);
    DocfileProperties document(storage);
    const std::wstring key = Text(env, name);
    switch (op) {
      case 1: document.SetProperty(key, Text(env, value)); return nullptr;
      case 2: {
        const boost::posix_time::ptime time = document.GetDateProperty(key);
        if (time.is_not_a_date_time()) return nullptr;
        const SYSTEMTIME st = ToSystemTime(time);
        FILETIME ft;
        SystemTimeToFileTime(&st, &ft);
        const unsigned long long ticks = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
        return NewJavaString(env, std::to_wstring(ticks));
      }
      case 3: document.SetDateProperty(key, FromFileTime(FileTimeOf(std::stoull(Text(env, value))))); return nullptr;
      case 4: document.RemoveProperty(key); return nullptr;
      default: return nullptr;
    }
  });
}

}  // extern "C"
