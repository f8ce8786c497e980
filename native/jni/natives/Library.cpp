// Load-time initialisation. Everything the library builds at load is built
// here, from one static object, so the order is fixed rather than left to the
// linker's order of static initialisers:
//   1. the summary names and save-mark names of straggler detection;
//   2. the tracking property names, the current metadata version and "true";
//   3. last, the logger, which reads the settings file and opens its log.
// Each step is a function-local static in its own unit; touching it here
// builds it. At unload they are destroyed in reverse order (logger first).
namespace {

struct LibraryInit {
  LibraryInit() {
    // Steps join here as their units land.
  }
};

const LibraryInit g_libraryInit;

}  // namespace
