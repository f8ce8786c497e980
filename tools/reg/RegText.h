// Text and key names of the reg tool: UTF-8 on the terminal, UTF-16LE in
// registry string data and .reg files, wide text for the registry calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Win32Api.h"

namespace regtool {

std::wstring FromUtf8(const std::string& text);
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf16le(const std::string& bytes);
std::string ToUtf16le(const std::wstring& text);

// A key named on the command line or in a .reg file: "HKCU\Software\x" or
// "HKEY_CURRENT_USER\Software\x".
struct KeyPath {
  HKEY root = nullptr;
  std::wstring rootName;  // the long name: HKEY_CURRENT_USER
  std::wstring subKey;    // without leading or trailing backslashes
  std::wstring Full() const { return subKey.empty() ? rootName : rootName + L"\\" + subKey; }
};
bool ParseKeyPath(const std::wstring& text, KeyPath* path);
// What is wrong with a key name, naming the part; empty when nothing is.
std::wstring KeyNameProblem(const std::wstring& text);

// Registry types by name (REG_SZ ...) and back.
bool TypeFromName(const std::wstring& name, DWORD* type);
std::wstring TypeName(DWORD type);

// The data as `reg query` shows it, REG_MULTI_SZ items joined by `separator`.
std::wstring ShowData(DWORD type, const std::string& data, const std::wstring& separator = L"\\0");
// The bytes of `reg add /d text` for a type; false when the text does not fit it.
bool DataFromText(DWORD type, const std::wstring& text, const std::wstring& separator, std::string* data);

// A value read from or written to the registry.
struct Value {
  std::wstring name;
  DWORD type = REG_NONE;
  std::string data;
};
// Every value or subkey name of `key`; the first read error, else
// ERROR_SUCCESS. A value deleted meanwhile is left out.
LONG ReadValues(HKEY key, std::vector<Value>* values);
LONG ReadSubkeys(HKEY key, std::vector<std::wstring>* names);

// The message Windows gives for a registry error, without "ERROR: ".
std::string Message(LONG error);

}  // namespace regtool
