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
// Events and mutexes (Mutex.h) share one namespace: a name held by one kind
// is refused to the other with ERROR_INVALID_HANDLE, as on Windows.
// Security attributes are not read. Each handle keeps its access rights:
// CreateEventW's have EVENT_ALL_ACCESS, OpenEventW's what was asked for;
// setting and resetting need EVENT_MODIFY_STATE, waiting SYNCHRONIZE. The
// inherit flag is accepted; handles do not pass to programs this process
// starts (close on exec), though a forked copy of the process shares them, as
// it shares memory.
#pragma once

#include "../base/WinTypes.h"
#include "Handles.h"

#define EVENT_QUERY_STATE 0x0001u
#define EVENT_MODIFY_STATE 0x0002u
#define EVENT_ALL_ACCESS 0x001F0003u

// A null or empty name makes an unnamed event. An existing name opens that
// event and ignores bManualReset and bInitialState. NULL on failure, among
// others with the name errors of ObjectNameOf (ObjectNamespace.h).
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCWSTR lpName);
// NULL when no event of that name exists (ERROR_FILE_NOT_FOUND), the name
// is a mutex's (ERROR_INVALID_HANDLE), or null or empty.
HANDLE OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
// FALSE with ERROR_INVALID_HANDLE when the handle is not an event, with
// ERROR_ACCESS_DENIED when it lacks EVENT_MODIFY_STATE.
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);
