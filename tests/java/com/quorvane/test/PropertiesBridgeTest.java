package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.nio.charset.Charset;
import java.util.Arrays;
import java.util.Enumeration;
import java.util.Map;
import java.util.Properties;
import org.junit.jupiter.api.Test;

/** java.util.Properties seen natively as a property set of text values. */
class PropertiesBridgeTest {

    @Test
    void textOperationsGoStraightToTheJavaObject() {
        Properties p = new Properties();
        assertNull(PropertiesHooks.wrapperOp(p, PropertiesHooks.GET, "missing", null));
        assertEquals("false", PropertiesHooks.wrapperOp(p, PropertiesHooks.HAS, "missing", null));

        PropertiesHooks.wrapperOp(p, PropertiesHooks.SET, "Key", "first");
        PropertiesHooks.wrapperOp(p, PropertiesHooks.SET, "Key", "second \u00e9\u20ac\ud83d\ude00");
        assertEquals("second \u00e9\u20ac\ud83d\ude00", p.getProperty("Key"));
        assertEquals("second \u00e9\u20ac\ud83d\ude00", PropertiesHooks.wrapperOp(p, PropertiesHooks.GET, "Key", null));
        assertEquals("true", PropertiesHooks.wrapperOp(p, PropertiesHooks.HAS, "Key", null));
        assertEquals("false", PropertiesHooks.wrapperOp(p, PropertiesHooks.HAS, "key", null));

        // Name and value stop at their first NUL when set.
        PropertiesHooks.wrapperOp(p, PropertiesHooks.SET, "cut\0off", "v\0w");
        assertEquals("v", p.getProperty("cut"));

        PropertiesHooks.wrapperOp(p, PropertiesHooks.REMOVE, "absent", null);
        PropertiesHooks.wrapperOp(p, PropertiesHooks.REMOVE, "Key", null);
        assertNull(p.getProperty("Key"));
        assertEquals(1, p.size());
    }

    @Test
    void dateTimesAreNotSupportedEvenForAbsentNames() {
        Properties p = new Properties();
        for (int op : new int[] {PropertiesHooks.GET_DATE, PropertiesHooks.SET_DATE}) {
            RuntimeException e = assertThrows(RuntimeException.class,
                    () -> PropertiesHooks.wrapperOp(p, op, "absent", null));
            assertTrue(e.getMessage().matches("exception at PropertiesWrapper\\.cpp, line \\d+ - Not supported"),
                    e.getMessage());
        }
        assertTrue(p.isEmpty());
    }

    @Test
    void unsuitableObjectsAreRefusedWithJavaExceptions() {
        IllegalArgumentException nullObject = assertThrows(IllegalArgumentException.class,
                () -> PropertiesHooks.wrapperOp(null, PropertiesHooks.GET, "k", null));
        assertEquals("'properties' can't be null", nullObject.getMessage());
        IllegalArgumentException wrongType = assertThrows(IllegalArgumentException.class,
                () -> PropertiesHooks.wrapperOp("a string", PropertiesHooks.GET, "k", null));
        assertEquals("'properties' doesn't seem to be the right type", wrongType.getMessage());
        // propertyNames is there, getProperty is not: the VM's own error stays pending.
        assertThrows(NoSuchMethodError.class,
                () -> PropertiesHooks.wrapperOp(new OnlyNames(), PropertiesHooks.GET, "k", null));
    }

    /** Has propertyNames and nothing else a properties object needs. */
    static final class OnlyNames {
        public Enumeration<?> propertyNames() {
            return new java.util.Vector<String>().elements();
        }
    }

    /** A properties class whose methods misbehave. */
    static final class Hostile extends Properties {
        private static final long serialVersionUID = 1L;

        boolean throwOnGet;

        @Override
        public String getProperty(String key) {
            if (throwOnGet) {
                throw new IllegalStateException("no reading today");
            }
            return super.getProperty(key);
        }

        @Override
        public Enumeration<?> propertyNames() {
            java.util.Vector<Object> names = new java.util.Vector<>(keySet());
            names.add(Integer.valueOf(7));
            return names.elements();
        }
    }

    @Test
    void javaFailuresAndForeignNamesEndTheCallCleanly() {
        Hostile h = new Hostile();
        h.setProperty("a", "1");
        h.throwOnGet = true;
        IllegalStateException e = assertThrows(IllegalStateException.class,
                () -> PropertiesHooks.wrapperOp(h, PropertiesHooks.GET, "a", null));
        assertEquals("no reading today", e.getMessage());
        IllegalArgumentException names = assertThrows(IllegalArgumentException.class,
                () -> PropertiesHooks.propertyNames(h));
        assertEquals("'properties' has a name that is not a String", names.getMessage());
    }

    @Test
    void namesComeInTheEnumerationOrderAndManyDoNotExhaustLocalReferences() {
        Properties p = new Properties();
        assertArrayEquals(new String[0], PropertiesHooks.propertyNames(p));
        for (int i = 0; i < 5000; i++) {
            p.setProperty("name" + i, "v");
        }
        String[] names = PropertiesHooks.propertyNames(p);
        String[] expected = new String[p.size()];
        Enumeration<?> e = p.propertyNames();
        for (int i = 0; e.hasMoreElements(); i++) {
            expected[i] = (String) e.nextElement();
        }
        assertArrayEquals(expected, names);
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

    private static Charset javaCharsetOf(int codePage) {
        switch (codePage) {
            case 65001: return Charset.forName("UTF-8");
            case 20127: return Charset.forName("US-ASCII");
            case 28591: return Charset.forName("ISO-8859-1");
            default:
                return Charset.isSupported("windows-" + codePage) ? Charset.forName("windows-" + codePage) : null;
        }
    }

    @Test
    void ansiTextIsConvertedWithTheSystemCodePage() {
        int codePage = PropertiesHooks.ansiCodePage();
        Charset charset = javaCharsetOf(codePage);
        assumeTrue(charset != null, "no Java charset for code page " + codePage);
        String text = "Caf\u00e9 \u20ac 10";
        assumeTrue(charset.newEncoder().canEncode(text), "code page " + codePage + " lacks the sample");
        byte[] ansi = text.getBytes(charset);
        Properties p = new Properties();
        PropertiesHooks.setText(p, "Title", ansi);
        // Exactly the converted characters: no terminator, no stray bytes.
        assertEquals(text, p.getProperty("Title"));
        PropertiesHooks.setText(p, "empty", new byte[0]);
        assertEquals("", p.getProperty("empty"));
    }

    @Test
    void unconvertedBytesNeverReachTheVmAsMalformedUtf8() {
        // Valid modified UTF-8 is taken as such (the encoded NUL included) ...
        assertEquals("\u00e9\u20ac", PropertiesHooks.unconvertedBytes(new byte[] {(byte) 0xC3, (byte) 0xA9,
            (byte) 0xE2, (byte) 0x82, (byte) 0xAC}));
        assertEquals("a\0b", PropertiesHooks.unconvertedBytes(new byte[] {'a', (byte) 0xC0, (byte) 0x80, 'b'}));
        // ... anything else arrives one character per byte.
        byte[][] malformed = {
            {(byte) 0xE9, 'x'},                                         // Latin-1 byte, not UTF-8
            {(byte) 0xF0, (byte) 0x9F, (byte) 0x98, (byte) 0x80},       // four-byte form
            {(byte) 0xC1, (byte) 0x81},                                 // overlong
            {'a', (byte) 0xE2, (byte) 0x82},                            // cut short
            {(byte) 0x80},                                              // stray continuation
        };
        for (byte[] bytes : malformed) {
            assertEquals(new String(bytes, Charset.forName("ISO-8859-1")), PropertiesHooks.unconvertedBytes(bytes),
                    Arrays.toString(bytes));
        }
    }
}
