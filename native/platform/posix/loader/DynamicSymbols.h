// Binding functions of a library opened with dlopen at run time: the
// desktop and network libraries that only some calls need are opened by the
// first call that needs them, so loading our library stays cheap and works
// on a machine that lacks them.
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

// dlopen of a runtime soname ("libcurl.so.4", never the development
// symlink), kept for the life of the process: GLib's types and threads, and
// curl's global state, must never be unmapped. Null when it cannot be loaded.
inline void* OpenForGood(const char* soname) { return dlopen(soname, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE); }

}  // namespace posix
}  // namespace quorvane

// A table of one library's functions, from an X-macro list of entries
// X(prefix, name): the member `name` has the exact type of `prefix##name` as
// the library's own header declares it, so a signature cannot drift.
//
//   #define QV_CURL_FUNCTIONS(X) X(curl_, easy_init) X(curl_, easy_cleanup)
//   QV_DYNAMIC_TABLE(CurlLibrary, QV_CURL_FUNCTIONS);                       // in a header
//   QV_DYNAMIC_LIBRARY(CurlLibrary, "libcurl.so.4", QV_CURL_FUNCTIONS)     // in DynamicLibraries.cpp
//
// Type::Get() opens the library on its first call (thread-safe, once per
// process) and answers the table when every function was found, else null
// for good. Members drop the prefix, so a function that the header also
// defines as a macro (g_object_ref) is still called as an ordinary member.
#define QV_DYNAMIC_MEMBER(prefix, name) decltype(&::prefix##name) name;
#define QV_DYNAMIC_TABLE(Type, LIST) \
  struct Type {                      \
    LIST(QV_DYNAMIC_MEMBER)          \
    static const Type* Get();        \
  }
#define QV_DYNAMIC_BIND(prefix, name) \
  found = ::quorvane::posix::BindSymbol(library, #prefix #name, &table.name) && found;
#define QV_DYNAMIC_LIBRARY(Type, soname, LIST)                 \
  const Type* Type::Get() {                                    \
    static const Type* const loaded = []() -> const Type* {    \
      static Type table;                                       \
      void* library = ::quorvane::posix::OpenForGood(soname);  \
      bool found = library != nullptr;                         \
      LIST(QV_DYNAMIC_BIND)                                    \
      return found ? &table : nullptr;                         \
    }();                                                       \
    return loaded;                                             \
  }
