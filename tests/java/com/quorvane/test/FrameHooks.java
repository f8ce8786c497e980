package com.quorvane.test;

/** Test-only natives that drive the JNI boundary's internals (libquorvane_testhooks). */
final class FrameHooks {
    static {
        System.loadLibrary("quorvane_testhooks");
    }

    private FrameHooks() {
    }

    static native boolean throwWin32(String classPath, String message, int code);

    static native int javaGuard(int kind, String message);

    static native int hresultGuard(int kind, int hr);

    static native int outOfMemory(int length);

    static native void addToInts(int[] array, int delta);

    static native void fillBytes(byte[] array, byte value);

    static native void upperChars(char[] array);

    static native int wideLength(String text);

    static native String echo(String text);

    static native String echoCharArray(char[] text);
}
