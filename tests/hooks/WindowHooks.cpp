// Test-only natives of com.quorvane.test.WindowMethodsTest.Hooks, never shipped: a test's own X connection that makes
// windows and reads back what the library did to them, and the process's DISPLAY variable.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <jni.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#define HOOK(name) Java_com_quorvane_test_WindowMethodsTest_00024Hooks_##name

namespace {

Display* D(jlong display) { return reinterpret_cast<Display*>(display); }

std::string Text(JNIEnv* env, jstring s) {
  const char* chars = env->GetStringUTFChars(s, nullptr);
  std::string text(chars);
  env->ReleaseStringUTFChars(s, chars);
  return text;
}

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
    setenv("DISPLAY", Text(env, value).c_str(), 1);
}

JNIEXPORT jlong JNICALL HOOK(open)(JNIEnv* env, jclass, jstring name) {
  XSetErrorHandler(IgnoreError);
  return reinterpret_cast<jlong>(XOpenDisplay(Text(env, name).c_str()));
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

// The CARDINAL value, or -1 when the property is missing.
JNIEXPORT jlong JNICALL HOOK(cardinal)(JNIEnv* env, jclass, jlong display, jint window, jstring property) {
  const std::vector<unsigned long> values = Property(D(display), window, Text(env, property).c_str(), XA_CARDINAL);
  return values.size() == 1 ? static_cast<jlong>(values[0] & 0xFFFFFFFFul) : -1;
}

JNIEXPORT jboolean JNICALL HOOK(hasState)(JNIEnv* env, jclass, jlong display, jint window, jstring state) {
  const std::vector<unsigned long> atoms = Property(D(display), window, "_NET_WM_STATE", XA_ATOM);
  return std::count(atoms.begin(), atoms.end(), XInternAtom(D(display), Text(env, state).c_str(), False)) > 0;
}

JNIEXPORT jboolean JNICALL HOOK(urgent)(JNIEnv*, jclass, jlong display, jint window) {
  XWMHints* hints = XGetWMHints(D(display), static_cast<Window>(window));
  const bool urgent = hints && (hints->flags & XUrgencyHint);
  if (hints) XFree(hints);
  return urgent;
}

JNIEXPORT jboolean JNICALL HOOK(mapped)(JNIEnv*, jclass, jlong display, jint window) {
  XWindowAttributes attributes;
  XSync(D(display), False);
  return XGetWindowAttributes(D(display), static_cast<Window>(window), &attributes) &&
         attributes.map_state != IsUnmapped;
}

// Counts as user activity for the X server's idle timer.
JNIEXPORT void JNICALL HOOK(resetIdle)(JNIEnv*, jclass, jlong display) {
  XResetScreenSaver(D(display));
  XSync(D(display), False);
}

}  // extern "C"
