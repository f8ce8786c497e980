// IProperties doubles (scripted source, write recorder), tracking record X, PROPSPEC and PROPVARIANT makers.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "IProperties.h"
#include "Properties.h"
#include "Win32Api.h"

namespace qvtest {

// Entries may be of a kind no typed read accepts ("bool") or throw something other than std::runtime_error.
class ScriptedSet : public quorvane::IProperties {
 public:
  enum Kind { Text, Date, Unreadable, LogicFailure };
  struct Entry {
    Kind kind;
    std::wstring text;
    boost::posix_time::ptime date;
  };

  bool listNames = true;
  std::vector<std::pair<std::wstring, Entry>> entries;

  void Add(const std::wstring& name, Kind kind, const std::wstring& text = L"",
           boost::posix_time::ptime date = boost::posix_time::ptime()) {
    entries.push_back({name, Entry{kind, text, date}});
  }

  quorvane::TextHandle GetProperty(const std::wstring& name) const override {
    const Entry* e = Find(name);
    if (e == nullptr) return quorvane::TextHandle();
    if (e->kind == LogicFailure) throw std::logic_error("scripted failure");
    if (e->kind != Text) throw std::runtime_error("not text");
    return quorvane::TextHandle(new std::wstring(e->text));
  }
  void SetProperty(const std::wstring&, const std::wstring&) override { throw std::logic_error("read-only"); }
  boost::posix_time::ptime GetDateProperty(const std::wstring& name) const override {
    const Entry* e = Find(name);
    if (e == nullptr) return boost::posix_time::ptime();
    if (e->kind != Date) throw std::runtime_error("not a date");
    return e->date;
  }
  void SetDateProperty(const std::wstring&, const boost::posix_time::ptime&) override {
    throw std::logic_error("read-only");
  }
  void RemoveProperty(const std::wstring&) override { throw std::logic_error("read-only"); }
  bool HasProperty(const std::wstring& name) const override { return Find(name) != nullptr; }
  quorvane::NameList GetPropertyNames() const override {
    if (!listNames) return quorvane::NameList();
    quorvane::NameList names(new std::vector<std::wstring>());
    for (const auto& e : entries) names->push_back(e.first);
    return names;
  }

 private:
  const Entry* Find(const std::wstring& name) const {
    for (const auto& e : entries)
      if (e.first == name) return &e.second;
    return nullptr;
  }
};

// An empty in-memory set.
inline quorvane::Properties EmptySet() { return quorvane::Properties(ScriptedSet()); }

// Forwards to an inner set, logging writes ("set name=value", "date name", "remove name") in order.
class RecordingSet : public quorvane::IProperties {
 public:
  explicit RecordingSet(quorvane::IProperties& inner) : inner(inner) {}
  std::vector<std::wstring> log;

  quorvane::TextHandle GetProperty(const std::wstring& n) const override { return inner.GetProperty(n); }
  void SetProperty(const std::wstring& n, const std::wstring& v) override {
    log.push_back(L"set " + n + L"=" + v);
    inner.SetProperty(n, v);
  }
  boost::posix_time::ptime GetDateProperty(const std::wstring& n) const override { return inner.GetDateProperty(n); }
  void SetDateProperty(const std::wstring& n, const boost::posix_time::ptime& v) override {
    log.push_back(L"date " + n);
    inner.SetDateProperty(n, v);
  }
  void RemoveProperty(const std::wstring& n) override {
    log.push_back(L"remove " + n);
    inner.RemoveProperty(n);
  }
  bool HasProperty(const std::wstring& n) const override { return inner.HasProperty(n); }
  quorvane::NameList GetPropertyNames() const override { return inner.GetPropertyNames(); }

 private:
  quorvane::IProperties& inner;
};

// The text of the exception f throws as E; fails the test when it throws nothing or something else.
template <typename E, typename F>
std::string Thrown(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  } catch (const std::exception& e) {
    ADD_FAILURE() << "unexpected exception: " << e.what();
    return std::string();
  }
  ADD_FAILURE() << "nothing thrown";
  return std::string();
}

// What f throws as E after its "exception at <file>, line <n> - " report prefix.
template <typename E = std::runtime_error, typename F>
std::string Why(F f) {
  const std::string text = Thrown<E>(f);
  const size_t at = text.find(" - ");
  return at == std::string::npos ? text : text.substr(at + 3);
}

// Property value or "<absent>", for compact expectations.
inline std::wstring Value(const quorvane::IProperties& set, const std::wstring& name) {
  const quorvane::TextHandle v = set.GetProperty(name);
  return v ? *v : std::wstring(L"<absent>");
}

// Several values joined with '|', for one comparison.
inline std::wstring Values(const quorvane::IProperties& set, std::initializer_list<std::wstring> names) {
  std::wstring joined;
  for (const auto& name : names) joined += (&name == names.begin() ? L"" : L"|") + Value(set, name);
  return joined;
}

// A PROPSPEC naming a property (the name must outlive it).
inline PROPSPEC Named(const wchar_t* name) {
  PROPSPEC spec;
  spec.ulKind = PRSPEC_LPWSTR;
  spec.lpwstr = const_cast<wchar_t*>(name);
  return spec;
}

// A VT_LPSTR value pointing at `text` (which must outlive it; never cleared).
inline PROPVARIANT Text(const char* text) {
  PROPVARIANT v{};
  v.vt = VT_LPSTR, v.pszVal = const_cast<char*>(text);
  return v;
}

// Record X: sequence number 4, two unratified ids, no contributors.
const std::wstring kRecordX = L"Xx+/abcdefghijklmnopqQ";

inline void LayRecordX(quorvane::IProperties& set) {
  set.SetProperty(L"Quorvane ExtendedVersionId", kRecordX);
  for (const auto& [name, value] : std::initializer_list<std::pair<const wchar_t*, const wchar_t*>>{
           {L"MetadataVersion", L"1.2"}, {L"DocumentId", L"doc-17"}, {L"VersionId", L"v-4"},
           {L"SequenceNumber", L"4"}, {L"AuthorId", L"alice"}, {L"MasterDocumentId", L"master-3"},
           {L"UrVersionIdsSize", L"2"}, {L"UrVersionId1", L"u-1"}, {L"UrVersionId2", L"u-2"}})
    set.SetProperty(L"Quorvane " + std::wstring(name) + L"." + kRecordX, value);
  set.SetProperty(L"Title", L"kept as it is");
}

}  // namespace qvtest
