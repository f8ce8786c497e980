package com.quorvane.tools;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.SecureRandom;
import java.util.ArrayList;
import java.util.Base64;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Objects;
import java.util.Properties;
import java.util.TreeSet;
import java.util.function.ToIntBiFunction;

/**
 * docprops: shows and changes the properties of Word, Excel and PowerPoint
 * documents of the binary format (.doc, .xls, .ppt) through the native
 * library, and runs its straggler check. One command per run; not
 * thread-safe (it owns its output streams for the run).
 */
public final class DocProps {
    private static final String DELETE_MARKER = "##DEL##";
    private static final int S_FALSE = 1;

    /** PIDSI names in the order docprops shows them, with their labels. */
    private static final Map<String, String> SUMMARY_LABELS = new LinkedHashMap<>();

    static {
        SUMMARY_LABELS.put("PIDSI_TITLE", "Title");
        SUMMARY_LABELS.put("PIDSI_SUBJECT", "Subject");
        SUMMARY_LABELS.put("PIDSI_AUTHOR", "Author");
        SUMMARY_LABELS.put("PIDSI_KEYWORDS", "Keywords");
        SUMMARY_LABELS.put("PIDSI_COMMENTS", "Comments");
        SUMMARY_LABELS.put("PIDSI_TEMPLATE", "Template");
        SUMMARY_LABELS.put("PIDSI_LASTAUTHOR", "Last saved by");
        SUMMARY_LABELS.put("PIDSI_REVNUMBER", "Revision");
        SUMMARY_LABELS.put("PIDSI_EDITTIME", "Editing time");
        SUMMARY_LABELS.put("PIDSI_LASTPRINTED", "Last printed");
        SUMMARY_LABELS.put("PIDSI_CREATE_DTM", "Created");
        SUMMARY_LABELS.put("PIDSI_LASTSAVE_DTM", "Last saved");
        SUMMARY_LABELS.put("PIDSI_APPNAME", "Application");
    }

    private static final String USAGE = String.join("\n",
            "usage: docprops COMMAND FILE [ARGUMENTS]",
            "",
            "Shows and changes the properties of .doc, .xls and .ppt documents (binary format).",
            "",
            "commands:",
            "  show FILE [--all]          summary information and user-defined properties",
            "                             (--all also lists the tracking properties)",
            "  set FILE NAME=VALUE ...    set user-defined text properties",
            "  delete FILE NAME ...       delete user-defined properties",
            "  track FILE [--document-id ID] [--author NAME]",
            "                             start tracking: write a first version record and the save marks",
            "  history FILE               the tracking record: ids, sequence number, author, versions",
            "  check FILE                 the straggler check: was the document saved outside the client?",
            "                             A new version is recorded when it was.",
            "  --help                     this text",
            "",
            "exit codes: 0 done, 1 failed, 2 wrong arguments, 3 no such file,",
            "            4 not a compound document, 5 locked by another program");

    private final PrintStream out;
    private final PrintStream err;

    public DocProps(PrintStream out, PrintStream err) {
        this.out = out;
        this.err = err;
    }

    public static void main(String[] args) {
        PrintStream out = new PrintStream(System.out, true, StandardCharsets.UTF_8);
        PrintStream err = new PrintStream(System.err, true, StandardCharsets.UTF_8);
        System.exit(new DocProps(out, err).run(args));
    }

    /** Runs one command; answers the exit code. */
    public int run(String... args) {
        if (args.length == 0) {
            err.println(USAGE);
            return DocumentError.EXIT_USAGE;
        }
        if (args[0].equals("--help") || args[0].equals("-h") || args[0].equals("help")) {
            out.println(USAGE);
            return 0;
        }
        try {
            if (args.length < 2) {
                throw usage("'" + args[0] + "' needs a FILE");
            }
            Path file = Paths.get(args[1]);
            List<String> rest = List.of(args).subList(2, args.length);
            switch (args[0]) {
                case "show":
                    show(file, options(rest, "--all").contains("--all"));
                    break;
                case "set":
                    set(file, rest);
                    break;
                case "delete":
                    delete(file, rest);
                    break;
                case "track":
                    track(file, rest);
                    break;
                case "history":
                    options(rest);
                    history(file);
                    break;
                case "check":
                    options(rest);
                    return check(file);
                default:
                    throw usage("unknown command '" + args[0] + "'");
            }
            return 0;
        } catch (DocumentError e) {
            err.println("docprops: " + e.getMessage());
            if (e.exitCode == DocumentError.EXIT_USAGE) {
                err.println("Try 'docprops --help'.");
            }
            return e.exitCode;
        }
    }

    private static DocumentError usage(String message) {
        return new DocumentError(DocumentError.EXIT_USAGE, message);
    }

    /** Checks that rest holds only the allowed flags; answers them. */
    private static List<String> options(List<String> rest, String... allowed) throws DocumentError {
        for (String arg : rest) {
            if (!List.of(allowed).contains(arg)) {
                throw usage("unexpected argument '" + arg + "'");
            }
        }
        return rest;
    }

    // ---- Native calls ---------------------------------------------------------

    /** User-defined properties; empty when the document has none. */
    static Properties readUser(Path file, boolean checkTripwire) throws DocumentError {
        return read(file, (path, p) -> Win32Impl.getCompoundDocumentUserProperties(path, p, checkTripwire));
    }

    static Properties readSummary(Path file) throws DocumentError {
        return read(file, Win32Impl::getCompoundDocumentSummaryProperties);
    }

    /** What one native reader puts into new properties; empty when the set it reads is missing (S_FALSE). */
    private static Properties read(Path file, ToIntBiFunction<String, Properties> reader) throws DocumentError {
        DocumentError.requireFile(file);
        Properties p = new Properties();
        int hr = reader.applyAsInt(file.toString(), p);
        if (hr != 0 && hr != S_FALSE) {
            throw DocumentError.fromResult(file, hr);
        }
        return p;
    }

    static void write(Path file, Properties p) throws DocumentError {
        DocumentError.requireFile(file);
        int hr = Win32Impl.setCompoundDocumentUserProperties(file.toString(), p);
        if (hr != 0) {
            throw DocumentError.fromResult(file, hr);
        }
    }

    // ---- Commands -------------------------------------------------------------

    private void show(Path file, boolean all) throws DocumentError {
        Properties summary = readSummary(file);
        Properties user = readUser(file, false);
        out.println(file);
        out.println("Summary information:");
        if (summary.isEmpty()) {
            out.println("  (none)");
        }
        for (Map.Entry<String, String> label : SUMMARY_LABELS.entrySet()) {
            String value = summary.getProperty(label.getKey());
            if (value != null && !value.isEmpty()) {
                out.printf("  %-16s %s%n", label.getValue() + ":", displaySummary(label.getKey(), value));
            }
        }
        out.println("User-defined properties:");
        int hidden = 0;
        int shown = 0;
        for (String name : new TreeSet<>(user.stringPropertyNames())) {
            if (!all && TrackingRecord.isTrackingName(name)) {
                hidden++;
                continue;
            }
            out.printf("  %s = %s%n", name, user.getProperty(name));
            shown++;
        }
        if (shown == 0) {
            out.println("  (none)");
        }
        if (hidden > 0) {
            out.printf("Tracking: %d tracking properties hidden (docprops history %s, or show --all)%n", hidden, file);
        }
    }

    private static String displaySummary(String name, String value) {
        if (name.equals("PIDSI_EDITTIME")) {
            return editingTime(value);
        }
        if (name.endsWith("_DTM") || name.equals("PIDSI_LASTPRINTED")) {
            return value.trim() + " UTC";
        }
        return value;
    }

    /** The editing time is a duration stored as a time after 1601-01-01. */
    private static String editingTime(String value) {
        try {
            java.time.LocalDateTime t = java.time.LocalDateTime.parse(value.trim());
            long seconds = java.time.Duration.between(java.time.LocalDateTime.of(1601, 1, 1, 0, 0), t).getSeconds();
            return String.format("%d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
        } catch (java.time.format.DateTimeParseException e) {
            return value;
        }
    }

    private void set(Path file, List<String> assignments) throws DocumentError {
        if (assignments.isEmpty()) {
            throw usage("'set' needs at least one NAME=VALUE");
        }
        Properties p = new Properties();
        for (String assignment : assignments) {
            int eq = assignment.indexOf('=');
            if (eq <= 0) {
                throw usage("'" + assignment + "' is not NAME=VALUE");
            }
            String value = assignment.substring(eq + 1);
            if (value.equals(DELETE_MARKER)) {
                throw usage("the value " + DELETE_MARKER + " deletes; use 'docprops delete'");
            }
            p.setProperty(assignment.substring(0, eq), value);
        }
        int count = p.size();
        write(file, p);
        out.printf("%s: set %d propert%s%n", file, count, count == 1 ? "y" : "ies");
    }

    private void delete(Path file, List<String> names) throws DocumentError {
        if (names.isEmpty()) {
            throw usage("'delete' needs at least one NAME");
        }
        Properties before = readUser(file, false);
        Properties p = new Properties();
        List<String> missing = new ArrayList<>();
        for (String name : names) {
            p.setProperty(name, DELETE_MARKER);
            if (before.getProperty(name) == null) {
                missing.add(name);
            }
        }
        write(file, p);
        int deleted = new TreeSet<>(names).size() - new TreeSet<>(missing).size();
        out.printf("%s: deleted %d propert%s%n", file, deleted, deleted == 1 ? "y" : "ies");
        if (!missing.isEmpty()) {
            out.println("  not present (or not text): " + String.join(", ", missing));
        }
    }

    private void track(Path file, List<String> args) throws DocumentError {
        String documentId = null;
        String author = System.getProperty("user.name", "");
        for (int i = 0; i < args.size(); i++) {
            String arg = args.get(i);
            if ((arg.equals("--document-id") || arg.equals("--author")) && i + 1 < args.size()) {
                if (arg.equals("--document-id")) {
                    documentId = args.get(++i);
                } else {
                    author = args.get(++i);
                }
            } else {
                throw usage("unexpected argument '" + arg + "'");
            }
        }
        Properties current = readUser(file, false);
        TrackingRecord existing = TrackingRecord.read(current);
        if (existing != null) {
            throw new DocumentError(DocumentError.EXIT_FAILURE,
                    file + ": already tracked (document id " + existing.documentId + ")");
        }
        if (documentId == null || documentId.isEmpty()) {
            documentId = newIdentifier();
        }
        String e = newIdentifier();
        String versionId = newIdentifier();
        Properties record = new Properties();
        record.setProperty(TrackingRecord.EXTENDED_VERSION_ID, e);
        record.setProperty(TrackingRecord.key("MetadataVersion", e), "1.2");
        record.setProperty(TrackingRecord.key("DocumentId", e), documentId);
        record.setProperty(TrackingRecord.key("MasterDocumentId", e), documentId);
        record.setProperty(TrackingRecord.key("VersionId", e), versionId);
        record.setProperty(TrackingRecord.key("SequenceNumber", e), "0");
        record.setProperty(TrackingRecord.key("AuthorId", e), author);
        if (current.getProperty(TrackingRecord.UNTRACKED) != null) {
            record.setProperty(TrackingRecord.UNTRACKED, DELETE_MARKER);
        }
        write(file, record);
        out.printf("%s: now tracked as document %s, version %s (sequence number 0); save marks laid%n", file,
                documentId, versionId);
    }

    /** 22 characters of unpadded Base64 over 16 random bytes, as the library's identifiers. */
    private static String newIdentifier() {
        byte[] bytes = new byte[16];
        new SecureRandom().nextBytes(bytes);
        return Base64.getEncoder().withoutPadding().encodeToString(bytes);
    }

    private void history(Path file) throws DocumentError {
        Properties user = readUser(file, false);
        TrackingRecord record = TrackingRecord.read(user);
        if (record == null) {
            out.println(file + ": no tracking record" + (TrackingRecord.isUntracked(user) ? " (marked untracked)" : ""));
            return;
        }
        out.println("Tracking record of " + file);
        out.printf("  %-20s %s%n", "Document id:", orNone(record.documentId));
        out.printf("  %-20s %s%n", "Master document id:", orNone(record.masterDocumentId));
        out.printf("  %-20s %s%n", "Version id:", orNone(record.versionId));
        out.printf("  %-20s %s%n", "Sequence number:", orNone(record.sequenceNumber));
        out.printf("  %-20s %s%n", "Author:", record.authorId == null || record.authorId.isEmpty()
                ? "(none: recorded by the straggler check)" : record.authorId);
        out.printf("  %-20s %s%s%n", "Metadata version:", record.metadataVersion == null ? "1.0" : record.metadataVersion,
                record.isCurrent() ? "" : " (older than 1.2: not tracked by the library)");
        out.printf("  %-20s %s%n", "Record id:", record.extendedVersionId);
        printList("Unratified versions:", record.unratifiedVersionIds);
        printList("Contributors:", record.contributors);
        out.printf("  %-20s %s%n", "Save marks:", marks(user));
    }

    private void printList(String label, List<String> items) {
        out.printf("  %-20s %s%n", label, items.isEmpty() ? "none" : String.valueOf(items.size()));
        for (int i = 0; i < items.size(); i++) {
            out.printf("  %20s %d. %s%n", "", i + 1, items.get(i));
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
        return value == null || value.isEmpty() ? "(missing)" : value;
    }

    /** Runs the straggler check and tells what it found and did, from the record before and after. */
    private int check(Path file) throws DocumentError {
        String name = file.getFileName() == null ? "" : file.getFileName().toString().toLowerCase(Locale.ROOT);
        Properties before = readUser(file, false);
        if (!(name.endsWith(".doc") || name.endsWith(".xls") || name.endsWith(".ppt"))) {
            out.println(file + ": not checked: only .doc, .xls and .ppt documents are checked");
            return 0;
        }
        Properties summary = readSummary(file);
        Properties seen = readUser(file, true);
        Properties after = readUser(file, false);
        TrackingRecord old = TrackingRecord.read(before);
        TrackingRecord found = TrackingRecord.read(seen);
        TrackingRecord stored = TrackingRecord.read(after);

        if (old != null && found != null && !old.extendedVersionId.equals(found.extendedVersionId)) {
            out.println(file + ": straggler: saved outside the client");
            describeMismatch(before, summary);
            out.printf("  new version: sequence number %s, version id (the tripwire) %s%n", found.sequenceNumber,
                    found.versionId);
            if (stored != null && Objects.equals(stored.extendedVersionId, found.extendedVersionId)) {
                out.println("  recorded in the document; save marks renewed");
            } else {
                out.println("  the document is open in another program: the new version was not written to it,"
                        + " and the check will find it again");
            }
            return 0;
        }
        if (old == null) {
            out.println(file + ": not tracked" + (TrackingRecord.isUntracked(before) ? " (marked untracked)" : "")
                    + ": nothing to check");
            return 0;
        }
        String mark = before.getProperty(TrackingRecord.SORREL_SAVE);
        String markBy = before.getProperty(TrackingRecord.LAST_SAVED_BY);
        if (mark == null && markBy == null) {
            out.println(file + ": no save marks (never saved through the client): nothing to compare");
            return 0;
        }
        if (differs(mark, summary.getProperty("PIDSI_LASTSAVE_DTM"))
                || differs(markBy, summary.getProperty("PIDSI_LASTAUTHOR"))) {
            out.println(file + ": saved outside the client, but no new version could be recorded");
            describeMismatch(before, summary);
            if (!old.isCurrent()) {
                out.println("  the record's metadata version is older than 1.2");
            }
            return DocumentError.EXIT_FAILURE;
        }
        out.println(file + ": not a straggler: the save marks match the last save ("
                + marks(before).replace("last saved ", "") + ")");
        return 0;
    }

    private static boolean differs(String mark, String current) {
        return mark != null && current != null && !mark.trim().equals(current.trim());
    }

    private void describeMismatch(Properties before, Properties summary) {
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
}
