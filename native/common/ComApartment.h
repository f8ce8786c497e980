// COM on the calling thread for the length of one call.
#pragma once

#include "Win32Api.h"

namespace quorvane {

// The shell's calls (file information, folders, file operations, the
// notification icon) need COM on the calling thread, and shell extensions
// misbehave without it; a Java thread usually has none. A thread without
// COM gets a single-threaded apartment for the call and none after it. A
// thread that has one keeps it: the same model is counted once more and
// balanced; the other model (RPC_E_CHANGED_MODE) is left alone and serves.
// Not copyable; lives on the stack of the call that needs it.
class ComApartment final {
 public:
  ComApartment()
      : counted_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  ~ComApartment() {
    if (counted_) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  const bool counted_;
};

}  // namespace quorvane
