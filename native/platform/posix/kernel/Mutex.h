// Mutexes of the Linux build: CreateMutexW and ReleaseMutex; waiting and
// closing go through Handles.h (WaitForSingleObject answers WAIT_ABANDONED
// to the thread that takes over a mutex whose owner died holding it).
//
// A mutex is a robust, recursive pthread mutex. A named one lives in a
// shared page of the per-user namespace (ObjectNamespace.h, kind "mutex"),
// so every process of the user reaches the same mutex:
//  - Ownership belongs to a thread and is recursive for it, as on Windows;
//    ReleaseMutex from another thread fails with ERROR_NOT_OWNER.
//  - When the owning thread or its whole process ends without releasing
//    (killed, crashed), the kernel marks the mutex (robust futex list); the
//    next waiter gets it with WAIT_ABANDONED and it is consistent again.
//  - The name stays alive exactly like a named event's (Event.h): each handle
//    holds a shared flock on the page's file, and a creator that finds no
//    holder starts a fresh mutex, so a page left by dead processes is never
//    trusted. The last close removes the file.
//  - A handle closed while one of its process's threads still owns the
//    mutex keeps its page mapped (and its hold on the name) until the
//    process ends, so the kernel can still mark the mutex abandoned then.
// Mutexes and events (Event.h) share one namespace: a name held by one kind
// is refused to the other with ERROR_INVALID_HANDLE, as on Windows.
// Each handle keeps its access rights: CreateMutexW's have MUTEX_ALL_ACCESS,
// OpenMutexW's what was asked for; waiting needs SYNCHRONIZE.
// Security attributes are not read; handles are not inherited.
#pragma once

#include "../base/WinTypes.h"
#include "Handles.h"

#define MUTEX_MODIFY_STATE 0x0001u
#define MUTEX_ALL_ACCESS 0x001F0001u

#ifndef ERROR_NOT_OWNER
#  define ERROR_NOT_OWNER 288L
#endif

// A null or empty name makes an unnamed mutex. An existing name opens that
// mutex (last error ERROR_ALREADY_EXISTS) and ignores bInitialOwner. NULL on
// failure, among others with the name errors of ObjectNameOf
// (ObjectNamespace.h).
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName);
// NULL when no mutex of that name exists (ERROR_FILE_NOT_FOUND), the name is
// an event's (ERROR_INVALID_HANDLE), or null or empty.
HANDLE OpenMutexW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
// FALSE with ERROR_NOT_OWNER when the calling thread does not own it, or
// ERROR_INVALID_HANDLE when the handle is not a mutex. Needs no access right.
BOOL ReleaseMutex(HANDLE hMutex);
