/* Test-only stand-in for a library that is missing: it needs a symbol that
   no library defines, so the dynamic linker refuses to load it. Put in front
   of the system's under a library's soname (LD_LIBRARY_PATH), it makes that
   library unloadable for one process. Never shipped. */
extern int qv_defined_by_no_library;
int* const qv_unloadable = &qv_defined_by_no_library;
