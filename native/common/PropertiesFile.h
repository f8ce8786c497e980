// The per-user settings file: where it lies (GetSettingsFilePath) and the
// reader of its Java-properties-style text (PropertiesFile).
#pragma once

#include <string>

#include "Win32Api.h"

// A failure of the settings reader. Copied by value; not related to the
// standard exceptions: whoever reads settings catches it by its own type.
class PropertiesException {
 public:
  static const int kCapacity = 128;
  // Longer text is cut to kCapacity - 1 characters.
  explicit PropertiesException(const wchar_t* message);
  const wchar_t* Message() const { return message_; }

 private:
  wchar_t message_[kCapacity];
};

// The full path of `fileName` ("ais.config" when null or empty) in the
// per-user data folder, into `buffer` of `capacity` wide characters. False
// (buffer contents unspecified) for a null buffer, a capacity of 0 or less,
// no profile folder, or a path of `capacity` characters or more. The folder
// is neither created nor checked.
//   Windows: %USERPROFILE% (else "C:\Documents and Settings\%USERNAME%")
//            followed by "\Application Data\Quorvane\data\".
//   Linux:   $XDG_DATA_HOME (an absolute path; else $HOME/.local/share)
//            followed by "/Quorvane/data/".
bool GetSettingsFilePath(LPWSTR buffer, int capacity, LPCWSTR fileName);

// The settings reader: a fixed table of at most kMaxEntries key/value pairs,
// in the order their keys first appeared; a later value for a key replaces
// the earlier one. Owns its strings: pointers it hands out stay valid until
// the entry's value is replaced or the reader is destroyed. One thread at a
// time.
class PropertiesFile {
 public:
  static const int kMaxEntries = 50;
  static const DWORD kMaxFileBytes = 102400;

  PropertiesFile() = default;
  PropertiesFile(const PropertiesFile&) = delete;
  PropertiesFile& operator=(const PropertiesFile&) = delete;

  // Reads and parses the file at `path`, adding to the table. Throws
  // PropertiesException; pairs stored before a failure stay.
  void Load(LPCWSTR path);
  // The value, or null when the key is absent.
  const wchar_t* Get(const wchar_t* key) const;
  // The value, or `defaultValue` itself when the key is absent.
  const wchar_t* Get(const wchar_t* key, const wchar_t* defaultValue) const;
  // Index 0..Count()-1 of the key (case-sensitive, lstrcmpW), or -1.
  int Find(const wchar_t* key) const;
  // Adds or replaces one pair; throws PropertiesException "Too many
  // properties" for a 51st distinct key (the table is then unchanged).
  void Set(const wchar_t* key, const wchar_t* value);
  int Count() const { return count_; }

 private:
  struct Entry {
    std::wstring key;
    std::wstring value;
  };
  void Parse(const wchar_t* text, size_t length);
  static void ParseLine(const std::wstring& line, std::wstring& key, std::wstring& value);

  Entry entries_[kMaxEntries];
  int count_ = 0;
};
