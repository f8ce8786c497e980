#include "util.h"

#include "ExceptionReport.h"

namespace quorvane {

char* FormatFileTime(const FILETIME& fileTime, char* buffer, size_t bufferChars) {
  CHECK(invalid_argument, buffer != nullptr && bufferChars > 0);
  SYSTEMTIME time;
  if (!FileTimeToSystemTime(&fileTime, &time)) {
    buffer[0] = '\0';
    return buffer;
  }
  // Truncation is expected for a short buffer; the result stays terminated.
  StringCchPrintfA(buffer, bufferChars, "%4d-%02d-%02dT%02d:%02d:%02d", time.wYear, time.wMonth, time.wDay,
                   time.wHour, time.wMinute, time.wSecond);
  return buffer;
}

}  // namespace quorvane
