// Test-only LD_PRELOAD: signal(SIGPIPE, SIG_IGN), which GLib's socket class set-up calls, keeps SIGPIPE ignored for
// 200 ms before returning, so code racing around that change meets it every time instead of now and then.
#include <dlfcn.h>
#include <signal.h>
#include <time.h>

extern "C" __attribute__((visibility("default"))) sighandler_t signal(int number, sighandler_t handler) {
  using Signal = sighandler_t (*)(int, sighandler_t);
  static const Signal real = reinterpret_cast<Signal>(dlsym(RTLD_NEXT, "signal"));
  const sighandler_t previous = real(number, handler);
  if (number == SIGPIPE && handler == SIG_IGN) {
    const struct timespec pause = {0, 200 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  return previous;
}
