package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import org.junit.jupiter.api.Test;

class FieldAccessTest {
    /** Statics live per class, so each test gets its own probe class. */
    static class MinusOneProbe {
        static byte ADDEND = -1;
        int[] iarray = {0};
        boolean zf = true;
        boolean zt = false;
        byte b = -128;
        short s = Short.MIN_VALUE;
        int i = Integer.MIN_VALUE;
        long j = Long.MIN_VALUE;
        float f = 0.25f;
        double d = 0.5;
        byte[] barray = {-128, 5};
        static int[] s_iarray = {Integer.MIN_VALUE};
        static boolean s_zf = false;
        static boolean s_zt = true;
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

    /** The instance fields of steps 2-4; subclasses add the rest and their own ADDEND. */
    static class InstanceScalars {
        int[] iarray = {0};
        boolean zf;
        boolean zt;
        byte b;
        short s;
        int i;
        long j;
        float f;
        double d;
    }

    static class NoStaticsProbe extends InstanceScalars {
        static byte ADDEND = 2;
        byte[] barray = {0};
    }

    /** Every instance field but barray: steps 2-4 run, the static ones never start. */
    static class NoBarrayProbe extends InstanceScalars {
        static byte ADDEND = 3;
        static int[] s_iarray = {0};
    }

    @Test
    void theAddendWrapsEveryWidthLikeJava() {
        MinusOneProbe p = new MinusOneProbe();
        Win32Impl.TestJavaClassFields(p);
        assertEquals(-1, p.iarray[0]);
        assertFalse(p.zf);
        assertTrue(p.zt);
        assertEquals(127, p.b);
        assertEquals(Short.MAX_VALUE, p.s);
        assertEquals(Integer.MAX_VALUE, p.i);
        assertEquals(Long.MAX_VALUE, p.j);
        assertEquals(-0.75f, p.f);
        assertEquals(-0.5, p.d);
        assertEquals(127, p.barray[0]);
        assertEquals(5, p.barray[1], "only element 0 changes");
        assertEquals(Integer.MAX_VALUE, MinusOneProbe.s_iarray[0]);
        assertTrue(MinusOneProbe.s_zf);
        assertFalse(MinusOneProbe.s_zt);
        assertEquals(-1, MinusOneProbe.s_b);
        assertEquals(-1, MinusOneProbe.s_s);
        assertEquals(-1, MinusOneProbe.s_i);
        assertEquals(-1L, MinusOneProbe.s_j);
        assertEquals(16777215f, MinusOneProbe.s_f);
        assertEquals(1e300 - 1, MinusOneProbe.s_d);
    }

    @Test
    void missingFieldStopsAtThatStepWithNoSuchFieldErrorPending() {
        NoIarrayProbe p = new NoIarrayProbe();
        assertThrows(NoSuchFieldError.class, () -> Win32Impl.TestJavaClassFields(p));
        assertFalse(p.zf, "nothing after the missing field changes");
        assertEquals(1, p.b);

        NoStaticsProbe q = new NoStaticsProbe();
        assertThrows(NoSuchFieldError.class, () -> Win32Impl.TestJavaClassFields(q));
        assertEquals(2, q.iarray[0], "earlier changes are kept");
        assertEquals(2, q.barray[0]);
        assertTrue(q.zf);

        NoBarrayProbe r = new NoBarrayProbe();
        assertThrows(NoSuchFieldError.class, () -> Win32Impl.TestJavaClassFields(r));
        assertEquals(3.0, r.d, "the last scalar comes before barray");
        assertEquals(0, NoBarrayProbe.s_iarray[0], "statics come after barray");
    }

    @Test
    void nullOrForeignObjectsAreRefusedWithoutCrashing() {
        assertThrows(NullPointerException.class, () -> Win32Impl.TestJavaClassFields(null));
        assertThrows(NoSuchFieldError.class, () -> Win32Impl.TestJavaClassFields("a string"));
    }
}
