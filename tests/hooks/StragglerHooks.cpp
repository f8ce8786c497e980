// Test-only natives of com.quorvane.test.StragglerHooks: hold a document open
// the way another program would, and run the tripwire read with a stand-in
// check that cannot open the document, to reach the logged failure. Never
// shipped.
#include <jni.h>

#include "Guards.h"
#include "JavaChars.h"
#include "PropertiesWrapper.h"
#include "PropertyStorage.h"
#include "UserPropertiesRead.h"

using namespace quorvane;
using namespace quorvane::jni;

#define HOOK(name) Java_com_quorvane_test_StragglerHooks_##name

namespace {

HRESULT SharingViolation(const WCHAR*, IProperties*) { return STG_E_SHAREVIOLATION; }

}  // namespace

extern "C" {

// Opens the document with mode (a writer also takes the writer lock);
// answers a handle for release(), or 0 with the HRESULT in result[0].
JNIEXPORT jlong JNICALL HOOK(hold)(JNIEnv* env, jclass, jstring path, jint mode) {
  DocumentStorage* held = nullptr;
  const jint hr = HResultGuard([&]() -> jint {
    JavaChars name(env, path);
    held = new DocumentStorage(name.chars, static_cast<DWORD>(mode));
    return 0;
  });
  return hr == 0 ? reinterpret_cast<jlong>(held) : static_cast<jlong>(hr);
}

JNIEXPORT void JNICALL HOOK(release)(JNIEnv*, jclass, jlong handle) {
  delete reinterpret_cast<DocumentStorage*>(handle);
}

// getCompoundDocumentUserProperties(path, properties, true) with a check
// that always meets a sharing violation.
JNIEXPORT jint JNICALL HOOK(readWithUnopenableCheck)(JNIEnv* env, jclass, jstring path, jobject properties) {
  return HResultGuard([&]() -> jint {
    JavaChars name(env, path);
    PropertiesWrapper wrapper(env, properties);
    ReadUserPropertiesCheckingTripwire(name.chars, wrapper, SharingViolation);
    return 0;
  });
}

}  // extern "C"
