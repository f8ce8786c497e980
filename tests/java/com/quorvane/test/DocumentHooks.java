package com.quorvane.test;

/** Test-only natives over the document property layers (libquorvane_testhooks). */
final class DocumentHooks {
    static {
        System.loadLibrary("quorvane_testhooks");
    }

    static final int GET = 0;
    static final int SET = 1;
    static final int GET_DATE = 2;
    static final int SET_DATE = 3;
    static final int SET_SAVE_TICKS = 5;

    private DocumentHooks() {
    }

    static native boolean userSetIsUnicode(String path);

    static native String formatFileTime(long fileTime, int bufferChars);

    static native String docfile(String path, boolean write, int op, String name, String value);
}
