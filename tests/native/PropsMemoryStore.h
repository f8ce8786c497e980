// Test double: the streams of a root storage held in memory, with a switch
// for read-only access and a count of stream writes.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "Win32Api.h"
#include "posix/storage/StreamStore.h"

namespace propstest {

class MemoryStore : public quorvane::posix::StreamStore {
 public:
  HRESULT ReadStream(const std::u16string& name, std::vector<uint8_t>& out) override {
    auto it = streams.find(name);
    if (it == streams.end()) return STG_E_FILENOTFOUND;
    out = it->second;
    return S_OK;
  }
  HRESULT WriteStream(const std::u16string& name, const std::vector<uint8_t>& bytes) override {
    if (!writable) return STG_E_ACCESSDENIED;
    streams[name] = bytes;
    ++writes;
    return S_OK;
  }
  HRESULT DeleteStream(const std::u16string& name) override {
    if (!writable) return STG_E_ACCESSDENIED;
    return streams.erase(name) ? S_OK : STG_E_FILENOTFOUND;
  }
  bool CanWrite() const override { return writable; }

  std::map<std::u16string, std::vector<uint8_t>> streams;
  bool writable = true;
  int writes = 0;
};

}  // namespace propstest
