package com.quorvane.test;

import static com.quorvane.test.PropertiesHooks.GET;
import static com.quorvane.test.PropertiesHooks.HAS;
import static com.quorvane.test.PropertiesHooks.REMOVE;
import static com.quorvane.test.PropertiesHooks.SET;
import static com.quorvane.test.PropertiesHooks.wrapperOp;
import static org.junit.jupiter.api.Assertions.*;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.Collections;
import java.util.Enumeration;
import java.util.Map;
import java.util.Properties;
import java.util.Vector;
import org.junit.jupiter.api.Test;

/** java.util.Properties seen natively as a property set of text values. */
class PropertiesBridgeTest {
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
        for (int op : new int[] {PropertiesHooks.GET_DATE, PropertiesHooks.SET_DATE}) {
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
                assertThrows(IllegalArgumentException.class, () -> PropertiesHooks.propertyNames(h)).getMessage());
    }

    @Test
    void namesComeInTheEnumerationOrderAndManyDoNotExhaustLocalReferences() {
        Properties p = new Properties();
        assertArrayEquals(new String[0], PropertiesHooks.propertyNames(p));
        for (int i = 0; i < 5000; i++) {
            p.setProperty("name" + i, "v");
        }
        assertArrayEquals(Collections.list(p.propertyNames()).toArray(), PropertiesHooks.propertyNames(p));
    }

    @Test
    void snapshotCopiesTextAndTheWrapperSkipsDateTimes() {
        Properties source = new Properties();
        source.setProperty("a", "1");
        source.setProperty("b", "2");
        Properties target = new Properties();
        target.setProperty("snapshot date", "removed before the copy is tried");
        target.setProperty("z", "untouched");
        PropertiesHooks.copyThroughSnapshot(source, target);
        assertEquals(Map.of("a", "1", "b", "2", "z", "untouched"), target);
    }

    @Test
    void ansiTextIsConvertedWithTheSystemCodePage() {
        int codePage = PropertiesHooks.ansiCodePage();
        String name = Map.of(65001, "UTF-8", 20127, "US-ASCII", 28591, "ISO-8859-1").getOrDefault(codePage,
                "windows-" + codePage);
        assumeTrue(Charset.isSupported(name), "no Java charset for code page " + codePage);
        String text = "Caf\u00e9 \u20ac 10";
        assumeTrue(Charset.forName(name).newEncoder().canEncode(text), "code page " + codePage + " lacks the sample");
        Properties p = new Properties();
        PropertiesHooks.setText(p, "Title", text.getBytes(Charset.forName(name)));
        PropertiesHooks.setText(p, "empty", new byte[0]);
        assertEquals(Map.of("Title", text, "empty", ""), p, "exactly the converted characters, no terminator");
    }

    @Test
    void unconvertedBytesNeverReachTheVmAsMalformedUtf8() {
        // Valid modified UTF-8 is taken as such (the encoded NUL included) ...
        assertEquals("\u00e9\u20ac", PropertiesHooks.unconvertedBytes(new byte[] {(byte) 0xC3, (byte) 0xA9,
            (byte) 0xE2, (byte) 0x82, (byte) 0xAC}));
        assertEquals("a\0b", PropertiesHooks.unconvertedBytes(new byte[] {'a', (byte) 0xC0, (byte) 0x80, 'b'}));
        // ... anything else arrives one character per byte: Latin-1, a four-byte form, overlong, cut short, stray.
        byte[][] malformed = {{(byte) 0xE9, 'x'}, {(byte) 0xF0, (byte) 0x9F, (byte) 0x98, (byte) 0x80},
            {(byte) 0xC1, (byte) 0x81}, {'a', (byte) 0xE2, (byte) 0x82}, {(byte) 0x80}};
        for (byte[] bytes : malformed) {
            assertEquals(new String(bytes, StandardCharsets.ISO_8859_1), PropertiesHooks.unconvertedBytes(bytes),
                    Arrays.toString(bytes));
        }
    }
}
