package com.quorvane.test;

/** Test-only natives that run the shell's record marshallers alone (libquorvane_testhooks). */
final class ShellHooks {
    static {
        System.loadLibrary("quorvane_testhooks");
    }

    private ShellHooks() {
    }

    /** cbSize, hWnd, uID, uFlags, uCallbackMessage, hIcon, dwState, dwStateMask, uVersion, dwInfoFlags, texts. */
    static native String[] readNotifyIcon(Object notifyIconData);

    /** hWnd, wFunc, fFlags, fAnyOperationsAborted, hNameMappings, pFrom "a|b", pTo, title. */
    static native String[] readFileOperation(Object fileOperation);

    static native void writeFileInfo(Object fileInfo, int icon, int index, int attributes, String displayName,
            String typeName);

    /** Data4 is always 0, 1, ..., 7. */
    static native void writeGuid(Object guid, int data1, int data2, int data3);
}
