// Binding functions of a library opened with dlopen at run time, for the
// desktop libraries the Linux build uses only when they are there.
#pragma once

#include <dlfcn.h>

namespace quorvane {
namespace posix {

// Sets `slot` to `name` in `library` (null when the library or the symbol is
// missing); whether it was found.
template <typename F>
bool BindSymbol(void* library, const char* name, F* slot) {
  *slot = library == nullptr ? nullptr : reinterpret_cast<F>(dlsym(library, name));
  return *slot != nullptr;
}

}  // namespace posix
}  // namespace quorvane
