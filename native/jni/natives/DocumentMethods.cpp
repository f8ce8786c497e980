// Win32Impl's compound-document methods: the user-defined and summary
// properties of OLE compound documents to and from java.util.Properties.
// Each answers 0, 1 (the set to be read is missing or empty), the platform's
// negative HRESULT, or E_FAIL with a Java exception pending for a null or
// unsuitable argument.
#include <optional>

#include "DocfileProperties.h"
#include "Exports.h"
#include "FileStore.h"
#include "Guards.h"
#include "JavaChars.h"
#include "Properties.h"
#include "PropertiesWrapper.h"
#include "PropertySetTransfer.h"
#include "PropertyStorage.h"
#include "StragglerDetector.h"
#include "UserPropertiesRead.h"

using namespace quorvane;
using namespace quorvane::jni;

namespace {

void RequireFileName(JNIEnv* env, jstring fileName) {
  if (fileName == nullptr) throw IllegalArgumentException(env, "'fileName' can't be null");
}

}  // namespace

// Reads the user-defined properties into `properties` as text, after the
// straggler check when checkTripwire is set.
extern "C" JNIEXPORT jint JNICALL QV_NATIVE(getCompoundDocumentUserProperties)(JNIEnv* env, jclass, jstring fileName,
                                                                                jobject properties,
                                                                                jboolean checkTripwire) {
  return HResultGuard([&]() -> jint {
    RequireFileName(env, fileName);
    const JavaChars name(env, fileName);
    PropertiesWrapper wrapper(env, properties);
    if (checkTripwire)
      ReadUserPropertiesCheckingTripwire(name.chars, wrapper, CheckStraggler);
    else
      ReadUserProperties(name.chars, wrapper);
    return 0;
  });
}

// Reads the summary information into `properties` under PIDSI names.
extern "C" JNIEXPORT jint JNICALL QV_NATIVE(getCompoundDocumentSummaryProperties)(JNIEnv* env, jclass,
                                                                                   jstring fileName,
                                                                                   jobject properties) {
  return HResultGuard([&]() -> jint {
    RequireFileName(env, fileName);
    DocumentStorage document(JavaChars(env, fileName).chars, ReadDocumentMode);
    const PropertySet summary(document, false, FMTID_SummaryInformation);
    // Built after the open: a null object is only reported for a document that opened.
    PropertiesWrapper wrapper(env, properties);
    summary.ReadInto(wrapper);
    return 0;
  });
}

// mapping: PIDSI name -> user-defined name; each value is copied with its type.
extern "C" JNIEXPORT jint JNICALL QV_NATIVE(copySummaryPropertiesToUserProperties)(JNIEnv* env, jclass,
                                                                                    jstring fileName,
                                                                                    jobject mapping) {
  return HResultGuard([&]() -> jint {
    RequireFileName(env, fileName);
    DocumentStorage document(JavaChars(env, fileName).chars, WriteDocumentMode);
    PropertySet summary(document, false, FMTID_SummaryInformation);
    PropertySet user(document, true, FMTID_UserDefinedProperties, PropertySet::Transacted());
    {
      PropertiesWrapper wrapper(env, mapping);
      CopySummaryToUser(summary, user, wrapper);
    }
    user.Commit(STGC_DEFAULT);
    return 0;
  });
}

// Writes `properties` into the user-defined set as ANSI text; a value of
// "##DEL##" deletes that property (and the key from `properties`). The save
// marks are laid when this write first brings a tracking record in.
extern "C" JNIEXPORT jint JNICALL QV_NATIVE(setCompoundDocumentUserProperties)(JNIEnv* env, jclass, jstring fileName,
                                                                                jobject properties) {
  return HResultGuard([&]() -> jint {
    RequireFileName(env, fileName);
    DocumentStorage document(JavaChars(env, fileName).chars, WriteDocumentMode);
    PropertiesWrapper wrapper(env, properties);
    // The save marks, the deletions and the texts meet in one transacted
    // set and reach the document in one commit, or not at all.
    PropertySet user(document, true, FMTID_UserDefinedProperties, PropertySet::Transacted());
    // The tracking checks read a few names of each side: the document's set
    // is copied only where asked, the Java object is read once, for both.
    JavaEntries entries;
    std::optional<PropertySet> summary;  // held for the save marks' last-save stamp
    {
      document.Storage()->AddRef();  // the typed view holds a reference of its own
      DocfileProperties typed(document.Storage(), user.Properties());
      LazySnapshot before(typed);
      const bool wasTracked = FileStore(before).IsTracked();
      entries = wrapper.ReadEntries();
      if (!wasTracked) {
        EntriesView after(entries);
        if (FileStore(after).IsTracked()) {
          summary.emplace(document, true, FMTID_SummaryInformation, PropertySet::Transacted());
          document.Storage()->AddRef();
          DocfileProperties marking(document.Storage(), user.Properties(), summary->Properties());
          StragglerDetector(marking).RecordSaveMarks();
        }
      }
    }
    const std::vector<std::wstring> deleted = user.WriteFrom(entries);
    user.Commit(STGC_DEFAULT);
    // After the user-defined set: a refused write stamps nothing, and a
    // crash in between leaves marks that no check misreads.
    if (summary) summary->Commit(STGC_DEFAULT);
    for (const std::wstring& key : deleted) wrapper.RemoveProperty(key);
    return 0;
  });
}
