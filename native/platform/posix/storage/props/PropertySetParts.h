// A property-set stream read for reading only: the header, each section's
// table and its values come from the store, but the data of a large opaque
// value (clipboard data or a blob, such as a document's thumbnail of hundreds
// of kilobytes) stays zeros and its section marks it unread. What is read is
// parsed as the whole stream would be, so a malformed stream is refused the
// same way; anything irregular in the header or a table reads it whole.
// A caller that asks for an unread value reads the stream again, whole.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../StreamStore.h"
#include "PropertySetStream.h"

namespace quorvane {
namespace posix {

// A value left unread: its section's index and its id.
using UnreadValue = std::pair<size_t, PROPID>;

// The stream's bytes, zeros where a value's data was left unread (then
// listed in `unread`; with none, `bytes` is the whole stream). The store's
// errors, STG_E_FILENOTFOUND for no such stream, or a table's. `version` as
// StreamStore::ReadStreamParts gives it.
HRESULT ReadPropertySetParts(StreamStore& store, const std::u16string& name, std::vector<uint8_t>& bytes,
                             std::vector<UnreadValue>& unread, uint64_t* version = nullptr);
// Parses what ReadPropertySetParts read, marking the unread values.
HRESULT ParsePartly(std::vector<uint8_t>&& bytes, const std::vector<UnreadValue>& unread, PropertySetStream& out);

}  // namespace posix
}  // namespace quorvane
