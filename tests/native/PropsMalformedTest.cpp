// Malformed property-set streams fail with an error, never a crash, hang or outsized allocation; a set opened
// read-only leaves a large clipboard value unread, yet answers as the whole stream does: the same values and refusals.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CfbTestSupport.h"
#include "MemoryStorage.h"
#include "Win32Api.h"
#include "posix/storage/props/PropertySetStorage.h"
#include "posix/storage/props/PropertySetStream.h"

namespace {

using quorvane::posix::PropertySection;
using quorvane::posix::PropertySetStream;

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { cfbtest::cfb::Store32(b.data() + at, v); }

std::vector<uint8_t> Text(const char (&text)[3]) {
  return {VT_LPSTR, 0, 0, 0, 3, 0, 0, 0, uint8_t(text[0]), uint8_t(text[1]), 0, 0};
}

// Summary set: code page, title "Hi", a thumbnail of `data` bytes, subject "Yo".
std::vector<uint8_t> Stream(size_t data) {
  std::vector<uint8_t> clip = {VT_CF, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  Put32(clip, 4, static_cast<uint32_t>(data + 4));
  const std::vector<uint8_t> pattern = cfbtest::Pattern(data, 3);
  clip.insert(clip.end(), pattern.begin(), pattern.end());
  clip.resize((clip.size() + 3) / 4 * 4);
  auto section = PropertySection::Create(FMTID_SummaryInformation, 1252, false);
  section.Set(PIDSI_TITLE, Text("Hi"));
  section.Set(PIDSI_THUMBNAIL, clip);
  section.Set(PIDSI_SUBJECT, Text("Yo"));
  auto stream = PropertySetStream::Create(CLSID{});
  stream.Sections().push_back(section);
  return stream.Serialize();
}

HRESULT Parse(const std::vector<uint8_t>& bytes) {
  PropertySetStream stream;
  return PropertySetStream::Parse(bytes, stream);
}

struct Seen {
  HRESULT open = E_FAIL;
  std::string title, subject;
  std::vector<uint8_t> thumbnail;
  bool operator==(const Seen& o) const {
    return open == o.open && title == o.title && subject == o.subject && thumbnail == o.thumbnail;
  }
};

// The title, then the thumbnail, then the subject, as an open of the stream reads them.
Seen Read(const std::vector<uint8_t>& stream, bool writable) {
  auto store = std::make_shared<qvtest::MemoryStreamStore>(writable);
  store->streams[u"\005SummaryInformation"] = stream;
  Seen seen;
  IPropertySetStorage* sets = nullptr;
  if (FAILED(CreatePropertySetStorage(store, &sets))) return seen;
  IPropertyStorage* set = nullptr;
  seen.open = sets->Open(FMTID_SummaryInformation, (writable ? STGM_READWRITE : STGM_READ) | STGM_SHARE_EXCLUSIVE,
                         &set);
  if (SUCCEEDED(seen.open)) {
    seen.title = qvtest::ReadText(set, PROPSPEC{PRSPEC_PROPID, {PIDSI_TITLE}});
    PROPSPEC spec{PRSPEC_PROPID, {PIDSI_THUMBNAIL}};
    PROPVARIANT v;
    if (SUCCEEDED(set->ReadMultiple(1, &spec, &v)) && v.vt == VT_CF) {
      seen.thumbnail.assign(v.pclipdata->pClipData, v.pclipdata->pClipData + v.pclipdata->cbSize - 4);
      PropVariantClear(&v);
    }
    seen.subject = qvtest::ReadText(set, PROPSPEC{PRSPEC_PROPID, {PIDSI_SUBJECT}});
    set->Release();
  }
  sets->Release();
  return seen;
}

}  // namespace

// Broken headers are invalid headers; sections and values that overrun their bytes are corrupt.
TEST(PropsMalformed, PatchedStreamsAreRefusedByTheCodecAndAlikeByWholeAndReadOnlyOpens) {
  constexpr size_t kSection = 48, kTable = kSection + 8;  // 28-byte header + one FMTID/offset pair; size, count
  constexpr size_t kCodePage = kTable + 4 * 8, kTitle = kCodePage + 8, kClip = kTitle + 12;
  const size_t size = Stream(100).size();
  const struct {
    const char* what;
    size_t data;  // the thumbnail's bytes
    size_t at;    // 0: no patch
    uint32_t value;
    HRESULT expected;
    size_t at2 = 0;
    uint32_t value2 = 0;
  } rows[] = {
      {"thumbnail of 200 KB between two texts", 200000, 0, 0, S_OK},
      {"thumbnail of 100 bytes", 100, 0, 0, S_OK},
      {"byte order", 100, 0, 0xFFFF, STG_E_INVALIDHEADER},
      {"version", 100, 0, 0x2FFFE, STG_E_INVALIDHEADER},
      {"no section", 100, 24, 0, STG_E_INVALIDHEADER},
      {"three sections", 100, 24, 3, STG_E_INVALIDHEADER},
      {"2^32-1 sections", 100, 24, 0xFFFFFFFF, STG_E_INVALIDHEADER},
      {"section offset 0", 100, 44, 0, STG_E_INVALIDHEADER},
      {"section offset inside the header", 100, 44, 47, STG_E_INVALIDHEADER},
      {"section offset at the end", 100, 44, uint32_t(size), STG_E_INVALIDHEADER},
      {"section offset beyond the stream", 200000, 44, 0xFFFFFFF0, STG_E_INVALIDHEADER},
      {"section size the stream's", 100, kSection, uint32_t(size), STG_E_DOCFILECORRUPT},
      {"section size beyond the stream", 200000, kSection, 0x7FFFFFFF, STG_E_DOCFILECORRUPT},
      {"section size smaller than its own header", 100, kSection, 4, STG_E_DOCFILECORRUPT},
      {"count beyond the size", 100, kSection + 4, 0x10000000, STG_E_DOCFILECORRUPT},
      {"offset beyond the section", 100, kTable + 4, 0xFFFFFFF0, STG_E_DOCFILECORRUPT},
      {"offset inside the header", 100, kTable + 4, 2, STG_E_DOCFILECORRUPT},
      {"the same id twice", 100, kTable + 8, PID_CODEPAGE, STG_E_DOCFILECORRUPT},
      {"string length beyond the section", 100, kTitle + 4, 0x7FFFFFFF, STG_E_DOCFILECORRUPT},
      {"3 UTF-16 units in the last 4 bytes: refused though never read", 100, kClip + 12 + 100, VT_LPWSTR,
       STG_E_DOCFILECORRUPT},
      // Refused before anything is allocated.
      {"a vector of 2^32-1 strings", 100, kTitle, VT_VECTOR | VT_LPSTR, STG_E_DOCFILECORRUPT, kTitle + 4, 0xFFFFFFFF},
      {"a dictionary of more entries than bytes", 100, kTable, PID_DICTIONARY, STG_E_DOCFILECORRUPT, kCodePage,
       0x20000000},
      // The second string's length lies in the thumbnail's data: checked there.
      {"title of two strings, running into the thumbnail", 200000, kTitle, VT_VECTOR | VT_LPSTR, STG_E_DOCFILECORRUPT,
       kTitle + 4, 2},
      {"subject's offset beyond the section", 200000, kTable + 3 * 8 + 4, 0xFFFFFFF0, STG_E_DOCFILECORRUPT},
      {"thumbnail's size beyond the section", 200000, kClip + 4, 0x7FFFFFFF, STG_E_DOCFILECORRUPT},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<uint8_t> stream = Stream(row.data);
    if (row.at != 0 || row.value != 0) Put32(stream, row.at, row.value);
    if (row.at2 != 0) Put32(stream, row.at2, row.value2);
    EXPECT_EQ(row.expected, Parse(stream));
    const Seen whole = Read(stream, true), readOnly = Read(stream, false);
    EXPECT_EQ(row.expected, whole.open);
    EXPECT_TRUE(readOnly == whole) << readOnly.title << " " << readOnly.subject << " " << readOnly.thumbnail.size();
    if (row.at == 0 && row.value == 0) EXPECT_EQ(cfbtest::Pattern(row.data, 3), readOnly.thumbnail);
  }
  EXPECT_EQ(STG_E_INVALIDHEADER, Parse({}));
  // The COM layer reports a corrupt set and never overwrites it.
  auto store = std::make_shared<qvtest::MemoryStreamStore>();
  std::vector<uint8_t> bad = Stream(100);
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
  // From a file: the .ppt's 442 KB thumbnail is not read until asked for.
  std::shared_ptr<cfbtest::cfb::CompoundFile> file;
  ASSERT_EQ(S_OK, cfbtest::cfb::CompoundFile::Open(cfbtest::FixtureDir() + "/LibreOfficeBlankSample_v25.8.ppt",
                                                   cfbtest::ReadOnly(), file));
  ASSERT_EQ(S_OK, CreatePropertySetStorage(file, &sets));
  ASSERT_EQ(S_OK, sets->Open(FMTID_SummaryInformation, STGM_READ | STGM_SHARE_EXCLUSIVE, &set));
  EXPECT_LT(file->BytesRead(), 64u << 10);
  PROPSPEC spec{PRSPEC_PROPID, {PIDSI_THUMBNAIL}};
  PROPVARIANT v;
  ASSERT_EQ(S_OK, set->ReadMultiple(1, &spec, &v));
  ASSERT_EQ(VT_CF, v.vt);
  EXPECT_GT(v.pclipdata->cbSize, 400u << 10);
  EXPECT_GT(file->BytesRead(), 400u << 10);
  PropVariantClear(&v);
  set->Release();
  sets->Release();
}
