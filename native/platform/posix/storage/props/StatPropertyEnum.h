// IEnumSTATPROPSTG over a snapshot of a property set's entries taken when
// the enumerator was made. Names are handed out as CoTaskMemAlloc copies that
// the receiver frees. Reference counting is atomic; the rest is for one
// thread at a time.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "../PropIdl.h"

namespace quorvane {
namespace posix {

struct StatEntry {
  PROPID id;
  VARTYPE vt;
  bool named;
  size_t nameAt;  // in StatEntries::names, NUL-terminated there
  size_t nameLength;
};

// The entries and, in one buffer, their names: a set of thousands is copied
// in two allocations.
struct StatEntries {
  std::vector<StatEntry> entries;
  std::wstring names;
  void Add(PROPID id, VARTYPE vt, const std::wstring* name);
};

class StatPropertyEnum final : public IEnumSTATPROPSTG {
 public:
  explicit StatPropertyEnum(std::shared_ptr<const StatEntries> entries, size_t position = 0)
      : entries_(std::move(entries)), position_(position) {}

  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;
  STDMETHOD(Next)(ULONG celt, STATPROPSTG* rgelt, ULONG* pceltFetched) override;
  STDMETHOD(Skip)(ULONG celt) override;
  STDMETHOD(Reset)() override;
  STDMETHOD(Clone)(IEnumSTATPROPSTG** ppenum) override;

 private:
  ~StatPropertyEnum() override = default;
  std::atomic<ULONG> refs_{1};
  std::shared_ptr<const StatEntries> entries_;
  size_t position_;
};

}  // namespace posix
}  // namespace quorvane
