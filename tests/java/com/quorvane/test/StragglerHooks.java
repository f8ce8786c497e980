package com.quorvane.test;

import java.util.Properties;

/** Test-only natives for the straggler paths (libquorvane_testhooks). */
final class StragglerHooks {
    static {
        System.loadLibrary("quorvane_testhooks");
    }

    static final int READ_MODE = 0x00400040;
    static final int WRITE_MODE = 0x00400022;

    private StragglerHooks() {
    }

    /** A handle for release(), or a negative HRESULT when the open failed. */
    static native long hold(String path, int mode);

    static native void release(long handle);

    static native int readWithUnopenableCheck(String path, Properties properties);
}
