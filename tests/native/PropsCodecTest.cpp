// The property-set stream codec against the fixtures and against itself.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "PropsFixtureReader.h"
#include "Win32Api.h"
#include "posix/storage/props/PropertySetStream.h"
#include "posix/storage/props/TypedValueCodec.h"

using quorvane::posix::DecodeTypedValue;
using quorvane::posix::EncodeTypedValue;
using quorvane::posix::PropertySection;
using quorvane::posix::PropertySetStream;
using quorvane::posix::TextCodePages;

namespace {

const char* const kFixturesWithSets[] = {
    "Office365BlankSample_v2507.doc",   "Office365BlankSample_v2507.xls", "LibreOfficeBlankSample_v25.8.doc",
    "LibreOfficeBlankSample_v25.8.xls", "LibreOfficeBlankSample_v25.8.ppt", "2custom.doc",
    "winUnicodeDictionary.doc",         "no_codepage.doc",                  "report.xls",
    "SampleWorkBook_bug98.xls"};
const char16_t* const kStreams[] = {u"\005SummaryInformation", u"\005DocumentSummaryInformation"};

std::vector<uint8_t> FixtureStream(const std::string& file, const std::u16string& stream) {
  propstest::FixtureReader reader(propstest::FixtureDir() + "/" + file);
  std::vector<uint8_t> bytes;
  if (!reader.Ok() || !reader.Stream(stream, bytes)) bytes.clear();
  return bytes;
}

// Owns a decoded value for the test's duration.
struct Value {
  PROPVARIANT v;
  Value() { std::memset(&v, 0, sizeof v); }
  ~Value() { PropVariantClear(&v); }
};

HRESULT Decode(const std::vector<uint8_t>& bytes, const TextCodePages& cps, Value& out) {
  size_t used = 0;
  return DecodeTypedValue(bytes.data(), bytes.size(), cps, out.v, used);
}

std::string Narrow(const Value& value) { return value.v.pszVal ? value.v.pszVal : "(null)"; }

// Every property of every section decodes, names included, and a stream laid
// out afresh reads back to the same model.
void ExpectSameModel(const PropertySetStream& a, const PropertySetStream& b) {
  ASSERT_EQ(a.Sections().size(), b.Sections().size());
  for (size_t s = 0; s < a.Sections().size(); ++s) {
    const PropertySection& x = a.Sections()[s];
    const PropertySection& y = b.Sections()[s];
    EXPECT_TRUE(x.Fmtid() == y.Fmtid());
    EXPECT_EQ(x.CodePage(), y.CodePage());
    ASSERT_EQ(x.Properties().size(), y.Properties().size());
    for (size_t i = 0; i < x.Properties().size(); ++i) {
      EXPECT_EQ(x.Properties()[i].id, y.Properties()[i].id);
      EXPECT_EQ(x.Properties()[i].value, y.Properties()[i].value);
    }
    ASSERT_EQ(x.Names().size(), y.Names().size());
    for (size_t i = 0; i < x.Names().size(); ++i) {
      EXPECT_EQ(x.Names()[i].id, y.Names()[i].id);
      EXPECT_EQ(x.Names()[i].name, y.Names()[i].name);
    }
  }
}

}  // namespace

TEST(PropsCodec, EveryFixtureStreamParsesRewritesUntouchedBytesAndSurvivesRelayout) {
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
      const std::vector<uint8_t> relaid = stream.Serialize(true);
      PropertySetStream again;
      ASSERT_EQ(S_OK, PropertySetStream::Parse(relaid, again));
      ExpectSameModel(stream, again);
      EXPECT_EQ(relaid, again.Serialize(true)) << "layout is stable";
      EXPECT_EQ(0u, relaid.size() % 4);
      // Every interpreted value decodes in the set's code page.
      for (const PropertySection& section : stream.Sections()) {
        for (const auto& p : section.Properties()) {
          const uint16_t vt = p.value[0] | (p.value[1] << 8);
          if (!quorvane::posix::IsInterpretedType(vt)) continue;
          Value v;
          EXPECT_EQ(S_OK, Decode(p.value, TextCodePages{section.CodePage(), CP_UTF8}, v)) << "property " << p.id;
        }
      }
    }
  }
  EXPECT_EQ(19, streams) << "fixtures moved?";
}

TEST(PropsCodec, FixtureContentsMatchWhatTheirMakersWrote) {
  PropertySetStream custom;
  ASSERT_EQ(S_OK, PropertySetStream::Parse(FixtureStream("2custom.doc", u"\005DocumentSummaryInformation"), custom));
  ASSERT_EQ(2u, custom.Sections().size());
  EXPECT_TRUE(custom.Sections()[0].Fmtid() == FMTID_DocSummaryInformation);
  PropertySection* user = custom.FindSection(FMTID_UserDefinedProperties);
  ASSERT_NE(nullptr, user);
  EXPECT_EQ(65001u, user->CodePage()) << "stored as the 16-bit value -535";
  PROPID id = 0;
  ASSERT_TRUE(user->FindName(L"PROP1", id)) << "names match without regard to case";
  Value v1;
  ASSERT_EQ(S_OK, Decode(user->Find(id)->value, TextCodePages{65001, 65001}, v1));
  EXPECT_EQ(VT_LPSTR, v1.v.vt);
  EXPECT_EQ("aaa", Narrow(v1));
  ASSERT_TRUE(user->FindName(L"prop2", id));
  Value v2;
  ASSERT_EQ(S_OK, Decode(user->Find(id)->value, TextCodePages{65001, 65001}, v2));
  EXPECT_EQ("bbbb", Narrow(v2));

  PropertySetStream unicode;
  ASSERT_EQ(S_OK, PropertySetStream::Parse(
                      FixtureStream("winUnicodeDictionary.doc", u"\005DocumentSummaryInformation"), unicode));
  user = unicode.FindSection(FMTID_UserDefinedProperties);
  ASSERT_NE(nullptr, user);
  EXPECT_EQ(1200u, user->CodePage());
  std::vector<std::wstring> names;
  for (const auto& entry : user->Names()) names.push_back(entry.name);
  EXPECT_EQ((std::vector<std::wstring>{L"A", L"AB", L"ABC", L"ABCD", L"ABCDE"}), names);

  PropertySetStream noCodePage;
  ASSERT_EQ(S_OK, PropertySetStream::Parse(FixtureStream("no_codepage.doc", u"\005SummaryInformation"), noCodePage));
  EXPECT_FALSE(noCodePage.Sections()[0].HasCodePage());
  EXPECT_EQ(1252u, noCodePage.Sections()[0].CodePage());
  Value author;
  ASSERT_EQ(S_OK, Decode(noCodePage.Sections()[0].Find(PIDSI_LASTAUTHOR)->value, TextCodePages{1252, 65001}, author));
  EXPECT_EQ("pwebster", Narrow(author));

  // Office pads its property streams to 4096 bytes; the set itself is shorter.
  const auto office = FixtureStream("Office365BlankSample_v2507.doc", u"\005SummaryInformation");
  PropertySetStream officeStream;
  ASSERT_EQ(S_OK, PropertySetStream::Parse(office, officeStream));
  EXPECT_EQ(4096u, office.size());
  EXPECT_LT(officeStream.Serialize(true).size(), office.size());
}

TEST(PropsCodec, EveryValueTypeRoundTripsInEveryCodePage) {
  static wchar_t wide[] = L"w\u00e9\u4e2d\U0001F600";
  static char narrow[] = "plain";
  static BYTE blobBytes[] = {1, 2, 3, 4, 5};
  static BYTE clipBytes[] = {9, 8, 7};
  static CLSID clsid = FMTID_SummaryInformation;
  static CLIPDATA clip = {sizeof(LONG) + sizeof clipBytes, -1, clipBytes};
  static SHORT shorts[] = {1, -2, 3};
  static LPSTR strings[] = {narrow, narrow + 2, nullptr};
  static FILETIME times[] = {{1, 2}, {3, 4}};
  static PROPVARIANT variants[3];
  std::memset(variants, 0, sizeof variants);
  variants[0].vt = VT_LPSTR;
  variants[0].pszVal = narrow;
  variants[1].vt = VT_I4;
  variants[1].lVal = 1;
  variants[2].vt = VT_LPWSTR;
  variants[2].pwszVal = wide;

  std::vector<PROPVARIANT> values;
  auto add = [&](VARTYPE vt, auto setter) {
    PROPVARIANT v;
    std::memset(&v, 0, sizeof v);
    v.vt = vt;
    setter(v);
    values.push_back(v);
  };
  add(VT_EMPTY, [](PROPVARIANT&) {});
  add(VT_NULL, [](PROPVARIANT&) {});
  add(VT_I1, [](PROPVARIANT& v) { v.cVal = -5; });
  add(VT_UI1, [](PROPVARIANT& v) { v.bVal = 250; });
  add(VT_I2, [](PROPVARIANT& v) { v.iVal = -535; });
  add(VT_UI2, [](PROPVARIANT& v) { v.uiVal = 65001; });
  add(VT_I4, [](PROPVARIANT& v) { v.lVal = -123456; });
  add(VT_UI4, [](PROPVARIANT& v) { v.ulVal = 0xDEADBEEF; });
  add(VT_I8, [](PROPVARIANT& v) { v.hVal.QuadPart = -(1LL << 40); });
  add(VT_R4, [](PROPVARIANT& v) { v.fltVal = 1.5f; });
  add(VT_R8, [](PROPVARIANT& v) { v.dblVal = -2.25; });
  add(VT_BOOL, [](PROPVARIANT& v) { v.boolVal = VARIANT_TRUE; });
  add(VT_ERROR, [](PROPVARIANT& v) { v.scode = E_FAIL; });
  add(VT_FILETIME, [](PROPVARIANT& v) { v.filetime = {0x89ABCDEF, 0x01C9D5E3}; });
  add(VT_CLSID, [](PROPVARIANT& v) { v.puuid = &clsid; });
  add(VT_LPSTR, [](PROPVARIANT& v) { v.pszVal = narrow; });
  add(VT_LPSTR, [](PROPVARIANT& v) { v.pszVal = nullptr; });
  add(VT_LPWSTR, [](PROPVARIANT& v) { v.pwszVal = wide; });
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
      // Re-encoding what was decoded gives the same bytes: nothing was lost.
      std::vector<uint8_t> again;
      ASSERT_EQ(S_OK, EncodeTypedValue(decoded.v, cps, again));
      EXPECT_EQ(bytes, again);
    }
  }
  // Spot checks of decoded contents.
  std::vector<uint8_t> bytes;
  ASSERT_EQ(S_OK, EncodeTypedValue(values[17], TextCodePages{1252, 65001}, bytes));
  Value w;
  ASSERT_EQ(S_OK, Decode(bytes, TextCodePages{1252, 65001}, w));
  EXPECT_STREQ(wide, w.v.pwszVal) << "VT_LPWSTR is UTF-16 whatever the code page, supplementary characters too";
  bytes.clear();
  ASSERT_EQ(S_OK, EncodeTypedValue(values[23], TextCodePages{1200, 65001}, bytes));
  Value vec;
  ASSERT_EQ(S_OK, Decode(bytes, TextCodePages{1200, 65001}, vec));
  ASSERT_EQ(3u, vec.v.capropvar.cElems);
  EXPECT_STREQ("plain", vec.v.capropvar.pElems[0].pszVal);
  EXPECT_EQ(1, vec.v.capropvar.pElems[1].lVal);
}

TEST(PropsCodec, NarrowTextIsConvertedBetweenTheSetsAndTheCallersCodePage) {
  // "é€" in UTF-8 written to a 1252 set is stored as the two 1252 bytes.
  static char text[] = "\xC3\xA9\xE2\x82\xAC";
  PROPVARIANT v;
  std::memset(&v, 0, sizeof v);
  v.vt = VT_LPSTR;
  v.pszVal = text;
  std::vector<uint8_t> bytes;
  ASSERT_EQ(S_OK, EncodeTypedValue(v, TextCodePages{1252, 65001}, bytes));
  const std::vector<uint8_t> expected = {VT_LPSTR, 0, 0, 0, 3, 0, 0, 0, 0xE9, 0x80, 0, 0};
  EXPECT_EQ(expected, bytes);
  Value back;
  ASSERT_EQ(S_OK, Decode(bytes, TextCodePages{1252, 65001}, back));
  EXPECT_EQ(std::string(text), Narrow(back));

  // A Unicode set stores VT_LPSTR text as UTF-16.
  bytes.clear();
  ASSERT_EQ(S_OK, EncodeTypedValue(v, TextCodePages{1200, 65001}, bytes));
  const std::vector<uint8_t> utf16 = {VT_LPSTR, 0, 0, 0, 6, 0, 0, 0, 0xE9, 0, 0xAC, 0x20, 0, 0, 0, 0};
  EXPECT_EQ(utf16, bytes);

  // Text the set cannot hold is refused, not replaced.
  static char chinese[] = "\xE4\xB8\xAD";
  v.pszVal = chinese;
  bytes.clear();
  EXPECT_EQ(quorvane::posix::kTextNotRepresentable, EncodeTypedValue(v, TextCodePages{1252, 65001}, bytes));
  EXPECT_TRUE(bytes.empty());
  // So is caller text that is not valid in the caller's code page.
  static char broken[] = "\xC3(";
  v.pszVal = broken;
  EXPECT_EQ(quorvane::posix::kTextNotRepresentable, EncodeTypedValue(v, TextCodePages{1252, 65001}, bytes));
  // ... unless no conversion is needed: the bytes then pass unchanged.
  ASSERT_EQ(S_OK, EncodeTypedValue(v, TextCodePages{65001, 65001}, bytes));
}

TEST(PropsCodec, ASingleByteSetWidensToUtf8AndKeepsItsText) {
  PropertySection section = PropertySection::Create(FMTID_UserDefinedProperties, 1252, false);
  ASSERT_EQ(S_OK, section.SetName(4096, L"caf\u00e9"));
  static char text[] = "\xC3\xA9t\xC3\xA9";  // "été"
  PROPVARIANT v;
  std::memset(&v, 0, sizeof v);
  v.vt = VT_LPSTR;
  v.pszVal = text;
  std::vector<uint8_t> bytes;
  ASSERT_EQ(S_OK, EncodeTypedValue(v, TextCodePages{1252, 65001}, bytes));
  section.Set(4096, bytes);
  EXPECT_EQ(quorvane::posix::kTextNotRepresentable, section.SetName(4097, L"\u4e2d"));

  ASSERT_EQ(S_OK, section.ChangeCodePage(65001));
  EXPECT_EQ(65001u, section.CodePage());
  ASSERT_EQ(S_OK, section.SetName(4097, L"\u4e2d"));
  PropertySetStream stream = PropertySetStream::Create(CLSID{});
  stream.Sections().push_back(PropertySection::Create(FMTID_DocSummaryInformation, 1252, false));
  stream.Sections().push_back(section);
  PropertySetStream parsed;
  ASSERT_EQ(S_OK, PropertySetStream::Parse(stream.Serialize(), parsed));
  const PropertySection& back = parsed.Sections()[1];
  EXPECT_EQ(65001u, back.CodePage());
  EXPECT_EQ(L"caf\u00e9", *back.NameOf(4096));
  EXPECT_EQ(L"\u4e2d", *back.NameOf(4097));
  Value value;
  ASSERT_EQ(S_OK, Decode(back.Find(4096)->value, TextCodePages{65001, 65001}, value));
  EXPECT_EQ(std::string(text), Narrow(value));
}
