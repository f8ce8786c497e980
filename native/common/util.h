// Text forms of property values handed to Java.
#pragma once

#include <cstddef>

#include "Win32Api.h"

namespace quorvane {

// Writes "%4d-%02d-%02dT%02d:%02d:%02d" (UTC as stored, milliseconds
// dropped) into buffer, truncated to bufferChars and always terminated; the
// empty text when the platform cannot convert the FILETIME (top bit set).
// Returns buffer. Callers pass 25 characters.
char* FormatFileTime(const FILETIME& fileTime, char* buffer, size_t bufferChars);

}  // namespace quorvane
