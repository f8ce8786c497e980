// i686 only: the DLL's own unwinder must know the DLL's frames.
//
// The DLL links libgcc statically, and on i686 C++ exceptions unwind by
// DWARF tables that crtbegin registers at start-up. When a shared
// libgcc_s_dw2-1.dll is already in the process (another mingw-built JNI
// library, plug-in or shell extension), crtbegin registers the tables with
// that library instead, and the first exception our static unwinder raises
// finds no frame and aborts the JVM. Right after crtbegin's registration
// (its constructor runs first, ours at priority 101 next, before any object
// of ours is built), the frames are registered with our own unwinder if it
// cannot find them. x64 unwinds through the system's tables and needs none.
#if defined(__i386__) && defined(__GNUC__) && !defined(__USING_SJLJ_EXCEPTIONS__)

#include <cstdlib>

#include "Win32Api.h"

extern "C" {
// libgcc's registration interface (unwind-dw2-fde.h), linked statically.
void __register_frame_info(const void* begin, void* object);
void* __deregister_frame_info(const void* begin);
const void* _Unwind_Find_FDE(void* pc, void* bases);
extern IMAGE_DOS_HEADER __ImageBase;
}

namespace {

// libgcc's struct object, which it fills in; larger than it needs.
void* g_object[16];
// crtbegin gives the frames to a shared libgcc of this name when one is loaded.
const char kSharedLibgcc[] = "libgcc_s_dw2-1.dll";
const BYTE* g_registered = nullptr;

using FindFde = const void* (*)(void* pc, void* bases);

// Our .eh_frame: the image section that holds the frame the other libgcc
// knows for `pc` (the image keeps no section names past eight characters).
const BYTE* EhFrameSection(void* pc) {
  const HMODULE other = GetModuleHandleA(kSharedLibgcc);
  const auto find = other != nullptr ? reinterpret_cast<FindFde>(reinterpret_cast<void*>(
                                           GetProcAddress(other, "_Unwind_Find_FDE")))
                                     : nullptr;
  void* bases[3] = {};
  const auto* fde = find != nullptr ? static_cast<const BYTE*>(find(pc, bases)) : nullptr;
  if (fde == nullptr) return nullptr;
  const auto* base = reinterpret_cast<const BYTE*>(&__ImageBase);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + __ImageBase.e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    const BYTE* start = base + section->VirtualAddress;
    if (fde >= start && fde < start + section->Misc.VirtualSize) return start;
  }
  return nullptr;
}

void Deregister() {
  if (g_registered != nullptr) __deregister_frame_info(g_registered);
  g_registered = nullptr;
}

__attribute__((constructor(101))) void RegisterFramesWithOurUnwinder() {
  void* bases[3] = {};
  void* const pc = reinterpret_cast<void*>(&RegisterFramesWithOurUnwinder);
  if (_Unwind_Find_FDE(pc, bases) != nullptr) return;
  const BYTE* frames = EhFrameSection(pc);
  if (frames == nullptr) return;
  __register_frame_info(frames, g_object);
  g_registered = frames;
  // The DLL's atexit list runs at unload, after the destructors of the
  // objects built later.
  std::atexit(Deregister);
}

}  // namespace

#endif
