#include "IProperties.h"

#include "ExceptionReport.h"

namespace quorvane {

void IProperties::CopyTo(IProperties& target) const {
  const NameList propertyNames = GetPropertyNames();
  CHECK(runtime_error, propertyNames);

  for (const std::wstring& name : *propertyNames) CopyOneTo(name, target);
}

void IProperties::VisitPropertyNames(const std::function<void(std::wstring_view)>& visit) const {
  const NameList propertyNames = GetPropertyNames();
  CHECK(runtime_error, propertyNames);
  for (const std::wstring& name : *propertyNames) visit(name);
}

void IProperties::CopyOneTo(const std::wstring& name, IProperties& target) const {
  target.RemoveProperty(name);
  try {
    const TextHandle value = GetProperty(name);
    // A listed name without a value (a document entry stored as VT_EMPTY)
    // has nothing to copy: it stays absent in the target.
    if (!value) return;
    target.SetProperty(name, *value);
  } catch (const std::runtime_error&) {
    try {
      target.SetDateProperty(name, GetDateProperty(name));
    } catch (const std::runtime_error&) {
      // Neither text nor date-time: skipped.
    }
  }
}

}  // namespace quorvane
