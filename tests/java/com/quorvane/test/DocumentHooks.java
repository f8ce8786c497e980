package com.quorvane.test;

import java.util.Properties;
import java.util.concurrent.Callable;

/** Test-only natives over the document property layers and the straggler paths (libquorvane_testhooks). */
final class DocumentHooks {
    static {
        System.loadLibrary("quorvane_testhooks");
    }

    /** docfile's operations, and a mode that holds a document for writing. */
    static final int SET = 1, GET_DATE = 2, SET_DATE = 3, SET_SAVE_TICKS = 5, WRITE_MODE = 0x00400022;

    private DocumentHooks() {
    }

    static native boolean userSetIsUnicode(String path);
    static native String formatFileTime(long fileTime, int bufferChars);
    static native String docfile(String path, boolean write, int op, String name, String value);
    /** A handle for release(), or a negative HRESULT when the open failed. */
    static native long hold(String path, int mode);
    static native void release(long handle);
    static native int readWithUnopenableCheck(String path, Properties properties);

    /** Runs body while this process holds the document open with mode, as another program would. */
    static <T> T whileHeld(String path, int mode, Callable<T> body) throws Exception {
        long held = hold(path, mode);
        if (held <= 0) {
            throw new IllegalStateException("holding failed: " + Long.toHexString(held));
        }
        try {
            return body.call();
        } finally {
            release(held);
        }
    }
}
