#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/lexical_cast.hpp>

#include "Digest.h"
#include "NarrowText.h"
#include "StragglerDetector.h"
#include "PropertyTestSets.h"

using boost::posix_time::ptime;
using boost::posix_time::time_from_string;
using quorvane::StragglerDetector;
using namespace qvtest;

namespace {

const ptime kSaved = time_from_string("2024-05-06 07:08:09.123456");
// U+00EB and a character beyond the BMP (a surrogate pair in UTF-16).
const std::wstring kAuthor = L"Jane Do\u00eb \U0001D11E";

// A summary as a DocfileProperties shows it, plus record X.
quorvane::Properties TrackedDocument() {
  quorvane::Properties set = EmptySet();
  LayRecordX(set);
  set.SetProperty(L"7", kAuthor);
  set.SetDateProperty(L"12", kSaved);
  set.SetProperty(L"13", L"3");
  set.SetProperty(L"14", L"250");
  set.SetProperty(L"15", L"1400");
  return set;
}

}  // namespace

// A full record's digest is checked against POI's reading by StragglerCheckTest; here, what absent values add.
// The platform's digests against the published test vectors (RFC 1321, FIPS 180-2).
TEST(Digest, KnownVectorsOnEveryPlatform) {
  const std::string million(1000000, 'a');
  struct Row {
    std::string input, md5, sha256;
  } rows[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {million, "7707d6ae4e027c70eea2a935c2296f21", "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  const auto hex = [](const auto& digest) {
    std::string text;
    for (unsigned char b : digest) {
      text += "0123456789abcdef"[b >> 4];
      text += "0123456789abcdef"[b & 15];
    }
    return text;
  };
  for (const Row& row : rows) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(row.input.data());
    EXPECT_EQ(row.md5, hex(quorvane::ComputeMd5(bytes, row.input.size()))) << row.input.size();
    EXPECT_EQ(row.sha256, hex(quorvane::ComputeSha256(bytes, row.input.size()))) << row.input.size();
  }
}

TEST(Tripwire, AbsentValuesAddNothing) {
  quorvane::Properties set = TrackedDocument();
  for (const wchar_t* name : {L"12", L"13", L"14", L"15"}) set.RemoveProperty(name);
  EXPECT_EQ(L"lueYlqSYio6YTKxXbIepqA", quorvane::ComputeTripwire(set));
  quorvane::Properties empty = EmptySet();
  EXPECT_EQ(L"1B2M2Y8AsgTpgAmY7PhCfg", quorvane::ComputeTripwire(empty));  // MD5 of no bytes
}

TEST(StragglerDetector, ComparesMarksTimeFirstThenAuthorRewritesThemAndValidatesTheVersion) {
  quorvane::Properties set = TrackedDocument();
  StragglerDetector detector(set);
  EXPECT_FALSE(detector.IsStraggler()) << "no marks: never a straggler";

  detector.RecordSaveMarks();
  EXPECT_EQ(kSaved, set.GetDateProperty(L"sorrel_save"));
  EXPECT_EQ(kAuthor, Value(set, L"Quorvane LastSavedBy"));
  EXPECT_FALSE(detector.IsStraggler());

  set.SetDateProperty(L"12", kSaved + boost::posix_time::milliseconds(1));
  EXPECT_TRUE(detector.IsStraggler()) << "saved again outside";
  set.SetDateProperty(L"12", kSaved);
  set.SetProperty(L"7", L"jane do\u00eb \U0001D11E");
  EXPECT_TRUE(detector.IsStraggler()) << "author compared case-sensitively";

  set.RemoveProperty(L"sorrel_save");
  EXPECT_TRUE(detector.IsStraggler()) << "author mark alone still counts";
  set.RemoveProperty(L"7");
  EXPECT_FALSE(detector.IsStraggler()) << "no last author: nothing to compare";

  // A wrong-typed value is no mismatch, not an error.
  set.SetProperty(L"7", kAuthor);
  set.RemoveProperty(L"12");
  set.SetProperty(L"12", L"not a date");
  set.SetDateProperty(L"sorrel_save", kSaved);
  EXPECT_FALSE(detector.IsStraggler());
  // Marks are rewritten whatever their old type, the time stamped when missing.
  set = TrackedDocument();
  set.SetProperty(L"sorrel_save", L"text left by someone");
  set.SetProperty(L"Quorvane LastSavedBy", L"old");
  set.RemoveProperty(L"12");
  set.RemoveProperty(L"7");
  const ptime before = boost::posix_time::microsec_clock::universal_time();
  detector.RecordSaveMarks();
  const ptime stamped = set.GetDateProperty(L"12");
  EXPECT_TRUE(before <= stamped && stamped <= boost::posix_time::microsec_clock::universal_time());
  EXPECT_EQ(stamped, set.GetDateProperty(L"sorrel_save"));
  EXPECT_FALSE(set.HasProperty(L"Quorvane LastSavedBy")) << "no last author: the mark stays removed";

  set.SetProperty(L"Quorvane Tripwire", L"t");
  detector.ClearSaveMarks();
  for (const wchar_t* name : {L"sorrel_save", L"Quorvane LastSavedBy", L"Quorvane Tripwire"})
    EXPECT_FALSE(set.HasProperty(name));
  EXPECT_TRUE(set.HasProperty(L"12"));
  // The record accessor's float rule: what GetMetadataVersion reads (trailing blanks too) passes, else it throws.
  const std::pair<const wchar_t*, bool> cases[] = {{L"", false}, {L"one point two", false}, {L"1,2", false},
                                                   {L" 1.2", false}, {L"1.2", true}, {L"1.2 ", true},
                                                   {L"1.2\t", true}, {L"2", true}};
  for (const auto& [text, valid] : cases) {
    SCOPED_TRACE(quorvane::ToNarrow(text));
    quorvane::Properties set = TrackedDocument();
    set.SetProperty(L"Quorvane MetadataVersion." + kRecordX, text);
    set.SetProperty(L"Quorvane LastSavedBy", L"someone else");
    StragglerDetector detector(set);
    if (!valid) {
      EXPECT_THROW(detector.IsStraggler(), boost::bad_lexical_cast);
      continue;
    }
    ASSERT_TRUE(detector.IsStraggler());
    detector.RecordStragglerVersion(nullptr);
    EXPECT_NE(kRecordX, Value(set, L"Quorvane ExtendedVersionId"));
  }
}
