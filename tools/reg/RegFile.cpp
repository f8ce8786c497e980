// Writing and reading .reg files.
#include "RegFile.h"

#include <cwctype>
#include <vector>

#include "posix/registry/RegistryStore.h"
#include "posix/text/CodePages.h"

namespace regtool {
namespace {

constexpr wchar_t kHeader[] = L"Windows Registry Editor Version 5.00";
constexpr wchar_t kOldHeader[] = L"REGEDIT4";
constexpr size_t kLineWidth = 80;  // regedit wraps hex data before this column
// REGEDIT4 files are ANSI, text and string data alike, as regedit wrote them
// on Western systems; a byte-order mark says otherwise for the text.
constexpr UINT kAnsiCodePage = 1252;

std::wstring FromAnsi(const std::string& bytes) {
  std::wstring text;
  quorvane::posix::DecodeFromCodePage(kAnsiCodePage, bytes.data(), bytes.size(), text, false);
  return text;
}

std::wstring Quoted(const std::wstring& text) {
  std::wstring out = L"\"";
  for (wchar_t c : text) {
    if (c == L'\\' || c == L'"') out += L'\\';
    out += c;
  }
  return out + L"\"";
}

// A quoted string holds anything but a line break: lines end there.
bool Quotable(const std::wstring& text) { return text.find_first_of(L"\r\n") == std::wstring::npos; }

// REG_SZ that a quoted string gives back exactly: one terminator, at the end.
bool IsPlainString(const Value& v) {
  if (v.type != REG_SZ || v.data.size() < 2 || v.data.size() % 2 != 0) return false;
  const std::wstring text = FromUtf16le(v.data);
  return !text.empty() && text.back() == 0 && text.find(L'\0') == text.size() - 1 &&
         ToUtf16le(text) == v.data && Quotable(text);
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

LONG ExportKey(HKEY key, const std::wstring& fullName, std::wstring* out, std::wstring* unwritable) {
  std::vector<Value> values;
  std::vector<std::wstring> subkeys;
  LONG error = ReadValues(key, &values);
  if (error == ERROR_SUCCESS) error = ReadSubkeys(key, &subkeys);
  if (error != ERROR_SUCCESS) return error;
  *unwritable = fullName;
  if (!Quotable(fullName)) return kInvalidData;
  *out += L"[" + fullName + L"]\r\n";
  for (const Value& v : values) {
    *unwritable = fullName + L"\\" + v.name;
    if (!Quotable(v.name)) return kInvalidData;
    *out += ValueLine(v) + L"\r\n";
  }
  *out += L"\r\n";
  for (const std::wstring& name : subkeys) {
    HKEY child;
    error = RegOpenKeyExW(key, name.c_str(), 0, KEY_READ, &child);
    if (error == ERROR_FILE_NOT_FOUND) continue;  // deleted meanwhile
    if (error == ERROR_SUCCESS) {
      error = ExportKey(child, fullName + L"\\" + name, out, unwritable);
      RegCloseKey(child);
    }
    if (error != ERROR_SUCCESS) return error;
  }
  return ERROR_SUCCESS;
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

// One line of the file: a key, a key's deletion or a value of the key before.
struct Step {
  size_t line;
  enum { kKey, kDeleteKey, kValue, kDeleteValue } kind;
  KeyPath path;
  Value value;
};

// "name"=data or "name"=-; false for a line it cannot read. In an `ansi`
// file, hex(2) and hex(7) data are ANSI strings, widened to UTF-16.
bool ParseValue(const std::wstring& line, bool ansi, Step* step) {
  Value& v = step->value;
  size_t pos = 0;
  if (line[0] == L'@') {
    pos = 1;
  } else if (!ReadQuoted(line, &pos, &v.name)) {
    return false;
  }
  while (pos < line.size() && line[pos] == L' ') ++pos;
  if (pos >= line.size() || line[pos] != L'=') return false;
  std::wstring data = line.substr(pos + 1);
  while (!data.empty() && std::iswspace(data.front())) data.erase(0, 1);
  step->kind = Step::kValue;
  if (data == L"-") {
    step->kind = Step::kDeleteValue;
  } else if (!data.empty() && data[0] == L'"') {
    size_t at = 0;
    std::wstring text;
    if (!ReadQuoted(data, &at, &text) || at != data.size()) return false;
    v.type = REG_SZ;
    v.data = ToUtf16le(text + L'\0');
  } else if (data.compare(0, 6, L"dword:") == 0) {
    std::wstring digits = data.substr(6);
    if (digits.empty() || digits.size() > 8 || digits.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos)
      return false;
    const uint32_t number = static_cast<uint32_t>(std::wcstoul(digits.c_str(), nullptr, 16));
    v.type = REG_DWORD;
    for (int i = 0; i < 4; ++i) v.data += static_cast<char>((number >> (8 * i)) & 0xFF);
  } else if (data.compare(0, 4, L"hex:") == 0) {
    v.type = REG_BINARY;
    if (!ParseHex(data.substr(4), &v.data)) return false;
  } else if (data.compare(0, 4, L"hex(") == 0) {
    const size_t close = data.find(L"):");
    if (close == std::wstring::npos || close == 4) return false;
    wchar_t* end = nullptr;
    const std::wstring type = data.substr(4, close - 4);
    v.type = static_cast<DWORD>(std::wcstoul(type.c_str(), &end, 16));
    if (*end != 0 || !ParseHex(data.substr(close + 2), &v.data)) return false;
    if (ansi && (v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ)) {
      std::wstring text = FromAnsi(v.data);
      v.data = ToUtf16le(text);
    }
  } else {
    return false;
  }
  return true;
}

// Lines of the file, each with the number of its first line, with hex data
// continued over "\" line ends joined and spaces at line ends dropped.
std::vector<std::pair<size_t, std::wstring>> LogicalLines(const std::wstring& text) {
  std::vector<std::pair<size_t, std::wstring>> lines;
  size_t number = 0, first = 1;
  std::wstring current;
  bool continued = false;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    while (!line.empty() && (line.back() == L'\r' || line.back() == L' ' || line.back() == L'\t')) line.pop_back();
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
    lines.emplace_back(first, current);
    current.clear();
    first = number + 1;
  }
  return lines;
}

}  // namespace

LONG ExportText(HKEY key, const std::wstring& fullName, std::wstring* text, std::wstring* unwritable) {
  *text = std::wstring(kHeader) + L"\r\n\r\n";
  return ExportKey(key, fullName, text, unwritable);
}

LONG DeleteTree(HKEY root, const std::wstring& subKey) {
  if (subKey.empty()) return ERROR_ACCESS_DENIED;  // a root never goes
  HKEY key;
  LONG error = RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, &key);
  if (error != ERROR_SUCCESS) return error;
  std::vector<std::wstring> subkeys;
  error = ReadSubkeys(key, &subkeys);
  for (size_t i = 0; error == ERROR_SUCCESS && i < subkeys.size(); ++i) error = DeleteTree(key, subkeys[i]);
  RegCloseKey(key);
  return error != ERROR_SUCCESS ? error : RegDeleteKeyW(root, subKey.c_str());
}

namespace {

// Every line as a step; the first line it cannot read as an error.
ImportError Parse(const std::wstring& text, std::vector<Step>* steps) {
  const auto lines = LogicalLines(text);
  size_t first = 0;
  while (first < lines.size() && lines[first].second.empty()) ++first;
  if (first == lines.size() || (lines[first].second != kHeader && lines[first].second != kOldHeader))
    return ImportError{0, ERROR_BADDB, ""};
  const bool ansi = lines[first].second == kOldHeader;
  bool inKey = false;
  for (size_t i = first + 1; i < lines.size(); ++i) {
    const std::wstring& line = lines[i].second;
    if (line.empty() || line[0] == L';') continue;
    Step step{lines[i].first, Step::kKey, KeyPath(), Value()};
    const auto bad = [&step](const char* what) { return ImportError{step.line, ERROR_SUCCESS, what}; };
    if (line[0] == L'[') {
      if (line.back() != L']') return bad("the key has no closing bracket");
      const bool remove = line.size() > 1 && line[1] == L'-';
      const std::wstring name = line.substr(remove ? 2 : 1, line.size() - (remove ? 3 : 2));
      const std::wstring problem = KeyNameProblem(name);
      if (!problem.empty()) return ImportError{step.line, ERROR_SUCCESS, "invalid key name: " + ToUtf8(problem)};
      if (!ParseKeyPath(name, &step.path)) return bad("the key name is not valid");
      if (remove && step.path.subKey.empty()) return bad("a predefined key cannot be deleted");
      step.kind = remove ? Step::kDeleteKey : Step::kKey;
      inKey = !remove;
    } else if (line[0] == L'"' || line[0] == L'@') {
      if (!inKey) return bad("a value outside a key");
      if (!ParseValue(line, ansi, &step)) return bad("the value cannot be read");
    } else {
      return bad("the line is neither a key nor a value");
    }
    steps->push_back(step);
  }
  return ImportError();
}

// Applies one step; `key` is the key of the last key line.
LONG Apply(const Step& step, HKEY* key) {
  switch (step.kind) {
    case Step::kKey:
      if (*key != nullptr) RegCloseKey(*key);
      *key = nullptr;
      return RegCreateKeyExW(step.path.root, step.path.subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, key, nullptr);
    case Step::kDeleteKey: {
      const LONG error = DeleteTree(step.path.root, step.path.subKey);
      return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    case Step::kDeleteValue: {
      const LONG error = RegDeleteValueW(*key, step.value.name.c_str());
      return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    case Step::kValue:
      return RegSetValueExW(*key, step.value.name.c_str(), 0, step.value.type,
                            reinterpret_cast<const BYTE*>(step.value.data.data()),
                            static_cast<DWORD>(step.value.data.size()));
  }
  return ERROR_INVALID_PARAMETER;
}

}  // namespace

ImportError ImportText(const std::wstring& text) {
  using quorvane::posix::registry::RegistryStore;
  std::vector<Step> steps;
  ImportError result = Parse(text, &steps);
  if (result.error != ERROR_SUCCESS || !result.what.empty()) return result;
  RegistryStore::HoldWrites();
  HKEY key = nullptr;
  for (const Step& step : steps) {
    result.error = Apply(step, &key);
    if (result.error != ERROR_SUCCESS) {
      result.line = step.line;
      break;
    }
  }
  if (key != nullptr) RegCloseKey(key);
  const LONG finished = RegistryStore::FinishWrites(result.error == ERROR_SUCCESS);
  if (result.error == ERROR_SUCCESS) result.error = finished;
  return result;
}

std::wstring DecodeFile(const std::string& bytes) {
  if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) return FromUtf16le(bytes.substr(2));
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return FromUtf8(bytes.substr(3));
  const size_t text = bytes.find_first_not_of("\r\n \t");
  if (text != std::string::npos && bytes.compare(text, 8, "REGEDIT4") == 0) return FromAnsi(bytes);
  return FromUtf8(bytes);
}

std::string EncodeFile(const std::wstring& text) { return "\xFF\xFE" + ToUtf16le(text); }

}  // namespace regtool
