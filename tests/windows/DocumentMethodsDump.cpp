// The Windows side of document_methods_match.py: quorvane.dll's four compound-document methods over copies of
// every fixture, through HotspotJni, in the steps and line format of tests/props/DocumentMethodsDump.java.
// JNI misuse is printed as "fault ..." lines and makes the exit status 1.
// usage: qv_wine_document_dump.exe WORK_FOLDER FIXTURE... (the script runs one process per fixture: Wine's ole32
// faults on some)
#include <jni.h>
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "HotspotJni.h"
#include "OnWine.h"

namespace {

using qvtest::HotspotJni;
namespace fs = std::filesystem;
using Pairs = std::vector<std::pair<std::u16string, std::u16string>>;

const char16_t kText[] = u"M\u00fcller \u2013 Caf\u00e9 \u20ac5";
const char16_t kId[] = u"Xx+/abcdefghijklmnopqQ";

HMODULE g_dll = nullptr;
HotspotJni* g_jni = nullptr;

// The export as the JVM finds it: decorated stdcall on i686, the plain name on x64.
template <typename... A>
jint Call(const char* name, A... arguments) {
  std::string symbol = "Java_com_quorvane_infrastructure_os_windows_Win32Impl_" + std::string(name);
  if (sizeof(void*) == 4) symbol = "_" + symbol + "@" + std::to_string(8 + 4 * sizeof...(A));
  const auto method = reinterpret_cast<jint(JNICALL*)(JNIEnv*, jclass, A...)>(
      reinterpret_cast<void*>(GetProcAddress(g_dll, symbol.c_str())));
  if (method == nullptr) {
    std::printf("fault: no export %s\n", symbol.c_str());
    return 0;
  }
  g_jni->BeginCall(name);
  const jint result = method(g_jni->env(), nullptr, arguments...);
  if (!g_jni->Pending().empty()) std::printf("pending after %s: %s\n", name, g_jni->Pending().c_str());
  g_jni->EndCall(nullptr);
  return result;
}

// Printable ASCII but backslash, space and '=' as themselves; any other UTF-16 unit as \uXXXX.
std::string Escape(const std::u16string& text) {
  std::string out;
  char buffer[8];
  for (char16_t u : text)
    if (u > 0x20 && u < 0x7F && u != '\\' && u != '=') out.push_back(static_cast<char>(u));
    else out.append(buffer, std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(u)));
  return out;
}

void Line(const std::string& file, const char* step, jint result, jobject properties) {
  std::printf("%s %s 0x%08X", file.c_str(), step, static_cast<unsigned>(result));
  for (const auto& [key, value] : HotspotJni::Entries(properties))
    std::printf(" %s=%s", Escape(key).c_str(), Escape(value).c_str());
  std::printf("\n");
  std::fflush(stdout);  // a fault in ole32 later loses nothing printed
}

void Steps(const std::string& name, const fs::path& path) {
  HotspotJni& j = *g_jni;
  const jstring file = j.Str(path.wstring());
  jobject p = j.NewProperties();
  Line(name, "user", Call("getCompoundDocumentUserProperties", file, p, jboolean(0)), p);
  p = j.NewProperties();
  Line(name, "user-checked", Call("getCompoundDocumentUserProperties", file, p, jboolean(1)), p);
  p = j.NewProperties();
  Line(name, "summary", Call("getCompoundDocumentSummaryProperties", file, p), p);
  p = j.NewProperties({{u"PIDSI_AUTHOR", u"Writer"}, {u"PIDSI_TITLE", u"Heading"}, {u"PIDSI_CREATE_DTM", u"Made"}});
  Line(name, "copy", Call("copySummaryPropertiesToUserProperties", file, p), p);
  const std::u16string id = kId;
  p = j.NewProperties({{u"Client", kText}, {u"Empty", u""}, {u"prop1", u"##DEL##"},
                       {u"Quorvane ExtendedVersionId", id}, {u"Quorvane MetadataVersion." + id, u"1.2"},
                       {u"Quorvane DocumentId." + id, u"d"}});
  Line(name, "set", Call("setCompoundDocumentUserProperties", file, p), p);
  p = j.NewProperties();
  Line(name, "reread", Call("getCompoundDocumentUserProperties", file, p, jboolean(0)), p);
  p = j.NewProperties();
  Line(name, "reread-checked", Call("getCompoundDocumentUserProperties", file, p, jboolean(1)), p);
  p = j.NewProperties();
  Line(name, "summary-after", Call("getCompoundDocumentSummaryProperties", file, p), p);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s WORK_FOLDER FIXTURE...\n", argv[0]);
    return 2;
  }
  g_dll = LoadLibraryW((qvtest::ProgramFolder() + L"..\\quorvane.dll").c_str());
  if (g_dll == nullptr) {
    std::printf("fault: quorvane.dll did not load: %lu\n", GetLastError());
    return 1;
  }
  HotspotJni jni;
  g_jni = &jni;
  for (int i = 2; i < argc; ++i) {
    const fs::path fixture = argv[i];
    const fs::path copy = fs::path(argv[1]) / fixture.filename();
    fs::remove(copy);
    fs::copy_file(fixture, copy);
    fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
    std::fflush(stdout);
    Steps(fixture.filename().string(), copy);
  }
  for (const std::string& fault : jni.faults) std::printf("fault: %s\n", fault.c_str());
  std::fflush(stdout);
  return jni.faults.empty() ? 0 : 1;
}
