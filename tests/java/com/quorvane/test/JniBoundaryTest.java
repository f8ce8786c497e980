package com.quorvane.test;

import static com.quorvane.test.BoundaryHooks.GET;
import static com.quorvane.test.BoundaryHooks.HAS;
import static com.quorvane.test.BoundaryHooks.REMOVE;
import static com.quorvane.test.BoundaryHooks.SET;
import static com.quorvane.test.BoundaryHooks.wrapperOp;
import static org.junit.jupiter.api.Assertions.*;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.IOException;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.Collections;
import java.util.Enumeration;
import java.util.Map;
import java.util.Properties;
import java.util.Vector;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** The boundary's exception family, guards, holders of arrays and text, and its view of java.util.Properties. */
class JniBoundaryTest {
    /** An exception class without the (String, int) constructor. */
    public static class PlainException extends Exception {
        private static final long serialVersionUID = 1L;

        public PlainException(String message) {
            super(message);
        }
    }

    // Win32Exception's own (String, int) form is ProtectionMethodsTest's, through decryptUserWin32.
    @ParameterizedTest
    @CsvSource({"Error encrypting data, 5, 'Error encrypting data: 0x5'", "msg, 0, 'msg: 0x0'",
        "msg, -1, 'msg: 0xFFFFFFFF'", "'', 3054, ': 0xBEE'"})
    void win32FormWithoutThatConstructorAppendsTheCodeInHex(String message, int code, String expected) {
        PlainException e = assertThrows(PlainException.class,
                () -> BoundaryHooks.throwWin32("com/quorvane/test/JniBoundaryTest$PlainException", message, code));
        assertEquals(expected, e.getMessage());
        assertThrows(NoClassDefFoundError.class,
                () -> BoundaryHooks.throwWin32("com/quorvane/test/NoSuchException", "x", 1), "the VM's, pending");
    }

    @Test
    void theJavaGuardLeavesTheNamedExceptionPendingAndNothingElseCrossesIntoTheVm() {
        Object[][] rows = { // kind, the exception pending, its message (null: not checked)
            {0, IllegalArgumentException.class, "bad value"}, {1, RuntimeException.class, "bad value"},
            {2, ClassNotFoundException.class, "bad value"}, {3, IOException.class, "bad value"},
            {5, OutOfMemoryError.class, null}, {6, RuntimeException.class, "unknown exception"}};
        for (Object[] row : rows) {
            Throwable t = assertThrows(Throwable.class, () -> BoundaryHooks.javaGuard((int) row[0], "bad value"));
            assertEquals(row[1], t.getClass(), "kind " + row[0]);
            if (row[2] != null) {
                assertEquals(row[2], t.getMessage(), "kind " + row[0]);
            }
        }
        String check = assertThrows(RuntimeException.class, () -> BoundaryHooks.javaGuard(4, "not empty")).getMessage();
        assertTrue(check.matches("exception at BoundaryHooks\\.cpp, line \\d+ - runtime_error : narrow\\.empty\\(\\)"),
                check);
        assertEquals(9, BoundaryHooks.javaGuard(9, "no throw"));
    }

    @Test
    void hresultGuardAnswersTheCarriedHresultOrEFailOrLeavesAJavaExceptionPending() {
        assertEquals(0x80030020, BoundaryHooks.hresultGuard(1, 0x80030020));
        assertEquals(0x80004005, BoundaryHooks.hresultGuard(2, 1), "a standard exception becomes E_FAIL");
        assertEquals(1, BoundaryHooks.hresultGuard(3, 1));
        assertEquals("bad argument",
                assertThrows(IllegalArgumentException.class, () -> BoundaryHooks.hresultGuard(0, 0)).getMessage());
        assertThrows(OutOfMemoryError.class, () -> BoundaryHooks.outOfMemory(Integer.MAX_VALUE), "the VM's, pending");
        assertEquals(16, BoundaryHooks.outOfMemory(16));
    }

    @Test
    void arrayElementsChangedNativelyReachJavaAndNullsHoldNothing() {
        int[] ints = {1, 2, 3};
        BoundaryHooks.addToInts(ints, 10);
        assertArrayEquals(new int[] {11, 12, 13}, ints);
        byte[] bytes = new byte[5];
        BoundaryHooks.fillBytes(bytes, (byte) 0x7f);
        assertArrayEquals(new byte[] {0x7f, 0x7f, 0x7f, 0x7f, 0x7f}, bytes);
        char[] chars = "abc\u00e9".toCharArray();
        BoundaryHooks.upperChars(chars);
        assertArrayEquals("ABC\u00e9".toCharArray(), chars);
        int[] large = new int[1 << 20]; // one the VM is likely to copy rather than pin
        BoundaryHooks.addToInts(large, -3);
        assertEquals(-3, large[0]);
        assertEquals(-3, large[large.length - 1]);
        assertThrows(NullPointerException.class, () -> BoundaryHooks.addToInts(null, 1));
        assertEquals(-1, BoundaryHooks.wideLength(null));
        assertNull(BoundaryHooks.echo(null));
        assertNull(BoundaryHooks.echoCharArray(null));
    }

    @Test
    void javaCharsTextIsTerminatedAndSurvivesARoundTrip() {
        assertEquals(0, BoundaryHooks.wideLength(""));
        assertEquals(5, BoundaryHooks.wideLength("hello"));
        // A supplementary character is one wide character on Linux, two on Windows; lone surrogates survive.
        String text = "d\u00e9j\u00e0 \u4e2d\u6587 \ud83d\ude00 \ud800 end \udc00";
        assertEquals(text, BoundaryHooks.echo(text));
        assertEquals("abc", BoundaryHooks.echoCharArray(new char[] {'a', 'b', 'c', 0, 'x'}));
        assertEquals("abc", BoundaryHooks.echoCharArray(new char[] {'a', 'b', 'c'}));
    }

    // ---- java.util.Properties seen natively as a property set of text values ----

    @Test
    void textOperationsGoStraightToTheJavaObject() {
        Properties p = new Properties();
        assertNull(wrapperOp(p, GET, "missing", null));
        assertEquals("false", wrapperOp(p, HAS, "missing", null));
        String text = "second \u00e9\u20ac\ud83d\ude00";
        wrapperOp(p, SET, "Key", "first");
        wrapperOp(p, SET, "Key", text);
        assertEquals(text, p.getProperty("Key"));
        assertEquals(text, wrapperOp(p, GET, "Key", null));
        assertEquals("true", wrapperOp(p, HAS, "Key", null));
        assertEquals("false", wrapperOp(p, HAS, "key", null));
        wrapperOp(p, SET, "cut\0off", "v\0w");
        assertEquals("v", p.getProperty("cut"), "name and value stop at their first NUL");
        wrapperOp(p, REMOVE, "absent", null);
        wrapperOp(p, REMOVE, "Key", null);
        assertEquals(Map.of("cut", "v"), p);
    }

    @Test
    void dateTimesAreNotSupportedEvenForAbsentNames() {
        Properties p = new Properties();
        for (int op : new int[] {BoundaryHooks.GET_DATE, BoundaryHooks.SET_DATE}) {
            String message = assertThrows(RuntimeException.class, () -> wrapperOp(p, op, "absent", null)).getMessage();
            assertTrue(message.matches("exception at PropertiesWrapper\\.cpp, line \\d+ - Not supported"), message);
        }
        assertTrue(p.isEmpty());
    }

    /** Has propertyNames and nothing else a properties object needs. */
    static final class OnlyNames {
        public Enumeration<?> propertyNames() {
            return Collections.emptyEnumeration();
        }
    }

    /** A properties class whose getProperty throws and whose names include a non-String. */
    static final class Hostile extends Properties {
        private static final long serialVersionUID = 1L;

        @Override
        public String getProperty(String key) {
            throw new IllegalStateException("no reading today");
        }

        @Override
        public Enumeration<?> propertyNames() {
            Vector<Object> names = new Vector<>(keySet());
            names.add(7);
            return names.elements();
        }
    }

    @Test
    void unsuitableObjectsAndJavaFailuresEndTheCallWithAJavaException() {
        assertEquals("'properties' can't be null",
                assertThrows(IllegalArgumentException.class, () -> wrapperOp(null, GET, "k", null)).getMessage());
        assertEquals("'properties' doesn't seem to be the right type",
                assertThrows(IllegalArgumentException.class, () -> wrapperOp("a string", GET, "k", null)).getMessage());
        // propertyNames is there, getProperty is not: the VM's own error stays pending.
        assertThrows(NoSuchMethodError.class, () -> wrapperOp(new OnlyNames(), GET, "k", null));
        Hostile h = new Hostile();
        h.setProperty("a", "1");
        assertEquals("no reading today",
                assertThrows(IllegalStateException.class, () -> wrapperOp(h, GET, "a", null)).getMessage());
        assertEquals("'properties' has a name that is not a String",
                assertThrows(IllegalArgumentException.class, () -> BoundaryHooks.propertyNames(h)).getMessage());
    }

    @Test
    void namesComeInTheEnumerationOrderAndManyDoNotExhaustLocalReferences() {
        Properties p = new Properties();
        assertArrayEquals(new String[0], BoundaryHooks.propertyNames(p));
        for (int i = 0; i < 5000; i++) {
            p.setProperty("name" + i, "v");
        }
        assertArrayEquals(Collections.list(p.propertyNames()).toArray(), BoundaryHooks.propertyNames(p));
    }

    @Test
    void snapshotCopiesTextAndTheWrapperSkipsDateTimes() {
        Properties source = new Properties();
        source.setProperty("a", "1");
        source.setProperty("b", "2");
        Properties target = new Properties();
        target.setProperty("snapshot date", "removed before the copy is tried");
        target.setProperty("z", "untouched");
        BoundaryHooks.copyThroughSnapshot(source, target);
        assertEquals(Map.of("a", "1", "b", "2", "z", "untouched"), target);
    }

    @Test
    void ansiTextIsConvertedWithTheSystemCodePage() {
        int codePage = BoundaryHooks.ansiCodePage();
        String name = Map.of(65001, "UTF-8", 20127, "US-ASCII", 28591, "ISO-8859-1").getOrDefault(codePage,
                "windows-" + codePage);
        assumeTrue(Charset.isSupported(name), "no Java charset for code page " + codePage);
        String text = "Caf\u00e9 \u20ac 10";
        assumeTrue(Charset.forName(name).newEncoder().canEncode(text), "code page " + codePage + " lacks the sample");
        Properties p = new Properties();
        BoundaryHooks.setText(p, "Title", text.getBytes(Charset.forName(name)));
        BoundaryHooks.setText(p, "empty", new byte[0]);
        assertEquals(Map.of("Title", text, "empty", ""), p, "exactly the converted characters, no terminator");
    }

    @Test
    void unconvertedBytesNeverReachTheVmAsMalformedUtf8() {
        // Valid modified UTF-8 is taken as such (the encoded NUL included) ...
        assertEquals("\u00e9\u20ac", BoundaryHooks.unconvertedBytes(new byte[] {(byte) 0xC3, (byte) 0xA9,
            (byte) 0xE2, (byte) 0x82, (byte) 0xAC}));
        assertEquals("a\0b", BoundaryHooks.unconvertedBytes(new byte[] {'a', (byte) 0xC0, (byte) 0x80, 'b'}));
        // ... anything else arrives one character per byte: Latin-1, a four-byte form, overlong, cut short, stray.
        byte[][] malformed = {{(byte) 0xE9, 'x'}, {(byte) 0xF0, (byte) 0x9F, (byte) 0x98, (byte) 0x80},
            {(byte) 0xC1, (byte) 0x81}, {'a', (byte) 0xE2, (byte) 0x82}, {(byte) 0x80}};
        for (byte[] bytes : malformed) {
            assertEquals(new String(bytes, StandardCharsets.ISO_8859_1), BoundaryHooks.unconvertedBytes(bytes),
                    Arrays.toString(bytes));
        }
    }
}
