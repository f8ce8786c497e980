// The sanitized tests' options, built in: ctest's discovered tests take only
// the first entry of an environment list, so options given there never arrived.
extern "C" const char* __asan_default_options() { return "detect_leaks=1"; }
extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1"; }
