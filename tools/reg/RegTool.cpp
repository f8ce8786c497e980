// reg: the Windows reg command over the Linux registry.
//   reg query KEY [/v NAME | /ve] [/s]
//   reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
//   reg delete KEY [/v NAME | /ve | /va] [/f]
//   reg export KEY FILE [/y]
//   reg import FILE
//   reg --version
// Messages and exit codes (0 done, 1 failed) are those of Windows; without
// /f (or /y) a change that would lose data asks Yes/No on standard input,
// as reg does.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "QuorvaneVersion.h"
#include "RegFile.h"
#include "RegText.h"
#include "posix/kernel/UniqueFd.h"
#include "posix/registry/RegistryNames.h"

using namespace regtool;

namespace {

const char kDone[] = "The operation completed successfully.";
const char kNotFound[] = "ERROR: The system was unable to find the specified registry key or value.";

void Say(const std::wstring& text) { std::cout << ToUtf8(text) << "\n"; }

int Fail(const std::string& message) {
  std::cerr << message << "\n";
  return 1;
}

int Syntax(const std::wstring& command) {
  return Fail("ERROR: Invalid syntax.\nType \"REG " + ToUtf8(command) + " /?\" for usage.");
}

int FailWith(LONG error) { return Fail("ERROR: " + Message(error)); }

bool Confirm(const std::wstring& question) {
  std::cout << ToUtf8(question) << " (Yes/No)? " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

// Options: /x or -x, names case-insensitive; those in `withValue` take the
// next argument. Anything else is positional, paths beginning with / too.
struct Options {
  std::vector<std::wstring> positional;
  std::map<std::wstring, std::wstring> named;
  bool Has(const wchar_t* name) const { return named.count(name) != 0; }
  std::wstring Get(const wchar_t* name) const {
    auto it = named.find(name);
    return it == named.end() ? std::wstring() : it->second;
  }
};

bool ParseOptions(const std::vector<std::wstring>& args, const std::vector<std::wstring>& withValue,
                  const std::vector<std::wstring>& flags, Options* options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if (a.size() < 2 || (a[0] != L'/' && a[0] != L'-')) {
      options->positional.push_back(a);
      continue;
    }
    std::wstring name;
    for (wchar_t c : a.substr(1)) name += static_cast<wchar_t>(std::towlower(c));
    bool known = false;
    for (const std::wstring& w : withValue)
      if (name == w) {
        if (i + 1 >= args.size() || options->named.count(name)) return false;
        options->named[name] = args[++i];
        known = true;
      }
    for (const std::wstring& f : flags)
      if (name == f) {
        if (options->named.count(name)) return false;
        options->named[name] = L"";
        known = true;
      }
    if (!known) options->positional.push_back(a);  // a path such as /tmp/x.reg
  }
  return true;
}

void ShowValue(const Value& v) {
  Say(L"    " + (v.name.empty() ? std::wstring(L"(Default)") : v.name) + L"    " + TypeName(v.type) + L"    " +
      ShowData(v.type, v.data));
}

// One key of a query: its values (or the one asked for), then, unless
// recursing, its subkeys' names. Adds the number of values shown to *count.
LONG QueryKey(HKEY key, const std::wstring& fullName, const Options& o, bool recurse, size_t* count) {
  const bool one = o.Has(L"v") || o.Has(L"ve");
  // Names compared as the registry compares them, not by this process's locale.
  const std::string wanted = quorvane::posix::registry::NameOf(o.Get(L"v")).folded;
  std::vector<Value> values, shown;
  std::vector<std::wstring> subkeys;
  LONG error = ReadValues(key, &values);
  if (error == ERROR_SUCCESS) error = ReadSubkeys(key, &subkeys);
  if (error != ERROR_SUCCESS) return error;
  for (const Value& v : values)
    if (!one || quorvane::posix::registry::NameOf(v.name).folded == wanted) shown.push_back(v);
  if (o.Has(L"ve") && shown.empty() && !recurse) shown.push_back(Value{L"", REG_SZ, ""});
  if (!one || !shown.empty()) {
    Say(L"");
    Say(fullName);
    for (const Value& v : shown) {
      if (v.type == REG_SZ && v.data.empty() && o.Has(L"ve"))
        Say(L"    (Default)    REG_SZ    (value not set)");
      else
        ShowValue(v);
    }
  }
  *count += shown.size();
  if (!recurse) {
    if (!one) {
      if (!shown.empty()) Say(L"");
      for (const std::wstring& name : subkeys) Say(fullName + L"\\" + name);
    }
    return ERROR_SUCCESS;
  }
  for (const std::wstring& name : subkeys) {
    HKEY child;
    error = RegOpenKeyExW(key, name.c_str(), 0, KEY_READ, &child);
    if (error == ERROR_FILE_NOT_FOUND) continue;  // deleted meanwhile
    if (error == ERROR_SUCCESS) {
      error = QueryKey(child, fullName + L"\\" + name, o, true, count);
      RegCloseKey(child);
    }
    if (error != ERROR_SUCCESS) return error;
  }
  return ERROR_SUCCESS;
}

int Query(const std::vector<std::wstring>& args) {
  Options o;
  KeyPath path;
  if (!ParseOptions(args, {L"v"}, {L"ve", L"s"}, &o) || o.positional.size() != 1 || (o.Has(L"v") && o.Has(L"ve")))
    return Syntax(L"QUERY");
  if (!ParseKeyPath(o.positional[0], &path)) return Fail("ERROR: Invalid key name.\nType \"REG QUERY /?\" for usage.");
  HKEY key;
  LONG error = RegOpenKeyExW(path.root, path.subKey.c_str(), 0, KEY_READ, &key);
  if (error != ERROR_SUCCESS) return FailWith(error);
  const bool one = o.Has(L"v") || o.Has(L"ve");
  size_t found = 0;
  error = QueryKey(key, path.Full(), o, o.Has(L"s"), &found);
  RegCloseKey(key);
  if (error != ERROR_SUCCESS) return FailWith(error);
  if (o.Has(L"s")) {
    Say(L"");
    if (one) Say(L"End of search: " + std::to_wstring(found) + L" match(es) found.");
  } else if (o.Has(L"v") && found == 0) {
    return Fail(kNotFound);
  }
  return 0;
}

int Add(const std::vector<std::wstring>& args) {
  Options o;
  KeyPath path;
  if (!ParseOptions(args, {L"v", L"t", L"d", L"s"}, {L"ve", L"f"}, &o) || o.positional.size() != 1 ||
      (o.Has(L"v") && o.Has(L"ve")))
    return Syntax(L"ADD");
  if (!ParseKeyPath(o.positional[0], &path))
    return Fail("ERROR: Invalid key name.\nType \"REG ADD /?\" for usage.");
  DWORD type = REG_SZ;
  if (o.Has(L"t") && !TypeFromName(o.Get(L"t"), &type)) return Fail("ERROR: Invalid syntax.\nType \"REG ADD /?\" for usage.");
  std::string data;
  if (!DataFromText(type, o.Get(L"d"), o.Has(L"s") ? o.Get(L"s") : L"\\0", &data))
    return Fail("ERROR: Invalid syntax.\nType \"REG ADD /?\" for usage.");
  HKEY key;
  LONG error = RegCreateKeyExW(path.root, path.subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                               nullptr, &key, nullptr);
  if (error != ERROR_SUCCESS) return FailWith(error);
  if (o.Has(L"v") || o.Has(L"ve")) {
    const std::wstring name = o.Get(L"v");
    DWORD size = 0;
    if (!o.Has(L"f") && RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS &&
        !Confirm(L"Value " + (name.empty() ? std::wstring(L"(Default)") : name) + L" exists, overwrite")) {
      RegCloseKey(key);
      return Fail("The operation was canceled by the user.");
    }
    error = RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(data.size()));
  }
  RegCloseKey(key);
  if (error != ERROR_SUCCESS) return FailWith(error);
  std::cout << kDone << "\n";
  return 0;
}

int Delete(const std::vector<std::wstring>& args) {
  Options o;
  KeyPath path;
  if (!ParseOptions(args, {L"v"}, {L"ve", L"va", L"f"}, &o) || o.positional.size() != 1 ||
      o.Has(L"v") + o.Has(L"ve") + o.Has(L"va") > 1)
    return Syntax(L"DELETE");
  if (!ParseKeyPath(o.positional[0], &path)) return Fail("ERROR: Invalid key name.\nType \"REG DELETE /?\" for usage.");
  HKEY key;
  LONG error = RegOpenKeyExW(path.root, path.subKey.c_str(), 0, KEY_READ | KEY_SET_VALUE, &key);
  if (error != ERROR_SUCCESS) return FailWith(error);
  const std::wstring name = o.Get(L"v");
  const std::wstring shownName = name.empty() ? std::wstring(L"(Default)") : name;
  bool confirmed = o.Has(L"f");
  if (o.Has(L"v") || o.Has(L"ve")) {
    DWORD size = 0;
    error = RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, &size);
    if (error == ERROR_SUCCESS && (confirmed || (confirmed = Confirm(L"Delete the registry value " + shownName))))
      error = RegDeleteValueW(key, name.c_str());
  } else if (o.Has(L"va")) {
    std::vector<Value> values;
    if (confirmed || (confirmed = Confirm(L"Delete all values under the registry key " + path.Full()))) {
      error = ReadValues(key, &values);
      for (size_t i = 0; error == ERROR_SUCCESS && i < values.size(); ++i)
        error = RegDeleteValueW(key, values[i].name.c_str());
    }
  } else if (path.subKey.empty()) {
    error = ERROR_ACCESS_DENIED;  // a root never goes
  } else if (confirmed || (confirmed = Confirm(L"Permanently delete the registry key " + path.Full()))) {
    RegCloseKey(key);
    key = nullptr;
    error = DeleteTree(path.root, path.subKey);
  }
  if (key != nullptr) RegCloseKey(key);
  if (error == ERROR_SUCCESS && !confirmed) return Fail("The operation was canceled by the user.");
  if (error != ERROR_SUCCESS) return FailWith(error);
  std::cout << kDone << "\n";
  return 0;
}

int Export(const std::vector<std::wstring>& args) {
  Options o;
  KeyPath path;
  if (!ParseOptions(args, {}, {L"y"}, &o) || o.positional.size() != 2) return Syntax(L"EXPORT");
  if (!ParseKeyPath(o.positional[0], &path)) return Fail("ERROR: Invalid key name.\nType \"REG EXPORT /?\" for usage.");
  HKEY key;
  LONG error = RegOpenKeyExW(path.root, path.subKey.c_str(), 0, KEY_READ, &key);
  if (error != ERROR_SUCCESS) return FailWith(error);
  const std::string file = ToUtf8(o.positional[1]);
  if (!o.Has(L"y") && std::ifstream(file).good() && !Confirm(L"File " + o.positional[1] + L" already exists. Overwrite")) {
    RegCloseKey(key);
    return Fail("The operation was canceled by the user.");
  }
  std::wstring text, unwritable;
  error = ExportText(key, path.Full(), &text, &unwritable);
  RegCloseKey(key);
  if (error == kInvalidData)
    return Fail("ERROR: " + ToUtf8(unwritable) + " has a line break in its name, which a .reg file cannot hold.");
  if (error != ERROR_SUCCESS) return FailWith(error);
  const std::string bytes = EncodeFile(text);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!(out << bytes) || !out.flush()) return Fail("ERROR: Error accessing the registry.");
  std::cout << kDone << "\n";
  return 0;
}

int Import(const std::vector<std::wstring>& args) {
  Options o;
  if (!ParseOptions(args, {}, {}, &o) || o.positional.size() != 1) return Syntax(L"IMPORT");
  // A plain file only: a FIFO or a device would never end.
  const char kCannotOpen[] = "ERROR: Error opening the file. There may be a disk or file system error.";
  const quorvane::posix::UniqueFd fd(quorvane::posix::OpenRegularFile(ToUtf8(o.positional[0]).c_str(), O_RDONLY));
  if (!fd.Valid()) return Fail(kCannotOpen);
  std::string bytes;
  if (!quorvane::posix::ReadToEnd(fd.Get(), &bytes)) return Fail(kCannotOpen);
  const ImportError result = ImportText(DecodeFile(bytes));
  if (result.line == 0 && result.error == ERROR_BADDB)
    return Fail("ERROR: The specified file is not a registry script. You can only import binary registry files "
                "from within the registry editor.");
  // Nothing of the file was applied.
  if (!result.what.empty()) return Fail("ERROR: Line " + std::to_string(result.line) + ": " + result.what + ".");
  if (result.error != ERROR_SUCCESS && result.line == 0) return FailWith(result.error);  // at the commit
  if (result.error != ERROR_SUCCESS)
    return Fail("ERROR: Line " + std::to_string(result.line) + ": " + Message(result.error));
  std::cerr << kDone << "\n";  // reg import reports on standard error
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 2; i < argc; ++i) args.push_back(FromUtf8(argv[i]));
  std::wstring command = argc > 1 ? FromUtf8(argv[1]) : L"";
  for (wchar_t& c : command) c = static_cast<wchar_t>(std::towupper(c));
  if (command == L"QUERY") return Query(args);
  if (command == L"ADD") return Add(args);
  if (command == L"DELETE") return Delete(args);
  if (command == L"EXPORT") return Export(args);
  if (command == L"IMPORT") return Import(args);
  if (command == L"--VERSION") {
    std::cout << "quorvane-reg " QV_VERSION "\n";
    return 0;
  }
  return Fail("ERROR: Invalid syntax.\nType \"REG /?\" for usage.");
}
