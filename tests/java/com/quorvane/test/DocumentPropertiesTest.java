package com.quorvane.test;

import static com.quorvane.test.DocumentFixtures.poiCustom;
import static com.quorvane.test.DocumentFixtures.poiSummary;
import static com.quorvane.test.DocumentFixtures.trackingRecord;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Date;
import java.util.Map;
import java.util.TreeMap;
import org.apache.poi.hpsf.SummaryInformation;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/** Document property layers over copies of real documents, checked with Apache POI. */
class DocumentPropertiesTest {
    private static final long EPOCH_DIFF_MS = 11644473600000L;
    private static final int S_FALSE = 1;

    @TempDir
    Path temp;

    private String copy(String fixture) throws IOException {
        return DocumentFixtures.copy(temp, fixture);
    }

    private static Date fromFileTime(String ticks) {
        return ticks == null ? null : new Date(Long.parseLong(ticks) / 10000 - EPOCH_DIFF_MS);
    }

    @ParameterizedTest
    @ValueSource(strings = {"Office365BlankSample_v2507.doc", "Office365BlankSample_v2507.xls",
        "LibreOfficeBlankSample_v25.8.doc", "LibreOfficeBlankSample_v25.8.xls", "LibreOfficeBlankSample_v25.8.ppt"})
    void numericNamesGiveWhatPoiReportsAndATitleWrittenAsOneReachesIt(String fixture) throws Exception {
        String path = copy(fixture);
        SummaryInformation before = poiSummary(path);
        assertEquals(before.getTitle(), DocumentHooks.docfile(path, false, DocumentHooks.GET, "1", null));
        assertEquals(before.getLastAuthor(), DocumentHooks.docfile(path, false, DocumentHooks.GET, "7", null));
        assertEquals(before.getLastSaveDateTime(),
                fromFileTime(DocumentHooks.docfile(path, false, DocumentHooks.GET_DATE, "12", null)));

        DocumentHooks.docfile(path, true, DocumentHooks.SET, "1", "Quarterly report");
        DocumentHooks.docfile(path, true, DocumentHooks.SET_DATE, "12", "127229440897500000");
        SummaryInformation after = poiSummary(path);
        assertEquals("Quarterly report", after.getTitle());
        assertEquals(new Date(127229440897500000L / 10000 - EPOCH_DIFF_MS), after.getLastSaveDateTime());
        assertEquals(before.getLastAuthor(), after.getLastAuthor());
    }

    @ParameterizedTest(name = "through an in-memory snapshot: {0}")
    @ValueSource(booleans = {false, true})
    void recordXBecomesYAndPoiSeesY(boolean inMemory) throws Exception {
        String path = copy("2custom.doc");
        String x = "Xx+/abcdefghijklmnopqQ";
        Map<String, String> record = trackingRecord(x, "MetadataVersion", "1.2", "DocumentId", "doc-17",
                "VersionId", "v-4", "SequenceNumber", "4", "AuthorId", "alice", "MasterDocumentId", "master-3",
                "UrVersionIdsSize", "2", "UrVersionId1", "u-1", "UrVersionId2", "u-2");
        record.put("Quorvane ExtendedVersionId", x);
        record.forEach((name, value) -> DocumentHooks.docfile(path, true, DocumentHooks.SET, name, value));
        DocumentHooks.createNewVersion(path, "V", "A", new String[] {"c1", "c2"}, inMemory);

        Map<String, Object> seen = poiCustom(path);
        String y = (String) seen.get("Quorvane ExtendedVersionId");
        assertEquals(22, y.length());
        assertNotEquals(x, y);
        Map<String, Object> expected = new TreeMap<>(trackingRecord(y, "MetadataVersion", "1.2", "DocumentId", "doc-17",
                "VersionId", "V", "SequenceNumber", "5", "AuthorId", "A", "MasterDocumentId", "master-3",
                "UrVersionIdsSize", "3", "UrVersionId1", "u-1", "UrVersionId2", "u-2", "UrVersionId3", "V",
                "ContributorsSize", "2", "Contributor1", "c1", "Contributor2", "c2"));
        expected.putAll(Map.of("prop1", "aaa", "prop2", "bbbb", "Quorvane ExtendedVersionId", y));
        assertEquals(expected, seen);
    }

    @Test
    void aMissingUserSetIsAbsentForReadersAndCreatedAnsiByWriters() throws Exception {
        String path = copy("Office365BlankSample_v2507.xls");
        assertEquals(S_FALSE, DocumentHooks.inspectSet(path, DocumentHooks.READ_MODE, true, false)[0]);
        assertNull(DocumentHooks.docfile(path, false, DocumentHooks.GET, "Client", null));
        DocumentHooks.docfile(path, true, DocumentHooks.SET, "Client", "Acme");
        assertArrayEquals(new int[] {0, 0, 1}, DocumentHooks.inspectSet(path, DocumentHooks.READ_MODE, true, false));
        assertEquals(Map.of("Client", "Acme"), poiCustom(path));

        String other = copy("Office365BlankSample_v2507.doc");
        assertArrayEquals(new int[] {0, 0, 0}, DocumentHooks.inspectSet(other, DocumentHooks.WRITE_MODE, true, true));
        assertEquals(Map.of(), poiCustom(other));
    }

    @Test
    void unicodeSetIsRewrittenAsAnsiWithTheSameProperties() throws Exception {
        String path = copy("winUnicodeDictionary.doc");
        Map<String, Object> before = poiCustom(path);
        assertEquals(5, before.size());
        assertArrayEquals(new int[] {0, 1, 5}, DocumentHooks.inspectSet(path, DocumentHooks.READ_MODE, true, false));
        assertEquals(0, DocumentHooks.convertToAnsi(path));
        assertArrayEquals(new int[] {0, 0, 5}, DocumentHooks.inspectSet(path, DocumentHooks.READ_MODE, true, false));
        assertEquals(before, poiCustom(path));
    }

    @Test
    void openFailuresCarryThePlatformCode() throws Exception {
        assertTrue(DocumentHooks.inspectSet(temp.resolve("missing.doc").toString(), DocumentHooks.READ_MODE,
                true, false)[0] < 0);
        Path text = temp.resolve("plain.doc");
        Files.write(text, "not a compound file".getBytes("US-ASCII"));
        assertTrue(DocumentHooks.inspectSet(text.toString(), DocumentHooks.READ_MODE, true, false)[0] < 0);
        assertTrue(DocumentHooks.inspectSet(copy("FatChainLoop_v3.cfs"), DocumentHooks.READ_MODE, false, false)[0] != 0);
    }

    @Test
    void readOnlyDocumentsRefuseEveryWrite() throws Exception {
        String path = copy("2custom.doc");
        String[][] writes = {{"1", "prop1", "x"}, {"3", "when", "127229440897500000"}, {"4", "prop1", null},
            {"1", "1", "a title"}};
        for (String[] write : writes) {
            RuntimeException e = assertThrows(RuntimeException.class,
                    () -> DocumentHooks.docfile(path, false, Integer.parseInt(write[0]), write[1], write[2]));
            assertTrue(e.getMessage().contains("Couldn't open property set "), e.getMessage());
        }
        assertEquals(Map.of("prop1", "aaa", "prop2", "bbbb"), poiCustom(path));
    }

    @Test
    void fileTimesAreFormattedWithoutMillisecondsOrAsEmptyText() {
        assertEquals("2004-03-05T07:08:09", DocumentHooks.formatFileTime(127229440897500000L, 25));
        assertEquals("1601-01-01T00:00:00", DocumentHooks.formatFileTime(0L, 25));
        assertEquals("", DocumentHooks.formatFileTime(0x8000000000000000L, 25));
        assertEquals("2004", DocumentHooks.formatFileTime(127229440897500000L, 5));
    }
}
