// The stream that holds a property set in a storage: the well-known names,
// and for any other FMTID the 27-character name "\005" + 26 characters of
// base-32 made from the FMTID's 128 bits.
#pragma once

#include <string>

#include "../../base/WinTypes.h"

namespace quorvane {
namespace posix {

std::u16string PropertySetStreamName(const FMTID& fmtid);
// The section a set takes in its stream: 1 for the user-defined set (the
// second section of "\005DocumentSummaryInformation"), 0 for every other.
size_t PropertySetSectionIndex(const FMTID& fmtid);

}  // namespace posix
}  // namespace quorvane
