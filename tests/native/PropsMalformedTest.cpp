// Malformed property-set streams fail with an error, never a crash, hang or outsized allocation.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

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

// Broken headers are invalid headers; sections and values that overrun their bytes are corrupt.
TEST(PropsMalformed, PatchedStreamsAreRefusedAndNeverOverwritten) {
  const std::vector<uint8_t> good = SmallStream();
  ASSERT_EQ(S_OK, Parse(good));
  const size_t table = kSection + 8;
  const size_t titleValue = kSection + 8 + 2 * 8 + 8;  // after the table and the code page
  const std::tuple<size_t, uint32_t, HRESULT> patches[] = {
      {0, 0xFFFF, STG_E_INVALIDHEADER},  // byte order, version, section counts, section offsets
      {0, 0x2FFFE, STG_E_INVALIDHEADER}, {24, 0, STG_E_INVALIDHEADER}, {24, 3, STG_E_INVALIDHEADER},
      {24, 0xFFFFFFFF, STG_E_INVALIDHEADER}, {44, 0, STG_E_INVALIDHEADER}, {44, 47, STG_E_INVALIDHEADER},
      {44, uint32_t(good.size()), STG_E_INVALIDHEADER}, {44, 0xFFFFFFF0, STG_E_INVALIDHEADER},
      {kSection, static_cast<uint32_t>(good.size()), STG_E_DOCFILECORRUPT},  // size beyond the stream
      {kSection, 4, STG_E_DOCFILECORRUPT},                                   // size smaller than its own header
      {kSection + 4, 0x10000000, STG_E_DOCFILECORRUPT},                      // count beyond the size
      {table + 4, 0xFFFFFFF0, STG_E_DOCFILECORRUPT},                         // offset beyond the section
      {table + 4, 2, STG_E_DOCFILECORRUPT},                                  // offset inside the header
      {table + 8, PID_CODEPAGE, STG_E_DOCFILECORRUPT},                       // the same id twice
      {titleValue + 4, 0x7FFFFFFF, STG_E_DOCFILECORRUPT},                    // string length beyond the section
      {titleValue, VT_LPWSTR, STG_E_DOCFILECORRUPT},  // 3 UTF-16 units in 4 bytes: refused though never read
  };
  for (const auto& [at, value, expected] : patches) {
    auto bad = good;
    Put32(bad, at, value);
    EXPECT_EQ(expected, Parse(bad)) << at << " " << value;
  }
  EXPECT_EQ(STG_E_INVALIDHEADER, Parse({}));
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
  // The COM layer reports a corrupt set and never overwrites it.
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
