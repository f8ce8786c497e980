package com.quorvane.test;

import static com.quorvane.test.DocumentFixtures.props;
import static com.quorvane.test.TestHooks.*;
import static org.junit.jupiter.api.Assertions.*;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.io.IOException;
import java.nio.charset.*;
import java.util.*;
import java.util.stream.IntStream;
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
        assertEquals(expected, assertThrows(PlainException.class,
                () -> throwWin32("com/quorvane/test/JniBoundaryTest$PlainException", message, code)).getMessage());
        assertThrows(NoClassDefFoundError.class,
                () -> throwWin32("com/quorvane/test/NoSuchException", "x", 1), "the VM's, pending");
    }

    @Test
    void theGuardsLeaveTheNamedExceptionPendingOrAnswerAnHresultAndNothingElseCrossesIntoTheVm() throws Exception {
        Object[][] rows = { // kind, the exception pending, its message (null: not checked)
            {0, IllegalArgumentException.class, "bad value"}, {1, RuntimeException.class, "bad value"},
            {2, ClassNotFoundException.class, "bad value"}, {3, IOException.class, "bad value"},
            {5, OutOfMemoryError.class, null}, {6, RuntimeException.class, "unknown exception"}};
        for (Object[] row : rows) {
            Throwable t = assertThrows(Throwable.class, () -> javaGuard((int) row[0], "bad value"));
            assertEquals(Arrays.asList(row[1], row[2]), Arrays.asList(t.getClass(), row[2] == null ? null
                    : t.getMessage()), "kind " + row[0]);
        }
        String check = assertThrows(RuntimeException.class, () -> javaGuard(4, "not empty")).getMessage();
        assertTrue(check.matches("exception at BoundaryHooks\\.cpp, line \\d+ - runtime_error : narrow\\.empty\\(\\)"),
                check);
        assertEquals(9, javaGuard(9, "no throw"));
        // The carried HRESULT; a standard exception becomes E_FAIL; success answers its own.
        assertEquals(List.of(0x80030020, 0x80004005, 1), List.of(hresultGuard(1, 0x80030020), hresultGuard(2, 1),
                hresultGuard(3, 1)));
        assertEquals("bad argument",
                assertThrows(IllegalArgumentException.class, () -> hresultGuard(0, 0)).getMessage());
        assertThrows(OutOfMemoryError.class, () -> outOfMemory(Integer.MAX_VALUE), "the VM's, pending");
        assertEquals(16, outOfMemory(16));
        // A file method whose text the VM refuses answers its neutral result, the VM's error pending.
        Win32Impl.GetDriveType("/");
        String[][] neutral = {{"CreateFile", "0"}, {"SetFileAttributes", "0"}, {"GetDriveType", "0"},
            {"StgIsStorageFile", "0"}, {"QueryDosDevice", "null"}};
        for (String[] row : neutral) {
            assertEquals(row[1] + " OutOfMemoryError", refusedText(row[0]), row[0]);
        }
        // An array only read goes back with JNI_ABORT (2): a copy must not undo another thread's change made
        // meanwhile. Encryption writes zeros over the caller's copy of the secret on purpose (0).
        byte[] blob = Win32Impl.encryptUserWin32(new byte[] {1, 2});
        String[] methods = {"RegSetValueEx", "decryptUserWin32", "echoCharArray", "encryptUserWin32"};
        assertEquals("RegSetValueEx 2, decryptUserWin32 2, echoCharArray 2, encryptUserWin32 0", Arrays.stream(methods)
                .map(m -> m + " " + releaseModes(m, m.startsWith("de") ? blob : new byte[] {1, 2}, new char[] {'a'}))
                .collect(java.util.stream.Collectors.joining(", ")));
    }

    @Test
    void holdersCarryArrayChangesBackAndTextBothWaysAndNullsHoldNothing() {
        int[] ints = {1, 2, 3};
        int[] large = new int[1 << 20]; // one the VM is likely to copy rather than pin
        byte[] bytes = new byte[5];
        char[] chars = "abc\u00e9".toCharArray();
        changeArrays(ints, 10, bytes, chars);
        changeArrays(large, -3, new byte[0], new char[0]);
        assertEquals("[11, 12, 13] -3 -3 [10, 10, 10, 10, 10] ABC\u00e9", Arrays.toString(ints) + " " + large[0]
                + " " + large[large.length - 1] + " " + Arrays.toString(bytes) + " " + new String(chars));
        assertThrows(NullPointerException.class, () -> changeArrays(null, 1, bytes, chars));
        assertEquals(Arrays.asList(-1, null, null), Arrays.asList(wideLength(null), echo(null), echoCharArray(null)));
        // A supplementary character is one wide character on Linux, two on Windows; lone surrogates survive.
        String text = "d\u00e9j\u00e0 \u4e2d\u6587 \ud83d\ude00 \ud800 end \udc00";
        assertEquals(List.of(0, 5, text, "abc", "abc"), List.of(wideLength(""), wideLength("hello"), echo(text),
                echoCharArray(new char[] {'a', 'b', 'c', 0, 'x'}), echoCharArray(new char[] {'a', 'b', 'c'})));
    }

    // ---- java.util.Properties seen natively as a property set of text values ----

    @Test
    void textOperationsGoStraightToTheJavaObjectAndDateTimesAreNotSupportedNorCopiedFromASnapshot() {
        Properties p = new Properties();
        assertEquals(Arrays.asList(null, "false"), Arrays.asList(wrapperOp(p, GET, "missing", null),
                wrapperOp(p, HAS, "missing", null)));
        String text = "second \u00e9\u20ac\ud83d\ude00";
        wrapperOp(p, SET, "Key", "first");
        wrapperOp(p, SET, "Key", text);
        assertEquals(List.of(text, text, "true", "false"), List.of(p.getProperty("Key"), wrapperOp(p, GET, "Key", null),
                wrapperOp(p, HAS, "Key", null), wrapperOp(p, HAS, "key", null)));
        wrapperOp(p, SET, "cut\0off", "v\0w");
        assertEquals("v", p.getProperty("cut"), "name and value stop at their first NUL");
        wrapperOp(p, REMOVE, "absent", null);
        wrapperOp(p, REMOVE, "Key", null);
        for (int op : new int[] {GET_DATE, SET_DATE}) { // even for absent names
            String message = assertThrows(RuntimeException.class, () -> wrapperOp(p, op, "absent", null)).getMessage();
            assertTrue(message.matches("exception at PropertiesWrapper\\.cpp, line \\d+ - Not supported"), message);
        }
        assertEquals(Map.of("cut", "v"), p);
        // A snapshot copies text; the date-time it holds is skipped on the way back.
        Properties target = props("snapshot date", "removed before the copy is tried", "z", "untouched");
        copyThroughSnapshot(props("a", "1", "b", "2"), target);
        assertEquals(Map.of("a", "1", "b", "2", "z", "untouched"), target);
    }

    /** Has propertyNames and nothing else a properties object needs. */
    static final class OnlyNames {
        public Enumeration<?> propertyNames() {
            return Collections.emptyEnumeration();
        }
    }

    @Test
    void unsuitableObjectsEndTheCallWithAJavaExceptionAndManyNamesComeInOrder() {
        assertEquals("'properties' can't be null",
                assertThrows(IllegalArgumentException.class, () -> wrapperOp(null, GET, "k", null)).getMessage());
        assertEquals("'properties' doesn't seem to be the right type",
                assertThrows(IllegalArgumentException.class, () -> wrapperOp("a string", GET, "k", null)).getMessage());
        // propertyNames is there, getProperty is not: the VM's own error stays pending.
        assertThrows(NoSuchMethodError.class, () -> wrapperOp(new OnlyNames(), GET, "k", null));
        // Its getProperty throws, and a name of its is not a String.
        Properties h = new HostileInputSweepTest.HostileProperties();
        assertThrows(HostileInputSweepTest.HostileCall.class, () -> wrapperOp(h, GET, "a", null));
        assertEquals("'properties' has a name that is not a String",
                assertThrows(IllegalArgumentException.class, () -> propertyNames(h)).getMessage());
        // Names come in the enumeration order; many do not exhaust local references.
        Properties p = new Properties();
        assertArrayEquals(new String[0], propertyNames(p));
        IntStream.range(0, 5000).forEach(i -> p.setProperty("name" + i, "v"));
        assertArrayEquals(Collections.list(p.propertyNames()).toArray(), propertyNames(p));
    }

    @Test
    void ansiTextFollowsTheSystemCodePageAndUnconvertedBytesNeverReachTheVmAsMalformedUtf8() {
        // Valid modified UTF-8 is taken as such (the encoded NUL included) ...
        assertEquals("\u00e9\u20ac", unconvertedBytes(new byte[] {(byte) 0xC3, (byte) 0xA9,
            (byte) 0xE2, (byte) 0x82, (byte) 0xAC}));
        assertEquals("a\0b", unconvertedBytes(new byte[] {'a', (byte) 0xC0, (byte) 0x80, 'b'}));
        // ... anything else arrives one character per byte: Latin-1, a four-byte form, overlong, cut short, stray.
        byte[][] malformed = {{(byte) 0xE9, 'x'}, {(byte) 0xF0, (byte) 0x9F, (byte) 0x98, (byte) 0x80},
            {(byte) 0xC1, (byte) 0x81}, {'a', (byte) 0xE2, (byte) 0x82}, {(byte) 0x80}};
        for (byte[] bytes : malformed) {
            assertEquals(new String(bytes, StandardCharsets.ISO_8859_1), unconvertedBytes(bytes),
                    Arrays.toString(bytes));
        }
        // ANSI text is converted with the system code page, where Java has it (last: it may end the test).
        int codePage = ansiCodePage();
        String name = Map.of(65001, "UTF-8", 20127, "US-ASCII", 28591, "ISO-8859-1").getOrDefault(codePage,
                "windows-" + codePage);
        assumeTrue(Charset.isSupported(name), "no Java charset for code page " + codePage);
        String text = "Caf\u00e9 \u20ac 10";
        assumeTrue(Charset.forName(name).newEncoder().canEncode(text), "code page " + codePage + " lacks the sample");
        Properties p = new Properties();
        setText(p, "Title", text.getBytes(Charset.forName(name)));
        setText(p, "empty", new byte[0]);
        assertEquals(Map.of("Title", text, "empty", ""), p, "exactly the converted characters, no terminator");
    }
}
