// The .reg text format of regedit ("Windows Registry Editor Version 5.00"):
// export of a key's tree and import of a file, and deleting a tree.
#pragma once

#include <string>

#include "RegText.h"

namespace regtool {

constexpr LONG kInvalidData = 13;  // ERROR_INVALID_DATA

// The whole file text for the tree under `key`, named `fullName`; a read
// error, or kInvalidData with `unwritable` set to a name that the format
// cannot hold (a line break in it).
LONG ExportText(HKEY key, const std::wstring& fullName, std::wstring* text, std::wstring* unwritable);

// Why an import failed: the line (from 1; 0 for the file as a whole) and a
// Windows error, or the text of what is wrong with the line.
struct ImportError {
  size_t line = 0;
  LONG error = ERROR_SUCCESS;
  std::string what;
};
// Reads the whole text, then applies it in one transaction per store, or
// nothing. ERROR_BADDB on line 0 when the text is not a registry script.
ImportError ImportText(const std::wstring& text);
// Deletes `subKey` of `root` with everything under it; a root itself
// (empty `subKey`) is refused with ERROR_ACCESS_DENIED.
LONG DeleteTree(HKEY root, const std::wstring& subKey);

// File bytes to text: UTF-16LE or UTF-8 with its byte-order mark; else a
// REGEDIT4 file is Windows-1252, as regedit wrote it, and any other UTF-8.
std::wstring DecodeFile(const std::string& bytes);
// Text to file bytes as regedit writes them: UTF-16LE with a byte-order mark.
std::string EncodeFile(const std::wstring& text);

}  // namespace regtool
