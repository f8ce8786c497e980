// reg: the Windows reg command over the Linux registry.
//   reg query KEY [/v [NAME] | /ve] [/s] [/f DATA [/k] [/d] [/c] [/e]] [/t TYPE] [/z] [/se SEPARATOR]
//   reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
//   reg delete KEY [/v NAME | /ve | /va] [/f]
//   reg copy KEY1 KEY2 [/s] [/f]
//   reg export KEY FILE [/y]
//   reg import FILE
//   reg /?, reg OPERATION /?, reg --version
// Messages and exit codes (0 done, 1 failed) are those of Windows; without
// /f (or /y) a change that would lose data asks Yes/No on standard input,
// as reg does.
#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <iterator>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "QuorvaneVersion.h"
#include "RegFile.h"
#include "RegHelp.h"
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

// The key named by `text`, or false with the message said: which part of
// the name is wrong.
bool KeyArgument(const std::wstring& text, const wchar_t* operation, KeyPath* path) {
  const std::wstring problem = KeyNameProblem(text);
  if (problem.empty() && ParseKeyPath(text, path)) return true;
  Fail("ERROR: Invalid key name" + (problem.empty() ? std::string() : ": " + ToUtf8(problem)) + ".\nType \"REG " +
       ToUtf8(operation) + " /?\" for usage.");
  return false;
}

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

// What a query shows and looks for.
struct QueryOptions {
  bool one = false;           // /v NAME or /ve: that value only
  std::string wanted;         // its folded name
  bool recurse = false;       // /s
  bool search = false;        // /f
  std::wstring pattern;       // /f's data, * and ? as wildcards
  bool inKeys = true, inNames = true, inData = true;
  bool caseSensitive = false;  // /c
  bool exact = false;          // /e
  std::vector<DWORD> types;    // /t; empty: all
  std::wstring separator = L"\\0";  // /se
  bool numericTypes = false;   // /z
};

std::wstring Folded(const std::wstring& text) { return FromUtf8(quorvane::posix::registry::NameOf(text).folded); }

bool Wildcard(const wchar_t* pattern, const wchar_t* text) {
  for (; *pattern != 0; ++pattern, ++text) {
    if (*pattern == L'*') {
      for (const wchar_t* rest = text;; ++rest) {
        if (Wildcard(pattern + 1, rest)) return true;
        if (*rest == 0) return false;
      }
    }
    if (*text == 0 || (*pattern != L'?' && *pattern != *text)) return false;
  }
  return *text == 0;
}

// /f's test: the whole text with /e, else anywhere in it.
bool Matches(const QueryOptions& q, const std::wstring& text) {
  const std::wstring pattern = q.caseSensitive ? q.pattern : Folded(q.pattern);
  const std::wstring subject = q.caseSensitive ? text : Folded(text);
  return Wildcard((q.exact ? pattern : L"*" + pattern + L"*").c_str(), subject.c_str());
}

void ShowValue(const Value& v, const QueryOptions& q) {
  std::wstring type = TypeName(v.type);
  if (q.numericTypes) type += L" (" + std::to_wstring(v.type) + L")";
  Say(L"    " + (v.name.empty() ? std::wstring(L"(Default)") : v.name) + L"    " + type + L"    " +
      ShowData(v.type, v.data, q.separator));
}

bool Shown(const QueryOptions& q, const Value& v) {
  if (!q.types.empty() && std::find(q.types.begin(), q.types.end(), v.type) == q.types.end()) return false;
  if (q.one && quorvane::posix::registry::NameOf(v.name).folded != q.wanted) return false;
  if (!q.search) return true;
  return (q.inNames && Matches(q, v.name.empty() ? L"(Default)" : v.name)) ||
         (q.inData && Matches(q, ShowData(v.type, v.data, q.separator)));
}

// One key of a query: its values (or those asked for), then, unless
// recursing, its subkeys' names. Adds the number of matches to *count.
LONG QueryKey(HKEY key, const std::wstring& fullName, const QueryOptions& q, size_t* count) {
  std::vector<Value> values, shown;
  std::vector<std::wstring> subkeys;
  LONG error = ReadValues(key, &values);
  if (error == ERROR_SUCCESS) error = ReadSubkeys(key, &subkeys);
  if (error != ERROR_SUCCESS) return error;
  for (const Value& v : values)
    if (Shown(q, v)) shown.push_back(v);
  const bool defaultAsked = q.one && q.wanted.empty();
  if (defaultAsked && shown.empty() && !q.recurse && !q.search) shown.push_back(Value{L"", REG_SZ, ""});
  if ((!q.one && !q.search) || !shown.empty()) {
    Say(L"");
    Say(fullName);
    for (const Value& v : shown) {
      if (v.type == REG_SZ && v.data.empty() && defaultAsked)
        Say(L"    (Default)    REG_SZ    (value not set)");
      else
        ShowValue(v, q);
    }
  }
  *count += shown.size();
  if (q.search && q.inKeys) {
    for (const std::wstring& name : subkeys)
      if (Matches(q, name)) {
        Say(L"");
        Say(fullName + L"\\" + name);
        ++*count;
      }
  }
  if (!q.recurse) {
    if (!q.one && !q.search) {
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
      error = QueryKey(child, fullName + L"\\" + name, q, count);
      RegCloseKey(child);
    }
    if (error != ERROR_SUCCESS) return error;
  }
  return ERROR_SUCCESS;
}

bool IsSwitch(const std::wstring& arg) {
  static const wchar_t* const kSwitches[] = {L"/k", L"/d", L"/c", L"/e", L"/s", L"/z", L"/f", L"/t", L"/se", L"/ve"};
  std::wstring lower;
  for (wchar_t c : arg) lower += static_cast<wchar_t>(std::towlower(c == L'-' ? L'/' : c));
  return std::find(std::begin(kSwitches), std::end(kSwitches), lower) != std::end(kSwitches);
}

int Query(std::vector<std::wstring> args) {
  // With /f, a /v without a name searches value names only.
  bool namesOnly = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if ((a == L"/v" || a == L"/V" || a == L"-v" || a == L"-V") && (i + 1 == args.size() || IsSwitch(args[i + 1]))) {
      namesOnly = true;
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i--));
    }
  }
  Options o;
  KeyPath path;
  if (!ParseOptions(args, {L"v", L"f", L"t", L"se"}, {L"ve", L"s", L"k", L"d", L"c", L"e", L"z"}, &o) ||
      o.positional.size() != 1 || o.Has(L"v") + o.Has(L"ve") + namesOnly > 1 || (o.Has(L"k") && o.Has(L"d")) ||
      (!o.Has(L"f") && (namesOnly || o.Has(L"k") || o.Has(L"d") || o.Has(L"c") || o.Has(L"e"))) ||
      (o.Has(L"se") && o.Get(L"se").size() != 1))
    return Syntax(L"QUERY");
  if (!KeyArgument(o.positional[0], L"QUERY", &path)) return 1;
  QueryOptions q;
  q.one = o.Has(L"v") || o.Has(L"ve");
  // Names compared as the registry compares them, not by this process's locale.
  q.wanted = quorvane::posix::registry::NameOf(o.Get(L"v")).folded;
  q.recurse = o.Has(L"s");
  q.search = o.Has(L"f");
  q.pattern = o.Get(L"f");
  if (q.search && q.pattern.empty()) q.pattern = L"*";
  q.inKeys = !o.Has(L"d") && !namesOnly && !q.one;
  q.inNames = !o.Has(L"k") && !o.Has(L"d");
  q.inData = !o.Has(L"k") && !namesOnly;
  q.caseSensitive = o.Has(L"c");
  q.exact = o.Has(L"e");
  q.numericTypes = o.Has(L"z");
  if (o.Has(L"se")) q.separator = o.Get(L"se");
  for (size_t start = 0; o.Has(L"t") && start <= o.Get(L"t").size();) {
    const std::wstring list = o.Get(L"t");
    const size_t comma = std::min(list.find(L','), list.size());
    DWORD type = 0;
    if (!TypeFromName(list.substr(start, comma - start), &type)) return Syntax(L"QUERY");
    q.types.push_back(type);
    start = comma + 1;
    if (comma == list.size()) break;
  }
  HKEY key;
  LONG error = RegOpenKeyExW(path.root, path.subKey.c_str(), 0, KEY_READ, &key);
  if (error != ERROR_SUCCESS) return FailWith(error);
  size_t found = 0;
  error = QueryKey(key, path.Full(), q, &found);
  RegCloseKey(key);
  if (error != ERROR_SUCCESS) return FailWith(error);
  if (q.recurse || q.search) Say(L"");
  if (q.search || (q.recurse && q.one)) {
    Say(L"End of search: " + std::to_wstring(found) + L" match(es) found.");
  } else if (!q.recurse && o.Has(L"v") && found == 0) {
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
  if (!KeyArgument(o.positional[0], L"ADD", &path)) return 1;
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
  if (!KeyArgument(o.positional[0], L"DELETE", &path)) return 1;
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

// A key's values and, when asked, its subkeys, read whole before anything is written.
struct Tree {
  std::vector<Value> values;
  std::vector<std::pair<std::wstring, Tree>> subkeys;
};

LONG ReadTree(HKEY key, bool recurse, Tree* tree) {
  std::vector<std::wstring> names;
  LONG error = ReadValues(key, &tree->values);
  if (error == ERROR_SUCCESS && recurse) error = ReadSubkeys(key, &names);
  for (size_t i = 0; error == ERROR_SUCCESS && i < names.size(); ++i) {
    HKEY child;
    error = RegOpenKeyExW(key, names[i].c_str(), 0, KEY_READ, &child);
    if (error == ERROR_FILE_NOT_FOUND) {  // deleted meanwhile
      error = ERROR_SUCCESS;
      continue;
    }
    if (error != ERROR_SUCCESS) break;
    tree->subkeys.emplace_back(names[i], Tree());
    error = ReadTree(child, true, &tree->subkeys.back().second);
    RegCloseKey(child);
  }
  return error;
}

enum class Overwrite { kAsk, kAll, kCanceled };

// Writes `tree` into `parent\name`; an existing value is replaced when the
// user says so (Yes, No or All) or with /f.
LONG WriteTree(HKEY parent, const std::wstring& name, const Tree& tree, Overwrite* overwrite) {
  HKEY key;
  LONG error = RegCreateKeyExW(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                               &key, nullptr);
  if (error != ERROR_SUCCESS) return error;
  for (size_t i = 0; error == ERROR_SUCCESS && i < tree.values.size(); ++i) {
    const Value& v = tree.values[i];
    DWORD size = 0;
    if (*overwrite == Overwrite::kAsk &&
        RegQueryValueExW(key, v.name.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
      std::cout << "Value " << ToUtf8(v.name.empty() ? std::wstring(L"(Default)") : v.name)
                << " exists, overwrite(Yes/No/All)? " << std::flush;
      std::string answer;
      if (!std::getline(std::cin, answer)) answer.clear();
      const char first = answer.empty() ? 'n' : static_cast<char>(std::tolower(static_cast<unsigned char>(answer[0])));
      if (first == 'a') *overwrite = Overwrite::kAll;
      if (first != 'a' && first != 'y') continue;
    }
    error = RegSetValueExW(key, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                           static_cast<DWORD>(v.data.size()));
  }
  for (size_t i = 0; error == ERROR_SUCCESS && i < tree.subkeys.size(); ++i)
    error = WriteTree(key, tree.subkeys[i].first, tree.subkeys[i].second, overwrite);
  RegCloseKey(key);
  return error;
}

int Copy(const std::vector<std::wstring>& args) {
  Options o;
  KeyPath from, to;
  if (!ParseOptions(args, {}, {L"s", L"f"}, &o) || o.positional.size() != 2) return Syntax(L"COPY");
  if (!KeyArgument(o.positional[0], L"COPY", &from) || !KeyArgument(o.positional[1], L"COPY", &to)) return 1;
  // Into itself, or with /s into its own subtree: the copy would never end.
  const std::wstring source = Folded(from.Full()), target = Folded(to.Full());
  if (source == target || (o.Has(L"s") && target.compare(0, source.size() + 1, source + L"\\") == 0))
    return Fail("ERROR: A key cannot be copied into itself or one of its subkeys.");
  HKEY key;
  LONG error = RegOpenKeyExW(from.root, from.subKey.c_str(), 0, KEY_READ, &key);
  if (error != ERROR_SUCCESS) return FailWith(error);
  Tree tree;
  error = ReadTree(key, o.Has(L"s"), &tree);
  RegCloseKey(key);
  if (error != ERROR_SUCCESS) return FailWith(error);
  Overwrite overwrite = o.Has(L"f") ? Overwrite::kAll : Overwrite::kAsk;
  error = WriteTree(to.root, to.subKey, tree, &overwrite);
  if (error != ERROR_SUCCESS) return FailWith(error);
  std::cout << kDone << "\n";
  return 0;
}

int Export(const std::vector<std::wstring>& args) {
  Options o;
  KeyPath path;
  if (!ParseOptions(args, {}, {L"y"}, &o) || o.positional.size() != 2) return Syntax(L"EXPORT");
  if (!KeyArgument(o.positional[0], L"EXPORT", &path)) return 1;
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
  const auto isHelp = [](const std::wstring& a) { return a == L"/?" || a == L"-?"; };
  if (isHelp(command)) command.clear();
  if ((argc == 2 && command.empty()) || (args.size() == 1 && isHelp(args[0]) && !Usage(command).empty())) {
    std::cout << Usage(command);
    return 0;
  }
  if (command == L"QUERY") return Query(args);
  if (command == L"ADD") return Add(args);
  if (command == L"DELETE") return Delete(args);
  if (command == L"COPY") return Copy(args);
  if (command == L"EXPORT") return Export(args);
  if (command == L"IMPORT") return Import(args);
  if (command == L"--VERSION") {
    std::cout << "quorvane-reg " QV_VERSION "\n";
    return 0;
  }
  return Fail("ERROR: Invalid syntax.\nType \"REG /?\" for usage.");
}
