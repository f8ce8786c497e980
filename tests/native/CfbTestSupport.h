// Helpers shared by the compound-file tests: fixture paths, temporary
// folders, the engine's view of a file as "path size sha256" lines, and the
// same lines as the independent reader olefile gives them.
#pragma once

#include <dirent.h>
#include <openssl/evp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "posix/storage/cfb/CompoundFile.h"

namespace cfbtest {

namespace cfb = quorvane::posix::cfb;

inline std::string FixtureDir() {
  const char* source = getenv("QV_SOURCE_DIR");
  return std::string(source ? source : ".") + "/../shared/fixtures/compound";
}

inline std::vector<std::string> FixtureNames() {
  std::vector<std::string> names;
  if (DIR* dir = opendir(FixtureDir().c_str())) {
    while (dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name.size() > 4 && name != "README.md" && name[0] != '.') names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/qv-cfb-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::string CopyFixture(const std::string& name, const TempDir& dir) {
  const std::string target = dir.File(name);
  WriteAll(target, ReadAll(FixtureDir() + "/" + name));
  chmod(target.c_str(), 0644);
  return target;
}

inline std::string Sha256(const std::vector<uint8_t>& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  static const char* hex = "0123456789abcdef";
  std::string text;
  for (unsigned i = 0; i < length; ++i) {
    text += hex[digest[i] >> 4];
    text += hex[digest[i] & 15];
  }
  return text;
}

// Names as olefile prints them: UTF-16 units below 0x80 as bytes (enough for
// every name the tests use).
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

// One stream of a fixture as the engine reads it; empty when it is absent.
inline std::vector<uint8_t> FixtureStream(const std::string& name, const std::u16string& stream) {
  std::shared_ptr<cfb::CompoundFile> file;
  std::vector<uint8_t> bytes;
  if (FAILED(cfb::CompoundFile::Open(FixtureDir() + "/" + name, ReadOnly(), file)) ||
      FAILED(file->ReadStream(stream, bytes)))
    bytes.clear();
  return bytes;
}

// One stream as a "path size sha256" line.
inline std::string Line(const std::string& path, const std::vector<uint8_t>& data) {
  return path + " " + std::to_string(data.size()) + " " + Sha256(data);
}

// Sorted "path size sha256" lines of every stream, read with our engine.
inline HRESULT EngineListing(const std::string& path, std::vector<std::string>& lines) {
  lines.clear();
  std::shared_ptr<cfb::CompoundFile> file;
  HRESULT hr = cfb::CompoundFile::Open(path, ReadOnly(), file);
  if (FAILED(hr)) return hr;
  std::vector<cfb::WalkEntry> entries;
  if (FAILED(hr = file->Walk(entries))) return hr;
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

// The same lines from python3-olefile, for each file; "ERROR ..." when it
// refuses a file. One interpreter for all files.
inline std::vector<std::vector<std::string>> OlefileListings(const std::vector<std::string>& paths) {
  TempDir scratch;
  const std::string script = scratch.File("list.py");
  std::ofstream(script) << "import sys, hashlib, olefile\n"
                           "for f in sys.argv[1:]:\n"
                           "    print('FILE')\n"
                           "    try:\n"
                           "        ole = olefile.OleFileIO(f, raise_defects=olefile.DEFECT_INCORRECT)\n"
                           "        for p in ole.listdir(streams=True, storages=False):\n"
                           "            d = ole.openstream(p).read()\n"
                           "            print('/'.join(p), len(d), hashlib.sha256(d).hexdigest())\n"
                           "        ole.close()\n"
                           "    except Exception as e:\n"
                           "        print('ERROR', type(e).__name__, e)\n";
  std::string command = "/usr/bin/python3 '" + script + "'";
  for (const auto& path : paths) command += " '" + path + "'";
  std::vector<std::vector<std::string>> listings;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return listings;
  char line[4096];
  while (fgets(line, sizeof(line), pipe)) {
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (text == "FILE")
      listings.emplace_back();
    else if (!listings.empty())
      listings.back().push_back(text);
  }
  pclose(pipe);
  for (auto& listing : listings) std::sort(listing.begin(), listing.end());
  return listings;
}

inline std::vector<std::string> OlefileListing(const std::string& path) {
  auto listings = OlefileListings({path});
  return listings.empty() ? std::vector<std::string>{"ERROR no output"} : listings[0];
}

inline std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = 2463534242u ^ seed;
  for (auto& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  return bytes;
}

}  // namespace cfbtest
