// Item identifier lists of the Linux build. A list holds one item whose bytes
// are an absolute path (WCHARs with a terminating zero), then the zero-sized
// item that ends every list; it is allocated with CoTaskMemAlloc, so ILFree
// and CoTaskMemFree both release it.
#pragma once

#include <string>

#include "ShellApi.h"

namespace quorvane {
namespace posix {

// Null when the memory cannot be had or the path is too long for one item.
LPITEMIDLIST ItemIdListFromPath(const std::wstring& path);
// The path of a list made by ItemIdListFromPath; empty for null or an empty list.
std::wstring PathFromItemIdList(LPCITEMIDLIST pidl);

}  // namespace posix
}  // namespace quorvane
