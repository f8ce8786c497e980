package com.quorvane.test;

import java.util.Properties;

/** Test-only natives that drive the JNI boundary's internals and its view of Properties (libquorvane_testhooks). */
final class BoundaryHooks {
    static {
        System.loadLibrary("quorvane_testhooks");
    }

    /** wrapperOp's operations. */
    static final int GET = 0, HAS = 1, SET = 2, REMOVE = 3, GET_DATE = 4, SET_DATE = 5;

    private BoundaryHooks() {
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
    static native String wrapperOp(Object properties, int op, String name, String value);
    static native String[] propertyNames(Object properties);
    static native void setText(Properties properties, String name, byte[] ansi);
    static native String unconvertedBytes(byte[] bytes);
    static native int ansiCodePage();
    static native void copyThroughSnapshot(Properties source, Properties target);
}
