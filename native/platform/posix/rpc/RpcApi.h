// RPC UUIDs of the Linux build: version 4 (random) UUIDs from the kernel's
// random source (getrandom), with the RFC 4122 variant.
#pragma once

#include "../base/WinTypes.h"

typedef GUID UUID;
typedef long RPC_STATUS;

#define RPC_S_OK 0L
#define RPC_S_UUID_NO_ADDRESS 1739L
#define RPC_S_UUID_LOCAL_ONLY 1824L

// RPC_S_OK; the random source failing (which getrandom never does once the
// pool is ready) answers RPC_S_UUID_NO_ADDRESS with Uuid zeroed.
RPC_STATUS UuidCreate(UUID* Uuid);
