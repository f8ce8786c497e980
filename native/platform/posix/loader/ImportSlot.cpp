#include "ImportSlot.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace quorvane {
namespace posix {

namespace {

#if defined(__x86_64__)

// Dynamic-section addresses are absolute in some glibc versions and
// load-relative in others; an address below the load base is relative.
template <typename T>
const T* Address(const link_map* map, ElfW(Addr) value) {
  return reinterpret_cast<const T*>(value < map->l_addr ? map->l_addr + value : value);
}

void** FindSlot(const link_map* map, const char* name) {
  const ElfW(Sym)* symbols = nullptr;
  const char* strings = nullptr;
  const ElfW(Rela)* tables[2] = {nullptr, nullptr};
  size_t sizes[2] = {0, 0};
  bool pltIsRela = true;
  for (const ElfW(Dyn)* entry = map->l_ld; entry->d_tag != DT_NULL; ++entry) {
    switch (entry->d_tag) {
      case DT_SYMTAB: symbols = Address<ElfW(Sym)>(map, entry->d_un.d_ptr); break;
      case DT_STRTAB: strings = Address<char>(map, entry->d_un.d_ptr); break;
      case DT_JMPREL: tables[0] = Address<ElfW(Rela)>(map, entry->d_un.d_ptr); break;
      case DT_PLTRELSZ: sizes[0] = entry->d_un.d_val; break;
      case DT_PLTREL: pltIsRela = entry->d_un.d_val == DT_RELA; break;
      case DT_RELA: tables[1] = Address<ElfW(Rela)>(map, entry->d_un.d_ptr); break;
      case DT_RELASZ: sizes[1] = entry->d_un.d_val; break;
      default: break;
    }
  }
  if (symbols == nullptr || strings == nullptr || !pltIsRela) return nullptr;
  for (int t = 0; t < 2; ++t) {
    if (tables[t] == nullptr) continue;
    for (size_t i = 0; i < sizes[t] / sizeof(ElfW(Rela)); ++i) {
      const ElfW(Rela)& relocation = tables[t][i];
      const auto type = ELF64_R_TYPE(relocation.r_info);
      if (type != R_X86_64_JUMP_SLOT && type != R_X86_64_GLOB_DAT) continue;
      const ElfW(Sym)& symbol = symbols[ELF64_R_SYM(relocation.r_info)];
      if (std::strcmp(strings + symbol.st_name, name) == 0)
        return reinterpret_cast<void**>(map->l_addr + relocation.r_offset);
    }
  }
  return nullptr;
}

#else

void** FindSlot(const link_map*, const char*) { return nullptr; }

#endif

struct RelroSearch {
  uintptr_t base;
  uintptr_t slot;
  bool inside = false;
};

bool InRelro(const link_map* map, void** slot) {
  RelroSearch search{map->l_addr, reinterpret_cast<uintptr_t>(slot)};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto* search = static_cast<RelroSearch*>(data);
        if (info->dlpi_addr != search->base) return 0;
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr)& header = info->dlpi_phdr[i];
          const uintptr_t start = info->dlpi_addr + header.p_vaddr;
          if (header.p_type == PT_GNU_RELRO && search->slot >= start && search->slot < start + header.p_memsz)
            search->inside = true;
        }
        return 1;
      },
      &search);
  return search.inside;
}

}  // namespace

ImportRedirect::ImportRedirect(const void* inLibrary, const char* name, void* replacement) {
  Dl_info info;
  link_map* map = nullptr;
  if (dladdr1(inLibrary, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 || map == nullptr) return;
  void** slot = FindSlot(map, name);
  if (slot == nullptr) return;
  slot_ = slot;
  readOnly_ = InRelro(map, slot);
  if (!Protect(true)) {
    slot_ = nullptr;
    return;
  }
  original_ = __atomic_exchange_n(slot_, replacement, __ATOMIC_SEQ_CST);
}

ImportRedirect::~ImportRedirect() {
  if (slot_ == nullptr) return;
  __atomic_store_n(slot_, original_, __ATOMIC_SEQ_CST);
  Protect(false);
}

bool ImportRedirect::Protect(bool writable) const {
  if (!readOnly_) return true;
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  void* start = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(slot_) & ~(page - 1));
  return mprotect(start, page, writable ? PROT_READ | PROT_WRITE : PROT_READ) == 0;
}

}  // namespace posix
}  // namespace quorvane
