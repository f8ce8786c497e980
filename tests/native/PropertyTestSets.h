// IProperties doubles (failing reads, write recorder), tracking record X, PROPSPEC and PROPVARIANT makers.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "IProperties.h"
#include "Properties.h"
#include "Win32Api.h"

namespace qvtest {

// An in-memory set whose reads of some names fail: an unreadable name (a kind neither typed read accepts, e.g.
// VT_BOOL) throws std::runtime_error, a failing one something else; unlisted, it has no name list.
class ScriptedSet : public quorvane::Properties {
 public:
  bool listNames = true;
  std::set<std::wstring> unreadable, failing;

  void AddUnreadable(const std::wstring& name, bool fails = false) {
    SetProperty(name, L"never read");  // listed and present
    (fails ? failing : unreadable).insert(name);
  }
  quorvane::TextHandle GetProperty(const std::wstring& name) const override {
    if (failing.count(name)) throw std::logic_error("scripted failure");
    if (unreadable.count(name)) throw std::runtime_error("not text");
    return Properties::GetProperty(name);
  }
  boost::posix_time::ptime GetDateProperty(const std::wstring& name) const override {
    if (unreadable.count(name)) throw std::runtime_error("not a date");
    return Properties::GetDateProperty(name);
  }
  quorvane::NameList GetPropertyNames() const override {
    return listNames ? Properties::GetPropertyNames() : quorvane::NameList();
  }
};

// An empty in-memory set.
inline quorvane::Properties EmptySet() { return quorvane::Properties(); }

// An in-memory copy of a set that logs writes ("set name=value", "date name", "remove name") in order.
class RecordingSet : public quorvane::Properties {
 public:
  explicit RecordingSet(const quorvane::IProperties& source) : Properties(source) {}
  std::vector<std::wstring> log;

  void SetProperty(const std::wstring& n, const std::wstring& v) override {
    log.push_back(L"set " + n + L"=" + v);
    Properties::SetProperty(n, v);
  }
  void SetDateProperty(const std::wstring& n, const boost::posix_time::ptime& v) override {
    log.push_back(L"date " + n);
    Properties::SetDateProperty(n, v);
  }
  void RemoveProperty(const std::wstring& n) override {
    log.push_back(L"remove " + n);
    Properties::RemoveProperty(n);
  }
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

// A property as text: "<absent>" when the read fails or finds none, "<type N>" when it is not VT_LPSTR.
inline std::string ReadText(IPropertyStorage* set, const PROPSPEC& spec) {
  PROPVARIANT v;
  const HRESULT hr = set->ReadMultiple(1, &spec, &v);
  const std::string out = hr != S_OK ? "<absent>" : v.vt != VT_LPSTR ? "<type " + std::to_string(v.vt) + ">"
                                                                     : (v.pszVal ? v.pszVal : "<null>");
  PropVariantClear(&v);
  return out;
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
