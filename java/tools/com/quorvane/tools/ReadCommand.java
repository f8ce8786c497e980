package com.quorvane.tools;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.io.PrintWriter;
import java.io.StringWriter;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Objects;
import java.util.Properties;

/**
 * One read command (show, history, check) over one document: what it tells,
 * as text or as one JSON object, and what the end-of-run summary counts.
 * Immutable; documents are read on any number of threads at once.
 */
final class ReadCommand implements Batch.Task {
    enum Kind { SHOW, HISTORY, CHECK }

    /**
     * What one document gave: its text (or JSON line), ending with a line
     * separator, as UTF-8 bytes (encoded by the reading thread, not by the
     * one that writes them all out), and its share of the summary.
     */
    record Outcome(byte[] text, boolean tracked, boolean straggler, boolean recorded, int exitCode, String error) {
        Outcome(byte[] text, boolean tracked, boolean straggler, boolean recorded, int exitCode) {
            this(text, tracked, straggler, recorded, exitCode, null);
        }
    }

    /** PIDSI names in the order docprops shows them, with their labels. */
    private static final Map<String, String> SUMMARY_LABELS = new LinkedHashMap<>();

    static {
        String[] labels = {"PIDSI_TITLE", "Title", "PIDSI_SUBJECT", "Subject", "PIDSI_AUTHOR", "Author",
            "PIDSI_KEYWORDS", "Keywords", "PIDSI_COMMENTS", "Comments", "PIDSI_TEMPLATE", "Template",
            "PIDSI_LASTAUTHOR", "Last saved by", "PIDSI_REVNUMBER", "Revision", "PIDSI_EDITTIME", "Editing time",
            "PIDSI_LASTPRINTED", "Last printed", "PIDSI_CREATE_DTM", "Created", "PIDSI_LASTSAVE_DTM", "Last saved",
            "PIDSI_APPNAME", "Application", "PIDSI_PAGECOUNT", "Pages", "PIDSI_WORDCOUNT", "Words",
            "PIDSI_CHARCOUNT", "Characters", "PIDSI_DOC_SECURITY", "Security", "PIDSI_THUMBNAIL", "Thumbnail"};
        for (int i = 0; i < labels.length; i += 2) {
            SUMMARY_LABELS.put(labels[i], labels[i + 1]);
        }
    }


    /**
     * The version of the JSON objects' layout, told in each: 3 gave every
     * property its stored type and added notRead; 2 made unset and invalid
     * dates null, a damaged set null, and added this member.
     */
    static final long SCHEMA = 3;

    /** For Windows' CreateFile: read access, sharing everything, an existing file. */
    private static final int GENERIC_READ = 0x80000000, FILE_SHARE_ALL = 7, OPEN_EXISTING = 3;

    final Kind kind;
    final boolean all;
    final boolean json;
    final boolean readOnly;
    final boolean base64;

    ReadCommand(Kind kind, boolean all, boolean json, boolean readOnly, boolean base64) {
        this.kind = kind;
        this.all = all;
        this.json = json;
        this.readOnly = readOnly;
        this.base64 = base64;
    }

    @Override
    public boolean json() {
        return json;
    }

    @Override
    public boolean separated() {
        return kind != Kind.CHECK;
    }

    @Override
    public String done(long read, long tracked, long stragglers, long recorded) {
        // Joined, not formatted: the formatter would load its classes and the pattern engine for this line
        return read + " document" + (read == 1 ? "" : "s") + " read: " + tracked + " tracked, " + stragglers
                + " straggler" + (stragglers == 1 ? "" : "s") + ", " + recorded + " new version"
                + (recorded == 1 ? "" : "s") + " recorded";
    }

    @Override
    public Outcome apply(Path file) throws DocumentError {
        StringWriter text = new StringWriter(json ? 1024 : 512);
        PrintWriter out = new PrintWriter(text);
        Outcome o = kind == Kind.CHECK ? check(file, out) : show(file, out);
        String t = text.toString();
        String end = System.lineSeparator();
        return new Outcome((t.endsWith(end) ? t : t + end).getBytes(StandardCharsets.UTF_8), o.tracked, o.straggler,
                o.recorded, o.exitCode, o.error);
    }

    /** The JSON object of a file that was not read. */
    static String failure(Path file, DocumentError e) {
        Json j = new Json().open().name("schema").value(SCHEMA).name("path").value(file.toString());
        error(j, e.exitCode, e.hresult == 0 ? null : String.format("0x%08X", e.hresult), e.getMessage());
        return j.close().toString();
    }

    private static void error(Json j, long code, String hresult, String message) {
        j.name("error").open().name("code").value(code).name("hresult").value(hresult).name("message").value(message)
                .close();
    }

    static String skipped(Path file, String reason) {
        return new Json().open().name("schema").value(SCHEMA).name("path").value(file.toString()).name("skipped")
                .value(reason).close().toString();
    }

    // ---- Reading ----------------------------------------------------------------

    /** User-defined properties; empty when the document has none. */
    static Properties readUser(Path file, boolean checkTripwire) throws DocumentError {
        Properties p = DocProps.newProperties();
        DocProps.check(file, Win32Impl.getCompoundDocumentUserProperties(file.toString(), p, checkTripwire));
        return p;
    }

    /**
     * The checked read with the document held open for reading, as another
     * program would hold it: the library's writable pass cannot have it, so
     * its read-only pass runs, which finds a straggler's new version without
     * writing it.
     */
    private static Properties readUserChecked(Path file, boolean readOnly) throws DocumentError {
        if (!readOnly) {
            return readUser(file, true);
        }
        int held = Win32Impl.CreateFile(file.toString(), GENERIC_READ, FILE_SHARE_ALL, 0, OPEN_EXISTING, 0, 0);
        if (held == -1) {
            throw new DocumentError(DocumentError.EXIT_FAILURE, file + ": could not be opened for the read-only check");
        }
        try {
            return readUser(file, true);
        } finally {
            Win32Impl.CloseHandle(held);
        }
    }

    // ---- show and history ---------------------------------------------------------

    /**
     * Both sets of a document, as text (what the library's text read hands
     * over, which the tracking record and the verdict are made of) and with
     * their types (typed: null when not read); damaged: why one of them is
     * null, or null when both were read.
     */
    private record Sets(Properties summary, Properties user, TypedProperties.Set typedSummary,
            TypedProperties.Set typedUser, DocumentError damaged) {
    }

    /**
     * Reads both sets; when one of them cannot be parsed, the other is still
     * read. Fails when neither can be, or on any other failure.
     */
    private Sets readBoth(Path file) throws DocumentError {
        TypedProperties.Document d = TypedProperties.read(file, base64);
        DocumentError summaryError = failure(file, d.summary());
        DocumentError userError = failure(file, d.user());
        if (summaryError != null && userError != null) {
            throw summaryError;
        }
        return new Sets(summaryError == null ? d.summary().asText() : null,
                userError == null ? d.user().asText() : null, summaryError == null ? d.summary() : null,
                userError == null ? d.user() : null, summaryError != null
                ? Diagnosis.explain(file, summaryError, "summary information")
                : userError != null ? Diagnosis.explain(file, userError, "user-defined") : null);
    }

    /** Why a set was not read: null when it was (or is missing), else when it cannot be parsed; throws otherwise. */
    private static DocumentError failure(Path file, TypedProperties.Set set) throws DocumentError {
        try {
            DocProps.check(file, set.status());
            return null;
        } catch (DocumentError e) {
            return unreadableOnly(e);
        }
    }

    /** Tells what is readable; a damaged set is null and makes the file count as failed. */
    private Outcome show(Path file, PrintWriter out) throws DocumentError {
        Sets sets = readBoth(file);
        Properties summary = sets.summary;
        Properties user = sets.user;
        DocumentError damaged = sets.damaged;
        Properties known = user == null ? DocProps.newProperties() : user;
        TrackingRecord record = TrackingRecord.read(known);
        Verdict v = Verdict.of(record, known, summary == null ? DocProps.newProperties() : summary);
        if (json) {
            Json j = document(file, sets.typedSummary, sets.typedUser, known, record, v);
            if (damaged != null) {
                error(j, damaged.exitCode, String.format("0x%08X", damaged.hresult), damaged.getMessage());
            }
            out.println(j.close().toString());
        } else if (kind == Kind.HISTORY) {
            history(file, known, out);
        } else {
            show(file, sets.typedSummary, sets.typedUser, out);
        }
        return new Outcome(null, v.tracked, v.straggler, false, damaged == null ? 0 : damaged.exitCode,
                damaged == null ? null : damaged.getMessage());
    }

    /** e, when it is a set the library could not parse; any other failure ends the document's read. */
    private static DocumentError unreadableOnly(DocumentError e) throws DocumentError {
        if (!e.unreadable()) {
            throw e;
        }
        return e;
    }

    private void show(Path file, TypedProperties.Set summary, TypedProperties.Set user, PrintWriter out) {
        out.println(TextEscape.of(file.toString()));
        out.println("Summary information:");
        List<TypedProperties.Value> notRead = new ArrayList<>();
        if (summary == null || summary.values().isEmpty()) {
            out.println(summary == null ? "  (damaged: not read)" : "  (none)");
        } else {
            for (Map.Entry<String, String> label : SUMMARY_LABELS.entrySet()) {
                TypedProperties.Value value = summary.get(label.getKey());
                if (value != null && value.read() && value.value() != null && !"".equals(value.value())
                        && !(value.dateText() != null && !ValueFormat.isDuration(value)
                        && date(value.dateText()) == null)) {
                    out.printf("  %-16s %s%n", label.getValue() + ":", TextEscape.of(ValueFormat.text(value, base64)));
                }
            }
            for (TypedProperties.Value value : sorted(summary, notRead)) {
                if (!SUMMARY_LABELS.containsKey(value.name())) {
                    line(out, value);
                }
            }
        }
        out.println("User-defined properties:");
        int hidden = 0;
        int shown = 0;
        if (user == null) {
            out.println("  (damaged: not read)");
            notRead(out, notRead);
            return;
        }
        for (TypedProperties.Value value : sorted(user, notRead)) {
            if (!all && TrackingRecord.isTrackingName(value.name())) {
                hidden++;
                continue;
            }
            line(out, value);
            shown++;
        }
        if (shown == 0) {
            out.println("  (none)");
        }
        notRead(out, notRead);
        if (hidden > 0) {
            out.printf("Tracking: %d tracking properties hidden (docprops history %s, or show --all)%n", hidden, file);
        }
    }

    /** A property's line: a text as it is, any other value with its type. */
    private void line(PrintWriter out, TypedProperties.Value value) {
        String text = TextEscape.of(ValueFormat.text(value, base64));
        if (value.text()) {
            out.printf("  %s = %s%n", TextEscape.of(value.name()), text);
        } else {
            out.printf("  %s [%s] = %s%n", TextEscape.of(value.name()), ValueFormat.type(value), text);
        }
    }

    private void notRead(PrintWriter out, List<TypedProperties.Value> notRead) {
        if (!notRead.isEmpty()) {
            List<String> told = new ArrayList<>();
            for (TypedProperties.Value v : notRead) {
                told.add(TextEscape.of(v.name()) + " (" + ValueFormat.type(v) + ")");
            }
            out.println("Not read: " + String.join(", ", told));
        }
    }

    /** The set's values that were read, sorted by name; those that were not go to notRead. */
    private static List<TypedProperties.Value> sorted(TypedProperties.Set set, List<TypedProperties.Value> notRead) {
        List<TypedProperties.Value> read = new ArrayList<>(set.values().size());
        for (TypedProperties.Value v : set.values()) {
            if (v.read()) {
                read.add(v);
            } else {
                notRead.add(v);
            }
        }
        read.sort((a, b) -> a.name().compareTo(b.name()));
        return read;
    }

    private static void history(Path file, Properties user, PrintWriter out) {
        TrackingRecord record = TrackingRecord.read(user);
        if (record == null) {
            out.println(TextEscape.of(file.toString()) + ": no tracking record"
                    + (TrackingRecord.isUntracked(user) ? " (marked untracked)" : ""));
            return;
        }
        out.println("Tracking record of " + TextEscape.of(file.toString()));
        out.printf("  %-20s %s%n", "Document id:", orNone(record.documentId));
        out.printf("  %-20s %s%n", "Master document id:", orNone(record.masterDocumentId));
        out.printf("  %-20s %s%n", "Version id:", orNone(record.versionId));
        out.printf("  %-20s %s%n", "Sequence number:", orNone(record.sequenceNumber));
        out.printf("  %-20s %s%n", "Author:", record.authorId == null || record.authorId.isEmpty()
                ? "(none: recorded by the straggler check)" : TextEscape.of(record.authorId));
        out.printf("  %-20s %s%s%n", "Metadata version:",
                record.metadataVersion == null ? "1.0" : record.metadataVersion,
                record.isCurrent() ? "" : " (older than 1.2: not tracked by the library)");
        out.printf("  %-20s %s%n", "Record id:", record.extendedVersionId);
        printList(out, "Unratified versions:", record.unratifiedVersionIds);
        printList(out, "Contributors:", record.contributors);
        out.printf("  %-20s %s%n", "Save marks:", marks(user));
    }

    private static void printList(PrintWriter out, String label, List<String> items) {
        out.printf("  %-20s %s%n", label, items.isEmpty() ? "none" : String.valueOf(items.size()));
        for (int i = 0; i < items.size(); i++) {
            out.printf("  %20s %d. %s%n", "", i + 1, TextEscape.of(items.get(i)));
        }
    }

    private static String marks(Properties user) {
        String time = user.getProperty(TrackingRecord.SORREL_SAVE);
        String by = user.getProperty(TrackingRecord.LAST_SAVED_BY);
        if (time == null && by == null) {
            return "none (never saved through the client)";
        }
        return "last saved " + (time == null ? "(no time)" : time + " UTC") + " by " + (by == null ? "(nobody)" : by);
    }

    private static String orNone(String value) {
        return value == null || value.isEmpty() ? "(missing)" : TextEscape.of(value);
    }

    // ---- check ----------------------------------------------------------------------

    /** Runs the straggler check and tells what it found and did, from the record before and after. */
    private Outcome check(Path file, PrintWriter out) throws DocumentError {
        String name = file.getFileName() == null ? "" : file.getFileName().toString().toLowerCase(Locale.ROOT);
        Sets sets = readBoth(file);
        if (sets.damaged != null) { // the check compares the two sets: it needs both
            throw sets.damaged;
        }
        Properties before = sets.user;
        Properties summary = sets.summary;
        TrackingRecord old = TrackingRecord.read(before);
        Verdict v = Verdict.of(old, before, summary);
        if (!(name.endsWith(".doc") || name.endsWith(".xls") || name.endsWith(".ppt"))) {
            return checked(file, out, sets, before, old, v, false, null, 0,
                    ": not checked: only .doc, .xls and .ppt documents are checked");
        }
        Properties seen = readUserChecked(file, readOnly);
        Sets now = readOnly ? sets : readBoth(file);
        Properties after = now.user == null ? DocProps.newProperties() : now.user;
        TrackingRecord found = TrackingRecord.read(seen);
        TrackingRecord stored = TrackingRecord.read(after);

        if (old != null && found != null && !old.extendedVersionId.equals(found.extendedVersionId)) {
            boolean recorded = stored != null && Objects.equals(stored.extendedVersionId, found.extendedVersionId);
            v = new Verdict(v.tracked, true, "saved outside the client");
            String line = ": straggler: saved outside the client";
            if (!json) {
                out.println(TextEscape.of(file.toString()) + line);
                describeMismatch(out, before, summary);
                out.printf("  new version: sequence number %s, version id (the tripwire) %s%n", found.sequenceNumber,
                        found.versionId);
                out.println(recorded ? "  recorded in the document; save marks renewed" : readOnly
                        ? "  not written (--read-only): the document is unchanged, and the check will find it again"
                        : "  the document is open in another program: the new version was not written to it,"
                                + " and the check will find it again");
            }
            return checked(file, out, now, after, stored, v, true,
                    new NewVersion(found.sequenceNumber, found.versionId, recorded), 0, null);
        }
        if (old == null) {
            return checked(file, out, now, after, stored, v, true, null, 0, ": not tracked"
                    + (TrackingRecord.isUntracked(before) ? " (marked untracked)" : "") + ": nothing to check");
        }
        if (before.getProperty(TrackingRecord.SORREL_SAVE) == null
                && before.getProperty(TrackingRecord.LAST_SAVED_BY) == null) {
            return checked(file, out, now, after, stored, v, true, null, 0,
                    ": no save marks (never saved through the client): nothing to compare");
        }
        if (v.straggler) {
            if (!json) {
                out.println(TextEscape.of(file.toString())
                        + ": saved outside the client, but no new version could be recorded");
                describeMismatch(out, before, summary);
                if (!old.isCurrent()) {
                    out.println("  the record's metadata version is older than 1.2");
                }
            }
            return checked(file, out, now, after, stored, v, true, null, DocumentError.EXIT_FAILURE, null);
        }
        return checked(file, out, now, after, stored, v, true, null, 0,
                ": not a straggler: the save marks match the last save (" + marks(before).replace("last saved ", "")
                        + ")");
    }

    /** A straggler's new version, as the check found it. */
    private record NewVersion(String sequenceNumber, String versionId, boolean recorded) {
    }

    /**
     * Tells a check's end: its line (when not told already) or the
     * document's JSON object with the check's part. record: user's tracking
     * record, as read already; checked: the document was of a kind the check
     * reads; version: the new version it found.
     */
    private Outcome checked(Path file, PrintWriter out, Sets sets, Properties user, TrackingRecord record,
            Verdict v, boolean checked, NewVersion version, int exitCode, String line) {
        if (json) {
            Json j = document(file, sets.typedSummary, sets.typedUser, user, record, v).name("check").open();
            if (checked) {
                j.name("newVersion");
                if (version == null) {
                    j.nul();
                } else {
                    j.open().name("sequenceNumber").value(version.sequenceNumber).name("versionId")
                            .value(version.versionId).name("recorded").value(version.recorded).close();
                }
            }
            j.name("checked").value(checked).close();
            if (exitCode != 0) {
                error(j, exitCode, null, file + ": saved outside the client, but no new version could be recorded");
            }
            out.println(j.close().toString());
        } else if (line != null) {
            out.println(TextEscape.of(file.toString()) + line);
        }
        return new Outcome(null, v.tracked, v.straggler, version != null && version.recorded, exitCode);
    }

    private static boolean differs(String mark, String current) {
        return mark != null && current != null && !mark.trim().equals(current.trim());
    }

    private static void describeMismatch(PrintWriter out, Properties before, Properties summary) {
        String mark = before.getProperty(TrackingRecord.SORREL_SAVE);
        String saved = summary.getProperty("PIDSI_LASTSAVE_DTM");
        if (differs(mark, saved)) {
            out.printf("  last saved %s UTC; the client last saw %s UTC%n", saved.trim(), mark.trim());
        }
        String markBy = before.getProperty(TrackingRecord.LAST_SAVED_BY);
        String by = summary.getProperty("PIDSI_LASTAUTHOR");
        if (differs(markBy, by)) {
            out.printf("  last saved by %s; the client last saw %s%n", by, markBy);
        }
    }

    // ---- The verdict and the JSON object ------------------------------------------------

    /** Tracked or not, and whether the save marks differ from the last save, as the summary tells them. */
    record Verdict(boolean tracked, boolean straggler, String text) {
        /** record: the current tracking record of user, or null. */
        static Verdict of(TrackingRecord record, Properties user, Properties summary) {
            if (record == null) {
                return new Verdict(false, false, TrackingRecord.isUntracked(user) ? "marked untracked" : "not tracked");
            }
            boolean tracked = record.isCurrent();
            String mark = user.getProperty(TrackingRecord.SORREL_SAVE);
            String markBy = user.getProperty(TrackingRecord.LAST_SAVED_BY);
            if (mark == null && markBy == null) {
                return new Verdict(tracked, false, "no save marks");
            }
            if (differs(mark, summary.getProperty("PIDSI_LASTSAVE_DTM"))
                    || differs(markBy, summary.getProperty("PIDSI_LASTAUTHOR"))) {
                return new Verdict(tracked, true, "saved outside the client");
            }
            return new Verdict(tracked, false, "matches the last save");
        }
    }

    /**
     * The document's JSON object, left open for a check to add its members.
     * userText: the user-defined set as text, which the tracking record is read from.
     */
    private Json document(Path file, TypedProperties.Set summary, TypedProperties.Set user, Properties userText,
            TrackingRecord record, Verdict v) {
        Json j = new Json().open().name("schema").value(SCHEMA).name("path").value(file.toString()).name("summary");
        List<TypedProperties.Value> notRead = new ArrayList<>();
        if (summary == null) {
            j.nul();
        } else {
            j.open();
            List<TypedProperties.Value> values = sorted(summary, notRead);
            for (String name : SUMMARY_LABELS.keySet()) {
                TypedProperties.Value value = summary.get(name);
                if (value != null && value.read()) {
                    ValueFormat.json(j, value, base64);
                }
            }
            for (TypedProperties.Value value : values) {
                if (!SUMMARY_LABELS.containsKey(value.name())) {
                    ValueFormat.json(j, value, base64);
                }
            }
            j.close();
        }
        int summaryNotRead = notRead.size();
        j.name("user");
        if (user == null) {
            j.nul();
        } else {
            j.open();
            for (TypedProperties.Value value : sorted(user, notRead)) {
                if (all || !TrackingRecord.isTrackingName(value.name())) {
                    ValueFormat.json(j, value, base64);
                }
            }
            j.close();
        }
        j.name("notRead").openArray();
        for (int i = 0; i < notRead.size(); i++) {
            TypedProperties.Value value = notRead.get(i);
            j.open().name("set").value(i < summaryNotRead ? "summary" : "user")
                    .name("name").value(value.name()).name("type").value(ValueFormat.type(value)).close();
        }
        j.closeArray().name("tracking");
        if (record == null) {
            j.nul();
        } else {
            tracking(j, record, userText);
        }
        return j.name("tracked").value(v.tracked).name("straggler").value(v.straggler).name("verdict").value(v.text);
    }

    private static void tracking(Json j, TrackingRecord r, Properties user) {
        String mark = user.getProperty(TrackingRecord.SORREL_SAVE);
        j.open().name("recordId").value(r.extendedVersionId).name("documentId").value(r.documentId)
                .name("masterDocumentId").value(r.masterDocumentId).name("versionId").value(r.versionId)
                .name("sequenceNumber").value(r.sequenceNumber).name("authorId").value(r.authorId)
                .name("metadataVersion").value(r.metadataVersion).name("unratifiedVersionIds")
                .value(r.unratifiedVersionIds).name("contributors").value(r.contributors)
                .name("saveMarks").open().name("lastSaved").value(mark == null ? null : date(mark))
                .name("lastSavedBy").value(user.getProperty(TrackingRecord.LAST_SAVED_BY)).close().close();
    }

    /** How the library writes a date-time of zero: a date never set (a document never printed). */
    private static final String UNSET_DATE = "1601-01-01T00:00:00";

    /**
     * A date-time as ISO 8601 in UTC ("2012-02-21T13:48:00Z"); null for one
     * never set, and for one the library could not convert or that falls
     * past the year 9999 (its text is then empty, or of another length).
     */
    static String date(String text) {
        String t = text.trim();
        return isDateTime(text) && !t.equals(UNSET_DATE) ? t + "Z" : null;
    }

    /**
     * Whether text is the library's form of a date-time,
     * "%4d-%02d-%02dT%02d:%02d:%02d" in UTC (a short year padded with spaces).
     * A check by hand: a pattern is compiled and run in the interpreter for
     * most of a run this short.
     */
    static boolean isDateTime(String text) {
        if (text.length() != 19) {
            return false;
        }
        for (int i = 0; i < 19; i++) {
            char c = text.charAt(i);
            boolean digit = c >= '0' && c <= '9';
            boolean fits = switch (i) {
                case 0, 1, 2 -> digit || c == ' ';
                case 4, 7 -> c == '-';
                case 10 -> c == 'T';
                case 13, 16 -> c == ':';
                default -> digit;
            };
            if (!fits) {
                return false;
            }
        }
        return true;
    }
}
