// quorvane::Properties: an in-memory snapshot of another property set, taken
// at one moment and changed freely afterwards without reaching its source.
#pragma once

#include <boost/any.hpp>
#include <map>
#include <string_view>
#include <vector>

#include "IProperties.h"

namespace quorvane {

// Orders names by their UTF-16 code units, as Windows' std::less<std::wstring>
// does, also where wchar_t is UTF-32 (supplementary characters sort as their
// surrogates, before U+E000..U+FFFF).
struct Utf16Less {
  bool operator()(const std::wstring& a, const std::wstring& b) const;
};

// Owns its values (each a std::wstring or a ptime, nothing else). Built
// empty or from another set, through that set's CopyTo. One thread at a time.
class Properties : public IProperties {
 public:
  Properties() = default;
  explicit Properties(const IProperties& source);
  Properties(const Properties& source);
  ~Properties() = default;

  TextHandle GetProperty(const std::wstring& name) const override;
  void SetProperty(const std::wstring& name, const std::wstring& value) override;
  boost::posix_time::ptime GetDateProperty(const std::wstring& name) const override;
  void SetDateProperty(const std::wstring& name, const boost::posix_time::ptime& value) override;
  void RemoveProperty(const std::wstring& name) override;
  bool HasProperty(const std::wstring& name) const override;
  // Ascending UTF-16 code-unit order.
  NameList GetPropertyNames() const override;

 private:
  std::map<std::wstring, boost::any, Utf16Less> properties;
};

// Answers as Properties(source) would, copying each name from source only
// when it is first asked for: a check that reads two names of a set of
// thousands copies two. Names whose copy is not pure are copied at once, so
// the view fails where the full copy would. Source must not change while the
// view is used; one thread.
class LazySnapshot : public IProperties {
 public:
  explicit LazySnapshot(const IProperties& source);
  ~LazySnapshot() = default;

  TextHandle GetProperty(const std::wstring& name) const override;
  void SetProperty(const std::wstring& name, const std::wstring& value) override;
  boost::posix_time::ptime GetDateProperty(const std::wstring& name) const override;
  void SetDateProperty(const std::wstring& name, const boost::posix_time::ptime& value) override;
  void RemoveProperty(const std::wstring& name) override;
  bool HasProperty(const std::wstring& name) const override;
  NameList GetPropertyNames() const override;

 private:
  struct Listed {
    size_t at, length;  // in names
    bool pending;       // listed by source, not copied yet
  };
  std::wstring_view NameOf(const Listed& listed) const { return std::wstring_view(names).substr(listed.at, listed.length); }
  // The position of name in listed, or listed.size().
  size_t IndexOf(std::wstring_view name) const;
  // The slot that holds name, or the empty slot where it would go.
  size_t SlotOf(std::wstring_view name) const;
  // Stops the name from being copied later; whether it was pending.
  bool Settle(std::wstring_view name) const;
  // Copies name now when source listed it and it is not copied yet.
  void Take(const std::wstring& name) const;

  const IProperties& source;
  // The listed names in one buffer, and an open-addressed index over them
  // (position + 1, 0 for none): a set of thousands costs a few allocations,
  // not a string and a node per name.
  std::wstring names;
  mutable std::vector<Listed> listed;
  mutable std::vector<size_t> slots;
  mutable size_t scans = 0;
  mutable Properties copied;
};

}  // namespace quorvane
