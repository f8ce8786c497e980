// Load-time initialisation. Everything the library builds at load is built
// here, from one static object, so the order is fixed rather than left to the
// linker's order of static initialisers:
//   1. the summary names and save-mark names of straggler detection;
//   2. the tracking property names, the current metadata version and "true";
//   3. last, the logger, which reads the settings file and opens its log.
// Each step is a function-local static in its own unit; touching it here
// builds it. At unload they are destroyed in reverse order (logger first).
#include "FileStore.h"
#include "Logger.h"
#include "StragglerDetector.h"

namespace {

struct LibraryInit {
  LibraryInit() {
    quorvane::StragglerNames::Get();  // 1. "12", "7", "13", "14", "15" and the save-mark names
    quorvane::TrackingNames::Get();  // 2. tracking names, metadata version 1.2, "true"
    // 3. The logger. A build that fails (out of memory) must not fail the
    // load: the logger is then built on its first use instead.
    try {
      Logger::Instance();
    } catch (...) {
    }
  }
};

const LibraryInit g_libraryInit;

}  // namespace
