// Reading a document's user-defined properties into a Java object, with or
// without the straggler check first. Shared by the native method and by the
// test hooks, which give the check a stand-in to reach its failure paths.
#pragma once

#include "PropertiesWrapper.h"
#include "Win32Api.h"

namespace quorvane {
namespace jni {

// The file-level straggler check (CheckStraggler or a stand-in).
typedef HRESULT (*StragglerCheck)(const WCHAR* fileName, IProperties* target);

// Opens the document for shared reading and hands the user-defined set to
// the Java object. HResultException: the open's code, or 1 when the set is
// missing or empty.
void ReadUserProperties(const WCHAR* fileName, PropertiesWrapper& properties);

// The check on the document itself, then the read, so the Java object sees
// what the check wrote. When the document cannot be opened for the check
// (open elsewhere), the read comes first and the check runs again read-only
// with the Java object as its target; a failure to open for that is logged.
void ReadUserPropertiesCheckingTripwire(const WCHAR* fileName, PropertiesWrapper& properties, StragglerCheck check);

}  // namespace jni
}  // namespace quorvane
