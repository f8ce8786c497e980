#include "ExceptionReport.h"

namespace quorvane {

std::string ExceptionReport(const std::string& text, const char* sourceFile, int line) {
  std::string report;
  report.reserve(512);
  report += "exception at ";
  if (sourceFile == nullptr) {
    report += "<unknown file>";
  } else {
    // Only backslashes separate: the report keeps the Windows path rule.
    std::string file(sourceFile);
    const std::string::size_type slash = file.rfind('\\');
    report += slash == std::string::npos ? file : file.substr(slash + 1);
  }
  report += ", line ";
  report += std::to_string(line);
  report += " - ";
  report += text.empty() ? std::string("unknown exception") : text;
  return report;
}

}  // namespace quorvane
