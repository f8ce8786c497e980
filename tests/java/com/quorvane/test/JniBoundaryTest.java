package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quorvane.infrastructure.os.windows.Win32Exception;
import java.io.IOException;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

class JniBoundaryTest {
    private static final int E_FAIL = 0x80004005;

    @Test
    void win32FormUsesTheStringIntConstructorWithThePlainMessage() {
        Win32Exception e = assertThrows(Win32Exception.class, () -> FrameHooks.throwWin32(
                "com/quorvane/infrastructure/os/windows/Win32Exception", "Error encrypting data", 5));
        assertEquals("Error encrypting data", e.getMessage());
        assertEquals(5, e.getCode());
    }

    @ParameterizedTest
    @CsvSource({
        "Error encrypting data, 5, 'Error encrypting data: 0x5'",
        "msg, 0, 'msg: 0x0'",
        "msg, -1, 'msg: 0xFFFFFFFF'",
        "'', 3054, ': 0xBEE'",
    })
    void win32FormWithoutThatConstructorAppendsTheCodeInHex(String message, int code, String expected) {
        PlainException e = assertThrows(PlainException.class,
                () -> FrameHooks.throwWin32("com/quorvane/test/PlainException", message, code));
        assertEquals(expected, e.getMessage());
    }

    @Test
    void win32FormWithAMissingClassLeavesTheVmsErrorPending() {
        assertThrows(NoClassDefFoundError.class,
                () -> FrameHooks.throwWin32("com/quorvane/test/NoSuchException", "x", 1));
    }

    @Test
    void namedExceptionsArePendingWhenTheJavaGuardReturnsItsNeutralResult() {
        IllegalArgumentException a = assertThrows(IllegalArgumentException.class,
                () -> FrameHooks.javaGuard(0, "bad value"));
        assertEquals("bad value", a.getMessage());
        assertEquals("boom", assertThrows(RuntimeException.class, () -> FrameHooks.javaGuard(1, "boom")).getMessage());
        assertEquals("missing",
                assertThrows(ClassNotFoundException.class, () -> FrameHooks.javaGuard(2, "missing")).getMessage());
        assertEquals("io", assertThrows(IOException.class, () -> FrameHooks.javaGuard(3, "io")).getMessage());
        assertEquals(9, FrameHooks.javaGuard(9, "no throw"));
    }

    @Test
    void exceptionsOutsideTheJniFamilyNeverCrossIntoTheVm() {
        RuntimeException check = assertThrows(RuntimeException.class, () -> FrameHooks.javaGuard(4, "not empty"));
        assertTrue(check.getMessage().matches(
                "exception at FrameHooks\\.cpp, line \\d+ - runtime_error : narrow\\.empty\\(\\)"),
                check.getMessage());
        assertThrows(OutOfMemoryError.class, () -> FrameHooks.javaGuard(5, ""));
        assertEquals("unknown exception",
                assertThrows(RuntimeException.class, () -> FrameHooks.javaGuard(6, "")).getMessage());
    }

    @Test
    void hresultGuardAnswersTheCarriedHresultOrEFailOrLeavesAJavaExceptionPending() {
        assertEquals(0x80030020, FrameHooks.hresultGuard(1, 0x80030020));
        assertEquals(E_FAIL, FrameHooks.hresultGuard(2, 1), "a standard exception becomes E_FAIL");
        assertEquals(1, FrameHooks.hresultGuard(3, 1));
        assertEquals(0, FrameHooks.hresultGuard(3, 0));
        // The exception is pending on return, so Java sees the throw, not the code.
        assertEquals("bad argument",
                assertThrows(IllegalArgumentException.class, () -> FrameHooks.hresultGuard(0, 0)).getMessage());
    }

    @Test
    void refusedAllocationLeavesTheVmsOutOfMemoryErrorPending() {
        assertThrows(OutOfMemoryError.class, () -> FrameHooks.outOfMemory(Integer.MAX_VALUE));
        assertEquals(16, FrameHooks.outOfMemory(16));
    }

    @Test
    void arrayElementsChangedNativelyReachJava() {
        int[] ints = {1, 2, 3};
        FrameHooks.addToInts(ints, 10);
        assertArrayEquals(new int[] {11, 12, 13}, ints);
        byte[] bytes = new byte[5];
        FrameHooks.fillBytes(bytes, (byte) 0x7f);
        assertArrayEquals(new byte[] {0x7f, 0x7f, 0x7f, 0x7f, 0x7f}, bytes);
        char[] chars = "abc\u00e9".toCharArray();
        FrameHooks.upperChars(chars);
        assertArrayEquals("ABC\u00e9".toCharArray(), chars);
        // A large array the VM is likely to copy rather than pin.
        int[] large = new int[1 << 20];
        FrameHooks.addToInts(large, -3);
        assertEquals(-3, large[0]);
        assertEquals(-3, large[large.length - 1]);
    }

    @Test
    void nullArraysAndTextsAreRefusedOrHoldNothing() {
        assertThrows(NullPointerException.class, () -> FrameHooks.addToInts(null, 1));
        assertEquals(-1, FrameHooks.wideLength(null));
        assertNull(FrameHooks.echo(null));
        assertNull(FrameHooks.echoCharArray(null));
    }

    @Test
    void javaCharsTextIsTerminatedAndSurvivesARoundTrip() {
        assertEquals(0, FrameHooks.wideLength(""));
        assertEquals(5, FrameHooks.wideLength("hello"));
        // A supplementary character is one wide character on Linux, two on Windows.
        String text = "d\u00e9j\u00e0 \u4e2d\u6587 \ud83d\ude00 \ud800 end \udc00";
        assertEquals(text, FrameHooks.echo(text));
        assertEquals("abc", FrameHooks.echoCharArray(new char[] {'a', 'b', 'c', 0, 'x'}));
        assertEquals("abc", FrameHooks.echoCharArray(new char[] {'a', 'b', 'c'}));
    }
}
