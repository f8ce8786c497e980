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
#include <cstring>

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
const BYTE* g_registered = nullptr;

// The DLL is linked with short section names, so the image itself names it.
const BYTE* EhFrameSection() {
  const auto* base = reinterpret_cast<const BYTE*>(&__ImageBase);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + __ImageBase.e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section)
    if (std::memcmp(section->Name, ".eh_fram", IMAGE_SIZEOF_SHORT_NAME) == 0) return base + section->VirtualAddress;
  return nullptr;
}

void Deregister() {
  if (g_registered != nullptr) __deregister_frame_info(g_registered);
  g_registered = nullptr;
}

__attribute__((constructor(101))) void RegisterFramesWithOurUnwinder() {
  void* bases[3] = {};
  if (_Unwind_Find_FDE(reinterpret_cast<void*>(&RegisterFramesWithOurUnwinder), bases) != nullptr) return;
  const BYTE* frames = EhFrameSection();
  if (frames == nullptr) return;
  __register_frame_info(frames, g_object);
  g_registered = frames;
  // The DLL's atexit list runs at unload, after the destructors of the
  // objects built later.
  std::atexit(Deregister);
}

}  // namespace

#endif
