package com.quorvane.test;

import static com.quorvane.test.DocumentFixtures.copy;
import static com.quorvane.test.DocumentFixtures.poiCustom;
import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.*;

import com.google.gson.JsonArray;
import com.google.gson.JsonElement;
import com.google.gson.JsonObject;
import com.google.gson.JsonParser;
import com.quorvane.tools.DocProps;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.stream.Collectors;
import org.apache.poi.hpsf.CustomProperty;
import org.apache.poi.hpsf.Property;
import org.apache.poi.hpsf.Variant;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** docprops over many files and folders: what each file became, the JSON objects, the summary, the exit codes. */
class DocPropsScanTest {
    private static final String DOC = "2custom.doc";

    @TempDir
    Path temp;

    private String out, err;

    private int run(OutputStream o, String... args) {
        ByteArrayOutputStream e = new ByteArrayOutputStream();
        int code = new DocProps(new PrintStream(o, true, UTF_8), new PrintStream(e, true, UTF_8)).run(args);
        out = o.toString();
        err = e.toString(UTF_8);
        return code;
    }

    private int run(String... args) {
        return run(new ByteArrayOutputStream(), args);
    }

    private int runLine(String line) {
        return run(line.replace("{t}", temp.toString()).split(" "));
    }

    /** The objects of JSON Lines output, parsed (Gson lets raw control characters pass; JSON does not). */
    private static List<JsonObject> objects(String jsonLines) {
        return jsonLines.lines().peek(l -> assertTrue(l.chars().allMatch(c -> c >= 0x20), l))
                .map(l -> JsonParser.parseString(l).getAsJsonObject()).collect(Collectors.toList());
    }

    /** What became of each file, by its name: doc, skip (reason) or error code (message), from the JSON objects. */
    private static Map<String, String> fates(String jsonLines) {
        Map<String, String> fates = new TreeMap<>();
        for (JsonObject o : objects(jsonLines)) {
            String name = Path.of(o.get("path").getAsString()).getFileName().toString();
            String fate = o.has("skipped") ? "skip " + o.get("skipped").getAsString()
                    : o.has("error") ? "error " + o.getAsJsonObject("error").get("code") + " "
                            + o.getAsJsonObject("error").get("message").getAsString() : "doc";
            assertNull(fates.put(name, fate), "told twice: " + name);
        }
        return fates;
    }

    private static void assertFates(String expected, Map<String, String> fates) {
        Map<String, String> want = new TreeMap<>();
        for (String entry : expected.split(";")) {
            String[] kv = entry.trim().split("=", 2);
            want.put(kv[0], kv[1]);
        }
        assertEquals(want.keySet(), fates.keySet(), fates.toString());
        want.forEach((name, fate) -> assertTrue(fates.get(name).startsWith(fate), name + ": " + fates.get(name)));
    }

    private static void tracked(String doc) {
        assertEquals(0, new DocProps(new PrintStream(OutputStream.nullOutputStream()),
                new PrintStream(OutputStream.nullOutputStream())).run("track", doc, "--document-id", "d-1"));
    }

    @BeforeEach
    void share() throws Exception {
        Path share = Files.createDirectories(temp.resolve("share/sub/deeper")).getParent().getParent();
        tracked(copy(share, DOC, "a.doc"));
        copy(share, "Office365BlankSample_v2507.xls", "b.xls");
        Files.writeString(share.resolve("notes.txt"), "not a document");
        copy(share.resolve("sub"), DOC, "c.doc");
        copy(share.resolve("sub/deeper"), "LibreOfficeBlankSample_v25.8.ppt", "d.ppt");

        // Files that are no documents, or damaged ones, under documents' names.
        Path odd = Files.createDirectories(temp.resolve("odd"));
        Files.write(odd.resolve("empty.doc"), new byte[0]);
        Files.write(odd.resolve("empty.txt"), new byte[0]);
        Files.writeString(odd.resolve("notes.doc"), "plain text");
        Files.writeString(odd.resolve("rtf.doc"), "{\\rtf1\\ansi saved as .doc}");
        Files.writeString(odd.resolve("page.doc"), "\uFEFF\n  <HTML><body>saved as .doc</body></HTML>");
        Files.writeString(odd.resolve("sheet.xls"), "<?xml version=\"1.0\"?><?mso-application progid=\"Excel.Sheet\"?>"
                + "<Workbook/>");
        try (var zip = new java.util.zip.ZipOutputStream(Files.newOutputStream(odd.resolve("new.doc")))) {
            zip.putNextEntry(new java.util.zip.ZipEntry("[Content_Types].xml"));
            zip.write("<Types/>".getBytes(UTF_8));
        }
        copy(odd, "FatChainLoop_v3.cfs", "chain.doc");
        byte[] whole = Files.readAllBytes(Path.of(copy(odd, "Office365BlankSample_v2507.doc", "cut.doc")));
        Files.write(odd.resolve("cut.doc"), Arrays.copyOf(whole, whole.length / 2));
        damageSummarySet(copy(odd, DOC, "set.doc"));
    }

    /** Points the summary set's section past the end of its stream; the compound file itself stays sound. */
    private static void damageSummarySet(String doc) throws Exception {
        try (var fs = new org.apache.poi.poifs.filesystem.POIFSFileSystem(new java.io.File(doc), false)) {
            String name = org.apache.poi.hpsf.SummaryInformation.DEFAULT_STREAM_NAME;
            byte[] set;
            try (var in = fs.createDocumentInputStream(name)) {
                set = in.readAllBytes();
            }
            java.nio.ByteBuffer.wrap(set).order(java.nio.ByteOrder.LITTLE_ENDIAN).putInt(44, set.length + 64);
            fs.getRoot().createOrUpdateDocument(name, new java.io.ByteArrayInputStream(set));
            fs.writeFilesystem();
        }
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', textBlock = """
        show --json {t}/share/a.doc {t}/share/b.xls  | 0 | a.doc=doc; b.xls=doc                                | 2 documents read: 1 tracked, 0 stragglers, 0 new versions recorded; 0 skipped, 0 failed
        show --json {t}/share                        | 0 | a.doc=doc; b.xls=doc; notes.txt=skip not a compound  | 2 documents read: 1 tracked, 0 stragglers, 0 new versions recorded; 1 skipped, 0 failed
        show --json -r -j 3 {t}/share                | 0 | a.doc=doc; b.xls=doc; notes.txt=skip; c.doc=doc; d.ppt=doc | 4 documents read: 1 tracked, 0 stragglers, 0 new versions recorded; 1 skipped, 0 failed
        history -j1 --json -r {t}/share/sub          | 0 | c.doc=doc; d.ppt=doc                                 | 2 documents read: 0 tracked
        check --json {t}/share/a.doc {t}/share/x.doc | 3 | a.doc=doc; x.doc=error 3 {t}/share/x.doc: no such file | 1 document read: 1 tracked, 0 stragglers, 0 new versions recorded; 0 skipped, 1 failed
        show --json {t}/x.doc {t}/share/notes.txt {t}/share/b.xls | 1 | x.doc=error 3; notes.txt=error 4 {t}/share/notes.txt: not a compound document; b.xls=doc | 0 skipped, 2 failed
        show --json {t}/share/notes.txt              | 4 | notes.txt=error 4                                    |
        show --json {t}/x.doc {t}/y.doc              | 3 | x.doc=error 3; y.doc=error 3                         | 0 documents read
        set --json Client=Acme -- {t}/share/a.doc {t}/share/sub/c.doc | 0 | a.doc=doc; c.doc=doc | 2 documents changed
        delete -r --json prop1 -- {t}/share/sub | 0 | c.doc=doc; d.ppt=doc | 2 documents changed; 0 skipped
        set --json N=1 -- {t}/share | 0 | a.doc=doc; b.xls=doc; notes.txt=skip not named as a document | 1 skipped
        set X=1 -- {t}/share/a.doc {t}/x.doc {t}/share/notes.txt | 1 |   | 1 document changed; 0 skipped, 2 failed
        delete -j 2 X -- {t}/share/sub/c.doc         | 0 |   |
        show --json {t}/odd                          | 1 |   | 1 document read: 0 tracked, 0 stragglers, 0 new versions
        show --json {t}/odd                          | 1 |   | 0 new versions recorded; 5 skipped, 5 failed
        history -r {t}/odd/empty.doc {t}/odd/set.doc | 6 |   | 1 document read: 0 tracked, 0 stragglers, 0 new versions
        history -r {t}/odd/empty.doc {t}/odd/set.doc | 6 |   | 0 new versions recorded; 0 skipped, 2 failed
        """)
    void filesAndFoldersEachToldOnceWithTheSummaryAndExitCode(String args, int exit, String fates, String summary) {
        assertEquals(exit, runLine(args), err);
        if (fates != null) {
            assertFates(fates.replace("{t}", temp.toString()), fates(out));
        }
        if (summary == null) {
            assertEquals("", err, "one file: no summary");
        } else {
            assertTrue(err.startsWith("docprops: ") && err.contains(summary), err);
        }
    }

    /**
     * A file that is no readable document, named and in a folder: what it is,
     * told. A damaged one fails, one of another format is passed over in a
     * folder, and so is one without a document's name.
     */
    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', textBlock = """
        empty.doc | 6 the file is empty                               | error 6 the file is empty
        empty.txt | 6 the file is empty                               | skip an empty file
        notes.doc | 4 not a compound document (.doc, .xls, .ppt      | error 4 not a compound document
        rtf.doc   | 4 an RTF document, not a compound document        | skip an RTF document, not a compound document
        page.doc  | 4 an HTML page, not a compound document           | skip an HTML page
        sheet.xls | 4 an XML document, not a compound document        | skip an XML document
        new.doc   | 4 an Office Open XML document (zip), not a        | skip an Office Open XML document (zip)
        chain.doc | 6 the compound file is damaged                    | error 6 the compound file is damaged
        cut.doc   | 6 the compound file is damaged                    | error 6 the compound file is damaged
        set.doc   | 6 the summary information property set is damaged | error 6 the summary information property set
        """)
    void whatAFileThatIsNoReadableDocumentIs(String file, String named, String inFolder) throws Exception {
        Path alone = Files.createDirectories(temp.resolve("alone"));
        Files.copy(temp.resolve("odd").resolve(file), alone.resolve(file));
        for (String command : new String[] {"show", "history", "check"}) {
            int code = run(command, "--json", alone.resolve(file).toString());
            String fate = fates(out).get(file);
            String told = code + fate.substring("error N".length()).replace(alone.resolve(file) + ": ", "");
            assertTrue(told.startsWith(named), command + ": " + told);
            assertEquals(inFolder.startsWith("skip") ? 0 : code, run(command, "--json", alone.toString()), err);
            assertTrue(fates(out).get(file).replace(alone.resolve(file) + ": ", "").startsWith(inFolder), out);
        }
    }

    /**
     * apply: one JSON line of changes a document, one JSON result a line in
     * the input's order; a bad line gets its error and the run goes on.
     * {a} and {c} stand for two documents; \\n separates lines.
     */
    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', textBlock = """
        {"path":"{a}","set":{"A":"1","B":"x \\"y\\""}}         | 0 | {"schema":3,"path":"{a}","set":["A","B"]}
        {"path":"{a}","set":{"A":"2"},"delete":["prop1","N"]} | 0 | "set":["A"],"deleted":["prop1"],"notFound":["N"]}
        {"path":"{c}","delete":["prop2"]}\\n\\n{"path":"{a}","set":{"C":"3"}} | 0 | []}\\n{"schema":3,"path":"{a}"
        {"path":"{t}/x.doc","set":{"A":"1"}}               | 3 | {"schema":3,"path":"{t}/x.doc","error":{"code":3,
        {"path":"{t}/share/notes.txt","set":{"A":"1"}}     | 4 | "error":{"code":4,"hresult":"0x80030050","message":
        {"path":"{a}","set":{"A":1}}                        | 2 | {"schema":3,"line":1,"error":{"code":2,"hresult":null,
        {"path":"{a}","set":{"A":"1"}}\\n{"path":"{c}","sett":{}} | 2 | "line":2,"error":{"code":2,"hresult":null,
        {"path":"{a}"}                                      | 2 | line 1: nothing to change
        [1]\\n{"path":"{c}","delete":["prop1"]}              | 2 | not a JSON object"}}\\n{"schema":3,"path":"{c}"
        {"path":"{t}/x.doc","set":{"A":"1"}}\\n{"path":"{a} | 1 | "code":3,
        """)
    void applyChangesFromJsonLines(String input, int exit, String expected) throws Exception {
        java.util.function.UnaryOperator<String> fill = t -> t.replace("\\n", "\n").replace("{a}", temp
                + "/share/a.doc").replace("{c}", temp + "/share/sub/c.doc").replace("{t}", temp.toString());
        String lines = fill.apply(input);
        Path batch = Files.writeString(temp.resolve("batch.jsonl"), lines + "\n");
        assertEquals(exit, run("apply", "-j", "3", batch.toString()), out + err);
        assertTrue(out.contains(fill.apply(expected)), out);
        assertEquals(lines.lines().filter(l -> !l.isBlank()).count(), objects(out).size(), out);
        assertTrue(err.matches("docprops: \\d+ documents? changed; \\d+ failed\n"), err);
        if (input.contains("\"B\"")) {
            Map<String, Object> custom = DocumentFixtures.poiCustom(temp + "/share/a.doc");
            assertEquals(List.of("1", "x \"y\"", "aaa"),
                    List.of(custom.get("A"), custom.get("B"), custom.get("prop1")));
        }
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', textBlock = """
        show                | 'show' needs a FILE or FOLDER
        show -j 0 {t}/share | -j needs a number of threads from 1 to 1024, not '0'
        show -jx {t}/share  | not 'x'
        check --all {t}     | unexpected argument '--all'
        set {t}/share A=1   | 'set FILE ...' changes one document; give a folder after '--'
        delete {t}/share A  | 'delete FILE ...' changes one document
        set A=1 --          | 'set' needs a FILE
        delete -r -- {t}    | 'delete' needs at least one NAME
        """)
    void wrongArgumentsExitTwo(String args, String message) {
        assertEquals(2, runLine(args));
        assertTrue(err.contains(message), err);
    }

    @Test
    void jsonObjectsCarryTypedPropertiesTheRecordAndTheVerdict() throws Exception {
        String a = temp.resolve("share/a.doc").toString();
        String odd = "\"q\" Zoë \\ tab\there\nnew line \u0001";  // a quote first, then the rest
        assertEquals(0, run("set", a, "Odd=" + odd, "Back\\slash=x") + run("show", "--json", "--all", a));
        JsonObject o = objects(out).get(0);
        assertEquals(a, o.get("path").getAsString());
        assertEquals(3, o.get("schema").getAsInt());
        JsonObject summary = o.getAsJsonObject("summary");
        assertEquals(typed("text", "pwebster"), summary.get("PIDSI_LASTAUTHOR"));
        assertEquals(typed("date", "2012-02-21T13:48:00Z"), summary.get("PIDSI_LASTSAVE_DTM"));
        assertEquals("duration", summary.getAsJsonObject("PIDSI_EDITTIME").get("type").getAsString());
        JsonObject user = o.getAsJsonObject("user");
        assertEquals(typed("text", odd), user.get("Odd"));
        assertEquals(typed("text", "x"), user.get("Back\\slash"));
        assertEquals(typed("text", "aaa"), user.get("prop1"));
        assertEquals(typed("date", "2012-02-21T13:48:00Z"), user.get("sorrel_save"), "the save mark is a date");
        JsonObject record = o.getAsJsonObject("tracking");
        assertEquals("d-1", record.get("documentId").getAsString());
        assertEquals("0", record.get("sequenceNumber").getAsString());
        assertEquals(JsonParser.parseString("{\"lastSaved\":\"2012-02-21T13:48:00Z\",\"lastSavedBy\":\"pwebster\"}"),
                record.get("saveMarks"));
        assertTrue(o.get("tracked").getAsBoolean());
        assertEquals("matches the last save", o.get("verdict").getAsString());

        TestHooks.docfile(a, true, TestHooks.DOC_SET, "7", "Somebody Else");
        assertEquals(0, run("show", "--json", a));
        o = objects(out).get(0);
        assertFalse(o.getAsJsonObject("user").has("sorrel_save"), "tracking properties only with --all");
        assertTrue(o.get("straggler").getAsBoolean());
        assertEquals("saved outside the client", o.get("verdict").getAsString());

        assertEquals(5, TestHooks.whileHeld(a, 0x10, () -> run("history", "--json", a)));
        JsonObject error = objects(out).get(0).getAsJsonObject("error");
        assertEquals(5, error.get("code").getAsInt());
        assertEquals("0x80030020", error.get("hresult").getAsString());
        assertEquals(a + ": locked by another program; close it and try again", error.get("message").getAsString());
    }

    /**
     * A property's type and value in JSON after a change, beside what ExifTool (-n) and POI read: "set ARGS",
     * "!set ARGS" (refused, exit 1), "delete NAME" (then gone), "poi ID MILLIS", a summary date POI saves, or
     * "poi vector", a vector of one text POI adds (listed in notRead).
     * Dates never set (1601) or out of range are null, of type date, and not shown in text.
     */
    @ParameterizedTest(name = "{0} {1} {2}")
    @CsvSource(delimiter = '|', textBlock = """
        ms  | poi 11 -11644473600000 | PIDSI_LASTPRINTED  | date | null | |
        ms  | poi 12 -11644473600000 | PIDSI_CREATE_DTM   | date | null | |
        ms  | poi 12 884541340800000 | PIDSI_CREATE_DTM   | date | null | |
        ms  | poi 13 1330000000000   | PIDSI_LASTSAVE_DTM | date | '"2012-02-23T12:26:40Z"' | |
        uni |                        | ABCDE              | text | '"XYZ!"' | | XYZ!
        uni |                        | PIDSI_PAGECOUNT    | int32 | 1 | Pages=1 |
        ppt |                        | _PID_GUID          | binary | 78 | | hex
        ppt |                        | PIDSI_THUMBNAIL    | clipboard | 442412 | |
        lo  |                        | NumReal            | double | -2.5 | NumReal=-2.5 | -2.5
        lo  |                        | BoolTrue           | boolean | true | BoolTrue=-1 | true
        lo  |                        | DateLike           | text | '"2004-03-05T07:08:09"' | | 2004-03-05T07:08:09
        lo  | set NumInt=43          | NumInt             | double | 43 | NumInt=43 | 43.0
        lo  | set BoolTrue=no        | BoolTrue           | boolean | false | BoolTrue=0 | false
        lo  | !set NumInt=abc        | NumInt             | double | 42 | NumInt=42 | 42.0
        lo  | set --type text NumInt=x | NumInt           | text | '"x"' | NumInt=x | x
        lo  | set --type int16 S=-32768 | S               | int16 | -32768 | TagS=-32768 | -32768
        lo  | set --type uint16 S=65535 | S               | uint16 | 65535 | TagS=65535 | 65535
        lo  | !set --type uint16 S=65536 | S              | | | |
        lo  | set --type int32 I=-2147483648 | I          | int32 | -2147483648 | TagI=-2147483648 | -2147483648
        lo  | set --type uint32 I=4294967295 | I          | uint32 | 4294967295 | TagI=4294967295 | 4294967295
        lo  | set --type int64 L=-9223372036854775808 | L | int64 | -9223372036854775808 | | -9223372036854775808
        lo  | set --type uint64 L=18446744073709551615 | L | uint64 | 18446744073709551615 | | 18446744073709551615
        lo  | set --type float F=0.5 | F                  | float | 0.5 | TagF=0.5 | 0.5
        lo  | set --type date D=2030-01-02T03:04:05Z | D  | date | '"2030-01-02T03:04:05Z"' | TagD=2030:01:02 03:04:05 |
        lo  | delete BoolFalse       | BoolFalse          | | | |
        lo  | poi vector             | Tags               | vector of text | | Tags=abc |
        """)
    void typedValuesAsExifToolAndPoiReadThem(String fixture, String change, String name, String type, String json,
            String exiftool, String poi) throws Exception {
        String doc = copy(temp, Map.of("lo", "LibreOfficeTypedProperties_v7.4.doc", "uni", "winUnicodeDictionary.doc",
                "ms", "Office365BlankSample_v2507.doc", "ppt", "LibreOfficeBlankSample_v25.8.ppt").get(fixture), "t.doc");
        String[] words = change == null ? new String[0] : change.split(" ");
        if (words.length > 0 && words[0].equals("poi")) {
            java.util.Date date = new java.util.Date(words.length > 2 ? Long.parseLong(words[2]) : 0);
            DocumentFixtures.poiSave(doc, (si, dsi) -> {
                switch (words[1]) {
                    case "vector" -> {
                        byte[] abc = {1, 0, 0, 0, 4, 0, 0, 0, 'a', 'b', 'c', 0}; // POI writes an unknown type raw
                        var custom = dsi.getCustomProperties();
                        custom.put(name, new CustomProperty(new Property(100, Variant.VT_VECTOR | Variant.VT_LPSTR,
                                abc), name));
                        dsi.setCustomProperties(custom);
                    }
                    case "11" -> si.setLastPrinted(date);
                    case "12" -> si.setCreateDateTime(date);
                    default -> si.setLastSaveDateTime(date);
                }
            });
        } else if (words.length > 0) {
            String[] args = Arrays.copyOf(words, words.length + 2);
            args[0] = args[0].replace("!", "");
            args[words.length] = "--";
            args[words.length + 1] = doc;
            byte[] before = Files.readAllBytes(Path.of(doc));
            assertEquals(change.startsWith("!") ? 1 : 0, run(args), out + err);
            if (change.startsWith("!")) {
                assertArrayEquals(before, Files.readAllBytes(Path.of(doc)), "refused: nothing written");
            } else if (words[0].equals("delete")) {
                assertTrue(out.contains("deleted 1 property (" + name + ")"), out);
            }
        }
        assertEquals(0, run("show", "--json", doc), err);
        JsonObject o = objects(out).get(0);
        JsonObject value = (JsonObject) (name.startsWith("PIDSI_") ? o.getAsJsonObject("summary") : o.getAsJsonObject(
                "user")).get(name);
        JsonArray notRead = o.getAsJsonArray("notRead");
        if (type == null || type.startsWith("vector")) {
            assertNull(value, out);
        } else if (type.equals("binary") || type.equals("clipboard")) { // the digest is of the bytes --base64 gives
            assertEquals(type, value.get("type").getAsString(), out);
            assertEquals(Integer.parseInt(json), value.get("length").getAsInt(), out);
            assertEquals(0, run("show", "--json", "--base64", doc), err);
            byte[] bytes = java.util.Base64.getDecoder().decode(objects(out).get(0).getAsJsonObject(
                    name.startsWith("PIDSI_") ? "summary" : "user").getAsJsonObject(name).get("base64").getAsString());
            assertEquals(json, String.valueOf(bytes.length));
            assertEquals(java.util.HexFormat.of().formatHex(java.security.MessageDigest.getInstance("SHA-256")
                    .digest(bytes)), value.get("sha256").getAsString());
            if (poi != null) { // POI gives a blob in hex, its 32-bit length first
                byte[] length = java.nio.ByteBuffer.allocate(4).order(java.nio.ByteOrder.LITTLE_ENDIAN)
                        .putInt(bytes.length).array();
                assertEquals(java.util.HexFormat.of().formatHex(length) + java.util.HexFormat.of().formatHex(bytes),
                        String.valueOf(poiCustom(doc).get(name)));
            }
            poi = null;
        } else {
            assertEquals(JsonParser.parseString("{\"type\":\"" + type + "\",\"value\":" + json + "}"), value, out);
        }
        assertEquals(type != null && type.startsWith("vector") ? JsonParser.parseString("[{\"set\":\"user\",\"name\":\""
                + name + "\",\"type\":\"" + type + "\"}]") : new JsonArray(), notRead, out);
        if (exiftool != null) {
            Process p = new ProcessBuilder("exiftool", "-j", "-n", doc).redirectErrorStream(true).start();
            JsonObject tags = JsonParser.parseString(new String(p.getInputStream().readAllBytes(), UTF_8))
                    .getAsJsonArray().get(0).getAsJsonObject();
            String[] tag = exiftool.split("=", 2);
            assertEquals(tag[1], tags.has(tag[0]) ? tags.get(tag[0]).getAsString() : null, tags.toString());
        }
        if (poi != null) {
            assertEquals(poi, String.valueOf(poiCustom(doc).get(name)));
        }
        assertEquals(0, run("show", doc), err);
        assertFalse(out.contains("1601-01-01"), out);
    }

    private static JsonElement typed(String type, String value) {
        JsonObject o = new JsonObject();
        o.addProperty("type", type);
        o.addProperty("value", value);
        return o;
    }

    @ParameterizedTest(name = "{0}, {1}")
    @CsvSource(delimiter = '|', textBlock = """
        untracked     | --read-only | 0 | false | not tracked           |       | unchanged | 0 stragglers, 0 new versions
        current marks | --read-only | 0 | false | matches the last save |       | unchanged | 0 stragglers, 0 new versions
        current marks |             | 0 | false | matches the last save |       | unchanged | 0 stragglers, 0 new versions
        straggler     | --read-only | 0 | true  | saved outside         | false | unchanged | 1 straggler, 0 new versions recorded
        straggler     |             | 0 | true  | saved outside         | true  | changed   | 1 straggler, 1 new version recorded
        record 1.0    |             | 1 | true  | saved outside         |       | unchanged | 1 straggler, 0 new versions recorded; 0 skipped, 1 failed
        """)
    void checkRecordsNewVersionsOnlyForStragglersAndReadOnlyWritesNothing(String state, String mode, int exit,
            boolean straggler, String verdict, Boolean recorded, String file, String summary) throws Exception {
        Path share = temp.resolve("share");
        String doc = share.resolve("a.doc").toString();
        if (state.equals("untracked")) {
            Files.copy(share.resolve("sub/c.doc"), share.resolve("a.doc"), java.nio.file.StandardCopyOption.REPLACE_EXISTING);
        }
        if (state.equals("record 1.0")) {
            run("show", "--json", "--all", doc);
            String e = objects(out).get(0).getAsJsonObject("tracking").get("recordId").getAsString();
            assertEquals(0, run("set", doc, "Quorvane MetadataVersion." + e + "=1.0"));
        }
        if (!state.startsWith("current") && !state.equals("untracked")) {
            TestHooks.docfile(doc, true, TestHooks.DOC_SET, "7", "Somebody Else");
        }
        byte[] before = Files.readAllBytes(share.resolve("a.doc"));
        long modified = Files.getLastModifiedTime(share.resolve("a.doc")).toMillis();
        List<String> args = new ArrayList<>(List.of("check", "--json", doc, share.resolve("b.xls").toString()));
        if (mode != null) {
            args.add(mode);
        }
        assertEquals(exit, run(args.toArray(String[]::new)), out + err);
        JsonObject o = objects(out).get(0);
        assertEquals(straggler, o.get("straggler").getAsBoolean());
        assertTrue(o.get("verdict").getAsString().startsWith(verdict), o.toString());
        JsonElement newVersion = o.getAsJsonObject("check").get("newVersion");
        assertEquals(recorded == null, newVersion.isJsonNull(), o.toString());
        if (recorded != null) {
            assertEquals(recorded, newVersion.getAsJsonObject().get("recorded").getAsBoolean());
            assertEquals(22, newVersion.getAsJsonObject().get("versionId").getAsString().length());
            // The record told is the one the document holds now: the new one only when it was written.
            assertEquals(recorded, newVersion.getAsJsonObject().get("versionId")
                    .equals(o.getAsJsonObject("tracking").get("versionId")), o.toString());
        }
        assertEquals(exit != 0, o.has("error"), o.toString());
        boolean same = Arrays.equals(before, Files.readAllBytes(share.resolve("a.doc")))
                && modified == Files.getLastModifiedTime(share.resolve("a.doc")).toMillis();
        assertEquals(file.equals("unchanged"), same);
        assertTrue(err.contains(summary), err);
    }

    /** Each bad input gets its line, in JSON and in text, and the walk goes on; run as a user whom modes bind. */
    @Test
    void badInputsAreToldOneByOneAndTheWalkGoesOn() throws Exception {
        Path bad = Files.createDirectories(temp.resolve("bad"));
        copy(bad, DOC, "good.doc");
        copy(bad, "FatChainLoop_v3.cfs", "damaged.doc");
        String locked = copy(bad, DOC, "locked.doc");
        copy(bad, DOC, "unreadable.doc");
        copy(Files.createDirectories(bad.resolve("closed")), DOC);
        Files.writeString(bad.resolve("notes.txt"), "text");
        Files.createSymbolicLink(bad.resolve("loop"), bad);
        Files.createSymbolicLink(bad.resolve("broken.doc"), bad.resolve("missing.doc"));
        ChildJvm.exec(Map.of(), "mkfifo", bad.resolve("fifo.doc").toString());
        ChildJvm.exec(Map.of(), "bash", "-c", "cp \"$0\"/good.doc \"$0\"/$'bad\\xff.doc'", bad.toString());
        for (Path p : new Path[] {temp, bad}) {
            Files.setPosixFilePermissions(p, PosixFilePermissions.fromString("rwxr-xr-x"));
        }
        Files.setPosixFilePermissions(bad.resolve("unreadable.doc"), PosixFilePermissions.fromString("-w-------"));
        Files.setPosixFilePermissions(bad.resolve("closed"), PosixFilePermissions.fromString("rwx------"));
        String expected = """
            good.doc=doc; damaged.doc=error 6 %1$s/damaged.doc: the compound file is damaged;
            locked.doc=error 5 %1$s/locked.doc: locked by another program;
            unreadable.doc=error 1 %1$s/unreadable.doc: permission denied; closed=error 1 %1$s/closed: permission denied;
            bad\ufffd.doc=error 1 %1$s/bad\ufffd.doc: the file name is not valid text;
            notes.txt=skip not a compound document; loop=skip a symbolic-link loop; broken.doc=skip a symbolic link to a
            missing file; fifo.doc=skip not a regular file (a FIFO)""".formatted(bad).replace("\n", " ");
        for (String mode : new String[] {"--json", "-r"}) {
            ChildJvm.Run run = TestHooks.whileHeld(locked, 0x10, () -> ChildJvm.run(Map.of("LC_ALL", "C.UTF-8"),
                    ChildJvm.java(ChildJvm.AS_NOBODY, null, DocProps.class, "show", "-r", mode, bad.toString())));
            assertEquals(1, run.exit(), run.output());
            assertTrue(run.output().contains("1 document read: 0 tracked, 0 stragglers, 0 new versions recorded;"
                    + " 4 skipped, 5 failed"), run.output());
            if (mode.equals("--json")) {
                assertFates(expected.replace("; ", ";"), fates(run.output().lines()
                        .filter(l -> l.startsWith("{")).collect(Collectors.joining("\n"))));
            } else {
                for (String entry : expected.split("; ")) {
                    String[] kv = entry.split("=", 2);
                    String reason = kv[1].replaceFirst("^(doc|error \\d|skip) ?", "").replaceFirst("^\\S+: ", "");
                    assertTrue(run.output().lines().anyMatch(l -> l.contains(kv[0]) && l.contains(reason)),
                            kv[0] + " with '" + reason + "' in:\n" + run.output());
                }
            }
        }
    }

    /**
     * Many files, some no documents or not read at all, and folders among
     * them: told sorted by path (as `LC_ALL=C sort` sorts them), whatever
     * order the file system lists them in, on one thread or several.
     */
    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', textBlock = """
        show --json -r -j 1 | d5-x.doc d5.doc d5/a.doc d5/z.doc d50.doc
        show --json -r -j 4 | d5-x.doc d5.doc d5/a.doc d5/z.doc d50.doc
        check --json -r     | d5-x.doc d5.doc d5/a.doc d5/z.doc d50.doc
        show --json -j 3    | d5-x.doc d5.doc d50.doc
        """)
    void toldSortedByPath(String command, String around) throws Exception {
        Path many = Files.createDirectories(temp.resolve("many"));
        List<String> names = new ArrayList<>();
        for (int i = 0; i < 90; i++) {
            String name = i % 7 == 3 ? "n" + i + ".txt" : i % 5 == 2 ? "l" + i + ".doc" : "d" + i + ".doc";
            if (i % 7 == 3) {
                Files.writeString(many.resolve(name), "text");
            } else if (i % 5 == 2) {
                Files.createSymbolicLink(many.resolve(name), many.resolve("missing.doc"));
            } else {
                copy(many, DOC, name);
            }
            names.add(name);
        }
        copy(many, DOC, "d5-x.doc");
        // Past U+FFFF, UTF-16's order differs from the bytes': a fullwidth A sorts before an emoji by bytes.
        copy(many, DOC, "\uFF21.doc");
        copy(many, DOC, "\uD83D\uDE00.doc");
        copy(Files.createDirectories(many.resolve("d5")), DOC, "z.doc");
        copy(many.resolve("d5"), DOC, "a.doc");
        List<String> args = new ArrayList<>(List.of(command.split(" ")));
        args.add(many.toString());
        assertEquals(0, run(args.toArray(String[]::new)), err);
        List<String> told = objects(out).stream().map(o -> many.relativize(Path.of(o.get("path").getAsString()))
                .toString()).collect(Collectors.toList());
        List<String> sorted = new ArrayList<>(told);
        java.util.Collections.sort(sorted, (x, y) -> Arrays.compareUnsigned(x.getBytes(UTF_8), y.getBytes(UTF_8)));
        assertEquals(sorted, told, "byte order of the paths");
        assertEquals(names.size() + (command.contains("-r") ? 5 : 3), told.size(), told.toString());
        assertEquals(List.of("\uFF21.doc", "\uD83D\uDE00.doc"), told.subList(told.size() - 2, told.size()));
        int at = told.indexOf("d5-x.doc");
        assertEquals(List.of(around.split(" ")), told.subList(at, at + around.split(" ").length));
    }

    /** Files and folders removed while the walk is on them: told as removed, never as failures, and the walk goes on. */
    @Test
    void removedDuringTheWalk() throws Exception {
        Path share = temp.resolve("share");
        for (String folder : new String[] {"1", "2"}) {
            for (int i = 0; i < 8; i++) {
                copy(Files.createDirectories(share.resolve("gone/" + folder)), DOC, i + ".doc");
            }
        }
        OutputStream removing = new ByteArrayOutputStream() {
            @Override
            public void write(byte[] b, int off, int len) {
                if (size() == 0) { // the first document told: the walk is in its folder, the other one is ahead
                    Path told = Path.of(new String(b, off, len, UTF_8).replaceAll("(?s).*\"path\":\"([^\"]+)\".*",
                            "$1"));
                    Path walked = told.getParent();
                    try {
                        removeTree(walked.resolveSibling(walked.getFileName().toString().equals("1") ? "2" : "1"));
                        for (int i = 0; i < 8; i++) { // the walk has listed at most 4 + 1 of them
                            if (!walked.resolve(i + ".doc").equals(told)) {
                                Files.delete(walked.resolve(i + ".doc"));
                            }
                        }
                    } catch (IOException e) {
                        throw new IllegalStateException(e);
                    }
                }
                super.write(b, off, len);
            }
        };
        assertEquals(0, run(removing, "show", "--json", "-r", "-j", "1", share.resolve("gone").toString(),
                share.resolve("b.xls").toString()), err);
        Map<String, String> fates = fates(out);
        assertEquals("doc", fates.remove("b.xls"), "the walk went on");
        assertEquals("skip removed during the walk", fates.remove(fates.containsKey("1") ? "1" : "2"), out);
        assertTrue(fates.values().stream().allMatch(f -> f.equals("doc") || f.equals("skip removed during the walk")),
                fates.toString());
        assertTrue(fates.values().stream().filter(f -> f.startsWith("skip")).count() >= 3, fates.toString());
    }

    private static void removeTree(Path root) throws IOException {
        try (var all = Files.walk(root)) {
            for (Path p : (Iterable<Path>) all.sorted((x, y) -> y.compareTo(x))::iterator) {
                Files.delete(p);
            }
        }
    }

    /**
     * Where standard output goes: the progress line only on a terminal; a
     * full disk is told and fails the run; a reader gone away ends the run
     * at the first write, quietly (a named pipe whose reader was closed
     * before docprops started, so no timing decides). Standard output is
     * redirected in a shell; its standard error is what is seen.
     */
    @ParameterizedTest(name = "{0} {1}")
    @CsvSource(delimiter = '|', textBlock = """
        terminal    | -r        | 0   | '.*\\r\\u001b\\[Kdocprops: 5 of 5 files, \\d+/s.*4 documents read.*'
        pipe        | -r        | 0   | '{skip}docprops: 4 documents read: .*, 0 failed\\n'
        pipe        | -r --json | 0   | 'docprops: 4 documents read: .*, 0 failed\\n'
        full disk   | -r        | 1   | '{skip}docprops: standard output: {full}; the output is incomplete\\n'
        full disk   | -r --json | 1   | 'docprops: standard output: {full}; the output is incomplete\\n'
        reader gone | -r        | 141 | '{skip}'
        reader gone | -r --json | 141 | ''
        """)
    void outputStopsTheRunWhenItCannotBeWritten(String to, String options, int exit, String stderr) throws Exception {
        List<String> args = new ArrayList<>(List.of("show"));
        args.addAll(List.of(options.split(" ")));
        args.add(temp.resolve("share").toString());
        String command = ChildJvm.java(List.of(), null, DocProps.class, args.toArray(String[]::new)).stream()
                .map(a -> "'" + a.replace("'", "'\\''") + "'").collect(Collectors.joining(" "));
        String fifo = temp.resolve("fifo").toString();
        List<String> shell = switch (to) {
            case "terminal" -> List.of("script", "-qefc", command + " >/dev/null", "/dev/null");
            case "pipe" -> List.of("bash", "-c", "{ " + command + " 2>&3 | cat >/dev/null; } 3>&1");
            case "full disk" -> List.of("bash", "-c", command + " 2>&1 >/dev/full");
            default -> List.of("bash", "-c", "mkfifo '" + fifo + "' && exec 4<>'" + fifo + "' 5>'" + fifo
                    + "' 4<&- && " + command + " 2>&1 >&5");
        };
        ChildJvm.Run run = ChildJvm.run(Map.of(), shell);
        assertEquals(exit, run.exit(), run.output());
        // In text, a file passed over is told on standard error as the walk finds it, before any output is due.
        String skip = "docprops: \\S+/notes.txt: skipped: not a compound document\\n";
        assertTrue(run.output().matches("(?s)" + stderr.replace("{skip}", skip).replace("{full}",
                "No space left on device")), run.output());
        assertEquals(to.equals("terminal"), run.output().contains(" of 5 files"), run.output());
    }
}
