#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "Properties.h"
#include "PropertyTestSets.h"

using boost::posix_time::ptime;
using boost::posix_time::time_from_string;
using quorvane::Properties;
using namespace qvtest;

namespace {
const ptime kNoon = time_from_string("2004-03-05 12:00:00.123456");
}

TEST(Properties, EachKindRefusesTheOtherAndNamesAreExactInUtf16Order) {
  Properties set = EmptySet();
  set.SetProperty(L"text", L"hello");
  set.SetDateProperty(L"when", kNoon);

  EXPECT_EQ(0u, Thrown<std::runtime_error>([&] { set.SetProperty(L"when", L"x"); })
                    .find("exception at Properties.cpp, line "));
  EXPECT_EQ("Wrong property type", Why([&] { set.SetProperty(L"when", L"x"); }));
  EXPECT_EQ(kNoon, set.GetDateProperty(L"when"));

  EXPECT_EQ("Wrong property type", Why([&] { set.SetDateProperty(L"text", kNoon); }));
  EXPECT_EQ(L"hello", Value(set, L"text"));
  EXPECT_THROW(set.GetProperty(L"when"), std::runtime_error);
  EXPECT_THROW(set.GetDateProperty(L"text"), std::runtime_error);

  // Same kind replaces; absent names read as absent without throwing.
  set.SetProperty(L"text", L"again");
  EXPECT_EQ(L"again", Value(set, L"text"));
  EXPECT_FALSE(set.GetProperty(L"missing"));
  EXPECT_TRUE(set.GetDateProperty(L"missing").is_not_a_date_time());
  EXPECT_NO_THROW(set.RemoveProperty(L"missing"));
  EXPECT_TRUE(set.HasProperty(L"text") && set.HasProperty(L"when"));
  set.RemoveProperty(L"when");
  EXPECT_FALSE(set.HasProperty(L"when"));
  // Once removed, the name takes either kind; reads hand out copies.
  set.SetProperty(L"when", L"now text");
  *set.GetProperty(L"when") = L"changed through the handle";
  EXPECT_EQ(L"now text", Value(set, L"when"));
  // A snapshot of a snapshot is independent of it.
  Properties copy(set);
  copy.RemoveProperty(L"text");
  EXPECT_EQ(L"again", Value(set, L"text"));
  // Names are exact and listed in UTF-16 order.
  set = EmptySet();
  for (const wchar_t* name : {L"b", L"B", L"a", L"", L"Z", L"\uE000", L"\U0001F600", L"ab"})
    set.SetProperty(name, name);
  EXPECT_EQ(L"b|B|", Values(set, {L"b", L"B", L""}));
  // Upper case before lower case; a supplementary character (a surrogate pair in UTF-16) before U+E000.
  EXPECT_EQ((std::vector<std::wstring>{L"", L"B", L"Z", L"a", L"ab", L"b", L"\U0001F600", L"\uE000"}),
            *set.GetPropertyNames());
}

TEST(PropertiesCopy, CopiesBothKindsSkipsWhatNeitherReadAcceptsAndStopsOnOtherFailures) {
  ScriptedSet source;
  source.SetProperty(L"title", L"Report");
  source.SetDateProperty(L"saved", kNoon);
  source.AddUnreadable(L"flag");

  Properties target = EmptySet();
  target.SetProperty(L"flag", L"old value");
  target.SetDateProperty(L"title", kNoon);  // other kind: removed before the copy
  target.SetProperty(L"only in target", L"stays");

  source.CopyTo(target);
  EXPECT_EQ(L"Report|<absent>|stays", Values(target, {L"title", L"flag", L"only in target"}));
  EXPECT_EQ(kNoon, target.GetDateProperty(L"saved"));

  // A snapshot holds the same names with the same kinds.
  const Properties snapshot(source);
  EXPECT_EQ((std::vector<std::wstring>{L"saved", L"title"}), *snapshot.GetPropertyNames());
  EXPECT_THROW(snapshot.GetProperty(L"saved"), std::runtime_error);
  EXPECT_EQ(L"Report", Value(snapshot, L"title"));
  // Failures other than runtime errors stop the copy.
  ScriptedSet failing;
  failing.SetProperty(L"a", L"first");
  failing.AddUnreadable(L"b", true);
  failing.SetProperty(L"c", L"never copied");
  target = EmptySet();
  target.SetProperty(L"b", L"old");
  EXPECT_THROW(failing.CopyTo(target), std::logic_error);
  EXPECT_EQ(L"first|<absent>|<absent>", Values(target, {L"a", L"b", L"c"}));  // b removed before the failing read

  ScriptedSet unlisted;
  unlisted.listNames = false;
  EXPECT_EQ("runtime_error : propertyNames", Why([&] { unlisted.CopyTo(target); }));
  EXPECT_EQ(L"first", Value(target, L"a"));
}
