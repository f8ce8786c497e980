// The property-set stream codec against the fixtures and against itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CfbTestSupport.h"
#include "Win32Api.h"
#include "posix/storage/props/PropertySetStream.h"
#include "posix/storage/props/TypedValueCodec.h"

using quorvane::posix::DecodeTypedValue;
using quorvane::posix::EncodeTypedValue;
using quorvane::posix::PropertySetStream;
using quorvane::posix::TextCodePages;

namespace {

const char* const kFixturesWithSets[] = {
    "Office365BlankSample_v2507.doc",   "Office365BlankSample_v2507.xls", "LibreOfficeBlankSample_v25.8.doc",
    "LibreOfficeBlankSample_v25.8.xls", "LibreOfficeBlankSample_v25.8.ppt", "2custom.doc",
    "winUnicodeDictionary.doc",         "no_codepage.doc",                  "report.xls",
    "SampleWorkBook_bug98.xls"};
const char16_t* const kStreams[] = {u"\005SummaryInformation", u"\005DocumentSummaryInformation"};

using cfbtest::FixtureStream;

// Owns a decoded value for the test's duration.
struct Value {
  PROPVARIANT v{};
  ~Value() { PropVariantClear(&v); }
};

// Encodes `value` into `bytes` and decodes them again into `out`.
HRESULT RoundTrip(const PROPVARIANT& value, const TextCodePages& cps, std::vector<uint8_t>& bytes, Value& out) {
  size_t used = 0;
  bytes.clear();
  const HRESULT hr = EncodeTypedValue(value, cps, bytes);
  return FAILED(hr) ? hr : DecodeTypedValue(bytes.data(), bytes.size(), cps, out.v, used);
}

}  // namespace

TEST(PropsCodec, FixtureStreamsAndEveryValueTypeRoundTrip) {
  int streams = 0;
  for (const char* file : kFixturesWithSets) {
    for (const char16_t* name : kStreams) {
      const std::vector<uint8_t> bytes = FixtureStream(file, name);
      if (bytes.empty()) continue;
      ++streams;
      SCOPED_TRACE(std::string(file) + (name[1] == u'S' ? " summary" : " document summary"));
      PropertySetStream stream;
      ASSERT_EQ(S_OK, PropertySetStream::Parse(bytes, stream));
      EXPECT_EQ(bytes, stream.Serialize()) << "an untouched stream is written back byte for byte";
      // What a re-laid stream holds is compared with POI and olefile by props_poi.
      const std::vector<uint8_t> relaid = stream.Serialize(true);
      PropertySetStream again;
      ASSERT_EQ(S_OK, PropertySetStream::Parse(relaid, again));
      EXPECT_EQ(relaid, again.Serialize(true)) << "layout is stable";
      EXPECT_EQ(0u, relaid.size() % 4);
    }
  }
  EXPECT_EQ(19, streams) << "fixtures moved?";
  // Every value type round-trips in every code page; narrow text is converted.
  static wchar_t wide[] = L"w\u00e9\u4e2d\U0001F600";
  static char narrow[] = "plain";
  static BYTE blobBytes[] = {1, 2, 3, 4, 5};
  static BYTE clipBytes[] = {9, 8, 7};
  static CLSID clsid = FMTID_SummaryInformation;
  static CLIPDATA clip = {sizeof(LONG) + sizeof clipBytes, -1, clipBytes};
  static SHORT shorts[] = {1, -2, 3};
  static LPSTR strings[] = {narrow, narrow + 2, nullptr};
  static FILETIME times[] = {{1, 2}, {3, 4}};
  static PROPVARIANT variants[3] = {};
  variants[0].vt = VT_LPSTR, variants[0].pszVal = narrow;
  variants[1].vt = VT_I4, variants[1].lVal = 1;
  variants[2].vt = VT_LPWSTR, variants[2].pwszVal = wide;

  std::vector<PROPVARIANT> values;
  auto add = [&](VARTYPE vt, auto setter) {
    PROPVARIANT v{};
    v.vt = vt;
    setter(v);
    values.push_back(v);
  };
  add(VT_EMPTY, [](PROPVARIANT&) {}); add(VT_NULL, [](PROPVARIANT&) {});
  add(VT_I1, [](PROPVARIANT& v) { v.cVal = -5; }); add(VT_UI1, [](PROPVARIANT& v) { v.bVal = 250; });
  add(VT_I2, [](PROPVARIANT& v) { v.iVal = -535; }); add(VT_UI2, [](PROPVARIANT& v) { v.uiVal = 65001; });
  add(VT_I4, [](PROPVARIANT& v) { v.lVal = -123456; }); add(VT_UI4, [](PROPVARIANT& v) { v.ulVal = 0xDEADBEEF; });
  add(VT_I8, [](PROPVARIANT& v) { v.hVal.QuadPart = -(1LL << 40); });
  add(VT_R4, [](PROPVARIANT& v) { v.fltVal = 1.5f; }); add(VT_R8, [](PROPVARIANT& v) { v.dblVal = -2.25; });
  add(VT_BOOL, [](PROPVARIANT& v) { v.boolVal = VARIANT_TRUE; });
  add(VT_ERROR, [](PROPVARIANT& v) { v.scode = E_FAIL; });
  add(VT_FILETIME, [](PROPVARIANT& v) { v.filetime = {0x89ABCDEF, 0x01C9D5E3}; });
  add(VT_CLSID, [](PROPVARIANT& v) { v.puuid = &clsid; }); add(VT_LPSTR, [](PROPVARIANT& v) { v.pszVal = narrow; });
  add(VT_LPSTR, [](PROPVARIANT& v) { v.pszVal = nullptr; }); add(VT_LPWSTR, [](PROPVARIANT& v) { v.pwszVal = wide; });
  add(VT_BLOB, [](PROPVARIANT& v) { v.blob = {sizeof blobBytes, blobBytes}; });
  add(VT_CF, [](PROPVARIANT& v) { v.pclipdata = &clip; });
  add(VT_VECTOR | VT_I2, [](PROPVARIANT& v) { v.cai = {3, shorts}; });
  add(VT_VECTOR | VT_LPSTR, [](PROPVARIANT& v) { v.calpstr = {3, strings}; });
  add(VT_VECTOR | VT_FILETIME, [](PROPVARIANT& v) { v.cafiletime = {2, times}; });
  add(VT_VECTOR | VT_VARIANT, [](PROPVARIANT& v) { v.capropvar = {3, variants}; });

  for (UINT cp : {1252u, 65001u, 1200u}) {
    for (const PROPVARIANT& original : values) {
      SCOPED_TRACE("code page " + std::to_string(cp) + " type " + std::to_string(original.vt));
      const TextCodePages cps{cp, 65001};
      std::vector<uint8_t> bytes;
      ASSERT_EQ(S_OK, EncodeTypedValue(original, cps, bytes));
      EXPECT_EQ(0u, bytes.size() % 4);
      Value decoded;
      size_t used = 0;
      ASSERT_EQ(S_OK, DecodeTypedValue(bytes.data(), bytes.size(), cps, decoded.v, used));
      EXPECT_EQ(bytes.size(), (used + 3) / 4 * 4) << "only padding follows the value";
      EXPECT_EQ(original.vt, decoded.v.vt);
      std::vector<uint8_t> again;  // re-encoding what was decoded: nothing was lost
      ASSERT_EQ(S_OK, EncodeTypedValue(decoded.v, cps, again));
      EXPECT_EQ(bytes, again);
    }
  }
  // Spot checks of decoded contents.
  std::vector<uint8_t> bytes;
  Value w, vec;
  ASSERT_EQ(S_OK, RoundTrip(values[17], TextCodePages{1252, 65001}, bytes, w));
  EXPECT_STREQ(wide, w.v.pwszVal) << "VT_LPWSTR is UTF-16 whatever the code page, supplementary characters too";
  ASSERT_EQ(S_OK, RoundTrip(values[23], TextCodePages{1200, 65001}, bytes, vec));
  ASSERT_EQ(3u, vec.v.capropvar.cElems);
  EXPECT_STREQ("plain", vec.v.capropvar.pElems[0].pszVal);
  EXPECT_EQ(1, vec.v.capropvar.pElems[1].lVal);
  // Narrow caller text (UTF-8 here) is converted to the set's code page; what the set cannot hold is refused, not
  // replaced, and so is caller text invalid in the caller's code page unless no conversion is needed.
  const struct {
    const char* text;
    UINT cp;
    HRESULT expected;
    std::vector<uint8_t> bytes;
  } texts[] = {
      {"\xC3\xA9\xE2\x82\xAC", 1252, S_OK, {VT_LPSTR, 0, 0, 0, 3, 0, 0, 0, 0xE9, 0x80, 0, 0}},
      {"\xC3\xA9\xE2\x82\xAC", 1200, S_OK, {VT_LPSTR, 0, 0, 0, 6, 0, 0, 0, 0xE9, 0, 0xAC, 0x20, 0, 0, 0, 0}},
      {"\xE4\xB8\xAD", 1252, quorvane::posix::kTextNotRepresentable, {}},
      {"\xC3(", 1252, quorvane::posix::kTextNotRepresentable, {}},
      {"\xC3(", 65001, S_OK, {VT_LPSTR, 0, 0, 0, 3, 0, 0, 0, 0xC3, '(', 0, 0}},
  };
  for (const auto& row : texts) {
    SCOPED_TRACE(std::string(row.text) + " in code page " + std::to_string(row.cp));
    PROPVARIANT v{};
    v.vt = VT_LPSTR, v.pszVal = const_cast<char*>(row.text);
    Value back;
    EXPECT_EQ(row.expected, RoundTrip(v, TextCodePages{row.cp, 65001}, bytes, back));
    EXPECT_EQ(row.bytes, bytes);
    if (row.expected == S_OK) EXPECT_STREQ(row.text, back.v.pszVal);
  }
}
