#include "UserPropertiesRead.h"

#include "Logger.h"
#include "PropertyStorage.h"
#include "PropertySetTransfer.h"

namespace quorvane {
namespace jni {

void ReadUserProperties(const WCHAR* fileName, PropertiesWrapper& properties) {
  DocumentStorage document(fileName, ReadDocumentMode);
  const PropertySet user(document, false, FMTID_UserDefinedProperties);
  user.ReadInto(properties);
}

void ReadUserPropertiesCheckingTripwire(const WCHAR* fileName, PropertiesWrapper& properties, StragglerCheck check) {
  if (check(fileName, nullptr) >= 0) {
    ReadUserProperties(fileName, properties);
    return;
  }
  ReadUserProperties(fileName, properties);
  const HRESULT hr = check(fileName, &properties);
  // Result 1 (the read-only pass found a straggler and could not lay the
  // marks) is expected there and not logged.
  if (hr < 0)
    Logger::Instance().LogError(L"Couldn't check the straggler tripwire on '%1' : 0x%2!x!", fileName,
                                static_cast<DWORD>(hr));
}

}  // namespace jni
}  // namespace quorvane
