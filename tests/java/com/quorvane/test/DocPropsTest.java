package com.quorvane.test;

import static com.quorvane.test.DocumentFixtures.*;
import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.*;

import com.quorvane.tools.DocProps;
import java.io.*;
import java.nio.file.*;
import java.util.Map;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** The docprops command line over the real native methods: its output and exit codes. */
class DocPropsTest {
    @TempDir
    Path temp;

    private String out, err;

    private int run(String... args) {
        ByteArrayOutputStream o = new ByteArrayOutputStream();
        ByteArrayOutputStream e = new ByteArrayOutputStream();
        int code = new DocProps(new PrintStream(o, true, UTF_8), new PrintStream(e, true, UTF_8)).run(args);
        out = o.toString(UTF_8);
        err = e.toString(UTF_8);
        return code;
    }

    /** Runs docprops, expecting the exit code and each text in what it printed. */
    private void expect(int code, String[] args, String... texts) {
        assertEquals(code, run(args), out + err);
        for (String text : texts) {
            assertTrue((out + err).contains(text), text + " in:\n" + out + err);
        }
    }

    private static String[] args(String... args) {
        return args;
    }

    @Test
    void aSessionSetsDeletesTracksAndChecks() throws Exception {
        String doc = copy(temp, "Office365BlankSample_v2507.doc");
        expect(0, args("set", doc, "Client=Müller – Café", "Project=Apollo", "Stage=draft"));
        expect(0, args("delete", doc, "Stage", "Nope"), "deleted 1 property (Stage)",
                "not found: Nope");
        assertEquals(Map.of("Client", "Müller – Café", "Project", "Apollo"), poiCustom(doc));
        expect(0, args("show", doc), "Client = Müller – Café", "Last saved by:   Jeremy Powell");
        // Text output shows every value so that it reads back: quoted and escaped where it could not.
        String odd = copy(temp, "2custom.doc", "odd.doc");
        expect(0, args("set", odd, "Lines=one\ntwo", "Edges= both ", "Quoted=\"q\" x", "Ctl=a\tb\u0007\u2028",
                "Plain=a \\ \"b\"", "Tab\tName=x"));
        expect(0, args("show", odd), "  Lines = \"one\\ntwo\"\n", "  Edges = \" both \"\n",
                "  Quoted = \"\\\"q\\\" x\"\n", "  Ctl = \"a\\tb\\u0007\\u2028\"\n", "  Plain = a \\ \"b\"\n",
                "  \"Tab\\tName\" = x\n");
        String newline = copy(temp, "2custom.doc", "new\nline.doc");
        expect(0, args("show", newline), "\"" + temp + "/new\\nline.doc\"\nSummary information:");
        expect(0, args("set", newline, "A=1"), "\"" + temp + "/new\\nline.doc\": set 1 property\n");
        // The same changes to several documents; a value from a file, of any length.
        String big = "Zeile ".repeat(25_000) + "\nEnde";
        Path valueFile = Files.writeString(temp.resolve("value.txt"), big);
        expect(0, args("set", "Long=@" + valueFile, "At=@@home", "Shared=yes", "--", doc, odd),
                doc + ": set 3 properties\n" + odd + ": set 3 properties\n",
                "2 documents changed; 0 skipped, 0 failed");
        for (String d : new String[] {doc, odd}) {
            expect(0, args("show", "--json", d));
            var user = com.google.gson.JsonParser.parseString(out).getAsJsonObject().getAsJsonObject("user");
            assertEquals(big, user.getAsJsonObject("Long").get("value").getAsString());
            assertEquals("@home", user.getAsJsonObject("At").get("value").getAsString());
        }
        expect(0, args("delete", "Long", "At", "--", doc, odd), "deleted 2 properties (Long, At)");
        assertFalse(poiCustom(odd).containsKey("Long") || poiCustom(doc).containsKey("At"));
        expect(3, args("set", "V=@" + temp.resolve("none.txt"), "--", doc), "none.txt: no such file (the value of V)");
        expect(0, args("history", doc), "no tracking record");
        expect(0, args("track", doc, "--document-id", "doc-1", "--author", "alice"));
        expect(1, args("track", doc), "already tracked (document id doc-1)");
        expect(0, args("show", doc), "tracking properties hidden");
        assertFalse(out.contains("Quorvane"), out);
        expect(0, args("check", doc), "not a straggler");
        TestHooks.docfile(doc, true, TestHooks.DOC_SET, "7", "Somebody Else");
        expect(0, args("check", doc), "straggler: saved outside the client", "recorded in the document",
                "last saved by Somebody Else; the client last saw Jeremy Powell");
        String tripwire = out.replaceAll("(?s).*version id \\(the tripwire\\) (\\S+).*", "$1");
        assertEquals(22, tripwire.length(), out);
        expect(0, args("history", doc), "Document id:         doc-1", "Sequence number:     1",
                "Version id:          " + tripwire, "Unratified versions: 1", "1. " + tripwire, "by Somebody Else",
                "(none: recorded by the straggler check)");
        expect(0, args("check", doc), "not a straggler");
    }

    @Test
    void failuresAreOneLineWithTheirExitCodes() throws Exception {
        expect(3, args("show", temp.resolve("missing.doc").toString()));
        assertEquals("docprops: " + temp.resolve("missing.doc") + ": no such file\n", err);
        Path text = Files.writeString(temp.resolve("notes.doc"), "plain text");
        expect(4, args("set", text.toString(), "a=b"), "not a compound document");
        assertEquals(1, err.lines().count(), err);
        assertEquals("plain text", Files.readString(text));
        String doc = copy(temp, "2custom.doc");
        assertEquals(5, TestHooks.whileHeld(doc, 0x10, () -> run("show", doc)), "read, deny everyone else");
        assertTrue(err.contains("locked by another program"), err);
        expect(0, args("check", copy(temp, "2custom.doc", "copy.docx")), "not checked");
        // STG_E_MEDIUMFULL with room on the disk: the set's own limit, not a raw code that reads as disk full.
        byte[] before = Files.readAllBytes(Path.of(doc));
        expect(1, args("set", doc, "big=" + "x".repeat(300_000)), "over 256 KiB", "nothing was changed");
        assertFalse(err.contains("0x80030070") || err.contains("disk is full"), err);
        assertArrayEquals(before, Files.readAllBytes(Path.of(doc)));
        String typed = copy(temp, "LibreOfficeTypedProperties_v7.4.doc"); // a number and a text: one commit
        byte[] typedBefore = Files.readAllBytes(Path.of(typed));
        expect(1, args("set", typed, "NumInt=7", "big=" + "x".repeat(300_000)), "nothing was changed");
        assertArrayEquals(typedBefore, Files.readAllBytes(Path.of(typed)));
        for (String[] wrong : new String[][] {{}, {"frobnicate", doc}, {"set", doc, "novalue"},
            {"set", doc, "x=##DEL##"}, {"show", doc, "--bogus"}}) {
            expect(2, wrong);
        }
        assertTrue(err.contains("docprops --help"), err);
        assertEquals(Map.of("prop1", "aaa", "prop2", "bbbb"), poiCustom(doc));
        expect(0, args("--version"));
        assertTrue(out.matches("docprops \\S.*\n"), out);
        expect(0, args("--help"));
        assertTrue(out.startsWith("usage: docprops") && !out.contains("\t"), out);
    }

    /** The man page names every option and command --help names, and every exit code, under EXIT STATUS. */
    @Test
    void theManPageMatchesHelp() throws Exception {
        String man = Files.readString(Path.of(System.getenv("QV_SOURCE_DIR"), "tools/man/docprops.1"))
                .replace("\\-", "-");
        expect(0, args("--help"));
        java.util.regex.Matcher options = java.util.regex.Pattern.compile("(?<![\\w-])--?[a-z][a-z0-9-]*").matcher(out);
        int found = 0;
        for (; options.find(); found++) {
            assertTrue(man.matches("(?s).*(^|[\\s\\[])" + options.group() + "\\b.*"),
                    options.group() + " in the man page");
        }
        assertTrue(found >= 10, out);
        for (String command : new String[] {"show", "history", "check", "set", "delete", "apply", "track"}) {
            assertTrue(out.contains("  " + command + " ") && man.contains(".B docprops " + command), command);
        }
        String help = out.substring(out.indexOf("exit codes:"));
        int at = man.indexOf(".SH EXIT STATUS");
        String status = man.substring(at, man.indexOf(".SH", at + 3));
        java.util.regex.Matcher codes = java.util.regex.Pattern.compile("(?<![\\w-])(\\d+) [a-z]").matcher(help);
        for (found = 0; codes.find(); found++) {
            assertTrue(status.contains(".B " + codes.group(1) + "\n"), "exit status " + codes.group(1));
        }
        assertEquals(8, found, help);
    }
}
