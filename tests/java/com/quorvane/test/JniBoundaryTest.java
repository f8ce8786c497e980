package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.*;

import com.quorvane.infrastructure.os.windows.Win32Exception;
import java.io.IOException;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** The boundary's exception family, guards and holders of arrays and text, driven from Java. */
class JniBoundaryTest {
    /** An exception class without the (String, int) constructor. */
    public static class PlainException extends Exception {
        private static final long serialVersionUID = 1L;

        public PlainException(String message) {
            super(message);
        }
    }

    @Test
    void win32FormUsesTheStringIntConstructorWithThePlainMessageOrLeavesAMissingClassPending() {
        Win32Exception e = assertThrows(Win32Exception.class, () -> FrameHooks.throwWin32(
                "com/quorvane/infrastructure/os/windows/Win32Exception", "Error encrypting data", 5));
        assertEquals("Error encrypting data", e.getMessage());
        assertEquals(5, e.getCode());
        assertThrows(NoClassDefFoundError.class,
                () -> FrameHooks.throwWin32("com/quorvane/test/NoSuchException", "x", 1));
    }

    @ParameterizedTest
    @CsvSource({"Error encrypting data, 5, 'Error encrypting data: 0x5'", "msg, 0, 'msg: 0x0'",
        "msg, -1, 'msg: 0xFFFFFFFF'", "'', 3054, ': 0xBEE'"})
    void win32FormWithoutThatConstructorAppendsTheCodeInHex(String message, int code, String expected) {
        PlainException e = assertThrows(PlainException.class,
                () -> FrameHooks.throwWin32("com/quorvane/test/JniBoundaryTest$PlainException", message, code));
        assertEquals(expected, e.getMessage());
    }

    @Test
    void theJavaGuardLeavesTheNamedExceptionPendingAndNothingElseCrossesIntoTheVm() {
        Object[][] rows = { // kind, the exception pending, its message (null: not checked)
            {0, IllegalArgumentException.class, "bad value"}, {1, RuntimeException.class, "bad value"},
            {2, ClassNotFoundException.class, "bad value"}, {3, IOException.class, "bad value"},
            {5, OutOfMemoryError.class, null}, {6, RuntimeException.class, "unknown exception"}};
        for (Object[] row : rows) {
            Throwable t = assertThrows(Throwable.class, () -> FrameHooks.javaGuard((int) row[0], "bad value"));
            assertEquals(row[1], t.getClass(), "kind " + row[0]);
            if (row[2] != null) {
                assertEquals(row[2], t.getMessage(), "kind " + row[0]);
            }
        }
        String check = assertThrows(RuntimeException.class, () -> FrameHooks.javaGuard(4, "not empty")).getMessage();
        assertTrue(check.matches("exception at FrameHooks\\.cpp, line \\d+ - runtime_error : narrow\\.empty\\(\\)"),
                check);
        assertEquals(9, FrameHooks.javaGuard(9, "no throw"));
    }

    @Test
    void hresultGuardAnswersTheCarriedHresultOrEFailOrLeavesAJavaExceptionPending() {
        assertEquals(0x80030020, FrameHooks.hresultGuard(1, 0x80030020));
        assertEquals(0x80004005, FrameHooks.hresultGuard(2, 1), "a standard exception becomes E_FAIL");
        assertEquals(1, FrameHooks.hresultGuard(3, 1));
        assertEquals("bad argument",
                assertThrows(IllegalArgumentException.class, () -> FrameHooks.hresultGuard(0, 0)).getMessage());
        assertThrows(OutOfMemoryError.class, () -> FrameHooks.outOfMemory(Integer.MAX_VALUE), "the VM's, pending");
        assertEquals(16, FrameHooks.outOfMemory(16));
    }

    @Test
    void arrayElementsChangedNativelyReachJavaAndNullsHoldNothing() {
        int[] ints = {1, 2, 3};
        FrameHooks.addToInts(ints, 10);
        assertArrayEquals(new int[] {11, 12, 13}, ints);
        byte[] bytes = new byte[5];
        FrameHooks.fillBytes(bytes, (byte) 0x7f);
        assertArrayEquals(new byte[] {0x7f, 0x7f, 0x7f, 0x7f, 0x7f}, bytes);
        char[] chars = "abc\u00e9".toCharArray();
        FrameHooks.upperChars(chars);
        assertArrayEquals("ABC\u00e9".toCharArray(), chars);
        int[] large = new int[1 << 20]; // one the VM is likely to copy rather than pin
        FrameHooks.addToInts(large, -3);
        assertEquals(-3, large[0]);
        assertEquals(-3, large[large.length - 1]);
        assertThrows(NullPointerException.class, () -> FrameHooks.addToInts(null, 1));
        assertEquals(-1, FrameHooks.wideLength(null));
        assertNull(FrameHooks.echo(null));
        assertNull(FrameHooks.echoCharArray(null));
    }

    @Test
    void javaCharsTextIsTerminatedAndSurvivesARoundTrip() {
        assertEquals(0, FrameHooks.wideLength(""));
        assertEquals(5, FrameHooks.wideLength("hello"));
        // A supplementary character is one wide character on Linux, two on Windows; lone surrogates survive.
        String text = "d\u00e9j\u00e0 \u4e2d\u6587 \ud83d\ude00 \ud800 end \udc00";
        assertEquals(text, FrameHooks.echo(text));
        assertEquals("abc", FrameHooks.echoCharArray(new char[] {'a', 'b', 'c', 0, 'x'}));
        assertEquals("abc", FrameHooks.echoCharArray(new char[] {'a', 'b', 'c'}));
    }
}
