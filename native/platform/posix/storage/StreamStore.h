// What the property-set layer needs of a compound file: whole streams of the
// root storage, read and replaced by name. The container engine implements it
// over a real file; tests may implement it in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../base/WinError.h"

namespace quorvane {
namespace posix {

class StreamStore {
 public:
  virtual ~StreamStore() = default;
  // STG_E_FILENOTFOUND when the root storage has no stream of that name.
  virtual HRESULT ReadStream(const std::u16string& name, std::vector<uint8_t>& out) = 0;
  // Reads parts of one stream as one look at it: `plan` gets the stream's
  // size and reads [offset, offset + count) into `into` through `read` as it
  // decides what it needs (a part reaching past the end is refused), so a
  // large value nobody asked for need not come from disk. This default reads
  // the whole stream first. `version`, when given, gets what ContentsVersion
  // would have answered just before the read: a store may take it from the
  // read's own look at the file instead of a look of its own.
  // Smaller streams are read whole: one read costs less than several.
  static constexpr uint64_t kPartsFrom = 64u << 10;
  using PartReader = std::function<HRESULT(uint64_t offset, size_t count, uint8_t* into)>;
  using PartPlan = std::function<HRESULT(uint64_t size, const PartReader& read)>;
  virtual HRESULT ReadStreamParts(const std::u16string& name, const PartPlan& plan, uint64_t* version = nullptr);
  // Runs plan over a stream already read whole.
  static HRESULT PlanOverWhole(const std::vector<uint8_t>& whole, const PartPlan& plan);
  // Creates or replaces the stream. The file stays valid at every moment: a
  // crash leaves readers the old or the new stream, never a mix.
  virtual HRESULT WriteStream(const std::u16string& name, const std::vector<uint8_t>& bytes) = 0;
  virtual HRESULT DeleteStream(const std::u16string& name) = 0;
  // STG_E_ACCESSDENIED from the writes above when this is false.
  virtual bool CanWrite() const = 0;
  // Two equal non-zero answers mean no stream changed in between, so what a
  // caller made of a stream's bytes still holds. 0 when the store cannot
  // promise that (another process may be writing): read again.
  virtual uint64_t ContentsVersion() { return 0; }
};

}  // namespace posix
}  // namespace quorvane
