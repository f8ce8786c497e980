// Malformed property-set streams fail with an error, never a crash, a hang
// or an allocation out of proportion to the input.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "CfbTestSupport.h"
#include "MemoryStorage.h"
#include "Win32Api.h"
#include "posix/storage/props/PropertySetStorage.h"
#include "posix/storage/props/PropertySetStream.h"

using quorvane::posix::PropertySetStream;

namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// One summary section: {code page 1252, title "Hi"} laid out by the codec.
std::vector<uint8_t> SmallStream() {
  auto section = quorvane::posix::PropertySection::Create(FMTID_SummaryInformation, 1252, false);
  section.Set(PIDSI_TITLE, {VT_LPSTR, 0, 0, 0, 3, 0, 0, 0, 'H', 'i', 0, 0});
  auto stream = PropertySetStream::Create(CLSID{});
  stream.Sections().push_back(section);
  return stream.Serialize();
}

constexpr size_t kSection = 48;  // 28-byte header + one FMTID/offset pair

HRESULT Parse(const std::vector<uint8_t>& bytes) {
  PropertySetStream stream;
  return PropertySetStream::Parse(bytes, stream);
}

}  // namespace

TEST(PropsMalformed, BrokenHeadersAreRefusedAsInvalidHeaders) {
  const std::vector<uint8_t> good = SmallStream();
  ASSERT_EQ(S_OK, Parse(good));
  auto bad = good;
  bad[0] = 0xFF;  // byte order
  EXPECT_EQ(STG_E_INVALIDHEADER, Parse(bad));
  bad = good;
  bad[2] = 2;  // version
  EXPECT_EQ(STG_E_INVALIDHEADER, Parse(bad));
  for (uint32_t count : {0u, 3u, 0xFFFFFFFFu}) {
    bad = good;
    Put32(bad, 24, count);
    EXPECT_EQ(STG_E_INVALIDHEADER, Parse(bad)) << count;
  }
  for (uint32_t offset : {0u, 47u, static_cast<uint32_t>(good.size()), 0xFFFFFFF0u}) {
    bad = good;
    Put32(bad, 44, offset);
    EXPECT_EQ(STG_E_INVALIDHEADER, Parse(bad)) << offset;
  }
  EXPECT_EQ(STG_E_INVALIDHEADER, Parse({}));
}

TEST(PropsMalformed, SectionsAndValuesThatOverrunTheirBytesAreCorrupt) {
  const std::vector<uint8_t> good = SmallStream();
  // Section size, property count, property offset, string length, vector count.
  struct Patch {
    size_t at;
    uint32_t value;
  };
  const size_t table = kSection + 8;
  const size_t titleValue = kSection + 8 + 2 * 8 + 8;  // after the table and the code page
  const Patch patches[] = {
      {kSection, static_cast<uint32_t>(good.size())},  // size beyond the stream
      {kSection, 4},                                   // size smaller than its own header
      {kSection + 4, 0x10000000},                      // count beyond the size
      {table + 4, 0xFFFFFFF0},                         // offset beyond the section
      {table + 4, 2},                                  // offset inside the header
      {table + 8, PID_CODEPAGE},                       // the same id twice
      {titleValue + 4, 0x7FFFFFFF},                    // string length beyond the section
  };
  for (const Patch& p : patches) {
    auto bad = good;
    Put32(bad, p.at, p.value);
    EXPECT_EQ(STG_E_DOCFILECORRUPT, Parse(bad)) << "patch at " << p.at;
  }
  // A vector claiming 2^32-1 elements is refused before anything is allocated.
  auto vec = good;
  vec[titleValue] = VT_LPSTR;
  vec[titleValue + 1] = VT_VECTOR >> 8;
  Put32(vec, titleValue + 4, 0xFFFFFFFF);
  EXPECT_EQ(STG_E_DOCFILECORRUPT, Parse(vec));
  // So is a dictionary claiming more entries than bytes.
  auto dict = good;
  Put32(dict, table, PID_DICTIONARY);
  Put32(dict, kSection + 24, 0x20000000);
  EXPECT_EQ(STG_E_DOCFILECORRUPT, Parse(dict));
}

TEST(PropsMalformed, EveryTruncationOrSingleByteDamageOfARealStreamEndsCleanly) {
  const std::vector<uint8_t> bytes = cfbtest::FixtureStream("2custom.doc", u"\005DocumentSummaryInformation");
  ASSERT_FALSE(bytes.empty());
  for (size_t n = 0; n < bytes.size(); ++n) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + n);
    PropertySetStream stream;
    if (SUCCEEDED(PropertySetStream::Parse(cut, stream))) stream.Serialize(true);
  }
  int refused = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    for (uint8_t v : {0x00, 0x7F, 0xFF}) {
      auto damaged = bytes;
      damaged[i] = v;
      PropertySetStream stream;
      if (FAILED(PropertySetStream::Parse(damaged, stream))) {
        ++refused;
        continue;
      }
      PropertySetStream again;
      EXPECT_EQ(S_OK, PropertySetStream::Parse(stream.Serialize(true), again)) << "byte " << i;
    }
  }
  EXPECT_GT(refused, 0);
}

TEST(PropsMalformed, TheComLayerReportsCorruptSetsAndNeverOverwritesThem) {
  auto store = std::make_shared<qvtest::MemoryStreamStore>();
  std::vector<uint8_t> bad = SmallStream();
  Put32(bad, kSection, 0xFFFF);
  store->streams[u"\005SummaryInformation"] = bad;
  IPropertySetStorage* sets = nullptr;
  ASSERT_EQ(S_OK, CreatePropertySetStorage(store, &sets));
  IPropertyStorage* set = nullptr;
  EXPECT_EQ(STG_E_DOCFILECORRUPT, sets->Open(FMTID_SummaryInformation, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &set));
  EXPECT_EQ(nullptr, set);
  EXPECT_EQ(STG_E_FILEALREADYEXISTS, sets->Create(FMTID_SummaryInformation, nullptr, PROPSETFLAG_ANSI,
                                                  STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &set));
  EXPECT_EQ(bad, store->streams[u"\005SummaryInformation"]);
  EXPECT_EQ(S_OK, sets->Delete(FMTID_SummaryInformation)) << "a corrupt set can still be deleted";
  EXPECT_EQ(0u, sets->Release());
  EXPECT_EQ(E_POINTER, CreatePropertySetStorage(store, nullptr));
  EXPECT_EQ(E_INVALIDARG, CreatePropertySetStorage(nullptr, &sets));
}
