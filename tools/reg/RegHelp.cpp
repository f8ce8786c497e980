// Usage texts, laid out as reg lays out its own.
#include "RegHelp.h"

namespace regtool {
namespace {

const char kKeyName[] =
    "  KeyName    [\\\\Machine\\]FullKey\n"
    "             Only the local machine can be named here.\n"
    "    FullKey  ROOTKEY\\SubKey\n"
    "    ROOTKEY  [ HKLM | HKCU | HKCR | HKU | HKCC ]\n"
    "    SubKey   The full name of a registry key under the selected ROOTKEY.\n";

const char kReg[] =
    "\nREG Operation [Parameter List]\n\n"
    "  Operation  [ QUERY   | ADD    | DELETE  | COPY    |\n"
    "               EXPORT  | IMPORT ]\n\n"
    "Return Code: (Except for REG COMPARE)\n\n"
    "  0 - Successful\n"
    "  1 - Failed\n\n"
    "For help on a specific operation type:\n\n"
    "  REG Operation /?\n\n"
    "Examples:\n\n"
    "  REG QUERY /?\n"
    "  REG ADD /?\n"
    "  REG DELETE /?\n"
    "  REG COPY /?\n"
    "  REG EXPORT /?\n"
    "  REG IMPORT /?\n";

const char kQuery[] =
    "\nREG QUERY KeyName [/v [ValueName] | /ve] [/s]\n"
    "          [/f Data [/k] [/d] [/c] [/e]] [/t Type] [/z] [/se Separator]\n\n"
    "%KEY%\n"
    "  /v       Queries for a specific registry key value.\n"
    "           If omitted, all values for the key are queried.\n"
    "           Argument to this switch can be optional only when specified\n"
    "           along with /f switch. This specifies to search in valuenames only.\n\n"
    "  /ve      Queries for the default value or empty value name (Default).\n\n"
    "  /s       Queries all subkeys and values recursively (like dir /s).\n\n"
    "  /se      Specifies the separator (length of 1 character only) in\n"
    "           data string for REG_MULTI_SZ. Defaults to \"\\0\" as the separator.\n\n"
    "  /f       Specifies the data or pattern to search for.\n"
    "           Use double quotes if a string contains spaces. Default is \"*\".\n\n"
    "  /k       Specifies to search in key names only.\n\n"
    "  /d       Specifies the search in data only.\n\n"
    "  /c       Specifies that the search is case sensitive.\n"
    "           The default search is case insensitive.\n\n"
    "  /e       Specifies to return only exact matches.\n"
    "           By default all the matches are returned.\n\n"
    "  /t       Specifies registry value data type.\n"
    "           Valid types are:\n"
    "             REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ,\n"
    "             REG_DWORD, REG_QWORD, REG_BINARY, REG_NONE\n"
    "           Defaults to all types.\n\n"
    "  /z       Verbose: Shows the numeric equivalent for the type of the valuename.\n\n"
    "Examples:\n\n"
    "  REG QUERY HKLM\\Software\\Microsoft\\ResKit /v Version\n"
    "    Displays the value of the registry value Version\n\n"
    "  REG QUERY HKCU\\Software /f Vendor /k /s\n"
    "    Displays every key under HKCU\\Software whose name contains \"Vendor\"\n\n"
    "  REG QUERY HKCU\\Software\\Vendor /se #\n"
    "    Displays all values, REG_MULTI_SZ items separated by \"#\"\n";

const char kAdd[] =
    "\nREG ADD KeyName [{/v ValueName | /ve}] [/t Type] [/s Separator] [/d Data] [/f]\n\n"
    "%KEY%\n"
    "  /v       The value name, under the selected Key, to add.\n\n"
    "  /ve      adds an empty value name (Default) for the key.\n\n"
    "  /t       RegKey data types\n"
    "           [ REG_SZ    | REG_MULTI_SZ | REG_EXPAND_SZ |\n"
    "             REG_DWORD | REG_QWORD    | REG_BINARY    | REG_NONE ]\n"
    "           If omitted, REG_SZ is assumed.\n\n"
    "  /s       Specify one character that you use as the separator in your data\n"
    "           string for REG_MULTI_SZ. If omitted, use \"\\0\" as the separator.\n\n"
    "  /d       The data to assign to the registry ValueName being added.\n\n"
    "  /f       Force overwriting the existing registry entry without prompt.\n";

const char kDelete[] =
    "\nREG DELETE KeyName [/v ValueName | /ve | /va] [/f]\n\n"
    "%KEY%\n"
    "  ValueName  The value name, under the selected Key, to delete.\n"
    "             When omitted, all subkeys and values under the Key are deleted.\n\n"
    "  /ve        delete the value of empty value name (Default).\n\n"
    "  /va        delete all values under this key.\n\n"
    "  /f         Forces the deletion without prompt.\n";

const char kCopy[] =
    "\nREG COPY KeyName1 KeyName2 [/s] [/f]\n\n"
    "%KEY%\n"
    "  KeyName1   The key to copy from; KeyName2, the key to copy to.\n\n"
    "  /s         Copies all subkeys and values.\n\n"
    "  /f         Forces the copy without prompt.\n\n"
    "Examples:\n\n"
    "  REG COPY HKCU\\Software\\MyCo\\MyApp HKCU\\Software\\MyCo\\SaveMyApp /s\n"
    "    Copies all subkeys and values under the key MyApp to the key SaveMyApp\n";

const char kExport[] =
    "\nREG EXPORT KeyName FileName [/y]\n\n"
    "  Keyname    ROOTKEY[\\SubKey] (local machine only).\n"
    "    ROOTKEY  [ HKLM | HKCU | HKCR | HKU | HKCC ]\n"
    "    SubKey   The full name of a registry key under the selected ROOTKEY.\n\n"
    "  FileName   The name of the disk file to export.\n\n"
    "  /y         Force overwriting the existing file without prompt.\n";

const char kImport[] =
    "\nREG IMPORT FileName\n\n"
    "  FileName  The name of the disk file to import (local machine only).\n";

struct Entry {
  const wchar_t* operation;
  const char* text;
};
const Entry kUsages[] = {
    {L"", kReg},          {L"QUERY", kQuery},   {L"ADD", kAdd},       {L"DELETE", kDelete},
    {L"COPY", kCopy},     {L"EXPORT", kExport}, {L"IMPORT", kImport},
};

}  // namespace

std::string Usage(const std::wstring& operation) {
  for (const Entry& e : kUsages) {
    if (operation != e.operation) continue;
    std::string text = e.text;
    const size_t key = text.find("%KEY%");
    if (key != std::string::npos) text.replace(key, 5, kKeyName);
    return text;
  }
  return std::string();
}

}  // namespace regtool
