// The IStorage (and IDirectWriterLock) object over a CompoundFile, and the
// STGM mode rules that StgOpenStorage and StgCreateDocfile share. Reference
// counted with the COM contract; the object may be used from any thread
// (the CompoundFile serialises).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "../StorageApi.h"
#include "CompoundFile.h"

namespace quorvane {
namespace posix {
namespace cfb {

// STGM flags -> share mode. STG_E_INVALIDFLAG for combinations the engine
// does not offer (transacted writing, priority, conversion, delete on release).
HRESULT ShareModeFromStgm(DWORD grfMode, bool creating, ShareMode* out);

// StgCreateDocfile with a choice of major version (3 or 4), for tools and tests.
HRESULT CreateDocfile(const WCHAR* name, DWORD grfMode, uint16_t majorVersion, IStorage** out);

// The engine behind an IStorage this layer made; empty for any other object.
std::shared_ptr<CompoundFile> CompoundFileOf(IStorage* storage);

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
