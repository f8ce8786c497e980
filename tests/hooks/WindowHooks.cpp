// Test-only natives of com.quorvane.test.TestHooks, never shipped: a test's own X connection that makes
// windows and reads back what the library did to them, and the process's DISPLAY variable.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <jni.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "HookSupport.h"

using namespace quorvane::jni::hooks;

#define HOOK(name) Java_com_quorvane_test_TestHooks_##name

namespace {

Display* D(jlong display) { return reinterpret_cast<Display*>(display); }

// The values of a window property of the given type (none when it is missing).
std::vector<unsigned long> Property(Display* d, jint window, const char* name, Atom wanted) {
  Atom type;
  int format;
  unsigned long count = 0, after;
  unsigned char* data = nullptr;
  std::vector<unsigned long> values;
  if (XGetWindowProperty(d, static_cast<Window>(window), XInternAtom(d, name, False), 0, 64, False, wanted, &type,
                         &format, &count, &after, &data) == Success && data && type == wanted)
    values.assign(reinterpret_cast<unsigned long*>(data), reinterpret_cast<unsigned long*>(data) + count);
  if (data) XFree(data);
  return values;
}

// A BadWindow on the test's own connection is for the test to see, not a reason to end the JVM.
int IgnoreError(Display*, XErrorEvent*) { return 0; }

}  // namespace

extern "C" {

JNIEXPORT void JNICALL HOOK(setDisplayVariable)(JNIEnv* env, jclass, jstring value) {
  if (value == nullptr)
    unsetenv("DISPLAY");
  else
    setenv("DISPLAY", Narrow(Text(env, value)).c_str(), 1);
}

JNIEXPORT jlong JNICALL HOOK(open)(JNIEnv* env, jclass, jstring name) {
  XSetErrorHandler(IgnoreError);
  return reinterpret_cast<jlong>(XOpenDisplay(Narrow(Text(env, name)).c_str()));
}

JNIEXPORT void JNICALL HOOK(close)(JNIEnv*, jclass, jlong display) { XCloseDisplay(D(display)); }

JNIEXPORT jint JNICALL HOOK(createWindow)(JNIEnv*, jclass, jlong display, jboolean map) {
  Display* d = D(display);
  Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 10, 10, 100, 80, 0, 0, 0);
  if (map) XMapWindow(d, w);
  XSync(d, False);
  return static_cast<jint>(w);
}

JNIEXPORT void JNICALL HOOK(destroyWindow)(JNIEnv*, jclass, jlong display, jint window) {
  XDestroyWindow(D(display), static_cast<Window>(window));
  XSync(D(display), False);
}

// "shown" or "hidden", then "urgent" for the urgency hint, "attention" when it asks for it, and its opacity in hex.
JNIEXPORT jstring JNICALL HOOK(state)(JNIEnv* env, jclass, jlong display, jint window) {
  Display* d = D(display);
  XWindowAttributes attributes;
  XSync(d, False);
  const bool mapped =
      XGetWindowAttributes(d, static_cast<Window>(window), &attributes) && attributes.map_state != IsUnmapped;
  XWMHints* hints = XGetWMHints(d, static_cast<Window>(window));
  const bool urgent = hints && (hints->flags & XUrgencyHint);
  if (hints) XFree(hints);
  const std::vector<unsigned long> atoms = Property(d, window, "_NET_WM_STATE", XA_ATOM);
  const bool attention =
      std::count(atoms.begin(), atoms.end(), XInternAtom(d, "_NET_WM_STATE_DEMANDS_ATTENTION", False)) > 0;
  const std::vector<unsigned long> opacity = Property(d, window, "_NET_WM_WINDOW_OPACITY", XA_CARDINAL);
  char hex[32] = "";
  if (opacity.size() == 1) snprintf(hex, sizeof hex, " opacity=%lx", opacity[0] & 0xFFFFFFFFul);
  const std::string text =
      std::string(mapped ? "shown" : "hidden") + (urgent ? " urgent" : "") + (attention ? " attention" : "") + hex;
  return env->NewStringUTF(text.c_str());
}

// Counts as user activity for the X server's idle timer.
JNIEXPORT void JNICALL HOOK(resetIdle)(JNIEnv*, jclass, jlong display) {
  XResetScreenSaver(D(display));
  XSync(D(display), False);
}

}  // extern "C"
