package com.quorvane.test;

import static com.quorvane.test.DocumentFixtures.*;
import static java.nio.charset.StandardCharsets.UTF_16LE;
import static org.junit.jupiter.api.Assertions.*;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.io.ByteArrayOutputStream;
import java.nio.charset.*;
import java.nio.file.*;
import java.security.MessageDigest;
import java.time.*;
import java.util.*;
import java.util.Date;
import java.util.regex.Pattern;
import org.apache.poi.hpsf.*;
import org.apache.poi.hpsf.wellknown.PropertyIDMap;
import org.apache.poi.util.CodePageUtil;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.*;

// A save by another program (POI, or the engine's summary write) makes the next checked read record a new version.
class StragglerCheckTest {
    private static final String DOC = "Office365BlankSample_v2507.doc";
    private static final String X = "Xx+/abcdefghijklmnopqQ";
    private static final String EVID = "Quorvane ExtendedVersionId";

    @TempDir
    Path temp;

    /** Writes record X (sequence number 4, one unratified id) from Java, as the client does. */
    private static void track(String path) {
        Properties p = props(EVID, X, "Client", "Acme");
        p.putAll(trackingRecord(X, "MetadataVersion", "1.2", "DocumentId", "doc-17", "MasterDocumentId",
                "master-3", "VersionId", "v-4", "SequenceNumber", "4", "AuthorId", "alice", "UrVersionIdsSize", "1",
                "UrVersionId1", "u-1"));
        assertEquals(0, Win32Impl.setCompoundDocumentUserProperties(path, p));
    }

    private static Properties checkedRead(String path) {
        Properties p = new Properties();
        assertEquals(0, Win32Impl.getCompoundDocumentUserProperties(path, p, true));
        return p;
    }

    /** The tripwire computed here from what POI reads: MD5 over UTF-16LE text and a SYSTEMTIME, unpadded Base64. */
    static String expectedTripwire(String path, String extendedVersionId) throws Exception {
        Section s = poiSummary(path).getFirstSection();
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        Object author = s.getProperty(PropertyIDMap.PID_LASTAUTHOR);
        if (author != null) {
            // Windows takes each stored byte of the narrow text as one character.
            int codepage = s.getCodepage() & 0xFFFF;
            Charset stored = Charset.forName(CodePageUtil.codepageToEncoding(codepage == 1200 ? 1252 : codepage));
            bytes.write(new String(author.toString().getBytes(stored), StandardCharsets.ISO_8859_1).getBytes(UTF_16LE));
        }
        Object saved = s.getProperty(PropertyIDMap.PID_LASTSAVE_DTM);
        if (saved != null) { // a SYSTEMTIME: year, month, day of week (0 here), day, h, min, s, ms
            ZonedDateTime t = ((Date) saved).toInstant().atZone(ZoneOffset.UTC);
            for (int f : new int[] {t.getYear(), t.getMonthValue(), 0, t.getDayOfMonth(), t.getHour(), t.getMinute(),
                t.getSecond(), t.getNano() / 1_000_000}) {
                bytes.write(new byte[] {(byte) f, (byte) (f >> 8)});
            }
        }
        for (long id : new long[] {PropertyIDMap.PID_PAGECOUNT, PropertyIDMap.PID_WORDCOUNT,
            PropertyIDMap.PID_CHARCOUNT}) {
            bytes.write(String.valueOf(Objects.requireNonNullElse(s.getProperty(id), "")).getBytes(UTF_16LE));
        }
        bytes.write(extendedVersionId.getBytes(UTF_16LE));
        return Base64.getEncoder().withoutPadding().encodeToString(MessageDigest.getInstance("MD5").digest(
                bytes.toByteArray()));
    }

    private static void assertMarksMatchSummary(String path) throws Exception {
        SummaryInformation si = poiSummary(path);
        Map<String, Object> custom = poiCustom(path);
        assertEquals(Arrays.asList(si.getLastSaveDateTime(), si.getLastAuthor()),
                Arrays.asList(custom.get("sorrel_save"), custom.get("Quorvane LastSavedBy")));
    }

    /** Checks the record that the check made from X; answers its id. */
    private static String assertNewVersion(Map<?, ?> record, String tripwire) {
        String y = (String) record.get(EVID);
        assertTrue(y.length() == 22 && !y.equals(X), y);
        Map<String, String> expected = trackingRecord(y, "VersionId", tripwire, "SequenceNumber", "5", "AuthorId", "",
                "MetadataVersion", "1.2", "DocumentId", "doc-17", "MasterDocumentId", "master-3", "UrVersionIdsSize",
                "2", "UrVersionId1", "u-1", "UrVersionId2", tripwire);
        Map<Object, Object> seen = new TreeMap<>();
        expected.keySet().forEach(k -> seen.put(k, record.get(k)));
        assertEquals(expected, seen);
        assertFalse(record.keySet().stream().anyMatch(k -> k.toString().endsWith("." + X)), "nothing of X remains");
        return y;
    }

    @ParameterizedTest(name = "outside save by {0}")
    @ValueSource(strings = {"poi", "engine"})
    void anOutsideSaveIsRecordedAsANewVersionOnceAndTheMarksAreRenewed(String by) throws Exception {
        String path = copy(temp, DOC);
        track(path);
        assertMarksMatchSummary(path);
        assertEquals(X, checkedRead(path).getProperty(EVID), "marks match: not a straggler");
        if (by.equals("poi")) {
            poiSave(path, (si, dsi) -> si.setLastSaveDateTime(
                    new Date(si.getLastSaveDateTime().getTime() + 3_600_123)));
        } else {
            TestHooks.docfile(path, true, TestHooks.DOC_SET, "7", "Somebody Else"); // the last author
        }
        String tripwire = expectedTripwire(path, X);
        Properties seen = checkedRead(path);
        String y = assertNewVersion(seen, tripwire);
        assertEquals("Acme", seen.getProperty("Client"));
        assertEquals(seen.getProperty("Quorvane VersionId." + y), poiCustom(path).get("Quorvane VersionId." + y));
        assertNewVersion(poiCustom(path), tripwire);
        assertMarksMatchSummary(path);
        Map<String, Object> after = poiCustom(path);
        assertEquals(y, checkedRead(path).getProperty(EVID), "found once");
        assertEquals(after, poiCustom(path));
    }

    @Test
    void otherDocumentsThanDocXlsAndPptAndSaveTicksBelowAMillisecondAreLeftAlone() throws Exception {
        String upper = copy(temp, DOC, "TRACKED.DOC");
        for (String path : List.of(upper, copy(temp, DOC, "tracked.docx"), copy(temp, DOC, "tracked.rtf"))) {
            track(path);
            TestHooks.docfile(path, true, TestHooks.DOC_SET, "7", "Somebody Else"); // the last author
            Map<String, Object> before = poiCustom(path);
            Properties seen = checkedRead(path);
            if (path != upper) {
                assertEquals(before.size(), seen.size(), path);
                assertEquals(before, poiCustom(path), path + " is unchanged");
            }
        }
        assertNotEquals(X, poiCustom(upper).get(EVID), "upper-case .DOC is checked");
        // Save ticks below a millisecond, as LibreOffice writes them (2024-05-06 07:08:09.1234567 UTC): no straggler.
        String path = copy(temp, DOC);
        assertEquals(null, TestHooks.docfile(path, true, TestHooks.DOC_SAVE_TICKS, "", "133594852891234567"));
        assertEquals(1_234_567 / 10_000 * 10_000 + 133594852890000000L, Long.parseLong(TestHooks.docfile(path,
                false, TestHooks.DOC_GET_DATE, "12", null)), "the save time was written");
        track(path);
        assertEquals(X, checkedRead(path).getProperty(EVID));
        assertEquals(X, checkedRead(path).getProperty(EVID), "nor after its own check");
    }

    // "read PATH OUT" stores a checked read and one whose check cannot open the document; "write PATH IN" writes back.
    static final class Child {
        // Nothing of the test class itself: POI is not on the child's class path.
        public static void main(String[] args) throws Exception {
            Properties p = new Properties();
            if (args[0].equals("write")) {
                p = load(Path.of(args[2]));
                p.keySet().removeIf(k -> k.toString().startsWith("result"));
                System.exit(Win32Impl.setCompoundDocumentUserProperties(args[1], p) == 0 ? 0 : 1);
            }
            p.setProperty("result", Integer.toString(Win32Impl.getCompoundDocumentUserProperties(args[1], p, true)));
            Properties standIn = new Properties();
            p.setProperty("resultStandIn", Integer.toString(TestHooks.readWithUnopenableCheck(args[1], standIn)));
            p.setProperty("resultStandInClient", String.valueOf(standIn.getProperty("Client")));
            p.store(Files.newOutputStream(Path.of(args[2])), null);
        }

        static Properties load(Path file) throws Exception {
            Properties p = new Properties();
            p.load(new java.io.StringReader(Files.readString(file, StandardCharsets.ISO_8859_1)));
            return p;
        }
    }

    @ParameterizedTest(name = "code page {0} under {1}")
    @CsvSource({"1252, de_DE.ISO-8859-1, Büro-€, Zoë Dupré", "1252, de_DE.UTF-8, Büro-€, Zoë Dupré",
        "65001, de_DE.UTF-8, Büro-Ω, Zoë Ω", "65001, C.UTF-8, Büro-Ω, Zoë Ω"})
    void whileAnotherProgramHoldsItTheStragglerIsFoundReadOnlyAndItsTextSurvivesTheWriteBack(int codepage,
            String locale, String documentId, String author) throws Exception {
        String path = copy(temp, DOC);
        poiSave(path, (si, dsi) -> { // record X with non-ASCII values, and the last author, in the code page
            si.getFirstSection().setCodepage(codepage);
            si.setLastAuthor(author);
            CustomProperties custom = new CustomProperties();
            custom.setCodepage(codepage);
            custom.put(EVID, X);
            custom.put("Client", "Acme");
            trackingRecord(X, "MetadataVersion", "1.2", "DocumentId", documentId, "MasterDocumentId", "master-3",
                    "VersionId", "v-4", "SequenceNumber", "4", "AuthorId", "José", "ContributorsSize", "1",
                    "Contributor1", "José").forEach(custom::put);
            custom.put("sorrel_save", si.getLastSaveDateTime());
            custom.put("Quorvane LastSavedBy", "Somebody Else");
            dsi.setCustomProperties(custom);
        });
        String tripwire = expectedTripwire(path, X);
        Path stored = temp.resolve("seen.properties");
        Map<String, Object> before = poiCustom(path);
        Path data = Files.createDirectories(temp.resolve("home/Quorvane/data"));
        Files.writeString(data.resolve("ai.config"), "logger.file = native.log\nlogger.level = ERROR\n");
        Map<String, String> env = new HashMap<>(ChildJvm.locale(locale));
        env.put("XDG_DATA_HOME", temp.resolve("home").toString());
        // Held open for writing here, as another program would.
        TestHooks.whileHeld(path, TestHooks.WRITE_MODE, () -> ChildJvm.ok(env, Child.class, "read", path,
                stored.toString()));
        assertEquals(before, poiCustom(path), "the held document keeps its record and marks");
        Properties seen = Child.load(stored);
        assertEquals(List.of("0", "0", "Acme"), List.of(seen.remove("result"), seen.remove("resultStandIn"),
                seen.remove("resultStandInClient")), "a failed check still reads");
        assertFalse(seen.keySet().stream().anyMatch(k -> k.toString().endsWith("." + X)), "nothing of X remains");
        // The straggler's read-only pass answers 1, which is not logged; the stand-in's unopenable check is.
        String log = Files.readString(data.resolve("native.log"), StandardCharsets.UTF_8).strip(); // one line
        assertTrue(log.matches(".* ERROR +\\[\\d+:\\d+\\] \\S*java - " + Pattern.quote(
                "Couldn't check the straggler tripwire on '" + path + "' : 0x80030020")), log);
        // The read-only pass found the straggler; its id is the tripwire Windows computes.
        String y = seen.getProperty(EVID);
        assertEquals(List.of(true, tripwire, documentId, "José"), List.of(!X.equals(y), seen.getProperty(
                "Quorvane VersionId." + y), seen.getProperty("Quorvane DocumentId." + y), seen.getProperty(
                "Quorvane Contributor1." + y)));
        ChildJvm.ok(ChildJvm.locale(locale), Child.class, "write", path, stored.toString());
        // Numbers too: a comma-decimal locale changes none of them.
        Map<String, String> expected = trackingRecord(y, "MetadataVersion", "1.2", "DocumentId", documentId,
                "MasterDocumentId", "master-3", "VersionId", tripwire, "SequenceNumber", "5", "AuthorId", "",
                "ContributorsSize", "1", "Contributor1", "José", "UrVersionIdsSize", "1", "UrVersionId1", tripwire);
        Map<String, Object> custom = poiCustom(path);
        custom.keySet().retainAll(expected.keySet());
        assertEquals(expected, custom);
    }
}
