// The .reg text format of regedit ("Windows Registry Editor Version 5.00"):
// export of a key's tree and import of a file, and deleting a tree.
#pragma once

#include <string>

#include "RegText.h"

namespace regtool {

// The whole file text for the tree under `key`, named `fullName`.
std::wstring ExportText(HKEY key, const std::wstring& fullName);
// Applies a file's text; the first error (a Windows error code), else
// ERROR_SUCCESS. ERROR_BADDB when the text is not a registry script.
LONG ImportText(const std::wstring& text);
// Deletes `subKey` of `root` with everything under it.
LONG DeleteTree(HKEY root, const std::wstring& subKey);

// File bytes to text: UTF-16LE with its byte-order mark, else UTF-8.
std::wstring DecodeFile(const std::string& bytes);
// Text to file bytes as regedit writes them: UTF-16LE with a byte-order mark.
std::string EncodeFile(const std::wstring& text);

}  // namespace regtool
