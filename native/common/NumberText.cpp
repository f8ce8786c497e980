#include "NumberText.h"

#include <limits>
#include <locale>
#include <sstream>

namespace quorvane {

namespace {

bool IsAsciiSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

// The names the streams do not read: [+-]nan, [+-]inf, [+-]infinity, any case.
bool ParseSpecial(std::string text, float& value) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.erase(0, 1);
  }
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (text == "nan") {
    value = std::numeric_limits<float>::quiet_NaN();
  } else if (text == "inf" || text == "infinity") {
    value = std::numeric_limits<float>::infinity();
  } else {
    return false;
  }
  if (negative) value = -value;
  return true;
}

}  // namespace

std::wstring FormatFloat(float value) {
  std::wostringstream out;
  out.imbue(std::locale::classic());
  out.precision(7);
  out << static_cast<double>(value);
  return out.str();
}

bool ParseFloat(const std::wstring& text, float& value) {
  if (text.empty() || IsAsciiSpace(text[0])) return false;
  size_t end = text.size();
  while (end > 0 && IsAsciiSpace(text[end - 1])) --end;
  std::string ascii;
  ascii.reserve(end);
  for (size_t i = 0; i < end; ++i) {
    if (text[i] <= 0 || text[i] > 0x7F || IsAsciiSpace(text[i])) return false;
    ascii.push_back(static_cast<char>(text[i]));
  }
  if (ParseSpecial(ascii, value)) return true;
  std::istringstream in(ascii);
  in.imbue(std::locale::classic());
  float parsed = 0;
  in >> parsed;
  if (in.fail() || in.peek() != std::char_traits<char>::eof()) return false;
  value = parsed;
  return true;
}

bool ParseDecimalInt(const std::wstring& text, int& value) {
  if (text.empty()) return false;
  long long number = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    number = number * 10 + (c - L'0');
    if (number > std::numeric_limits<int>::max()) return false;
  }
  value = static_cast<int>(number);
  return true;
}

}  // namespace quorvane
