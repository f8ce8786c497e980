// ReadDirectoryChangesW over the folder handle's DirectoryWatch.
#include "DirectoryWatch.h"
#include "FilesApi.h"
#include "OpenFile.h"

using quorvane::posix::ReferenceHandle;
using quorvane::posix::files::DirectoryWatch;
using quorvane::posix::files::OpenFile;

BOOL ReadDirectoryChangesW(HANDLE hDirectory, LPVOID lpBuffer, DWORD nBufferLength, BOOL bWatchSubtree,
                           DWORD dwNotifyFilter, LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped,
                           LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine) {
  if (lpBytesReturned) *lpBytesReturned = 0;
  // Completion after return would need a thread of ours writing into a
  // buffer the caller may have let go.
  if (lpOverlapped != nullptr || lpCompletionRoutine != nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  auto file = ReferenceHandle<OpenFile>(hDirectory, 0);
  if (!file) return FALSE;
  if (!file->IsFolder() || lpBytesReturned == nullptr || (lpBuffer == nullptr && nBufferLength > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!file->CanRead()) {  // FILE_LIST_DIRECTORY
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  DWORD error = ERROR_SUCCESS;
  std::shared_ptr<DirectoryWatch> watch = file->Watch(dwNotifyFilter, bWatchSubtree != FALSE, &error);
  if (watch) error = watch->Read(static_cast<uint8_t*>(lpBuffer), nBufferLength, lpBytesReturned);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}
