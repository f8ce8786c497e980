#include "SystemMessages.h"

#include <algorithm>

namespace quorvane {
namespace posix {
namespace {

const wchar_t* Find(const SystemMessage* table, size_t count, DWORD id) {
  const SystemMessage* end = table + count;
  const SystemMessage* it =
      std::lower_bound(table, end, id, [](const SystemMessage& m, DWORD value) { return m.id < value; });
  return it != end && it->id == id ? it->text : nullptr;
}

}  // namespace

const wchar_t* FindSystemMessage(DWORD id) {
  constexpr DWORD kFacilityWin32 = 0x80070000u;
  if ((id & 0xFFFF0000u) == kFacilityWin32) id &= 0xFFFFu;
  if (id & 0x80000000u) return Find(kHResultMessages, kHResultMessageCount, id);
  return Find(kWin32Messages, kWin32MessageCount, id);
}

}  // namespace posix
}  // namespace quorvane
