// The settings reader: syntax, escapes, line ends, limits and failures.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "PropertiesFile.h"
#include "SettingsTestSupport.h"

using settings_test::TempFolder;
using settings_test::WriteBytes;

namespace {

typedef std::vector<std::pair<std::wstring, std::wstring>> Pairs;

struct ReadCase {
  const char* name;
  std::string bytes;
  Pairs expected;  // in table order
};

class SettingsFile : public ::testing::Test {
 protected:
  std::wstring Store(const std::string& bytes) {
    const std::string path = folder_.Path() + "/ai.config";
    WriteBytes(path, bytes);
    return settings_test::Wide(path);
  }
  // The table exposes lookups only: each expected pair at its index, and nothing else.
  void Check(const ReadCase& c) {
    SCOPED_TRACE(c.name);
    PropertiesFile file;
    file.Load(Store(c.bytes).c_str());
    EXPECT_EQ(static_cast<int>(c.expected.size()), file.Count());
    for (size_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_EQ(static_cast<int>(i), file.Find(c.expected[i].first.c_str())) << "order of " << i;
      const wchar_t* value = file.Get(c.expected[i].first.c_str());
      EXPECT_EQ(c.expected[i].second, value ? value : L"<null>");
    }
  }
  std::wstring Failure(const std::string& bytes, PropertiesFile& file) { return Failure(file, Store(bytes).c_str()); }
  static std::wstring Failure(PropertiesFile& file, const wchar_t* path) {
    try {
      file.Load(path);
    } catch (const PropertiesException& e) {
      return e.Message();
    }
    return L"<no exception>";
  }
  TempFolder folder_;
};

// Keys, separators, comments, escapes, continuations, line ends; bytes read as Latin-1.
TEST_F(SettingsFile, ReadsEachSyntaxAsTheJavaPropertiesFormatDoesWithItsLimitsAndFailures) {
  const ReadCase cases[] = {
      {"equals", "a=1", {{L"a", L"1"}}},
      {"colon", "a:1", {{L"a", L"1"}}},
      {"blanks around the separator", "a = 1", {{L"a", L"1"}}},
      {"tab and form feed are blanks", "\ta\t=\f1", {{L"a", L"1"}}},
      {"a blank does not end a key", "a 1", {{L"a1", L""}}},
      {"no separator", "a", {{L"a", L""}}},
      {"only the first separator counts", "a==1", {{L"a", L"=1"}}},
      {"trailing blanks stay in the value", "k=v  ", {{L"k", L"v  "}}},
      {"empty key", "=v", {{L"", L"v"}}},
      {"hash and bang", "# x\n! y\na=1", {{L"a", L"1"}}},
      {"a blank before # makes a key", " # x", {{L"#x", L""}}},
      {"# inside a value is text", "a=1 # not a comment", {{L"a", L"1 # not a comment"}}},
      {"a continued comment swallows the next line", "# c \\\n a=1\nb=2", {{L"b", L"2"}}},
      {"escaped blank stays in a key", "k\\ x=1", {{L"k x", L"1"}}},
      {"escaped equals does not end a key", "k\\=x=1", {{L"k=x", L"1"}}},
      {"control escapes", "k=\\t\\n\\r\\f", {{L"k", L"\t\n\r\f"}}},
      {"escaped specials", "k=\\#\\!\\\\\\ ", {{L"k", L"#!\\ "}}},
      {"other characters lose the backslash", "k=\\q\\A", {{L"k", L"qA"}}},
      {"an escaped tab in a key is still a blank", "k\\\tx=1", {{L"kx", L"1"}}},
      {"an escaped tab in a value stays", "k=\\\t1", {{L"k", L"\t1"}}},
      {"a lone backslash at the line end goes", "k=a\\", {{L"k", L"a"}}},
      {"escaped blank before the value is kept", "k=\\  v", {{L"k", L"  v"}}},
      {"four digits", "k=\\u00e9", {{L"k", L"\u00e9"}}},
      {"a fifth digit is consumed, then read again", "k=\\u00411", {{L"k", L"\u04111"}}},
      {"fewer digits at the line end", "k=\\u41", {{L"k", L"A"}}},
      {"resume four after the u", "k=\\u41zzY", {{L"k", L"AY"}}},
      {"no digit stores a NUL that ends the value", "k=a\\uzzzzb", {{L"k", L"a"}}},
      {"NUL ends a key too", "k\\u0000x=1", {{L"k", L"1"}}},
      {"leading blank and 0x prefix are accepted", "k=\\u0x41", {{L"k", L"A"}}},
      {"a sign is accepted", "k=\\u-1", {{L"k", L"\uffff"}}},
      {"low 16 bits of a longer number", "k=\\u12345", {{L"k", L"\u23455"}}},
      {"negative overflow is a NUL", "k=x\\u-FFFFFFFFFF", {{L"k", L"x"}}},
      {"joins and drops leading blanks", "k=a\\\n   b", {{L"k", L"ab"}}},
      {"an even run is an escaped backslash", "k=a\\\\\nb=2", {{L"k", L"a\\"}, {L"b", L"2"}}},
      {"an odd run of three continues", "k=a\\\\\\\n b", {{L"k", L"a\\b"}}},
      {"blank lines after a continuation are swallowed", "k=a\\\r\n\r\n \t b\nc=3", {{L"k", L"ab"}, {L"c", L"3"}}},
      {"continuation at the end of the text", "k=a\\\n", {{L"k", L"a"}}},
      {"continuation inside a key", "ke\\\n  y=1", {{L"key", L"1"}}},
      {"backslash then CR", "k=a\\\rb", {{L"k", L"ab"}}},
      {"LF", "a=1\nb=2", {{L"a", L"1"}, {L"b", L"2"}}},
      {"CR", "a=1\rb=2", {{L"a", L"1"}, {L"b", L"2"}}},
      {"CR LF", "a=1\r\nb=2\r\n", {{L"a", L"1"}, {L"b", L"2"}}},
      {"LF CR is one line end", "a=1\n\rb=2", {{L"a", L"1"}, {L"b", L"2"}}},
      {"LF LF is one line end", "a=1\n\nb=2", {{L"a", L"1"}, {L"b", L"2"}}},
      {"a blank CR LF line is the empty key", "a=1\r\n\r\nb=2", {{L"a", L"1"}, {L"", L""}, {L"b", L"2"}}},
      {"three LF give one empty line", "a=1\n\n\nb=2", {{L"a", L"1"}, {L"", L""}, {L"b", L"2"}}},
      {"an all-blank line is the empty key", "a=1\n  \nb=2", {{L"a", L"1"}, {L"", L""}, {L"b", L"2"}}},
      {"UTF-8 bytes are two characters", "k=\xC3\xA9", {{L"k", L"\u00c3\u00a9"}}},
      {"a byte-order mark is text", "\xEF\xBB\xBFk=1", {{L"\u00ef\u00bb\u00bfk", L"1"}}},
      {"a zero byte ends the text", std::string("a=1\nb=2\0c=3", 11), {{L"a", L"1"}, {L"b", L"2"}}},
      {"an empty file", "", {}},
  };
  for (const auto& c : cases) Check(c);
  // Later values replace, keys are case-sensitive, and Load adds to what the table holds.
  PropertiesFile file;
  file.Set(L"x", L"before");
  file.Load(Store("a=1\nb=2\na=3\nA=4").c_str());
  EXPECT_EQ(4, file.Count());
  EXPECT_EQ(L"1:3 3:4 0:before", std::to_wstring(file.Find(L"a")) + L":" + file.Get(L"a") + L" " +
                                     std::to_wstring(file.Find(L"A")) + L":" + file.Get(L"A") + L" " +
                                     std::to_wstring(file.Find(L"x")) + L":" + file.Get(L"x"));
  EXPECT_EQ(nullptr, file.Get(L"missing"));
  const wchar_t* fallback = L"default";
  EXPECT_EQ(fallback, file.Get(L"missing", fallback)) << "the default pointer itself";
  EXPECT_STREQ(L"2", file.Get(L"b", fallback));
  EXPECT_EQ(-1, file.Find(nullptr));
  // The fifty-first key, invalid \u escapes, files over 100 KiB or unopenable fail; earlier pairs are kept.
  std::string fifty;
  for (int i = 0; i < 50; ++i) fifty += "k" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  PropertiesFile full;
  full.Load(Store(fifty + "k0=again\nk49=again\n").c_str());
  EXPECT_EQ(50, full.Count()) << "replacing values needs no new entry";

  PropertiesFile over;
  EXPECT_EQ(L"Too many properties", Failure(fifty + "k50=x\nk51=y", over));
  EXPECT_EQ(50, over.Count());
  EXPECT_EQ(std::wstring(L"0 49"), std::wstring(over.Get(L"k0")) + L" " + over.Get(L"k49"));
  EXPECT_EQ(nullptr, over.Get(L"k50"));
  EXPECT_THROW(over.Set(L"another", L"v"), PropertiesException);
  over.Set(L"k3", L"replaced");  // an existing key still works
  EXPECT_STREQ(L"replaced", over.Get(L"k3"));

  const char* overflowing[] = {"k=\\uFFFFFFFFFF", "k=\\uFFFFFFFF", "k=\\u7FFFFFFF", "k=\\u80000000"};
  for (const char* text : overflowing) {
    PropertiesFile file;
    EXPECT_EQ(L"couldn't parse property because of an invalid unicode character",
              Failure(std::string("a=1\n") + text + "\nb=2", file))
        << text;
    EXPECT_STREQ(L"1", file.Get(L"a"));
    EXPECT_EQ(nullptr, file.Get(L"b"));
  }
  PropertiesFile justBelow;
  justBelow.Load(Store("k=\\u7FFFFFFE").c_str());
  EXPECT_EQ(std::wstring(L"\xfffe") + L"FFFE", justBelow.Get(L"k"));

  PropertiesFile exact;
  exact.Load(Store("k=" + std::string(102400 - 2, 'v')).c_str());
  EXPECT_EQ(102398u, std::wcslen(exact.Get(L"k"))) << "102,400 bytes are accepted";
  PropertiesFile tooBig;
  EXPECT_EQ(L"file is too big", Failure("k=" + std::string(102401 - 2, 'v'), tooBig));
  EXPECT_EQ(0, tooBig.Count());

  // A missing folder, a folder, no path at all.
  for (const std::wstring& path : {settings_test::Wide(folder_.Path() + "/absent/ai.config"),
                                   settings_test::Wide(folder_.Path()), std::wstring()}) {
    PropertiesFile file;
    EXPECT_EQ(L"couldn't open/create the file", Failure(file, path.empty() ? nullptr : path.c_str()));
  }
  // The exception cuts its message to 127 characters.
  const PropertiesException e(std::wstring(300, L'x').c_str());
  EXPECT_EQ(127u, std::wcslen(e.Message()));
  const PropertiesException copy = e;  // by value
  EXPECT_EQ(std::wstring(127, L'x'), copy.Message());
  EXPECT_STREQ(L"", PropertiesException(nullptr).Message());
}

}  // namespace
