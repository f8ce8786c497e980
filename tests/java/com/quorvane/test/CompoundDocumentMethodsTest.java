package com.quorvane.test;

import static com.quorvane.test.DocumentFixtures.copy;
import static com.quorvane.test.DocumentFixtures.poiCustom;
import static com.quorvane.test.DocumentFixtures.poiSummary;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.nio.file.Files;
import java.nio.file.Path;
import java.text.SimpleDateFormat;
import java.util.Date;
import java.util.Map;
import java.util.Properties;
import java.util.TimeZone;
import java.util.TreeMap;
import org.apache.poi.hpsf.SummaryInformation;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/** The four compound-document methods on copies of real documents, checked against Apache POI. */
class CompoundDocumentMethodsTest {
    // Representable in code page 1252 as well as UTF-8, whatever the system's ANSI code page is.
    private static final String TEXT = "Müller – Café €5, naïve";

    @TempDir
    Path temp;

    private static Properties props(String... pairs) {
        Properties p = new Properties();
        for (int i = 0; i < pairs.length; i += 2) {
            p.setProperty(pairs[i], pairs[i + 1]);
        }
        return p;
    }

    private static Map<String, Object> asMap(Properties p) {
        Map<String, Object> m = new TreeMap<>();
        p.stringPropertyNames().forEach(k -> m.put(k, p.getProperty(k)));
        return m;
    }

    private static Properties readUser(String path) {
        Properties p = new Properties();
        assertEquals(0, Win32Impl.getCompoundDocumentUserProperties(path, p, false));
        return p;
    }

    @ParameterizedTest(name = "{0}")
    @ValueSource(strings = {"Office365BlankSample_v2507.doc", "LibreOfficeBlankSample_v25.8.doc",
        "winUnicodeDictionary.doc", "2custom.doc", "Office365BlankSample_v2507.xls"})
    void textWrittenFromJavaReadsBackTheSameHereAndInPoi(String fixture) throws Exception {
        String path = copy(temp, fixture);
        Map<String, Object> expected = poiCustom(path);
        // Only VT_LPSTR and VT_FILETIME reach Java (the Unicode fixture's VT_LPWSTR values do not).
        Properties seenBefore = new Properties();
        Win32Impl.getCompoundDocumentUserProperties(path, seenBefore, false);
        assertEquals(0, Win32Impl.setCompoundDocumentUserProperties(path, props("Client", TEXT, "Empty", "")));
        expected.put("Client", TEXT);
        expected.put("Empty", "");
        Map<String, Object> seen = asMap(seenBefore);
        seen.put("Client", TEXT);
        seen.put("Empty", "");
        assertEquals(seen, asMap(readUser(path)));
        assertEquals(expected, poiCustom(path));
        // A Unicode set (winUnicodeDictionary.doc) is now ANSI, with all its properties.
        assertEquals(0, DocumentHooks.inspectSet(path, DocumentHooks.READ_MODE, true, false)[1], "not code page 1200");
        // A second write replaces the value; the other properties stay.
        assertEquals(0, Win32Impl.setCompoundDocumentUserProperties(path, props("Client", "Ærø")));
        expected.put("Client", "Ærø");
        assertEquals(expected, poiCustom(path));
    }

    @Test
    void deletionMarkerDeletesInTheDocumentAndRemovesTheKey() throws Exception {
        String path = copy(temp, "2custom.doc");
        Properties p = props("prop1", "##DEL##", "absent", "##DEL##", "prop3", "new", "prop2", "##DEL## not quite");
        assertEquals(0, Win32Impl.setCompoundDocumentUserProperties(path, p));
        assertEquals(Map.of("prop3", "new", "prop2", "##DEL## not quite"), asMap(p));
        assertEquals(Map.of("prop2", "##DEL## not quite", "prop3", "new"), poiCustom(path));
    }

    @Test
    void readsGiveTextAndTimesOnlyAndAMissingSetIsOne() throws Exception {
        String path = copy(temp, "Office365BlankSample_v2507.doc");
        Properties p = props("kept", "yes");
        assertEquals(1, Win32Impl.getCompoundDocumentUserProperties(path, p, false), "no user-defined set");
        assertEquals(1, Win32Impl.getCompoundDocumentUserProperties(path, p, true));
        assertEquals(Map.of("kept", "yes"), asMap(p));

        DocumentHooks.docfile(path, true, DocumentHooks.SET_DATE, "When", "127229440897500000");
        DocumentHooks.docfile(path, true, DocumentHooks.SET, "Text", "t");
        assertEquals(Map.of("kept", "yes", "When", "2004-03-05T07:08:09", "Text", "t"), asMap(readUserInto(path, p)));

        SummaryInformation poi = poiSummary(path);
        Properties summary = new Properties();
        assertEquals(0, Win32Impl.getCompoundDocumentSummaryProperties(path, summary));
        SimpleDateFormat iso = new SimpleDateFormat("yyyy-MM-dd'T'HH:mm:ss");
        iso.setTimeZone(TimeZone.getTimeZone("UTC"));
        assertEquals(poi.getAuthor(), summary.getProperty("PIDSI_AUTHOR"));
        assertEquals(poi.getLastAuthor(), summary.getProperty("PIDSI_LASTAUTHOR"));
        assertEquals(iso.format(poi.getLastSaveDateTime()), summary.getProperty("PIDSI_LASTSAVE_DTM"));
        assertFalse(summary.containsKey("(Unknown)"), "page, word and character counts are integers: skipped");
        assertTrue(summary.getProperty("PIDSI_EDITTIME").startsWith("1601-01-01T"), "a duration");
    }

    private static Properties readUserInto(String path, Properties p) {
        assertEquals(0, Win32Impl.getCompoundDocumentUserProperties(path, p, false));
        return p;
    }

    @Test
    void summaryPropertiesAreCopiedWithTheirTypes() throws Exception {
        String path = copy(temp, "report.xls");
        SummaryInformation poi = poiSummary(path);
        Properties mapping = props("PIDSI_AUTHOR", "Writer", "PIDSI_CREATE_DTM", "Made", "PIDSI_TITLE", "Heading");
        assertEquals(0, Win32Impl.copySummaryPropertiesToUserProperties(path, mapping));
        Map<String, Object> custom = poiCustom(path);
        assertEquals(poi.getAuthor(), custom.get("Writer"));
        assertInstanceOf(Date.class, custom.get("Made"), "a FILETIME stays a FILETIME");
        assertEquals(poi.getCreateDateTime(), custom.get("Made"));
        assertEquals(poi.getTitle(), custom.get("Heading"));
        assertEquals(1, Win32Impl.copySummaryPropertiesToUserProperties(copy(temp, "MultipleStorage.cfs"), mapping),
                "no summary set");
    }

    @Test
    void aSummaryCopyToAnEmptyUserNameIsRefusedAndCopiesNothing() throws Exception {
        String path = copy(temp, "report.xls");
        Properties mapping = props("PIDSI_AUTHOR", "Writer", "PIDSI_TITLE", "");
        assertEquals(0x80030057, Win32Impl.copySummaryPropertiesToUserProperties(path, mapping),
                "STG_E_INVALIDPARAMETER");
        assertEquals(Map.of(), poiCustom(path));
    }

    @Test
    void aWriteThatWouldGrowTheSetPastTheStreamLimitFailsAndLeavesTheDocumentAlone() throws Exception {
        String path = copy(temp, "2custom.doc");
        byte[] before = Files.readAllBytes(Path.of(path));
        Properties p = props("prop1", "changed", "Big", "x".repeat(1 << 20));
        assertEquals(0x80030070, Win32Impl.setCompoundDocumentUserProperties(path, p), "STG_E_MEDIUMFULL");
        assertArrayEquals(before, Files.readAllBytes(Path.of(path)));
    }

    @Test
    void nullArgumentsAndUnopenableFilesAreReported() throws Exception {
        String path = copy(temp, "2custom.doc");
        IllegalArgumentException e = assertThrows(IllegalArgumentException.class,
                () -> Win32Impl.getCompoundDocumentUserProperties(null, new Properties(), true));
        assertEquals("'fileName' can't be null", e.getMessage());
        assertThrows(IllegalArgumentException.class, () -> Win32Impl.setCompoundDocumentUserProperties(null, null));
        assertThrows(IllegalArgumentException.class,
                () -> Win32Impl.copySummaryPropertiesToUserProperties(null, new Properties()));
        e = assertThrows(IllegalArgumentException.class, () -> Win32Impl.setCompoundDocumentUserProperties(path, null));
        assertEquals("'properties' can't be null", e.getMessage());
        assertThrows(IllegalArgumentException.class, () -> Win32Impl.getCompoundDocumentSummaryProperties(path, null));
        assertThrows(IllegalArgumentException.class, () -> Win32Impl.getCompoundDocumentUserProperties(path, null, true));

        String missing = temp.resolve("missing.doc").toString();
        Path text = Files.writeString(temp.resolve("text.doc"), "not a compound file");
        for (String bad : new String[] {missing, text.toString()}) {
            assertTrue(Win32Impl.getCompoundDocumentUserProperties(bad, new Properties(), true) < 0, bad);
            assertTrue(Win32Impl.getCompoundDocumentSummaryProperties(bad, null) < 0, "the open fails first");
            assertTrue(Win32Impl.setCompoundDocumentUserProperties(bad, props("a", "b")) < 0, bad);
            assertTrue(Win32Impl.copySummaryPropertiesToUserProperties(bad, new Properties()) < 0, bad);
        }
        assertFalse(Files.exists(Path.of(missing)), "nothing is created");
        // A Java exception inside the call ends it with E_FAIL and reaches the caller.
        assertThrows(IllegalStateException.class, () -> Win32Impl.setCompoundDocumentUserProperties(path,
                new Properties() {
                    private static final long serialVersionUID = 1L;

                    @Override
                    public synchronized int size() {
                        throw new IllegalStateException("size refused");
                    }
                }));
        assertEquals(Map.of("prop1", "aaa", "prop2", "bbbb"), poiCustom(path));
    }

    @Test
    void aWriterWaitsFiveSecondsForAnotherWriterThenFailsWhileReadersGoOn() throws Exception {
        String path = copy(temp, "2custom.doc");
        long held = StragglerHooks.hold(path, StragglerHooks.WRITE_MODE);
        assertTrue(held > 0, "holder: " + Long.toHexString(held));
        try {
            long start = System.nanoTime();
            int hr = Win32Impl.setCompoundDocumentUserProperties(path, props("prop1", "changed"));
            long waited = (System.nanoTime() - start) / 1_000_000;
            assertTrue(hr < 0, Integer.toHexString(hr));
            assertTrue(waited >= 4500 && waited < 8000, "waited " + waited + " ms");
            assertEquals(Map.of("prop1", "aaa", "prop2", "bbbb"), asMap(readUser(path)));
        } finally {
            StragglerHooks.release(held);
        }
        assertEquals(0, Win32Impl.setCompoundDocumentUserProperties(path, props("prop1", "changed")));
        assertEquals("changed", poiCustom(path).get("prop1"));
    }
}
