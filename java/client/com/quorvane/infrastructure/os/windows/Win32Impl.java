package com.quorvane.infrastructure.os.windows;

/**
 * The native methods of the quorvane library. Every method is static; the
 * receiver is never used by the native side.
 */
public final class Win32Impl {
    static {
        System.loadLibrary("quorvane");
    }

    private Win32Impl() {
    }

    /** Self-test of the native field accessors on a probe object (see FieldProbe in the tests). */
    public static native void TestJavaClassFields(Object probe);
}
