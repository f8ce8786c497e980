// Events of the Linux build: CreateEventW, OpenEventW, SetEvent, ResetEvent.
// Waiting and closing go through Handles.h.
//
// Named events live in the per-user namespace (ObjectNamespace.h), one
// shared page per name, so every process of the user reaches the same
// event. How a name stays alive, and why a crashed holder leaves nothing
// behind that matters:
//  - Each handle keeps its own descriptor on the event's file with a shared
//    flock. The kernel drops that lock when the handle is closed or when its
//    process dies, however it dies.
//  - Creating, opening and the last close run under the namespace lock.
//    Under it, an exclusive flock that succeeds at once proves that no handle
//    to the name exists anywhere: CreateEventW then rebuilds the page from
//    its own arguments (manual reset, initial state) and OpenEventW removes
//    the file and answers NULL; the last CloseHandle removes the file.
//  - So the file left by a process that died holding the last handle is
//    never read: the next CreateEventW sees no holder and starts afresh,
//    exactly as if the event had been destroyed with its last handle.
//  - The state itself is one word changed only by atomic operations (see
//    EventObject.h), with no lock inside that a dead process could keep.
// Security attributes are not read, desired access and the inherit flag are
// accepted; handles do not pass to programs this process starts (close on
// exec), though a forked copy of the process shares them, as it shares memory.
#pragma once

#include "../WinTypes.h"
#include "Handles.h"

#define EVENT_MODIFY_STATE 0x0002u
#define EVENT_ALL_ACCESS 0x001F0003u

// A null or empty name makes an unnamed event. An existing name opens that
// event and ignores bManualReset and bInitialState. NULL on failure.
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCWSTR lpName);
// NULL when no event of that name exists (or the name is null or empty).
HANDLE OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
// FALSE when the handle is not an event.
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);
