#include "StreamStore.h"

#include <cstring>

#include "StorageApi.h"

namespace quorvane {
namespace posix {

HRESULT StreamStore::ReadStreamParts(const std::u16string& name, const PartPlan& plan, uint64_t* version) {
  if (version) *version = ContentsVersion();
  std::vector<uint8_t> whole;
  const HRESULT hr = ReadStream(name, whole);
  return FAILED(hr) ? hr : PlanOverWhole(whole, plan);
}

HRESULT StreamStore::PlanOverWhole(const std::vector<uint8_t>& whole, const PartPlan& plan) {
  return plan(whole.size(), [&](uint64_t offset, size_t count, uint8_t* into) -> HRESULT {
    if (offset > whole.size() || count > whole.size() - offset) return STG_E_DOCFILECORRUPT;
    if (count > 0) std::memcpy(into, whole.data() + offset, count);
    return S_OK;
  });
}

}  // namespace posix
}  // namespace quorvane
