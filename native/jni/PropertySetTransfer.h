// Moves between a document's property sets and a Java properties object:
// the PIDSI names under which summary properties reach Java, the deletion
// marker, and the copy of chosen summary properties into user-defined ones.
// PropertySet's ReadInto and WriteFrom are implemented with
// these in PropertySetTransfer.cpp.
#pragma once

#include <string>

#include "PropertiesWrapper.h"
#include "PropertyStorage.h"

namespace quorvane {
namespace jni {

// A Java value equal to this deletes the property of that name.
extern const WCHAR* const DeletionMarker;  // "##DEL##"

// The entry's own name when it has one, else the PIDSI name of its id
// ("PIDSI_TITLE" for 2, ...), "(Unknown)" for any other id: the entry's or
// a constant, never a copy.
const WCHAR* SummaryPropertyName(const STATPROPSTG& entry);
// The id of a PIDSI name (exact, case-sensitive); 0 for any other name.
PROPID SummaryPropertyId(const std::wstring& name);

// mapping: summary PIDSI names -> user-defined names. Reads the named
// summary properties with one ReadMultiple (a missing one is VT_EMPTY) and
// writes them, types unchanged, under the user-defined names with one
// WriteMultiple. A key whose value is not a non-empty text fails the write
// (STG_E_INVALIDPARAMETER) and nothing is copied.
void CopySummaryToUser(PropertySet& summary, PropertySet& user, PropertiesWrapper& mapping);

}  // namespace jni
}  // namespace quorvane
