package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.*;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.util.List;
import org.junit.jupiter.api.Test;

/** TestJavaClassFields adds the class's ADDEND to each field in a fixed order of steps. */
class FieldAccessTest {
    /** Statics live per class, so each case gets its own probe class. */
    static class MinusOneProbe {
        static byte ADDEND = -1;
        int[] iarray = {0};
        boolean zf = true, zt = false;
        byte b = -128;
        short s = Short.MIN_VALUE;
        int i = Integer.MIN_VALUE;
        long j = Long.MIN_VALUE;
        float f = 0.25f;
        double d = 0.5;
        byte[] barray = {-128, 5};
        static int[] s_iarray = {Integer.MIN_VALUE};
        static boolean s_zf = false, s_zt = true;
        static byte s_b = 0;
        static short s_s = 0;
        static int s_i = 0;
        static long s_j = 0;
        static float s_f = 16777216f;
        static double s_d = 1e300;
    }

    static class NoIarrayProbe {
        static byte ADDEND = 1;
        boolean zf;
        byte b = 1;
    }

    /** Every instance field but barray: steps 2-4 run, the static ones never start. */
    static class NoBarrayProbe {
        static byte ADDEND = 3;
        static int[] s_iarray = {0};
        int[] iarray = {0};
        boolean zf, zt;
        byte b;
        short s;
        int i;
        long j;
        float f;
        double d;
    }

    @Test
    void theAddendWrapsEveryWidthLikeJavaAndAMissingFieldStopsAtItsStep() {
        MinusOneProbe p = new MinusOneProbe();
        Win32Impl.TestJavaClassFields(p);
        assertEquals(List.of(-1, false, true, (byte) 127, Short.MAX_VALUE, Integer.MAX_VALUE, Long.MAX_VALUE, -0.75f,
                -0.5, (byte) 127, (byte) 5), List.of(p.iarray[0], p.zf, p.zt, p.b, p.s, p.i, p.j, p.f, p.d,
                p.barray[0], p.barray[1]), "instance fields; only element 0 of an array changes");
        assertEquals(List.of(Integer.MAX_VALUE, true, false, (byte) -1, (short) -1, -1, -1L, 16777215f, 1e300 - 1),
                List.of(MinusOneProbe.s_iarray[0], MinusOneProbe.s_zf, MinusOneProbe.s_zt, MinusOneProbe.s_b,
                        MinusOneProbe.s_s, MinusOneProbe.s_i, MinusOneProbe.s_j, MinusOneProbe.s_f,
                        MinusOneProbe.s_d), "static fields");
        // A missing field stops at its step with NoSuchFieldError pending.
        NoIarrayProbe o = new NoIarrayProbe();
        assertThrows(NoSuchFieldError.class, () -> Win32Impl.TestJavaClassFields(o));
        assertEquals(List.of(false, (byte) 1), List.of(o.zf, o.b), "nothing after the missing field changes");
        NoBarrayProbe r = new NoBarrayProbe();
        assertThrows(NoSuchFieldError.class, () -> Win32Impl.TestJavaClassFields(r));
        // Earlier changes are kept: the last scalar comes before barray, the statics after it.
        assertEquals(List.of(3, true, 3.0, 0), List.of(r.iarray[0], r.zf, r.d, NoBarrayProbe.s_iarray[0]));
    }
}
