// A set of named properties whose values are text or date-times, whatever
// holds them: a compound document, a java.util.Properties object or an
// in-memory snapshot. Each kind has its own read and write; an operation of
// one kind refuses a property of the other kind with a std::runtime_error.
#pragma once

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/shared_ptr.hpp>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

typedef boost::shared_ptr<std::wstring> TextHandle;
typedef boost::shared_ptr<std::vector<std::wstring>> NameList;

// Contract of every implementation: absent text is an empty handle, an absent
// date-time is not-a-date-time; reads hand out copies. An object is used by
// one thread at a time. Implementations are created and destroyed as their
// own type, so the destructor is protected and not virtual.
class IProperties {
 public:
  // Empty handle when absent; throws std::runtime_error when present but not text.
  virtual TextHandle GetProperty(const std::wstring& name) const = 0;
  // Refuses (before changing anything) a name that holds the other kind.
  virtual void SetProperty(const std::wstring& name, const std::wstring& value) = 0;
  // not-a-date-time when absent; throws std::runtime_error when present but not a date-time.
  virtual boost::posix_time::ptime GetDateProperty(const std::wstring& name) const = 0;
  virtual void SetDateProperty(const std::wstring& name, const boost::posix_time::ptime& value) = 0;
  // An absent name is no error.
  virtual void RemoveProperty(const std::wstring& name) = 0;
  virtual bool HasProperty(const std::wstring& name) const = 0;
  // A new list on each call, in the implementation's order.
  virtual NameList GetPropertyNames() const = 0;
  // Each name GetPropertyNames would list, in its order, to visit; a set
  // may do it without a string per name. The view lasts for the call only.
  virtual void VisitPropertyNames(const std::function<void(std::wstring_view)>& visit) const;
  // The text as the Windows build's typed access reads it from a document:
  // each stored byte of a narrow value as one character. The tripwire is
  // computed over this form so that a document has one tripwire on every
  // build. Sets that do not hold stored bytes answer GetProperty.
  virtual TextHandle GetStoredText(const std::wstring& name) const { return GetProperty(name); }

  // Copies every property of this set into target: the target's old value is
  // removed first, then the text kind is tried, then the date-time kind; a
  // name readable as neither is skipped (and so ends up absent in target).
  // Only std::runtime_error is taken as "not this kind"; anything else ends
  // the copy with the target partly filled.
  void CopyTo(IProperties& target) const;
  // CopyTo's step for one name.
  void CopyOneTo(const std::wstring& name, IProperties& target) const;
  // Whether CopyOneTo of this name only reads, and either copies the name or
  // skips it (never throws but for memory): then it may as well be copied
  // later, when first asked for (see LazySnapshot).
  virtual bool CopiesPurely(std::wstring_view) const { return false; }

 protected:
  IProperties() = default;
  IProperties(const IProperties&) = default;
  IProperties& operator=(const IProperties&) = default;
  ~IProperties() = default;
};

}  // namespace quorvane
