// The library's error convention: internal checks throw standard exceptions
// whose message is a report text naming the failed condition, the source unit
// and the line.
#pragma once

#include <stdexcept>
#include <string>

namespace quorvane {

// "exception at <file>, line <n> - <text>". The file is the part of
// sourceFile after its last backslash ("<unknown file>" when null); an empty
// text reads "unknown exception".
std::string ExceptionReport(const std::string& text, const char* sourceFile, int line);

// A broken invariant of an object's state (e.g. using an untracked record).
class invalid_state : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

namespace check {
using std::invalid_argument;
using std::logic_error;
using std::runtime_error;
using quorvane::invalid_state;
}  // namespace check

}  // namespace quorvane

// Bare name of the current unit (e.g. "FileStore.cpp"): compilers here write
// forward slashes into __FILE__, so reports would otherwise differ by platform.
#if defined(__FILE_NAME__)
#  define QV_UNIT_NAME __FILE_NAME__
#else
#  define QV_UNIT_NAME __FILE__
#endif

// CHECK(runtime_error | logic_error | invalid_argument | invalid_state, condition)
#define CHECK(category, condition)                                                   \
  do {                                                                               \
    if (!(condition))                                                                \
      throw ::quorvane::check::category(                                             \
          ::quorvane::ExceptionReport(#category " : " #condition, QV_UNIT_NAME, __LINE__)); \
  } while (0)

// A failure that has a message rather than a condition: a std::runtime_error.
#define RAISE(message) \
  throw std::runtime_error(::quorvane::ExceptionReport((message), QV_UNIT_NAME, __LINE__))
