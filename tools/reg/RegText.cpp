// Conversions, key names and data display of the reg tool.
#include "RegText.h"

#include "posix/registry/RegistryNames.h"

#include <cwctype>

namespace regtool {
namespace {

struct Root {
  const wchar_t* shortName;
  const wchar_t* longName;
  HKEY key;
};
const Root kRoots[] = {
    {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {L"HKU", L"HKEY_USERS", HKEY_USERS},
    {L"HKCC", L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

struct TypeEntry {
  DWORD type;
  const wchar_t* name;
};
// Sorted by value.
const TypeEntry kTypes[] = {
    {REG_NONE, L"REG_NONE"},           {REG_SZ, L"REG_SZ"},
    {REG_EXPAND_SZ, L"REG_EXPAND_SZ"}, {REG_BINARY, L"REG_BINARY"},
    {REG_DWORD, L"REG_DWORD"},         {REG_DWORD_BIG_ENDIAN, L"REG_DWORD_BIG_ENDIAN"},
    {REG_LINK, L"REG_LINK"},           {REG_MULTI_SZ, L"REG_MULTI_SZ"},
    {REG_RESOURCE_LIST, L"REG_RESOURCE_LIST"}, {REG_QWORD, L"REG_QWORD"},
};

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

uint64_t LittleEndian(const std::string& data, size_t bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < bytes && i < data.size(); ++i) value |= uint64_t(uint8_t(data[i])) << (8 * i);
  return value;
}

std::string LittleEndianBytes(uint64_t value, size_t bytes) {
  std::string out;
  for (size_t i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

// The strings of string data, without the terminator the writer counted.
std::wstring TextOf(const std::string& data) {
  std::wstring text = FromUtf16le(data);
  if (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

bool ParseNumber(const std::wstring& text, uint64_t limit, uint64_t* value) {
  if (text.empty()) return false;
  const bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
  uint64_t v = 0;
  for (size_t i = hex ? 2 : 0; i < text.size(); ++i) {
    const wchar_t c = static_cast<wchar_t>(std::towlower(text[i]));
    const int digit = c >= L'0' && c <= L'9' ? c - L'0' : hex && c >= L'a' && c <= L'f' ? c - L'a' + 10 : -1;
    const uint64_t base = hex ? 16 : 10;
    if (digit < 0 || v > (limit - digit) / base) return false;
    v = v * base + digit;
  }
  *value = v;
  return true;
}

}  // namespace

std::wstring FromUtf8(const std::string& text) { return quorvane::posix::registry::Wide(text); }

std::string ToUtf8(const std::wstring& text) { return quorvane::posix::registry::Utf8(text); }

std::wstring FromUtf16le(const std::string& bytes) {
  std::wstring out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    uint32_t unit = uint8_t(bytes[i]) | (uint32_t(uint8_t(bytes[i + 1])) << 8);
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
      const uint32_t low = uint8_t(bytes[i + 2]) | (uint32_t(uint8_t(bytes[i + 3])) << 8);
      if (low >= 0xDC00 && low < 0xE000) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    out += static_cast<wchar_t>(unit);
  }
  return out;
}

std::string ToUtf16le(const std::wstring& text) {
  std::string out;
  auto unit = [&out](uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  for (wchar_t wc : text) {
    const uint32_t c = static_cast<uint32_t>(wc);
    if (c >= 0x10000 && c <= 0x10FFFF) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c > 0xFFFF ? 0xFFFD : c);
    }
  }
  return out;
}

bool ParseKeyPath(const std::wstring& text, KeyPath* path) {
  const size_t slash = text.find(L'\\');
  const std::wstring root = Upper(text.substr(0, slash));
  for (const Root& r : kRoots) {
    if (root != r.shortName && root != r.longName) continue;
    path->root = r.key;
    path->rootName = r.longName;
    path->subKey = slash == std::wstring::npos ? std::wstring() : text.substr(slash + 1);
    while (!path->subKey.empty() && path->subKey.back() == L'\\') path->subKey.pop_back();
    return path->subKey.empty() || path->subKey[0] != L'\\';
  }
  return false;
}

std::wstring KeyNameProblem(const std::wstring& text) {
  const size_t slash = text.find(L'\\');
  const std::wstring root = text.substr(0, slash);
  bool known = false;
  for (const Root& r : kRoots) known = known || Upper(root) == r.shortName || Upper(root) == r.longName;
  if (!known) return L"\"" + root + L"\" is not a root key (HKLM, HKCU, HKCR, HKU or HKCC)";
  std::wstring rest = slash == std::wstring::npos ? std::wstring() : text.substr(slash + 1);
  while (!rest.empty() && rest.back() == L'\\') rest.pop_back();
  if (rest.empty()) return std::wstring();
  std::wstring previous = root, part;
  size_t depth = 0;
  for (size_t i = 0; i <= rest.size(); ++i) {
    if (i < rest.size() && rest[i] != L'\\') {
      part += rest[i];
      continue;
    }
    if (part.empty()) return L"the part after \"" + previous + L"\" is empty";
    if (quorvane::posix::registry::Utf16Length(part) > QV_MAX_KEY_NAME)
      return L"\"" + part.substr(0, 16) + L"...\" is longer than 255 characters";
    if (++depth > 512) return L"it goes more than 512 levels deep";
    previous = part;
    part.clear();
  }
  return std::wstring();
}

bool TypeFromName(const std::wstring& name, DWORD* type) {
  for (const TypeEntry& t : kTypes)
    if (Upper(name) == t.name) {
      *type = t.type;
      return true;
    }
  return false;
}

std::wstring TypeName(DWORD type) {
  for (const TypeEntry& t : kTypes)
    if (t.type == type) return t.name;
  wchar_t number[16];
  swprintf(number, 16, L"0x%x", type);  // reg shows unknown types by number
  return number;
}

std::wstring ShowData(DWORD type, const std::string& data, const std::wstring& separator) {
  wchar_t number[32];
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return TextOf(data);
    case REG_MULTI_SZ: {
      std::wstring text = TextOf(data);
      while (!text.empty() && text.back() == 0) text.pop_back();
      std::wstring shown;
      for (wchar_t c : text) shown += c == 0 ? separator : std::wstring(1, c);
      return shown;
    }
    case REG_DWORD:
      if (data.size() == 4) {
        swprintf(number, 32, L"0x%x", static_cast<unsigned>(LittleEndian(data, 4)));
        return number;
      }
      break;
    case REG_QWORD:
      if (data.size() == 8) {
        swprintf(number, 32, L"0x%llx", static_cast<unsigned long long>(LittleEndian(data, 8)));
        return number;
      }
      break;
  }
  std::wstring hex;
  for (unsigned char b : data) {
    swprintf(number, 32, L"%02X", b);
    hex += number;
  }
  return hex;
}

bool DataFromText(DWORD type, const std::wstring& text, const std::wstring& separator, std::string* data) {
  uint64_t number;
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      *data = ToUtf16le(text + L'\0');
      return true;
    case REG_MULTI_SZ: {
      std::wstring list;
      for (size_t start = 0; start <= text.size();) {
        const size_t end = text.find(separator, start);
        const std::wstring item = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (!item.empty()) list += item + L'\0';
        if (end == std::wstring::npos) break;
        start = end + separator.size();
      }
      *data = ToUtf16le(list + L'\0');
      return true;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
      if (!ParseNumber(text.empty() ? L"0" : text, 0xFFFFFFFFu, &number)) return false;
      *data = LittleEndianBytes(number, 4);
      if (type == REG_DWORD_BIG_ENDIAN) *data = std::string(data->rbegin(), data->rend());
      return true;
    case REG_QWORD:
      if (!ParseNumber(text.empty() ? L"0" : text, UINT64_MAX, &number)) return false;
      *data = LittleEndianBytes(number, 8);
      return true;
    default: {  // REG_BINARY, REG_NONE and the rest: hexadecimal digits
      if (text.size() % 2 != 0) return false;
      data->clear();
      for (size_t i = 0; i < text.size(); i += 2) {
        if (!ParseNumber(L"0x" + text.substr(i, 2), 0xFF, &number)) return false;
        *data += static_cast<char>(number);
      }
      return true;
    }
  }
}

LONG ReadValues(HKEY key, std::vector<Value>* values) {
  values->clear();
  std::vector<wchar_t> name(QV_MAX_VALUE_NAME + 1);
  for (DWORD index = 0;; ++index) {
    DWORD units = static_cast<DWORD>(name.size()), size = 0, type = 0;
    LONG error = RegEnumValueW(key, index, name.data(), &units, nullptr, &type, nullptr, &size);
    if (error == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) return error;
    Value value{std::wstring(name.data(), units), type, std::string()};
    do {  // again while it grows meanwhile
      value.data.resize(size);
      error = RegQueryValueExW(key, value.name.c_str(), nullptr, &value.type,
                               reinterpret_cast<BYTE*>(&value.data[0]), &size);
    } while (error == ERROR_MORE_DATA);
    if (error == ERROR_FILE_NOT_FOUND) continue;  // deleted meanwhile
    if (error != ERROR_SUCCESS) return error;
    value.data.resize(size);
    values->push_back(value);
  }
}

LONG ReadSubkeys(HKEY key, std::vector<std::wstring>* names) {
  names->clear();
  for (DWORD index = 0;; ++index) {
    wchar_t name[QV_MAX_KEY_NAME + 1];
    DWORD units = QV_MAX_KEY_NAME + 1;
    const LONG error = RegEnumKeyExW(key, index, name, &units, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) return error;
    names->emplace_back(name, units);
  }
}

std::string Message(LONG error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_KEY_DELETED:
      return "The system was unable to find the specified registry key or value.";
    case ERROR_ACCESS_DENIED:
      return "Access is denied.";
    case ERROR_INVALID_PARAMETER:
      return "The parameter is incorrect.";
    case ERROR_BADDB:
      return "The configuration registry database is corrupt.";
    case ERROR_CANTOPEN:
      return "The configuration registry key could not be opened.";
    case ERROR_CANTREAD:
      return "The configuration registry key could not be read.";
    case ERROR_CANTWRITE:
      return "The configuration registry key could not be written.";
    case ERROR_BAD_PATHNAME:
      return "The specified path is invalid.";
    case ERROR_FILE_TOO_LARGE:
      return "The data is larger than a registry value may hold (999,000,000 bytes).";
    default:
      return "Error accessing the registry.";
  }
}

}  // namespace regtool
