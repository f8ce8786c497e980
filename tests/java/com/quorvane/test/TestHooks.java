package com.quorvane.test;

import java.util.Properties;
import java.util.concurrent.Callable;

/**
 * Test-only natives (libquorvane_testhooks): the JNI boundary, its view of Properties, document layers, stragglers, the
 * shell's record marshallers run alone, and the window tests' own X connection.
 */
final class TestHooks {
    static {
        System.loadLibrary("quorvane_testhooks");
    }

    /** wrapperOp's operations. */
    static final int GET = 0, HAS = 1, SET = 2, REMOVE = 3, GET_DATE = 4, SET_DATE = 5;
    /** docfile's operations, and a mode that holds a document for writing. */
    static final int DOC_SET = 1, DOC_GET_DATE = 2, DOC_SET_DATE = 3, DOC_SAVE_TICKS = 5, WRITE_MODE = 0x00400022;

    private TestHooks() {
    }

    static native boolean throwWin32(String classPath, String message, int code);
    static native int javaGuard(int kind, String message);
    static native int hresultGuard(int kind, int hr);
    static native int outOfMemory(int length);
    /** A native method of the library given a text the VM refuses: its answer, and " OutOfMemoryError" if pending. */
    static native String refusedText(String method);
    /** The modes (0 copy back, 2 JNI_ABORT) a method released its arrays with, given bytes and chars to read. */
    static native String releaseModes(String method, byte[] bytes, char[] chars);
    /** Adds delta to each int, fills the bytes with delta and upper-cases the chars, natively. */
    static native void changeArrays(int[] ints, int delta, byte[] bytes, char[] chars);
    static native int wideLength(String text);
    static native String echo(String text);
    static native String echoCharArray(char[] text);
    static native String wrapperOp(Object properties, int op, String name, String value);
    static native String[] propertyNames(Object properties);
    static native void setText(Properties properties, String name, byte[] ansi);
    static native String unconvertedBytes(byte[] bytes);
    static native int ansiCodePage();
    static native void copyThroughSnapshot(Properties source, Properties target);

    static native boolean userSetIsUnicode(String path);
    static native String docfile(String path, boolean write, int op, String name, String value);
    /** A handle for release(), or a negative HRESULT when the open failed. */
    static native long hold(String path, int mode);
    static native void release(long handle);
    static native int readWithUnopenableCheck(String path, Properties properties);

    /** cbSize, hWnd, uID, uFlags, uCallbackMessage, hIcon, dwState, dwStateMask, uVersion, dwInfoFlags, texts. */
    static native String[] readNotifyIcon(Object notifyIconData);
    /** hWnd, wFunc, fFlags, fAnyOperationsAborted, hNameMappings, pFrom "a|b", pTo, title. */
    static native String[] readFileOperation(Object fileOperation);
    static native void writeFileInfo(Object fileInfo, int icon, int index, int attributes, String displayName,
            String typeName);
    /** Data4 is always 0, 1, ..., 7. */
    static native void writeGuid(Object guid, int data1, int data2, int data3);

    /** Sets (or, for null, removes) DISPLAY in the process environment that the library reads. */
    static native void setDisplayVariable(String value);
    static native long open(String display);
    static native void close(long display);
    static native int createWindow(long display, boolean map);
    static native void destroyWindow(long display, int window);
    /** "shown" or "hidden", then " urgent", " attention" and " opacity=HEX" where they apply. */
    static native String state(long display, int window);
    static native void resetIdle(long display);

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
