// Times one dlopen of the library named on the command line and prints it in
// milliseconds (the load alone, without a JVM); one sample per process.
#include <dlfcn.h>
#include <stdio.h>
#include <time.h>

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  double start = Now();
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  double end = Now();
  if (library == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  printf("%.3f\n", end - start);
  return 0;
}
