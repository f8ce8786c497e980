// Assertions that stay active in the shipped library. They guard only
// conditions ordinary input cannot reach; a failure reports the expression,
// the unit and the line, then ends the process.
#pragma once

#include "ExceptionReport.h"

namespace quorvane {
[[noreturn]] void AssertionFailed(const char* expression, const char* file, int line);
}

#define QV_ASSERT(expression) \
  ((expression) ? (void)0 : ::quorvane::AssertionFailed(#expression, QV_UNIT_NAME, __LINE__))
