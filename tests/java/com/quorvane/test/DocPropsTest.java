package com.quorvane.test;

import static com.quorvane.test.DocumentFixtures.copy;
import static com.quorvane.test.DocumentFixtures.poiCustom;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quorvane.tools.DocProps;
import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Map;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** The docprops command line over the real native methods: its output and exit codes. */
class DocPropsTest {
    @TempDir
    Path temp;

    private String out;
    private String err;

    private int run(String... args) {
        ByteArrayOutputStream o = new ByteArrayOutputStream();
        ByteArrayOutputStream e = new ByteArrayOutputStream();
        int code = new DocProps(new PrintStream(o, true, StandardCharsets.UTF_8),
                new PrintStream(e, true, StandardCharsets.UTF_8)).run(args);
        out = o.toString(StandardCharsets.UTF_8);
        err = e.toString(StandardCharsets.UTF_8);
        return code;
    }

    @Test
    void aSessionSetsDeletesTracksAndChecks() throws Exception {
        String doc = copy(temp, "Office365BlankSample_v2507.doc");
        assertEquals(0, run("set", doc, "Client=Müller – Café", "Project=Apollo", "Stage=draft"));
        assertEquals(0, run("delete", doc, "Stage", "Nope"));
        assertTrue(out.contains("deleted 1 property") && out.contains("not present (or not text): Nope"), out);
        assertEquals(Map.of("Client", "Müller – Café", "Project", "Apollo"), poiCustom(doc));
        assertEquals(0, run("show", doc));
        assertTrue(out.contains("Client = Müller – Café") && out.contains("Last saved by:   Jeremy Powell"), out);

        assertEquals(0, run("history", doc));
        assertTrue(out.contains("no tracking record"), out);
        assertEquals(0, run("track", doc, "--document-id", "doc-1", "--author", "alice"));
        assertEquals(1, run("track", doc));
        assertTrue(err.contains("already tracked (document id doc-1)"), err);
        assertEquals(0, run("show", doc));
        assertTrue(out.contains("tracking properties hidden") && !out.contains("Quorvane"), out);
        assertEquals(0, run("check", doc));
        assertTrue(out.contains("not a straggler"), out);

        DocumentHooks.docfile(doc, true, DocumentHooks.SET, "7", "Somebody Else");
        assertEquals(0, run("check", doc));
        assertTrue(out.contains("straggler: saved outside the client")
                && out.contains("last saved by Somebody Else; the client last saw Jeremy Powell")
                && out.contains("recorded in the document"), out);
        String tripwire = out.replaceAll("(?s).*version id \\(the tripwire\\) (\\S+).*", "$1");
        assertEquals(22, tripwire.length(), out);
        assertEquals(0, run("history", doc));
        assertTrue(out.contains("Document id:         doc-1") && out.contains("Sequence number:     1")
                && out.contains("Version id:          " + tripwire) && out.contains("Unratified versions: 1")
                && out.contains("1. " + tripwire) && out.contains("by Somebody Else")
                && out.contains("(none: recorded by the straggler check)"), out);
        assertEquals(0, run("check", doc));
        assertTrue(out.contains("not a straggler"), out);
    }

    @Test
    void failuresAreOneLineWithTheirExitCodes() throws Exception {
        assertEquals(3, run("show", temp.resolve("missing.doc").toString()));
        assertEquals("docprops: " + temp.resolve("missing.doc") + ": no such file\n", err);
        Path text = Files.writeString(temp.resolve("notes.doc"), "plain text");
        assertEquals(4, run("set", text.toString(), "a=b"));
        assertTrue(err.contains("not a compound document") && err.lines().count() == 1, err);
        assertEquals("plain text", Files.readString(text));

        String doc = copy(temp, "2custom.doc");
        long held = StragglerHooks.hold(doc, 0x10);  // read, deny everyone else
        assertTrue(held > 0);
        try {
            assertEquals(5, run("show", doc));
            assertTrue(err.contains("locked by another program"), err);
        } finally {
            StragglerHooks.release(held);
        }
        assertEquals(0, run("check", copy(temp, "2custom.doc", "copy.docx")));
        assertTrue(out.contains("not checked"), out);

        assertEquals(2, run());
        assertEquals(2, run("frobnicate", doc));
        assertEquals(2, run("set", doc, "novalue"));
        assertEquals(2, run("set", doc, "x=##DEL##"));
        assertEquals(2, run("show", doc, "--bogus"));
        assertTrue(err.contains("docprops --help"), err);
        assertEquals(Map.of("prop1", "aaa", "prop2", "bbbb"), poiCustom(doc));
        assertEquals(0, run("--help"));
        assertTrue(out.startsWith("usage: docprops") && !out.isEmpty(), out);
        assertFalse(out.contains("\t"));
    }
}
