// Test-only natives of com.quorvane.test.WindowHooks: a test's own X
// connection that makes windows and reads back what the library did to
// them, and the process's DISPLAY variable. Never shipped.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <jni.h>
#include <stdlib.h>

#include <string>

#define HOOK(name) Java_com_quorvane_test_WindowHooks_##name

namespace {

Display* D(jlong display) { return reinterpret_cast<Display*>(display); }

std::string Text(JNIEnv* env, jstring s) {
  const char* chars = env->GetStringUTFChars(s, nullptr);
  std::string text(chars);
  env->ReleaseStringUTFChars(s, chars);
  return text;
}

// Errors of the test's own connection are answered by the test (BadWindow on
// a destroyed window, say), never by ending the JVM.
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
  Display* d = D(display);
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  jlong value = -1;
  if (XGetWindowProperty(d, static_cast<Window>(window), XInternAtom(d, Text(env, property).c_str(), False), 0, 1,
                         False, XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
      type == XA_CARDINAL && count == 1)
    value = static_cast<jlong>(reinterpret_cast<unsigned long*>(data)[0] & 0xFFFFFFFFul);
  if (data) XFree(data);
  return value;
}

JNIEXPORT jboolean JNICALL HOOK(hasState)(JNIEnv* env, jclass, jlong display, jint window, jstring state) {
  Display* d = D(display);
  const Atom wanted = XInternAtom(d, Text(env, state).c_str(), False);
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  bool found = false;
  if (XGetWindowProperty(d, static_cast<Window>(window), XInternAtom(d, "_NET_WM_STATE", False), 0, 64, False,
                         XA_ATOM, &type, &format, &count, &after, &data) == Success && data)
    for (unsigned long i = 0; i < count; ++i) found |= reinterpret_cast<Atom*>(data)[i] == wanted;
  if (data) XFree(data);
  return found;
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
