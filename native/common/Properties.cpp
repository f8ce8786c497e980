#include "Properties.h"

#include "ExceptionReport.h"

namespace quorvane {

namespace {

// The UTF-16 code units of wide text, one at a time.
class Utf16Units {
 public:
  explicit Utf16Units(const std::wstring& text) : text(text) {}
  bool AtEnd() const { return index == text.size() && pendingLow == 0; }
  unsigned long Next() {
    if (pendingLow != 0) {
      const unsigned long low = pendingLow;
      pendingLow = 0;
      return low;
    }
    const auto cp = static_cast<unsigned long>(text[index++]);
    if (sizeof(wchar_t) > 2 && cp >= 0x10000 && cp <= 0x10FFFF) {
      pendingLow = 0xDC00 + ((cp - 0x10000) & 0x3FF);
      return 0xD800 + ((cp - 0x10000) >> 10);
    }
    return cp;
  }

 private:
  const std::wstring& text;
  size_t index = 0;
  unsigned long pendingLow = 0;
};

}  // namespace

bool Utf16Less::operator()(const std::wstring& a, const std::wstring& b) const {
  if (sizeof(wchar_t) == 2) return a < b;
  Utf16Units left(a), right(b);
  while (!left.AtEnd() && !right.AtEnd()) {
    const unsigned long l = left.Next(), r = right.Next();
    if (l != r) return l < r;
  }
  return left.AtEnd() && !right.AtEnd();
}

Properties::Properties(const IProperties& source) { source.CopyTo(*this); }

// A snapshot of a snapshot is made the same way as any other.
Properties::Properties(const Properties& source) : IProperties() {
  source.CopyTo(*this);
}

TextHandle Properties::GetProperty(const std::wstring& name) const {
  const auto found = properties.find(name);
  if (found == properties.end()) return TextHandle();
  // The pointer form of any_cast tests the held type exactly and never throws.
  const std::wstring* text = boost::any_cast<std::wstring>(&found->second);
  if (text == nullptr) RAISE("Wrong property type");
  return TextHandle(new std::wstring(*text));
}

void Properties::SetProperty(const std::wstring& name, const std::wstring& value) {
  GetProperty(name);
  properties[name] = value;
}

boost::posix_time::ptime Properties::GetDateProperty(const std::wstring& name) const {
  const auto found = properties.find(name);
  if (found == properties.end()) return boost::posix_time::ptime(boost::posix_time::not_a_date_time);
  const boost::posix_time::ptime* time = boost::any_cast<boost::posix_time::ptime>(&found->second);
  if (time == nullptr) RAISE("Wrong property type");
  return *time;
}

void Properties::SetDateProperty(const std::wstring& name, const boost::posix_time::ptime& value) {
  GetDateProperty(name);
  properties[name] = value;
}

void Properties::RemoveProperty(const std::wstring& name) { properties.erase(name); }

bool Properties::HasProperty(const std::wstring& name) const { return properties.count(name) != 0; }

NameList Properties::GetPropertyNames() const {
  NameList names(new std::vector<std::wstring>());
  names->reserve(properties.size());
  for (const auto& entry : properties) names->push_back(entry.first);
  return names;
}

}  // namespace quorvane
