// Points one function that a loaded library imports elsewhere, for that
// library's calls only and for as long as the object lives: the slot is the
// library's own entry in its global offset table, so the process's symbol
// and every other library are untouched.
#pragma once

namespace quorvane {
namespace posix {

class ImportRedirect {
 public:
  // `inLibrary`: the address of any function of the library; `name`: the
  // symbol it imports. Inactive when the slot cannot be found or written
  // (another architecture, a library without it).
  ImportRedirect(const void* inLibrary, const char* name, void* replacement);
  ~ImportRedirect();
  ImportRedirect(const ImportRedirect&) = delete;
  ImportRedirect& operator=(const ImportRedirect&) = delete;

  bool Active() const { return slot_ != nullptr; }

 private:
  // Makes the slot's page writable (true) or gives back read-only (false)
  // when the slot lies in the library's read-only-after-relocation part.
  bool Protect(bool writable) const;

  void** slot_ = nullptr;
  void* original_ = nullptr;
  bool readOnly_ = false;
};

}  // namespace posix
}  // namespace quorvane
