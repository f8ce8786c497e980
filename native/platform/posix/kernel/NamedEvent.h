// The shared page of a named event and the handle's hold on its name (the
// scheme is described in Event.h).
#pragma once

#include <memory>
#include <string>

#include "EventObject.h"

namespace quorvane {
namespace posix {

enum class NamedEventOpen { CreateOrOpen, OpenExisting };

// `utf8Name` as ObjectNameOf gives it. Null, with the last error set, when
// the name cannot be reached (no private directory, I/O failure), is held by
// another kind of object or, for OpenExisting, when no event of that name
// exists. `created` tells whether this call made the event.
std::unique_ptr<EventStorage> OpenNamedEvent(const std::string& utf8Name, NamedEventOpen mode,
                                             bool manualReset, bool initialState, bool* created);

}  // namespace posix
}  // namespace quorvane
