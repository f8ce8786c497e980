package com.quorvane.test;

import java.util.Properties;

/** Test-only natives over the native view of java.util.Properties (libquorvane_testhooks). */
final class PropertiesHooks {
    static {
        System.loadLibrary("quorvane_testhooks");
    }

    static final int GET = 0;
    static final int HAS = 1;
    static final int SET = 2;
    static final int REMOVE = 3;
    static final int GET_DATE = 4;
    static final int SET_DATE = 5;

    private PropertiesHooks() {
    }

    static native String wrapperOp(Object properties, int op, String name, String value);

    static native String[] propertyNames(Object properties);

    static native void setText(Properties properties, String name, byte[] ansi);

    static native String unconvertedBytes(byte[] bytes);

    static native int ansiCodePage();

    static native void copyThroughSnapshot(Properties source, Properties target);
}
