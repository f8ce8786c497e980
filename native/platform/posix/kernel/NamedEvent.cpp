// Named events: one shared page per name in the per-user namespace, held by
// a shared flock per handle (scheme in Event.h and SharedPage.h).
#include "NamedEvent.h"

#include <atomic>
#include <new>

#include "../base/ErrnoMapping.h"
#include "SharedPage.h"

namespace quorvane {
namespace posix {
namespace {

constexpr uint32_t kPageMagic = 0x56455651u;  // "QVEV"
constexpr uint32_t kPageLayout = 1;

// The shared page. The name is kept whole so that names whose file names
// were hashed are told apart on open.
struct SharedEventPage {
  uint32_t magic;
  uint32_t layout;
  std::atomic<uint32_t> state;
  uint32_t manualReset;
  uint32_t nameBytes;
  char name[kSharedPageSize - 5 * sizeof(uint32_t)];
};
static_assert(sizeof(SharedEventPage) == kSharedPageSize, "one page per event");

// A named event: its page and this handle's hold on the name.
class SharedEventFile final : public EventStorage {
 public:
  std::atomic<uint32_t>* Word() override { return &Page()->state; }
  bool ManualReset() const override { return Page()->manualReset != 0; }
  bool ProcessShared() const override { return true; }

  SharedPage page;

 private:
  SharedEventPage* Page() const { return static_cast<SharedEventPage*>(page.Get()); }
};

}  // namespace

std::unique_ptr<EventStorage> OpenNamedEvent(const std::string& utf8Name, NamedEventOpen mode,
                                             bool manualReset, bool initialState, bool* created) {
  *created = false;
  auto storage = std::make_unique<SharedEventFile>();
  const SharedPageKind kind{
      sizeof(SharedEventPage::name),
      // A fresh page from the creator's arguments.
      [&](void* memory, const std::string& name) {
        auto* page = static_cast<SharedEventPage*>(memory);
        page->layout = kPageLayout;
        page->state.store(initialState ? 1u : 0u, std::memory_order_relaxed);
        page->manualReset = manualReset ? 1u : 0u;
        WritePageName(page, name);
        std::atomic_thread_fence(std::memory_order_release);
        page->magic = kPageMagic;
        return true;
      },
      [](const void* page, const std::string& name) {
        return PageMatches(*static_cast<const SharedEventPage*>(page), kPageMagic, kPageLayout, name);
      },
      nullptr};
  SharedPageResult opened = OpenSharedPage(
      utf8Name, mode == NamedEventOpen::CreateOrOpen ? SharedPageOpen::CreateOrOpen : SharedPageOpen::OpenExisting,
      kind);
  if (opened.failure != SharedPageFailure::kNone) {
    SetLastError(SharedPageError(opened));
    return nullptr;
  }
  *created = opened.created;
  storage->page = std::move(opened.page);
  return storage;
}

}  // namespace posix
}  // namespace quorvane
