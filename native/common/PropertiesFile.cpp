// The settings reader. The text is read like a Java properties file, with
// the differences of this format: bytes are ISO 8859-1 and a zero byte ends
// the text; a "\u" escape takes as many hexadecimal digits as wcstol reads
// but always resumes four characters after the "u"; a blank inside a key is
// dropped rather than ending the key.
#include "PropertiesFile.h"

#include <cwchar>
#include <vector>

namespace {

const wchar_t kCR = L'\r';
const wchar_t kLF = L'\n';

const wchar_t kCannotOpen[] = L"couldn't open/create the file";
const wchar_t kTooBig[] = L"file is too big";
const wchar_t kCannotRead[] = L"problem reading the file";
const wchar_t kBadUnicode[] = L"couldn't parse property because of an invalid unicode character";
const wchar_t kTooMany[] = L"Too many properties";

// Number of characters a "\u" escape covers after the "u".
const size_t kUnicodeEscapeDigits = 4;
// What wcstol answers on overflow where long is 32 bits (Windows).
const long long kLong32Max = 0x7FFFFFFF;
const long long kLong32Min = -0x7FFFFFFFLL - 1;

bool IsLineEnd(wchar_t c) { return c == kCR || c == kLF; }
// Blanks around keys and values.
bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\f'; }
// What a continuation swallows after the line end.
bool IsContinuationFill(wchar_t c) { return IsBlank(c) || IsLineEnd(c); }

// Closes the settings file when Load ends, also by an exception.
class FileCloser {
 public:
  explicit FileCloser(HANDLE file) : file_(file) {}
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;
  ~FileCloser() { CloseHandle(file_); }

 private:
  HANDLE file_;
};

// Walks the decoded text one logical line at a time: continuations joined,
// line ends consumed.
class LineReader {
 public:
  LineReader(const wchar_t* text, size_t length) : text_(text), length_(length) {}

  // False at the end of the text (an empty line there ends the parse too).
  bool Next(std::wstring& line) {
    line.clear();
    if (pos_ >= length_) return false;
    while (pos_ < length_ && !IsLineEnd(text_[pos_])) {
      const wchar_t c = text_[pos_];
      if (c == L'\\' && pos_ + 1 < length_ && IsLineEnd(text_[pos_ + 1]) && EndsOddBackslashRun(line)) {
        ++pos_;  // the backslash goes; the line end and the blanks after it too
        while (pos_ < length_ && IsContinuationFill(text_[pos_])) ++pos_;
        continue;
      }
      line += c;
      ++pos_;
    }
    if (pos_ >= length_) return !line.empty();
    // One line end: CR, LF, or any pair of them (CR LF, LF CR, CR CR, LF LF).
    ++pos_;
    if (pos_ < length_ && IsLineEnd(text_[pos_])) ++pos_;
    return true;
  }

 private:
  // Whether a backslash appended now would end a run of odd length, counted
  // back to the start of the line.
  static bool EndsOddBackslashRun(const std::wstring& line) {
    size_t run = 1;
    for (size_t i = line.size(); i > 0 && line[i - 1] == L'\\'; --i) ++run;
    return run % 2 == 1;
  }

  const wchar_t* const text_;
  const size_t length_;
  size_t pos_ = 0;
};

// One escape at line[i] == '\\', appended to `out`; returns where reading
// goes on.
size_t ReadEscape(const std::wstring& line, size_t i, std::wstring& out) {
  const size_t n = line.size();
  if (i + 1 >= n) return n;  // a backslash alone at the end of the line is dropped
  const wchar_t e = line[i + 1];
  switch (e) {
    case L' ': case L'!': case L'#': case L':': case L'=': case L'\\':
      out += e;
      return i + 2;
    case L'f': out += L'\f'; return i + 2;
    case L'n': out += L'\n'; return i + 2;
    case L'r': out += L'\r'; return i + 2;
    case L't': out += L'\t'; return i + 2;
    case L'u': {
      const size_t digits = i + 2;
      long long number = std::wcstol(line.c_str() + digits, nullptr, 16);
      // Windows' long is 32 bits: its wcstol saturates there.
      if (number > kLong32Max) number = kLong32Max;
      if (number < kLong32Min) number = kLong32Min;
      if (number == kLong32Max) throw PropertiesException(kBadUnicode);
      // A NUL ends the key or value when it is stored.
      out += static_cast<wchar_t>(static_cast<unsigned long long>(number) & 0xFFFF);
      return digits + kUnicodeEscapeDigits < n ? digits + kUnicodeEscapeDigits : n;
    }
    default:
      return i + 1;  // the backslash goes; the character is read as if written alone
  }
}

}  // namespace

PropertiesException::PropertiesException(const wchar_t* message) {
  size_t i = 0;
  for (; message != nullptr && message[i] != L'\0' && i + 1 < kCapacity; ++i) message_[i] = message[i];
  message_[i] = L'\0';
}

void PropertiesFile::Load(LPCWSTR path) {
  HANDLE file = path == nullptr ? INVALID_HANDLE_VALUE
                                : CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw PropertiesException(kCannotOpen);
  FileCloser closer(file);

  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0 || size.QuadPart > static_cast<LONGLONG>(kMaxFileBytes))
    throw PropertiesException(kTooBig);
  std::vector<unsigned char> bytes(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!bytes.empty() && !ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
    throw PropertiesException(kCannotRead);

  // ISO 8859-1: byte b is character b; a zero byte ends the text.
  std::wstring text;
  text.reserve(read + 1);
  for (DWORD i = 0; i < read && bytes[i] != 0; ++i) text += static_cast<wchar_t>(bytes[i]);
  Parse(text.c_str(), text.size());
}

void PropertiesFile::Parse(const wchar_t* text, size_t length) {
  // Each buffer once, at the length of the whole text.
  std::wstring line, key, value;
  line.reserve(length + 1);
  key.reserve(length + 1);
  value.reserve(length + 1);
  LineReader reader(text, length);
  while (reader.Next(line)) {
    if (!line.empty() && (line[0] == L'#' || line[0] == L'!')) continue;  // comment
    ParseLine(line, key, value);
    Set(key.c_str(), value.c_str());
  }
}

void PropertiesFile::ParseLine(const std::wstring& line, std::wstring& key, std::wstring& value) {
  const size_t n = line.size();
  key.clear();
  value.clear();
  size_t i = 0;
  while (i < n && IsBlank(line[i])) ++i;
  // Key: up to the first unescaped '=' or ':', unescaped blanks dropped.
  while (i < n) {
    const wchar_t c = line[i];
    if (c == L'\\') {
      i = ReadEscape(line, i, key);
    } else if (c == L'=' || c == L':') {
      ++i;
      break;
    } else {
      if (!IsBlank(c)) key += c;
      ++i;
    }
  }
  // Value: the rest after leading blanks; trailing blanks stay.
  while (i < n && IsBlank(line[i])) ++i;
  while (i < n) {
    if (line[i] == L'\\') i = ReadEscape(line, i, value);
    else value += line[i++];
  }
}

const wchar_t* PropertiesFile::Get(const wchar_t* key) const {
  const int index = Find(key);
  return index < 0 ? nullptr : entries_[index].value.c_str();
}

const wchar_t* PropertiesFile::Get(const wchar_t* key, const wchar_t* defaultValue) const {
  const int index = Find(key);
  return index < 0 ? defaultValue : entries_[index].value.c_str();
}

int PropertiesFile::Find(const wchar_t* key) const {
  if (key == nullptr) return -1;
  for (int i = 0; i < count_; ++i)
    if (lstrcmpW(entries_[i].key.c_str(), key) == 0) return i;
  return -1;
}

void PropertiesFile::Set(const wchar_t* key, const wchar_t* value) {
  if (key == nullptr) key = L"";
  if (value == nullptr) value = L"";
  const int index = Find(key);
  if (index >= 0) {
    entries_[index].value = value;
    return;
  }
  if (count_ == kMaxEntries) throw PropertiesException(kTooMany);
  entries_[count_].key = key;
  entries_[count_].value = value;
  ++count_;
}
