// Naming of the exported native methods of
// com.quorvane.infrastructure.os.windows.Win32Impl. Every method listed here
// also appears, with its stdcall argument byte count, in native/jni/exports.txt.
#pragma once

#include <jni.h>

#define QV_NATIVE(method) Java_com_quorvane_infrastructure_os_windows_Win32Impl_##method
