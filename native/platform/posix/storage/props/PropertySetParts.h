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

#include "../StreamStore.h"
#include "PropertySetStream.h"

namespace quorvane {
namespace posix {

// The store's errors, STG_E_FILENOTFOUND for no such stream, or the parse's.
HRESULT ReadPropertySetParts(StreamStore& store, const std::u16string& name, PropertySetStream& out);

}  // namespace posix
}  // namespace quorvane
