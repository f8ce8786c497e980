// A set opened read-only leaves a large clipboard value unread, yet reads as
// the whole stream does: the same values, the same refusals.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CfbTestSupport.h"
#include "MemoryStorage.h"
#include "posix/storage/props/PropertySetStorage.h"
#include "posix/storage/props/PropertySetStream.h"

namespace {

using quorvane::posix::PropertySection;
using quorvane::posix::PropertySetStream;

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> Text(const char (&text)[3]) { return {VT_LPSTR, 0, 0, 0, 3, 0, 0, 0, uint8_t(text[0]), uint8_t(text[1]), 0, 0}; }

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

struct Seen {
  HRESULT open = E_FAIL;
  std::string title, subject;
  std::vector<uint8_t> thumbnail;
  bool operator==(const Seen& o) const {
    return open == o.open && title == o.title && subject == o.subject && thumbnail == o.thumbnail;
  }
};

std::string TextOf(IPropertyStorage* set, PROPID id) {
  PROPSPEC spec{PRSPEC_PROPID, {id}};
  PROPVARIANT v;
  if (FAILED(set->ReadMultiple(1, &spec, &v)) || v.vt != VT_LPSTR) return "?";
  std::string text(v.pszVal);
  PropVariantClear(&v);
  return text;
}

// The title, then the thumbnail, then the subject, as an open of the store reads them.
Seen Read(const std::shared_ptr<quorvane::posix::StreamStore>& store, DWORD mode) {
  Seen seen;
  IPropertySetStorage* sets = nullptr;
  if (FAILED(CreatePropertySetStorage(store, &sets))) return seen;
  IPropertyStorage* set = nullptr;
  seen.open = sets->Open(FMTID_SummaryInformation, mode | STGM_SHARE_EXCLUSIVE, &set);
  if (SUCCEEDED(seen.open)) {
    seen.title = TextOf(set, PIDSI_TITLE);
    PROPSPEC spec{PRSPEC_PROPID, {PIDSI_THUMBNAIL}};
    PROPVARIANT v;
    if (SUCCEEDED(set->ReadMultiple(1, &spec, &v)) && v.vt == VT_CF) {
      seen.thumbnail.assign(v.pclipdata->pClipData, v.pclipdata->pClipData + v.pclipdata->cbSize - 4);
      PropVariantClear(&v);
    }
    seen.subject = TextOf(set, PIDSI_SUBJECT);
    set->Release();
  }
  sets->Release();
  return seen;
}

Seen Read(const std::vector<uint8_t>& stream, bool writable) {
  auto store = std::make_shared<qvtest::MemoryStreamStore>(writable);
  store->streams[u"\005SummaryInformation"] = stream;
  return Read(store, writable ? STGM_READWRITE : STGM_READ);
}

}  // namespace

TEST(PropsUnreadValue, AReadOnlyOpenReadsWhatTheWholeStreamHoldsAndRefusesTheSame) {
  constexpr size_t kSection = 48, kTable = kSection + 8;
  constexpr size_t kTitle = kTable + 4 * 8 + 8;   // after the table and the code page
  constexpr size_t kClip = kTitle + 12;
  struct Row {
    const char* what;
    size_t data;
    size_t at;  // 0: no patch
    uint32_t value;
    HRESULT open;
    size_t at2 = 0;
    uint32_t value2 = 0;
  } rows[] = {
      {"thumbnail of 200 KB between two texts", 200000, 0, 0, S_OK},
      {"thumbnail of 100 bytes", 100, 0, 0, S_OK},
      // The second string's length lies in the thumbnail's data: checked there.
      {"title of two strings, running into the thumbnail", 200000, kTitle, VT_VECTOR | VT_LPSTR, STG_E_DOCFILECORRUPT,
       kTitle + 4, 2},
      {"subject's offset beyond the section", 200000, kTable + 3 * 8 + 4, 0xFFFFFFF0, STG_E_DOCFILECORRUPT},
      {"thumbnail's size beyond the section", 200000, kClip + 4, 0x7FFFFFFF, STG_E_DOCFILECORRUPT},
      {"section size beyond the stream", 200000, kSection, 0x7FFFFFFF, STG_E_DOCFILECORRUPT},
      {"section offset beyond the stream", 200000, 44, 0x7FFFFFF0, STG_E_INVALIDHEADER},
  };
  for (const Row& row : rows) {
    std::vector<uint8_t> stream = Stream(row.data);
    if (row.at != 0) Put32(stream, row.at, row.value);
    if (row.at2 != 0) Put32(stream, row.at2, row.value2);
    const Seen whole = Read(stream, true), readOnly = Read(stream, false);
    EXPECT_EQ(row.open, whole.open) << row.what;
    EXPECT_TRUE(readOnly == whole) << row.what << ": " << readOnly.title << " " << readOnly.subject << " "
                                   << readOnly.thumbnail.size();
    if (row.at == 0) EXPECT_EQ(cfbtest::Pattern(row.data, 3), readOnly.thumbnail) << row.what;
  }
  // From a file: the .ppt's 442 KB thumbnail is not read until asked for.
  std::shared_ptr<cfbtest::cfb::CompoundFile> file;
  ASSERT_EQ(S_OK, cfbtest::cfb::CompoundFile::Open(cfbtest::FixtureDir() + "/LibreOfficeBlankSample_v25.8.ppt",
                                                   cfbtest::ReadOnly(), file));
  IPropertySetStorage* sets = nullptr;
  ASSERT_EQ(S_OK, CreatePropertySetStorage(file, &sets));
  IPropertyStorage* set = nullptr;
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
