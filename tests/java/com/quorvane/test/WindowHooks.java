package com.quorvane.test;

/** Test-only X11 helpers (libquorvane_testhooks): the test's own connection and windows. */
final class WindowHooks {
    static {
        System.loadLibrary("quorvane_testhooks");
    }

    private WindowHooks() {
    }

    /** Sets (or, for null, removes) DISPLAY in the process environment that the library reads. */
    static native void setDisplayVariable(String value);

    static native long open(String display);

    static native void close(long display);

    static native int createWindow(long display, boolean map);

    static native void destroyWindow(long display, int window);

    static native long cardinal(long display, int window, String property);

    static native boolean hasState(long display, int window, String state);

    static native boolean urgent(long display, int window);

    static native boolean mapped(long display, int window);

    static native void resetIdle(long display);
}
