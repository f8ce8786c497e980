// Test-only: reads a named stream of a compound-file fixture so the
// property-set tests need no container engine. Just enough of the format
// for well-formed files (FAT via the header's DIFAT and DIFAT sectors, mini
// stream, flat directory scan); not for malformed input.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace propstest {

inline std::string FixtureDir() {
  const char* src = std::getenv("QV_SOURCE_DIR");
  return std::string(src ? src : ".") + "/../shared/fixtures/compound";
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FixtureReader {
 public:
  explicit FixtureReader(const std::string& path) : file_(ReadFile(path)) {
    if (file_.size() < 512) return;
    sectorSize_ = size_t(1) << U16(0x1E);
    miniSectorSize_ = size_t(1) << U16(0x20);
    cutoff_ = U32(0x38);
    std::vector<uint32_t> fatSectors;
    for (int i = 0; i < 109; ++i) {
      const uint32_t s = U32(0x4C + 4 * i);
      if (s < kMaxRegular) fatSectors.push_back(s);
    }
    uint32_t difat = U32(0x44);
    for (int guard = 0; difat < kMaxRegular && guard < 1000; ++guard) {
      const size_t base = Offset(difat);
      const size_t per = sectorSize_ / 4 - 1;
      for (size_t i = 0; i < per; ++i) {
        const uint32_t s = U32(base + 4 * i);
        if (s < kMaxRegular) fatSectors.push_back(s);
      }
      difat = U32(base + 4 * per);
    }
    for (uint32_t s : fatSectors)
      for (size_t i = 0; i < sectorSize_ / 4; ++i) fat_.push_back(U32(Offset(s) + 4 * i));
    directory_ = Chain(fat_, U32(0x30), sectorSize_, nullptr, SIZE_MAX);
    const std::vector<uint8_t> miniFatBytes = Chain(fat_, U32(0x3C), sectorSize_, nullptr, SIZE_MAX);
    for (size_t i = 0; i + 4 <= miniFatBytes.size(); i += 4) miniFat_.push_back(Le32(miniFatBytes.data() + i));
    if (directory_.size() >= 128) {
      miniStream_ = Chain(fat_, Le32(directory_.data() + 0x74), sectorSize_, nullptr,
                          static_cast<size_t>(Le32(directory_.data() + 0x78)));
    }
    ok_ = true;
  }

  bool Ok() const { return ok_; }

  // False when no stream has that name (UTF-16 name, e.g. u"\005SummaryInformation").
  bool Stream(const std::u16string& name, std::vector<uint8_t>& out) const {
    for (size_t e = 0; e + 128 <= directory_.size(); e += 128) {
      const uint8_t* entry = directory_.data() + e;
      if (entry[0x42] != 2) continue;  // stream objects only
      const size_t nameBytes = entry[0x40] | (entry[0x41] << 8);
      if (nameBytes < 2 || nameBytes > 64) continue;
      std::u16string entryName;
      for (size_t i = 0; i < nameBytes / 2 - 1; ++i)  // the length counts the terminator
        entryName.push_back(static_cast<char16_t>(entry[2 * i] | (entry[2 * i + 1] << 8)));
      if (entryName != name) continue;
      const uint32_t start = Le32(entry + 0x74);
      const size_t size = static_cast<size_t>(Le32(entry + 0x78));
      out = size < cutoff_ ? Chain(miniFat_, start, miniSectorSize_, &miniStream_, size)
                           : Chain(fat_, start, sectorSize_, nullptr, size);
      return true;
    }
    return false;
  }

 private:
  static constexpr uint32_t kMaxRegular = 0xFFFFFFFA;
  static uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
  uint16_t U16(size_t at) const { return static_cast<uint16_t>(file_[at] | (file_[at + 1] << 8)); }
  uint32_t U32(size_t at) const { return at + 4 <= file_.size() ? Le32(file_.data() + at) : 0xFFFFFFFF; }
  size_t Offset(uint32_t sector) const { return (static_cast<size_t>(sector) + 1) * sectorSize_; }

  std::vector<uint8_t> Chain(const std::vector<uint32_t>& table, uint32_t start, size_t unit,
                             const std::vector<uint8_t>* source, size_t limit) const {
    std::vector<uint8_t> out;
    const std::vector<uint8_t>& bytes = source ? *source : file_;
    for (uint32_t s = start, guard = 0; s < kMaxRegular && s < table.size() && guard < 1000000; ++guard) {
      const size_t at = source ? s * unit : Offset(s);
      if (at + unit > bytes.size()) break;
      out.insert(out.end(), bytes.begin() + at, bytes.begin() + at + unit);
      if (out.size() >= limit) break;
      s = table[s];
    }
    if (out.size() > limit) out.resize(limit);
    return out;
  }

  std::vector<uint8_t> file_;
  size_t sectorSize_ = 512, miniSectorSize_ = 64;
  uint32_t cutoff_ = 4096;
  std::vector<uint32_t> fat_, miniFat_;
  std::vector<uint8_t> directory_, miniStream_;
  bool ok_ = false;
};

}  // namespace propstest
