package com.quorvane.test;

import static com.quorvane.test.DocumentFixtures.*;
import static org.junit.jupiter.api.Assertions.*;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.nio.file.Files;
import java.nio.file.Path;
import java.text.SimpleDateFormat;
import java.util.*;
import org.apache.poi.hpsf.SummaryInformation;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/** The four compound-document methods on copies of real documents, checked against Apache POI. */
class CompoundDocumentMethodsTest {
    // Representable in code page 1252 as well as UTF-8, whatever the system's ANSI code page is.
    private static final String TEXT = "Müller – Café €5, naïve";
    private static final Map<String, Object> TWO_CUSTOM = Map.of("prop1", "aaa", "prop2", "bbbb");

    @TempDir
    Path temp;

    private static Properties readUser(String path, Properties p) {
        assertEquals(0, Win32Impl.getCompoundDocumentUserProperties(path, p, false));
        return p;
    }

    @ParameterizedTest(name = "{0}")
    @ValueSource(strings = {"Office365BlankSample_v2507.doc", "LibreOfficeBlankSample_v25.8.doc",
        "winUnicodeDictionary.doc", "2custom.doc", "Office365BlankSample_v2507.xls", "LibreOfficeBlankSample_v25.8.xls",
        "LibreOfficeBlankSample_v25.8.ppt"})
    void textWrittenFromJavaReadsBackTheSameHereAndInPoi(String fixture) throws Exception {
        String path = copy(temp, fixture);
        Map<String, Object> expected = poiCustom(path);
        // Only VT_LPSTR and VT_FILETIME reach Java (the Unicode fixture's VT_LPWSTR values do not).
        Properties seen = new Properties();
        Win32Impl.getCompoundDocumentUserProperties(path, seen, false);
        assertEquals(0, Win32Impl.setCompoundDocumentUserProperties(path, props("Client", TEXT, "Empty", "")));
        expected.putAll(Map.of("Client", TEXT, "Empty", ""));
        seen.putAll(Map.of("Client", TEXT, "Empty", ""));
        assertEquals(seen, readUser(path, new Properties()));
        assertEquals(expected, poiCustom(path));
        // A Unicode set (winUnicodeDictionary.doc) is now ANSI, with all its properties.
        assertFalse(TestHooks.userSetIsUnicode(path), "not code page 1200");
        assertEquals(0, Win32Impl.setCompoundDocumentUserProperties(path, props("Client", "Ærø")));
        expected.put("Client", "Ærø");
        assertEquals(expected, poiCustom(path), "a second write replaces the value; the others stay");
    }

    @Test
    void deletionMarkerDeletesInTheDocumentAndRemovesTheKey() throws Exception {
        String path = copy(temp, "2custom.doc");
        Properties p = props("prop1", "##DEL##", "absent", "##DEL##", "prop3", "new", "prop2", "##DEL## not quite");
        assertEquals(0, Win32Impl.setCompoundDocumentUserProperties(path, p));
        Map<String, String> left = Map.of("prop3", "new", "prop2", "##DEL## not quite");
        assertEquals(List.of(left, left), List.of(p, poiCustom(path)));
    }

    @Test
    void entriesReadAtOnceOrOneByOneAreWrittenWholeWithDefaultsAndAForeignKeyWritesNothing() throws Exception {
        // A key or value the joined read cannot carry sends it back to the entry-by-entry read; so do defaults.
        Properties thousands = new Properties(props("FromDefaults", "d"));
        Map<String, Object> written = new HashMap<>(Map.of("FromDefaults", "d", "More", "text"));
        for (int i = 0; i < 5000; i++) {
            thousands.setProperty("Field" + i, "value " + i);
            written.put("Field" + i, "value " + i);
        }
        Object[][] rows = { // the properties, an entry put in them, what the document gains (or the exception)
            {props("Client", "x"), "Plain", "text", Map.of("Client", "x", "Plain", "text")},
            {props("Client", "x"), "Nul", "a\u0000b", Map.of("Client", "x", "Nul", "a")},
            {props("Client", "x"), "NotText", 42, Map.of("Client", "x")},
            {thousands, "More", "text", written},
            {props("Client", "x"), 7, "seven", ClassCastException.class},
            {thousands, 7, "seven", ClassCastException.class},
        };
        for (Object[] row : rows) {
            String path = copy(temp, "2custom.doc");
            Properties p = (Properties) row[0];
            p.put(row[1], row[2]);
            if (row[3] instanceof Class<?>) {
                byte[] before = Files.readAllBytes(Path.of(path));
                assertThrows(ClassCastException.class, () -> Win32Impl.setCompoundDocumentUserProperties(path, p));
                assertArrayEquals(before, Files.readAllBytes(Path.of(path)), row[1] + " writes nothing");
                continue;
            }
            assertEquals(0, Win32Impl.setCompoundDocumentUserProperties(path, p), row[1].toString());
            Map<Object, Object> expected = new HashMap<>(TWO_CUSTOM);
            expected.putAll((Map<?, ?>) row[3]);
            assertEquals(List.of(expected, expected), List.of(readUser(path, new Properties()), poiCustom(path)),
                    row[1].toString());
        }
    }

    @Test
    void readsGiveTextAndTimesOnlyAndAMissingSetIsOne() throws Exception {
        String path = copy(temp, "Office365BlankSample_v2507.doc");
        Properties p = props("kept", "yes");
        // No user-defined set.
        assertEquals(List.of(1, 1, Map.of("kept", "yes")), List.of(Win32Impl.getCompoundDocumentUserProperties(path,
                p, false), Win32Impl.getCompoundDocumentUserProperties(path, p, true), p));

        TestHooks.docfile(path, true, TestHooks.DOC_SET_DATE, "When", "127229440897500000");
        TestHooks.docfile(path, true, TestHooks.DOC_SET, "Text", "t");
        assertEquals(Map.of("kept", "yes", "When", "2004-03-05T07:08:09", "Text", "t"), readUser(path, p));
        SummaryInformation poi = poiSummary(path);
        Properties summary = new Properties();
        assertEquals(0, Win32Impl.getCompoundDocumentSummaryProperties(path, summary));
        SimpleDateFormat iso = new SimpleDateFormat("yyyy-MM-dd'T'HH:mm:ss");
        iso.setTimeZone(TimeZone.getTimeZone("UTC"));
        // Page, word and character counts are integers: skipped; the edit time is a duration.
        assertEquals(Arrays.asList(poi.getAuthor(), poi.getLastAuthor(), iso.format(poi.getLastSaveDateTime()), false,
                true), Arrays.asList(summary.getProperty("PIDSI_AUTHOR"), summary.getProperty("PIDSI_LASTAUTHOR"),
                summary.getProperty("PIDSI_LASTSAVE_DTM"), summary.containsKey("(Unknown)"),
                summary.getProperty("PIDSI_EDITTIME").startsWith("1601-01-01T")));
    }

    @Test
    void summaryPropertiesAreCopiedWithTheirTypesAndAnEmptyNameCopiesNothing() throws Exception {
        String path = copy(temp, "report.xls");
        SummaryInformation poi = poiSummary(path);
        assertEquals(0x80030057, Win32Impl.copySummaryPropertiesToUserProperties(path,
                props("PIDSI_AUTHOR", "Writer", "PIDSI_TITLE", "")), "STG_E_INVALIDPARAMETER");
        assertEquals(Map.of(), poiCustom(path));
        Properties mapping = props("PIDSI_AUTHOR", "Writer", "PIDSI_CREATE_DTM", "Made", "PIDSI_TITLE", "Heading");
        assertEquals(0, Win32Impl.copySummaryPropertiesToUserProperties(path, mapping));
        Map<String, Object> custom = poiCustom(path);
        assertInstanceOf(Date.class, custom.get("Made"), "a FILETIME stays a FILETIME");
        assertEquals(Arrays.asList(poi.getAuthor(), poi.getCreateDateTime(), poi.getTitle()),
                Arrays.asList(custom.get("Writer"), custom.get("Made"), custom.get("Heading")));
        assertEquals(1, Win32Impl.copySummaryPropertiesToUserProperties(copy(temp, "MultipleStorage.cfs"), mapping),
                "no summary set");
    }

    @Test
    void failedWritesLeaveTheDocumentAloneAndNullArgumentsAndUnopenableFilesAreReported() throws Exception {
        String path = copy(temp, "2custom.doc");
        // Without a last-save time, laying the save marks would stamp one into the summary set.
        String unstamped = copy(temp, "2custom.doc", "unstamped.doc");
        TestHooks.docfile(unstamped, true, 4, "12", null);
        // Without a user-defined set, the write would create one.
        String noUserSet = copy(temp, "no_codepage.doc");
        // A Unicode set is rewritten as ANSI before the write.
        String unicode = copy(temp, "winUnicodeDictionary.doc");
        // Refused whole: a deletion in the same call is not made, nor its key removed, nor are the save
        // marks laid for a write that would make the document tracked, nor a missing set created.
        Properties tracking = props("Quorvane ExtendedVersionId", "Xx+/abcdefghijklmnopqQ", "prop2", "##DEL##",
                "Big", "x".repeat(1 << 20));
        tracking.putAll(trackingRecord("Xx+/abcdefghijklmnopqQ", "MetadataVersion", "1.2", "DocumentId", "d"));
        Object[][] rows = {{path, props("Big", "x".repeat(1 << 20))},
            {path, props("prop1", "##DEL##", "Big", "x".repeat(1 << 20))}, {path, tracking},
            {noUserSet, tracking}, {noUserSet, props("Big", "x".repeat(1 << 20))}, {unstamped, tracking},
            {unicode, props("Big", "x".repeat(1 << 20))}};
        for (Object[] row : rows) {
            String document = (String) row[0];
            Properties refused = (Properties) ((Properties) row[1]).clone();
            byte[] before = Files.readAllBytes(Path.of(document));
            assertEquals(0x80030070, Win32Impl.setCompoundDocumentUserProperties(document, refused),
                    "STG_E_MEDIUMFULL, through JNI: " + document);
            assertEquals(row[1], refused);
            assertArrayEquals(before, Files.readAllBytes(Path.of(document)), document);
        }
        // 200 KB as UTF-16, 300 KB as UTF-8: the Unicode set takes it, its rewrite as ANSI does not.
        Path ideograms = temp.resolve("ideograms.properties");
        Files.writeString(ideograms, "Ideograms=" + "\\u6F22".repeat(100_000) + "\n");
        byte[] unicodeBefore = Files.readAllBytes(Path.of(unicode));
        assertEquals(1, ChildJvm.run(ChildJvm.locale("C.UTF-8"), StragglerCheckTest.Child.class, "write", unicode,
                ideograms.toString()).exit());
        assertArrayEquals(unicodeBefore, Files.readAllBytes(Path.of(unicode)), "the Unicode set, as it was");
        // Accepted, the same write stamps the last-save time it marks.
        tracking.remove("Big");
        assertEquals(0, Win32Impl.setCompoundDocumentUserProperties(unstamped, tracking));
        assertNotNull(TestHooks.docfile(unstamped, false, TestHooks.DOC_GET_DATE, "12", null), "stamped");
        byte[] before = Files.readAllBytes(Path.of(path));
        // A document opened for reading refuses every write, to either set.
        String[][] writes = {{"1", "prop1", "x"}, {"3", "when", "127229440897500000"}, {"4", "prop1", null},
            {"1", "1", "a title"}};
        for (String[] w : writes) {
            RuntimeException e = assertThrows(RuntimeException.class,
                    () -> TestHooks.docfile(path, false, Integer.parseInt(w[0]), w[1], w[2]));
            assertTrue(e.getMessage().contains("Couldn't open property set "), e.getMessage());
        }
        assertArrayEquals(before, Files.readAllBytes(Path.of(path)));
        // Null arguments and unopenable files are reported.
        assertEquals("'fileName' can't be null", assertThrows(IllegalArgumentException.class,
                () -> Win32Impl.getCompoundDocumentUserProperties(null, new Properties(), true)).getMessage());
        assertEquals("'properties' can't be null", assertThrows(IllegalArgumentException.class,
                () -> Win32Impl.setCompoundDocumentUserProperties(path, null)).getMessage());
        assertThrows(IllegalArgumentException.class, () -> Win32Impl.setCompoundDocumentUserProperties(null, null));
        assertThrows(IllegalArgumentException.class,
                () -> Win32Impl.copySummaryPropertiesToUserProperties(null, new Properties()));
        assertThrows(IllegalArgumentException.class, () -> Win32Impl.getCompoundDocumentSummaryProperties(path, null));
        assertThrows(IllegalArgumentException.class,
                () -> Win32Impl.getCompoundDocumentUserProperties(path, null, true));
        String missing = temp.resolve("missing.doc").toString();
        Path text = Files.writeString(temp.resolve("text.doc"), "not a compound file");
        for (String bad : new String[] {missing, text.toString()}) {
            assertTrue(Win32Impl.getCompoundDocumentUserProperties(bad, new Properties(), true) < 0, bad);
            assertTrue(Win32Impl.getCompoundDocumentSummaryProperties(bad, null) < 0, "the open fails first");
            assertTrue(Win32Impl.setCompoundDocumentUserProperties(bad, props("a", "b")) < 0, bad);
            assertTrue(Win32Impl.copySummaryPropertiesToUserProperties(bad, new Properties()) < 0, bad);
        }
        assertFalse(Files.exists(Path.of(missing)), "nothing is created");
        assertNotEquals(0, Win32Impl.getCompoundDocumentSummaryProperties(copy(temp, "FatChainLoop_v3.cfs"),
                new Properties()), "a FAT chain that loops");
        // A Java exception inside the call ends it with E_FAIL and reaches the caller.
        assertThrows(IllegalStateException.class, () -> Win32Impl.setCompoundDocumentUserProperties(path,
                new Properties() {
                    private static final long serialVersionUID = 1L;

                    @Override
                    public synchronized int size() {
                        throw new IllegalStateException("size refused");
                    }
                }));
        assertEquals(TWO_CUSTOM, poiCustom(path));
    }

    @Test
    void aWriterWaitsFiveSecondsForAnotherWriterThenFailsWhileReadersGoOn() throws Exception {
        String path = copy(temp, "2custom.doc");
        TestHooks.whileHeld(path, TestHooks.WRITE_MODE, () -> {
            long start = System.nanoTime();
            int hr = Win32Impl.setCompoundDocumentUserProperties(path, props("prop1", "changed"));
            long waited = (System.nanoTime() - start) / 1_000_000;
            assertTrue(hr < 0, Integer.toHexString(hr));
            assertTrue(waited >= 4500 && waited < 8000, "waited " + waited + " ms");
            assertEquals(TWO_CUSTOM, readUser(path, new Properties()));
            return null;
        });
        assertEquals(0, Win32Impl.setCompoundDocumentUserProperties(path, props("prop1", "changed")));
        assertEquals("changed", poiCustom(path).get("prop1"));
    }
}
