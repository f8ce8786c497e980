// The local wall-clock time of the Linux build (the TZ rules of the C
// library), with milliseconds.
#pragma once

#include "../base/WinTypes.h"

void GetLocalTime(LPSYSTEMTIME lpSystemTime);
