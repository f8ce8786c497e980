// IPropertySetStorage over the streams of a root storage. The container
// engine's IStorage::QueryInterface(IID_IPropertySetStorage) hands out one
// of these through CreatePropertySetStorage.
#pragma once

#include <memory>

#include "../PropIdl.h"
#include "../StreamStore.h"

// E_POINTER for a null `out`, E_INVALIDARG for a null store.
HRESULT CreatePropertySetStorage(std::shared_ptr<quorvane::posix::StreamStore> store, IPropertySetStorage** out);
