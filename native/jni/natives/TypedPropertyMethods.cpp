// The docprops tool's own native methods (com.quorvane.tools.TypedProperties):
// every property with its stored type, where Win32Impl's methods hand over
// text and dates only, and typed values written back. Listed with their
// stdcall argument byte counts in native/jni/tool-exports.txt.
#include <string>

#include "Guards.h"
#include "JavaArrayElements.h"
#include "JavaChars.h"
#include "PropertyStorage.h"
#include "TypedValues.h"

#define QV_TOOL_NATIVE(method) Java_com_quorvane_tools_TypedProperties_##method

using namespace quorvane::jni;

// Packs the summary set, then the user-defined set, into a byte[] stored at
// result[0]; a set that cannot be read gets its HRESULT in its place. Binary
// values carry their bytes only `withBytes`. Answers 0, or the HRESULT of a
// document that cannot be opened.
extern "C" JNIEXPORT jint JNICALL QV_TOOL_NATIVE(read)(JNIEnv* env, jclass, jstring fileName, jboolean withBytes,
                                                       jobjectArray result) {
  return HResultGuard([&]() -> jint {
    if (fileName == nullptr || result == nullptr || env->GetArrayLength(result) < 1)
      throw IllegalArgumentException(env, "'fileName' and 'result' can't be null or empty");
    DocumentStorage document(JavaChars(env, fileName).chars, ReadDocumentMode);
    std::string packed;
    for (const FMTID* fmtid : {&FMTID_SummaryInformation, &FMTID_UserDefinedProperties}) {
      const size_t start = packed.size();
      try {
        const PropertySet set(document, false, *fmtid);
        PackSet(set, withBytes != JNI_FALSE, packed);
      } catch (const HResultException& e) {
        packed.resize(start);
        PackStatus(e.hr(), packed);
      }
    }
    jbyteArray bytes = env->NewByteArray(static_cast<jsize>(packed.size()));
    if (bytes == nullptr) throw JNIException();
    env->SetByteArrayRegion(bytes, 0, static_cast<jsize>(packed.size()), reinterpret_cast<const jbyte*>(packed.data()));
    env->SetObjectArrayElement(result, 0, bytes);
    env->DeleteLocalRef(bytes);
    if (env->ExceptionCheck()) throw JNIException();
    return 0;
  });
}

// Writes packed typed values (and deletions) into the user-defined set in one
// commit. Answers 0 or the HRESULT.
extern "C" JNIEXPORT jint JNICALL QV_TOOL_NATIVE(write)(JNIEnv* env, jclass, jstring fileName, jbyteArray changes) {
  return HResultGuard([&]() -> jint {
    if (fileName == nullptr || changes == nullptr)
      throw IllegalArgumentException(env, "'fileName' and 'changes' can't be null");
    DocumentStorage document(JavaChars(env, fileName).chars, WriteDocumentMode);
    PropertySet user(document, true, FMTID_UserDefinedProperties, PropertySet::Transacted());
    {
      const JavaArrayElements<jbyte> bytes(env, changes, ArrayUse::kReadOnly);
      WritePacked(user, reinterpret_cast<const unsigned char*>(bytes.elements),
                  static_cast<size_t>(bytes.Length()));
    }
    user.Commit(STGC_DEFAULT);
    return 0;
  });
}
