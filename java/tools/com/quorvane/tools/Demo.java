package com.quorvane.tools;

import com.quorvane.infrastructure.os.windows.Win32Impl;

/** Loads the native library in this JVM and shows that it answers. */
public final class Demo {
    /** A probe whose fields the native self-test changes in a fixed way. */
    public static final class Probe {
        public static byte ADDEND = 3;
        public int[] iarray = {10};
        public boolean zf = false;
        public boolean zt = true;
        public byte b = 125;
        public short s = 1000;
        public int i = 41;
        public long j = 1L << 40;
        public float f = 1.5f;
        public double d = 2.25;
        public byte[] barray = {7};
        public static int[] s_iarray = {20};
        public static boolean s_zf = false;
        public static boolean s_zt = true;
        public static byte s_b = -128;
        public static short s_s = -1;
        public static int s_i = Integer.MAX_VALUE;
        public static long s_j = -5;
        public static float s_f = 0.5f;
        public static double s_d = -0.75;

        String describe() {
            return String.format("iarray[0]=%d zf=%b zt=%b b=%d s=%d i=%d j=%d f=%s d=%s barray[0]=%d | "
                    + "s_iarray[0]=%d s_zf=%b s_zt=%b s_b=%d s_s=%d s_i=%d s_j=%d s_f=%s s_d=%s",
                    iarray[0], zf, zt, b, s, i, j, f, d, barray[0],
                    s_iarray[0], s_zf, s_zt, s_b, s_s, s_i, s_j, s_f, s_d);
        }
    }

    private Demo() {
    }

    public static void main(String[] args) {
        System.out.println("java.library.path = " + System.getProperty("java.library.path"));
        Probe probe = new Probe();
        System.out.println("before: " + probe.describe());
        Win32Impl.TestJavaClassFields(probe);
        System.out.println("after:  " + probe.describe());
        System.out.println("The native library answered: every field moved by ADDEND = " + Probe.ADDEND + ".");
    }
}
