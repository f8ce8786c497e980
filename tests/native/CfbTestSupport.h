// Compound-file helpers: fixtures, files as sorted "path size sha256" lines, a document's user-defined set.
#pragma once

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Digest.h"
#include "PropertyTestSets.h"
#include "SettingsTestSupport.h"
#include "posix/storage/StorageApi.h"
#include "posix/storage/cfb/CompoundFile.h"

namespace cfbtest {

namespace cfb = quorvane::posix::cfb;
using TempDir = settings_test::TempFolder;

constexpr DWORD kSwmrRead = STGM_DIRECT_SWMR | STGM_SHARE_DENY_NONE | STGM_READ;
constexpr DWORD kSwmrWrite = STGM_DIRECT_SWMR | STGM_SHARE_DENY_WRITE | STGM_READWRITE;

inline std::string FixtureDir() {
  const char* source = getenv("QV_SOURCE_DIR");
  return std::string(source ? source : ".") + "/tests/fixtures/compound";
}

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  const std::string bytes = settings_test::ReadBytes(path);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  settings_test::WriteBytes(path, std::string(bytes.begin(), bytes.end()));
}

inline std::string CopyFixture(const std::string& name, const TempDir& dir) {
  const std::string target = dir.File(name);
  WriteAll(target, ReadAll(FixtureDir() + "/" + name));
  chmod(target.c_str(), 0644);
  return target;
}

// Names as olefile prints them: enough for every name the tests use.
inline std::string Narrow(const std::u16string& name) {
  std::string text;
  for (char16_t c : name) text += c < 0x80 ? static_cast<char>(c) : '?';
  return text;
}

inline std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

inline cfb::ShareMode ReadOnly() { return cfb::ShareMode{}; }
inline cfb::ShareMode ReadWriteExclusive() {
  cfb::ShareMode mode;
  mode.write = mode.denyRead = mode.denyWrite = true;
  return mode;
}

// One stream of a fixture (or of an absolute path) as the engine reads it; empty when absent.
inline std::vector<uint8_t> FixtureStream(const std::string& name, const std::u16string& stream) {
  std::shared_ptr<cfb::CompoundFile> file;
  std::vector<uint8_t> bytes;
  if (FAILED(cfb::CompoundFile::Open(name[0] == '/' ? name : FixtureDir() + "/" + name, ReadOnly(), file)) ||
      FAILED(file->ReadStream(stream, bytes)))
    bytes.clear();
  return bytes;
}

inline std::string Line(const std::string& path, const std::vector<uint8_t>& data) {
  std::string line = path + " " + std::to_string(data.size()) + " ";
  for (unsigned char b : quorvane::ComputeSha256(data.data(), data.size()))
    line += "0123456789abcdef"[b >> 4], line += "0123456789abcdef"[b & 15];
  return line;
}

inline std::vector<std::string> Lines(const std::map<std::string, std::vector<uint8_t>>& streams) {
  std::vector<std::string> lines;
  for (const auto& [name, data] : streams) lines.push_back(Line(name, data));
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Every stream read with our engine.
inline HRESULT EngineListing(const std::string& path, std::vector<std::string>& lines) {
  lines.clear();
  std::shared_ptr<cfb::CompoundFile> file;
  std::vector<cfb::WalkEntry> entries;
  HRESULT hr = cfb::CompoundFile::Open(path, ReadOnly(), file);
  if (FAILED(hr) || FAILED(hr = file->Walk(entries))) return hr;
  for (const cfb::WalkEntry& entry : entries) {
    if (entry.entry.objectType != cfb::kTypeStream) continue;
    std::vector<uint8_t> data;
    if (FAILED(hr = file->ReadStreamAt(entry.path, data))) return hr;
    std::string joined;
    for (const auto& part : entry.path) joined += (joined.empty() ? "" : "/") + Narrow(part);
    lines.push_back(Line(joined, data));
  }
  std::sort(lines.begin(), lines.end());
  return S_OK;
}

// The listing lines a command prints for each file after a line "FILE".
inline std::vector<std::vector<std::string>> ListingsFrom(std::string command, const std::vector<std::string>& paths) {
  for (const auto& path : paths) command += " '" + path + "'";
  std::vector<std::vector<std::string>> listings;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return listings;
  for (char line[4096]; fgets(line, sizeof line, pipe);) {
    std::string text(line, strcspn(line, "\n"));
    if (text == "FILE")
      listings.emplace_back();
    else if (!listings.empty())
      listings.back().push_back(text);
  }
  pclose(pipe);
  for (auto& listing : listings) std::sort(listing.begin(), listing.end());
  return listings;
}

// The same from Apache POI, one JVM for all files.
inline std::vector<std::vector<std::string>> PoiListings(const std::vector<std::string>& paths) {
  const char* source = getenv("QV_SOURCE_DIR");
  return ListingsFrom("java -cp /usr/share/java/poi.jar:/usr/share/java/commons-io.jar:"
                      "/usr/share/java/commons-collections4.jar:/usr/share/java/commons-math3.jar:"
                      "/usr/share/java/commons-codec.jar:/usr/share/java/log4j-api.jar " +
                          std::string(source ? source : ".") + "/tests/native/PoiCfbListing.java 2>/dev/null",
                      paths);
}

// The same from python3-olefile in its strict mode, one interpreter for all files; "ERROR ..." for a file it refuses.
inline std::vector<std::vector<std::string>> OlefileListings(const std::vector<std::string>& paths) {
  std::string command = "/usr/bin/python3 -c '"
                        "import sys, hashlib, olefile\n"
                        "for f in sys.argv[1:]:\n"
                        "    print(\"FILE\")\n"
                        "    try:\n"
                        "        ole = olefile.OleFileIO(f, raise_defects=olefile.DEFECT_INCORRECT)\n"
                        "        for p in ole.listdir(streams=True, storages=False):\n"
                        "            d = ole.openstream(p).read()\n"
                        "            print(\"/\".join(p), len(d), hashlib.sha256(d).hexdigest())\n"
                        "        ole.close()\n"
                        "    except Exception as e:\n"
                        "        print(\"ERROR\", type(e).__name__, e)\n'";
  return ListingsFrom(command, paths);
}

inline std::vector<std::string> OlefileListing(const std::string& path) {
  auto listings = OlefileListings({path});
  return listings.empty() ? std::vector<std::string>{"ERROR no output"} : listings[0];
}

// Our engine and olefile both read `expected` from the file.
inline void ExpectListing(const std::string& path, const std::vector<std::string>& expected) {
  std::vector<std::string> ours;
  EXPECT_EQ(EngineListing(path, ours), S_OK) << path;
  EXPECT_EQ(ours, expected) << path;
  EXPECT_EQ(OlefileListing(path), expected) << path;
}

inline std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = 2463534242u ^ seed;
  for (auto& b : bytes) x ^= x << 13, x ^= x >> 17, x ^= x << 5, b = static_cast<uint8_t>(x);  // xorshift32
  return bytes;
}

// A document's user-defined set; a writer waits for its turn. All released with the scope.
struct UserSet {
  IStorage* storage = nullptr;
  IDirectWriterLock* lock = nullptr;
  IPropertySetStorage* sets = nullptr;
  IPropertyStorage* set = nullptr;
  DWORD mode = 0;
  ~UserSet() {
    for (IUnknown* member : std::initializer_list<IUnknown*>{set, sets, lock, storage})
      if (member) member->Release();
  }
  HRESULT Open(const std::string& path, DWORD openMode = kSwmrWrite) {
    const std::wstring wide(path.begin(), path.end());
    HRESULT hr = StgOpenStorage(wide.c_str(), nullptr, mode = openMode, nullptr, 0, &storage);
    if (SUCCEEDED(hr) && (mode & STGM_READWRITE) &&
        SUCCEEDED(hr = storage->QueryInterface(IID_IDirectWriterLock, reinterpret_cast<void**>(&lock))))
      hr = lock->WaitForWriteAccess(20000);
    if (SUCCEEDED(hr)) hr = storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets));
    return SUCCEEDED(hr) ? Reopen() : hr;
  }
  HRESULT Reopen() {
    if (set) set->Release();
    set = nullptr;
    return sets->Open(FMTID_UserDefinedProperties, (mode & STGM_READWRITE) | STGM_SHARE_EXCLUSIVE, &set);
  }
  HRESULT Write(const std::vector<std::wstring>& names, const std::vector<std::string>& texts) {
    std::vector<PROPSPEC> specs;
    std::vector<PROPVARIANT> values;
    for (size_t i = 0; i < names.size(); ++i)
      specs.push_back(qvtest::Named(names[i].c_str())), values.push_back(qvtest::Text(texts[i].c_str()));
    return set->WriteMultiple(static_cast<ULONG>(specs.size()), specs.data(), values.data(), 4096);
  }
  HRESULT Commit() {
    const HRESULT hr = set->Commit(STGC_DEFAULT);
    return SUCCEEDED(hr) ? storage->Commit(STGC_DEFAULT) : hr;
  }
  std::string Read(const std::wstring& name) { return qvtest::ReadText(set, qvtest::Named(name.c_str())); }
  // Name -> id of every named property.
  HRESULT Ids(std::map<std::wstring, PROPID>& out) {
    IEnumSTATPROPSTG* entries = nullptr;
    const HRESULT hr = set->Enum(&entries);
    if (FAILED(hr)) return hr;
    for (STATPROPSTG stat; entries->Next(1, &stat, nullptr) == S_OK; CoTaskMemFree(stat.lpwstrName))
      if (stat.lpwstrName) out[stat.lpwstrName] = stat.propid;
    entries->Release();
    return S_OK;
  }
};

}  // namespace cfbtest
