#include "Properties.h"

#include <algorithm>

#include "ExceptionReport.h"

namespace quorvane {

namespace {

// The UTF-16 code units of one code point: its first unit, and the second
// one of a surrogate pair (0 for a character of the BMP).
unsigned long FirstUnit(unsigned long cp) { return cp >= 0x10000 && cp <= 0x10FFFF ? 0xD800 + ((cp - 0x10000) >> 10) : cp; }
unsigned long SecondUnit(unsigned long cp) { return cp >= 0x10000 && cp <= 0x10FFFF ? 0xDC00 + ((cp - 0x10000) & 0x3FF) : 0; }

}  // namespace

// Equal characters have equal units, so only the first differing pair of
// characters is mapped to UTF-16: the order of large sets rests on this.
bool Utf16Less::operator()(const std::wstring& a, const std::wstring& b) const {
  if (sizeof(wchar_t) == 2) return a < b;
  const auto differ = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  if (differ.first == a.end()) return differ.second != b.end();
  if (differ.second == b.end()) return false;
  const auto l = static_cast<unsigned long>(*differ.first), r = static_cast<unsigned long>(*differ.second);
  if (FirstUnit(l) != FirstUnit(r)) return FirstUnit(l) < FirstUnit(r);
  return SecondUnit(l) < SecondUnit(r);
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

// ---- LazySnapshot --------------------------------------------------------

LazySnapshot::LazySnapshot(const IProperties& source) : source(source) {
  std::vector<size_t> impure;
  source.VisitPropertyNames([&](std::wstring_view name) {
    const bool pure = source.CopiesPurely(name);
    if (!pure) impure.push_back(listed.size());
    listed.push_back({names.size(), name.size(), pure});
    names.append(name).push_back(L'\0');
  });
  for (const size_t i : impure) source.CopyOneTo(std::wstring(NameOf(listed[i])), copied);
}

// A check that reads a few names scans the list; more lookups pay for an index.
size_t LazySnapshot::IndexOf(std::wstring_view name) const {
  constexpr size_t kScansBeforeIndex = 8;
  if (slots.empty() && ++scans <= kScansBeforeIndex) {
    for (size_t i = 0; i < listed.size(); ++i)
      if (NameOf(listed[i]) == name) return i;
    return listed.size();
  }
  if (slots.empty()) {
    size_t capacity = 16;
    while (capacity < 2 * listed.size()) capacity *= 2;
    slots.assign(capacity, 0);
    for (size_t i = 0; i < listed.size(); ++i) {
      const size_t slot = SlotOf(NameOf(listed[i]));
      if (slots[slot] == 0)
        slots[slot] = i + 1;
      else
        listed[i].pending = false;  // listed twice: the first stands for both, as a scan finds it
    }
  }
  const size_t at = slots[SlotOf(name)];
  return at == 0 ? listed.size() : at - 1;
}

size_t LazySnapshot::SlotOf(std::wstring_view name) const {
  const size_t mask = slots.size() - 1;
  for (size_t slot = std::hash<std::wstring_view>()(name) & mask;; slot = (slot + 1) & mask)
    if (slots[slot] == 0 || NameOf(listed[slots[slot] - 1]) == name) return slot;
}

bool LazySnapshot::Settle(std::wstring_view name) const {
  const size_t at = IndexOf(name);
  if (at == listed.size() || !listed[at].pending) return false;
  listed[at].pending = false;
  return true;
}

void LazySnapshot::Take(const std::wstring& name) const {
  if (Settle(name)) source.CopyOneTo(name, copied);
}

TextHandle LazySnapshot::GetProperty(const std::wstring& name) const {
  Take(name);
  return copied.GetProperty(name);
}

void LazySnapshot::SetProperty(const std::wstring& name, const std::wstring& value) {
  Take(name);
  copied.SetProperty(name, value);
}

boost::posix_time::ptime LazySnapshot::GetDateProperty(const std::wstring& name) const {
  Take(name);
  return copied.GetDateProperty(name);
}

void LazySnapshot::SetDateProperty(const std::wstring& name, const boost::posix_time::ptime& value) {
  Take(name);
  copied.SetDateProperty(name, value);
}

void LazySnapshot::RemoveProperty(const std::wstring& name) {
  Settle(name);
  copied.RemoveProperty(name);
}

bool LazySnapshot::HasProperty(const std::wstring& name) const {
  Take(name);
  return copied.HasProperty(name);
}

NameList LazySnapshot::GetPropertyNames() const {
  for (Listed& name : listed)
    if (name.pending) Take(std::wstring(NameOf(name)));
  return copied.GetPropertyNames();
}

}  // namespace quorvane
