#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/lexical_cast.hpp>
#include <algorithm>

#include "DocfileProperties.h"
#include "MemoryStorage.h"
#include "NarrowText.h"
#include "Properties.h"
#include "PropertyTestSets.h"

using boost::posix_time::ptime;
using boost::posix_time::time_from_string;
using quorvane::DocfileProperties;
using namespace qvtest;

namespace {

std::shared_ptr<MemoryStreamStore> NewStore() { return std::make_shared<MemoryStreamStore>(); }

// Writes raw values into the user-defined set, of types DocfileProperties never writes.
void WriteRaw(const std::shared_ptr<MemoryStreamStore>& store,
              std::initializer_list<std::pair<const wchar_t*, PROPVARIANT>> values) {
  IStorage* storage = NewMemoryStorage(store);
  IPropertySetStorage* sets = nullptr;
  ASSERT_EQ(S_OK, storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets)));
  IPropertyStorage* properties = nullptr;
  HRESULT hr = sets->Open(FMTID_UserDefinedProperties, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &properties);
  if (hr == STG_E_FILENOTFOUND)
    hr = sets->Create(FMTID_UserDefinedProperties, &FMTID_UserDefinedProperties, PROPSETFLAG_ANSI,
                      STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &properties);
  ASSERT_EQ(S_OK, hr);
  for (const auto& [name, value] : values) {
    const PROPSPEC spec = Named(name);
    EXPECT_EQ(S_OK, properties->WriteMultiple(1, &spec, &value, 4096));
  }
  EXPECT_EQ(S_OK, properties->Commit(STGC_DEFAULT));
  properties->Release();
  sets->Release();
  storage->Release();
}

}  // namespace

TEST(DocfileProperties, NumericNamesAddressTheSummarySetAtNumberPlusOne) {
  const auto store = NewStore();
  DocfileProperties document(NewMemoryStorage(store));
  EXPECT_FALSE(document.GetProperty(L"1"));
  document.SetProperty(L"1", L"The title");
  document.SetProperty(L"7", L"Last Author");
  document.SetDateProperty(L"12", time_from_string("2004-03-05 07:08:09.123456"));
  // Microseconds below the millisecond are not kept.
  EXPECT_EQ(time_from_string("2004-03-05 07:08:09.123"), document.GetDateProperty(L"12"));
  EXPECT_EQ(L"Last Author|The title|<absent>", Values(document, {L"7", L"01", L"2"}));  // "01" is 1; "2" is id 3

  EXPECT_EQ(0u, Thrown<std::runtime_error>([&] { document.SetProperty(L"12", L"x"); })
                    .find("exception at DocfileProperties.cpp, line "));
  EXPECT_EQ("12 is not a string property", Why([&] { document.SetProperty(L"12", L"x"); }));
  EXPECT_EQ("7 is not a datetime property", Why([&] { document.GetDateProperty(L"7"); }));
  // Summary properties are never listed; the user-defined set was never made.
  EXPECT_TRUE(document.GetPropertyNames()->empty());
  EXPECT_FALSE(document.HasProperty(L"Title"));
  // Out of 32 bits: the conversion error escapes.
  EXPECT_THROW(document.GetProperty(L"4294967296"), boost::bad_lexical_cast);
}

TEST(DocfileProperties, UserSetIsCreatedOnFirstWriteAndKeepsKindsApart) {
  const auto store = NewStore();
  DocfileProperties document(NewMemoryStorage(store));
  EXPECT_FALSE(document.GetProperty(L"Client"));
  EXPECT_TRUE(document.GetDateProperty(L"Client").is_not_a_date_time());
  EXPECT_TRUE(document.GetPropertyNames()->empty());
  EXPECT_TRUE(store->streams.empty());
  document.RemoveProperty(L"Client");  // creates the empty set, removes nothing
  EXPECT_TRUE(document.GetPropertyNames()->empty());

  document.SetProperty(L"Client", L"Acme \u00e9\u20ac\U0001F600");
  document.SetDateProperty(L"Due", time_from_string("2024-02-29 23:59:59"));
#ifdef _WIN32
  // Each UTF-16 unit narrowed on its own: Latin-1 kept, the rest (surrogate halves too) 0xB6.
  const std::wstring kept = L"Acme \u00e9\u00b6\u00b6\u00b6";
#else
  // Through the ANSI code page: all of it under UTF-8, '?' where a single-byte page has no character.
  const std::wstring kept = GetACP() == CP_UTF8 ? L"Acme \u00e9\u20ac\U0001F600" : L"Acme \u00e9\u20ac?";
#endif
  EXPECT_EQ(kept, Value(document, L"Client"));
  EXPECT_EQ((std::vector<std::wstring>{L"Client", L"Due"}), *document.GetPropertyNames());
  EXPECT_EQ("Due is not a string property", Why([&] { document.SetProperty(L"Due", L"x"); }));
  EXPECT_EQ("Client is not a datetime property", Why([&] { document.SetDateProperty(L"Client", ptime()); }));
  EXPECT_THROW(document.SetDateProperty(L"Due", ptime()), std::invalid_argument);
  EXPECT_THROW(document.SetDateProperty(L"Due", time_from_string("1600-12-31 00:00:00")), std::invalid_argument);
  EXPECT_EQ(time_from_string("2024-02-29 23:59:59"), document.GetDateProperty(L"Due"));
  document.RemoveProperty(L"Due");
  EXPECT_FALSE(document.HasProperty(L"Due"));
  EXPECT_EQ("logic_error : storage", Why<std::logic_error>([] { DocfileProperties none(nullptr); }));
}

// What a snapshot answers for one name: its text, its date-time, or why not.
static std::wstring Answer(const quorvane::IProperties& set, const std::wstring& name) {
  std::wstring answer;
  try {
    answer = Value(set, name);
  } catch (const std::runtime_error&) {
    answer = L"<not text>";
  }
  try {
    answer += L"|" + quorvane::ToWide(boost::posix_time::to_iso_string(set.GetDateProperty(name)));
  } catch (const std::runtime_error&) {
    answer += L"|<not a date>";
  }
  return answer;
}

// Types DocfileProperties never writes, and numeric names, in the document and in a full and a lazy snapshot.
TEST(DocfileProperties, ForeignTypesAreReadAsTheirKindOrRefusedAndSnapshotsSkipThemAlike) {
  const auto store = NewStore();
  PROPVARIANT count{}, flag{};
  count.vt = VT_I4, count.lVal = -5;
  flag.vt = VT_BOOL, flag.boolVal = VARIANT_TRUE;
  // "42" is listed yet unreachable (summary id 43); "1" is the summary set's title.
  WriteRaw(store, {{L"Count", count}, {L"Flag", flag}, {L"Text", Text("t")}, {L"42", Text("t")}, {L"1", Text("t")}});
  DocfileProperties document(NewMemoryStorage(store));
  document.SetProperty(L"1", L"a title");
  document.SetDateProperty(L"When", time_from_string("2004-03-05 07:08:09.750"));

  EXPECT_EQ(L"-5", Value(document, L"Count"));
  EXPECT_THROW(document.GetDateProperty(L"Count"), std::runtime_error);
  EXPECT_EQ("Flag is not a string property", Why([&] { document.GetProperty(L"Flag"); }));
  EXPECT_EQ("Flag is not a datetime property", Why([&] { document.GetDateProperty(L"Flag"); }));
  EXPECT_TRUE(document.HasProperty(L"Flag"));
  const quorvane::NameList names = document.GetPropertyNames();
  EXPECT_NE(names->end(), std::find(names->begin(), names->end(), L"42"));
  EXPECT_FALSE(document.HasProperty(L"42"));  // summary id 43

  const quorvane::Properties full(document);
  const quorvane::LazySnapshot lazy(document);
  EXPECT_EQ((std::vector<std::wstring>{L"1", L"Count", L"Text", L"When"}), *full.GetPropertyNames());
  EXPECT_EQ(*full.GetPropertyNames(), *lazy.GetPropertyNames());
  for (const std::wstring name : {L"Count", L"Flag", L"Text", L"42", L"1", L"When", L"text", L"Missing"})
    EXPECT_EQ(Answer(full, name), Answer(lazy, name)) << quorvane::ToNarrow(name);
  // Text over an integer is allowed and stores text.
  document.SetProperty(L"Count", L"six");
  EXPECT_EQ(L"six", Value(document, L"Count"));

  // A numeric name past 32 bits ends the full copy: the lazy one fails too.
  WriteRaw(store, {{L"99999999999", Text("t")}});
  DocfileProperties again(NewMemoryStorage(store));
  EXPECT_THROW(quorvane::Properties{again}, boost::bad_lexical_cast);
  EXPECT_THROW(quorvane::LazySnapshot{again}, boost::bad_lexical_cast);
}
