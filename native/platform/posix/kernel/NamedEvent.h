// The shared page of a named event and the handle's hold on its name (the
// scheme is described in Event.h).
#pragma once

#include <memory>
#include <string>

#include "EventObject.h"

namespace quorvane {
namespace posix {

enum class NamedEventOpen { CreateOrOpen, OpenExisting };

// Null when the name cannot be reached (no private directory, I/O failure,
// a foreign file under the name) or, for OpenExisting, when no event of
// that name exists. `created` tells whether this call made the event.
std::unique_ptr<EventStorage> OpenNamedEvent(const std::string& utf8Name, NamedEventOpen mode,
                                             bool manualReset, bool initialState, bool* created);

}  // namespace posix
}  // namespace quorvane
