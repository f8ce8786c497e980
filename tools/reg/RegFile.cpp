// Writing and reading .reg files.
#include "RegFile.h"

#include <cwctype>
#include <vector>

namespace regtool {
namespace {

constexpr wchar_t kHeader[] = L"Windows Registry Editor Version 5.00";
constexpr wchar_t kOldHeader[] = L"REGEDIT4";
constexpr size_t kLineWidth = 80;  // regedit wraps hex data before this column

std::wstring Quoted(const std::wstring& text) {
  std::wstring out = L"\"";
  for (wchar_t c : text) {
    if (c == L'\\' || c == L'"') out += L'\\';
    out += c;
  }
  return out + L"\"";
}

// REG_SZ that a quoted string gives back exactly: one terminator, at the end.
bool IsPlainString(const Value& v) {
  if (v.type != REG_SZ || v.data.size() < 2 || v.data.size() % 2 != 0) return false;
  const std::wstring text = FromUtf16le(v.data);
  return !text.empty() && text.back() == 0 && text.find(L'\0') == text.size() - 1 &&
         ToUtf16le(text) == v.data;
}

std::wstring HexData(const std::wstring& prefix, const std::string& data) {
  std::wstring out = prefix;
  size_t column = prefix.size();
  wchar_t byte[4];
  for (size_t i = 0; i < data.size(); ++i) {
    swprintf(byte, 4, L"%02x", static_cast<unsigned char>(data[i]));
    out += byte;
    column += 2;
    if (i + 1 < data.size()) {
      out += L',';
      ++column;
      if (column + 3 > kLineWidth - 2) {
        out += L"\\\r\n  ";
        column = 2;
      }
    }
  }
  return out;
}

std::wstring ValueLine(const Value& v) {
  const std::wstring name = v.name.empty() ? L"@" : Quoted(v.name);
  if (IsPlainString(v)) {
    std::wstring text = FromUtf16le(v.data);
    text.pop_back();
    return name + L"=" + Quoted(text);
  }
  if (v.type == REG_DWORD && v.data.size() == 4) {
    wchar_t number[16];
    const uint32_t value = uint8_t(v.data[0]) | uint8_t(v.data[1]) << 8 | uint8_t(v.data[2]) << 16 |
                           uint32_t(uint8_t(v.data[3])) << 24;
    swprintf(number, 16, L"%08x", value);
    return name + L"=dword:" + number;
  }
  wchar_t type[16];
  swprintf(type, 16, L"hex(%x):", v.type);
  return HexData(name + L"=" + (v.type == REG_BINARY ? std::wstring(L"hex:") : std::wstring(type)), v.data);
}

void ExportKey(HKEY key, const std::wstring& fullName, std::wstring* out) {
  *out += L"[" + fullName + L"]\r\n";
  for (const Value& v : ReadValues(key)) *out += ValueLine(v) + L"\r\n";
  *out += L"\r\n";
  for (const std::wstring& name : ReadSubkeys(key)) {
    HKEY child;
    if (RegOpenKeyExW(key, name.c_str(), 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
    ExportKey(child, fullName + L"\\" + name, out);
    RegCloseKey(child);
  }
}

// A quoted string from `pos` (at its opening quote); false when unterminated.
bool ReadQuoted(const std::wstring& line, size_t* pos, std::wstring* text) {
  text->clear();
  for (size_t i = *pos + 1; i < line.size(); ++i) {
    if (line[i] == L'\\' && i + 1 < line.size()) {
      *text += line[++i];
    } else if (line[i] == L'"') {
      *pos = i + 1;
      return true;
    } else {
      *text += line[i];
    }
  }
  return false;
}

bool ParseHex(const std::wstring& list, std::string* data) {
  data->clear();
  std::wstring digits;
  for (wchar_t c : list + L",") {
    if (c == L',') {
      if (digits.empty()) continue;
      if (digits.size() > 2) return false;
      *data += static_cast<char>(std::wcstoul(digits.c_str(), nullptr, 16));
      digits.clear();
    } else if (std::iswxdigit(c)) {
      digits += c;
    } else if (!std::iswspace(c)) {
      return false;
    }
  }
  return true;
}

// "name"=data under `key`: set (or delete for "-"); ERROR_INVALID_DATA for a line it cannot read.
LONG ApplyValue(HKEY key, const std::wstring& line) {
  constexpr LONG kBadLine = 13;  // ERROR_INVALID_DATA
  std::wstring name;
  size_t pos = 0;
  if (line[0] == L'@') {
    pos = 1;
  } else if (!ReadQuoted(line, &pos, &name)) {
    return kBadLine;
  }
  while (pos < line.size() && line[pos] == L' ') ++pos;
  if (pos >= line.size() || line[pos] != L'=') return kBadLine;
  std::wstring data = line.substr(pos + 1);
  while (!data.empty() && std::iswspace(data.front())) data.erase(0, 1);
  if (data == L"-") {
    const LONG error = RegDeleteValueW(key, name.c_str());
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
  }
  Value v;
  if (!data.empty() && data[0] == L'"') {
    size_t at = 0;
    std::wstring text;
    if (!ReadQuoted(data, &at, &text)) return kBadLine;
    v.type = REG_SZ;
    v.data = ToUtf16le(text + L'\0');
  } else if (data.compare(0, 6, L"dword:") == 0) {
    std::wstring digits = data.substr(6);
    if (digits.empty() || digits.size() > 8 || digits.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos)
      return kBadLine;
    const uint32_t number = static_cast<uint32_t>(std::wcstoul(digits.c_str(), nullptr, 16));
    v.type = REG_DWORD;
    for (int i = 0; i < 4; ++i) v.data += static_cast<char>((number >> (8 * i)) & 0xFF);
  } else if (data.compare(0, 4, L"hex:") == 0) {
    v.type = REG_BINARY;
    if (!ParseHex(data.substr(4), &v.data)) return kBadLine;
  } else if (data.compare(0, 4, L"hex(") == 0) {
    const size_t close = data.find(L"):");
    if (close == std::wstring::npos || close == 4) return kBadLine;
    wchar_t* end = nullptr;
    const std::wstring type = data.substr(4, close - 4);
    v.type = static_cast<DWORD>(std::wcstoul(type.c_str(), &end, 16));
    if (*end != 0 || !ParseHex(data.substr(close + 2), &v.data)) return kBadLine;
  } else {
    return kBadLine;
  }
  return RegSetValueExW(key, name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                        static_cast<DWORD>(v.data.size()));
}

// Lines of the file, with hex data continued over "\" line ends joined.
std::vector<std::wstring> LogicalLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  std::wstring current;
  bool continued = false;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (continued) {
      size_t first = line.find_first_not_of(L" \t");
      line = first == std::wstring::npos ? std::wstring() : line.substr(first);
    }
    current += line;
    continued = !current.empty() && current.back() == L'\\' && current.find(L"=hex") != std::wstring::npos;
    if (continued) {
      current.pop_back();
      if (start <= text.size()) continue;
    }
    lines.push_back(current);
    current.clear();
  }
  return lines;
}

}  // namespace

std::wstring ExportText(HKEY key, const std::wstring& fullName) {
  std::wstring out = std::wstring(kHeader) + L"\r\n\r\n";
  ExportKey(key, fullName, &out);
  return out;
}

LONG DeleteTree(HKEY root, const std::wstring& subKey) {
  HKEY key;
  LONG error = RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, &key);
  if (error != ERROR_SUCCESS) return error;
  for (const std::wstring& name : ReadSubkeys(key)) {
    error = DeleteTree(key, name);
    if (error != ERROR_SUCCESS) break;
  }
  RegCloseKey(key);
  return error != ERROR_SUCCESS ? error : RegDeleteKeyW(root, subKey.c_str());
}

LONG ImportText(const std::wstring& text) {
  const std::vector<std::wstring> lines = LogicalLines(text);
  size_t first = 0;
  while (first < lines.size() && lines[first].find_first_not_of(L" \t") == std::wstring::npos) ++first;
  if (first == lines.size() || (lines[first] != kHeader && lines[first] != kOldHeader)) return ERROR_BADDB;
  HKEY key = nullptr;
  LONG result = ERROR_SUCCESS;
  for (size_t i = first + 1; i < lines.size(); ++i) {
    const std::wstring& line = lines[i];
    if (line.empty() || line[0] == L';') continue;
    LONG error = ERROR_SUCCESS;
    if (line[0] == L'[' && line.back() == L']') {
      if (key != nullptr) RegCloseKey(key);
      key = nullptr;
      const bool remove = line.size() > 1 && line[1] == L'-';
      KeyPath path;
      if (!ParseKeyPath(line.substr(remove ? 2 : 1, line.size() - (remove ? 3 : 2)), &path)) {
        error = ERROR_BADKEY;
      } else if (remove) {
        error = DeleteTree(path.root, path.subKey);
        if (error == ERROR_FILE_NOT_FOUND) error = ERROR_SUCCESS;
      } else {
        error = RegCreateKeyExW(path.root, path.subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                nullptr, &key, nullptr);
      }
    } else if (key != nullptr && (line[0] == L'"' || line[0] == L'@')) {
      error = ApplyValue(key, line);
    }
    if (result == ERROR_SUCCESS) result = error;
  }
  if (key != nullptr) RegCloseKey(key);
  return result;
}

std::wstring DecodeFile(const std::string& bytes) {
  if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) return FromUtf16le(bytes.substr(2));
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return FromUtf8(bytes.substr(3));
  return FromUtf8(bytes);
}

std::string EncodeFile(const std::wstring& text) { return "\xFF\xFE" + ToUtf16le(text); }

}  // namespace regtool
