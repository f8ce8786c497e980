package com.quorvane.tools;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.io.BufferedOutputStream;
import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.SecureRandom;
import java.util.ArrayList;
import java.util.Base64;
import java.util.List;
import java.util.Locale;
import java.util.Properties;

/**
 * docprops: shows and changes the properties of Word, Excel and PowerPoint
 * documents of the binary format (.doc, .xls, .ppt) through the native
 * library, and runs its straggler check over files and whole folders. One
 * command per run; not thread-safe (it owns its output streams for the run).
 */
public final class DocProps {
    private static final int S_FALSE = 1;

    private static final String USAGE = String.join("\n",
            "usage: docprops COMMAND [OPTIONS] PATH...",
            "",
            "Shows and changes the properties of .doc, .xls and .ppt documents (binary format).",
            "",
            "read commands, over any number of files and folders (a folder's files; with -r, all below it):",
            "  show PATH... [--all] [--base64]",
            "                             summary information and user-defined properties, each with its",
            "                             type (--all also lists the tracking properties; binary data is",
            "                             told by length and SHA-256, with --base64 in full)",
            "  history PATH...            the tracking record: ids, sequence number, author, versions",
            "  check PATH... [--read-only]",
            "                             the straggler check: was the document saved outside the client?",
            "                             A new version is recorded when it was; with --read-only the",
            "                             check only tells, and nothing is written.",
            "  -r                         walk folders to any depth",
            "  --json                     one JSON object per file, one per line",
            "  -j N                       read on N threads (default: two per processor)",
            "  --                         the arguments after it are paths",
            "",
            "Files are told in the order of the arguments, a folder's sorted by path (as LC_ALL=C sort).",
            "In a folder, files of other formats are skipped (their format named); a document that",
            "cannot be read (damaged, empty, locked) fails. In text output a path, name or value that",
            "holds a control character, starts or ends with a blank, or starts with '\"' is shown in",
            "double quotes with backslash escapes (\\n, \\t, \\\", \\\\, \\uXXXX).",
            "",
            "change commands:",
            "  set FILE NAME=VALUE ...    set user-defined properties of one document: a number, boolean or",
            "                             date keeps its type (refused when VALUE is none); --type TYPE",
            "                             writes text, int16, uint16, int32, uint32, int64, uint64, float,",
            "                             double, boolean or date",
            "  set NAME=VALUE ... -- PATH...",
            "                             the same, in every document the PATHs name (-r, --json, -j N",
            "                             as above; in a folder only files named .doc, .xls, .ppt, ...)",
            "                             A VALUE @FILE is the text of FILE (UTF-8); @@ starts one with @.",
            "  delete FILE NAME ...       delete user-defined properties of one document",
            "  delete NAME ... -- PATH... the same, in every document the PATHs name",
            "  apply [-j N] [FILE]        changes read as JSON Lines (from standard input without FILE),",
            "                             a document a line: {\"path\":P,\"set\":{NAME:VALUE},\"delete\":[NAME]};",
            "                             one JSON result a line, in the input's order",
            "  track FILE [--document-id ID] [--author NAME]",
            "                             start tracking: write a first version record and the save marks",
            "",
            "  --version                  the version of docprops",
            "  --help                     this text",
            "",
            "exit codes: 0 done, 1 failed, 2 wrong arguments, 3 no such file,",
            "            4 not a compound document, 5 locked by another program,",
            "            6 damaged or empty document; over several files, the failures' code when",
            "            all are of one kind, else 1 (skipped files are no failures);",
            "            141 the reader of standard output went away (nothing more is written)");

    private final PrintStream out;
    private final PrintStream err;
    private final boolean errIsTerminal;
    private final boolean outIsTerminal;

    /** Over these streams, which are no terminal (no progress line) and take UTF-8 (documents are written as bytes). */
    public DocProps(PrintStream out, PrintStream err) {
        this(out, err, false, false);
    }

    private DocProps(PrintStream out, PrintStream err, boolean errIsTerminal, boolean outIsTerminal) {
        this.out = out;
        this.err = err;
        this.errIsTerminal = errIsTerminal;
        this.outIsTerminal = outIsTerminal;
    }

    public static void main(String[] args) {
        boolean outIsTerminal = Progress.isTerminal(1);
        // Into a pipe or a file, lines leave in blocks rather than one write each; a terminal sees each at once.
        PrintStream out = new PrintStream(new BufferedOutputStream(new GuardedOutput(
                new FileOutputStream(FileDescriptor.out)), 1 << 16), outIsTerminal, StandardCharsets.UTF_8);
        PrintStream err = new PrintStream(new FileOutputStream(FileDescriptor.err), true, StandardCharsets.UTF_8);
        int code;
        try {
            code = new DocProps(out, err, Progress.isTerminal(2), outIsTerminal).run(args);
            out.flush();
        } catch (GuardedOutput.Lost e) { // the run stopped at the first write that failed
            code = e.report(err);
        }
        System.exit(code);
    }

    /** Runs one command; answers the exit code (1 when not all of its output could be written). */
    public int run(String... args) {
        int code = command(args);
        if (out.checkError()) {
            err.println("docprops: standard output: write failed; the output is incomplete");
            return DocumentError.EXIT_FAILURE;
        }
        return code;
    }

    private int command(String... args) {
        if (args.length == 0) {
            err.println(USAGE);
            return DocumentError.EXIT_USAGE;
        }
        if (args[0].equals("--help") || args[0].equals("-h") || args[0].equals("help")) {
            out.println(USAGE);
            return 0;
        }
        if (args[0].equals("--version")) {
            String version = DocProps.class.getPackage().getImplementationVersion();
            out.println("docprops " + (version != null ? version : "(development build: no version recorded)"));
            return 0;
        }
        try {
            List<String> rest = List.of(args).subList(1, args.length);
            switch (args[0]) {
                case "show":
                    return read(ReadCommand.Kind.SHOW, rest, "--all");
                case "history":
                    return read(ReadCommand.Kind.HISTORY, rest);
                case "check":
                    return read(ReadCommand.Kind.CHECK, rest, "--read-only");
                case "set":
                    return change(ChangeCommand.parse(false, rest));
                case "delete":
                    return change(ChangeCommand.parse(true, rest));
                case "apply":
                    return ApplyCommand.run(rest, out, err);
                case "track":
                    track(file(args), rest.subList(1, rest.size()));
                    return 0;
                default:
                    throw usage("unknown command '" + args[0] + "'");
            }
        } catch (DocumentError error) {
            DocumentError e = error.unreadable() && args.length > 1 ? Diagnosis.explain(Paths.get(args[1]), error, null)
                    : error;
            err.println("docprops: " + e.getMessage());
            if (e.exitCode == DocumentError.EXIT_USAGE) {
                err.println("Try 'docprops --help'.");
            }
            return e.exitCode;
        }
    }

    private static Path file(String[] args) throws DocumentError {
        if (args.length < 2) {
            throw usage("'" + args[0] + "' needs a FILE");
        }
        Path file = Paths.get(args[1]);
        DocumentError.requireFile(file);
        return file;
    }

    /** A read command over the paths among args, with the options every read command takes and its own flag. */
    private int read(ReadCommand.Kind kind, List<String> args, String... flags) throws DocumentError {
        List<Path> paths = new ArrayList<>();
        boolean recurse = false;
        boolean json = false;
        boolean flag = false;
        boolean base64 = false;
        int jobs = defaultJobs();
        boolean pathsOnly = false;
        for (int i = 0; i < args.size(); i++) {
            String arg = args.get(i);
            if (pathsOnly || !arg.startsWith("-") || arg.equals("-")) {
                paths.add(Paths.get(arg));
            } else if (arg.equals("--")) {
                pathsOnly = true;
            } else if (arg.equals("-r")) {
                recurse = true;
            } else if (arg.equals("--json")) {
                json = true;
            } else if (arg.startsWith("-j")) {
                jobs = jobs(arg.length() > 2 ? arg.substring(2) : i + 1 < args.size() ? args.get(++i) : "");
            } else if (List.of(flags).contains(arg)) {
                flag = true;
            } else if (arg.equals("--base64") && kind == ReadCommand.Kind.SHOW) {
                base64 = true;
            } else {
                throw usage("unexpected argument '" + arg + "'");
            }
        }
        if (paths.isEmpty()) {
            throw usage("'" + kind.name().toLowerCase(Locale.ROOT) + "' needs a FILE or FOLDER");
        }
        ReadCommand command = new ReadCommand(kind, flag && kind == ReadCommand.Kind.SHOW, json,
                flag && kind == ReadCommand.Kind.CHECK, base64);
        boolean several = paths.size() > 1 || Walk.anyFolder(paths);
        Progress progress = several && errIsTerminal ? new Progress(err, outIsTerminal) : null;
        return new Batch(command, jobs, out, err, progress).run(paths, recurse, several);
    }

    static DocumentError usage(String message) {
        return new DocumentError(DocumentError.EXIT_USAGE, message);
    }

    /** Twice the processors: a thread waiting for the disk leaves its processor to another. */
    static int defaultJobs() {
        return 2 * Runtime.getRuntime().availableProcessors();
    }

    /** The number of threads -j asks for. */
    static int jobs(String n) throws DocumentError {
        int jobs;
        try {
            jobs = Integer.parseInt(n);
        } catch (NumberFormatException e) {
            jobs = 0;
        }
        if (jobs < 1 || jobs > 1024) {
            throw usage("-j needs a number of threads from 1 to 1024, not '" + n + "'");
        }
        return jobs;
    }

    /** set or delete over the documents the arguments name. */
    private int change(ChangeCommand.Parsed p) {
        boolean several = p.paths().size() > 1 || Walk.anyFolder(p.paths());
        Progress progress = several && errIsTerminal ? new Progress(err, outIsTerminal) : null;
        return new Batch(p.command(), p.jobs(), out, err, progress).run(p.paths(), p.recurse(), several);
    }

    // ---- Native calls ---------------------------------------------------------

    /** Properties for a native reader to fill: a tracked document's set fits without growing the table. */
    static Properties newProperties() {
        return new Properties(24);
    }

    /** Fails unless a native reader's result is success or S_FALSE (the set it reads is missing: none read). */
    static void check(Path file, int hr) throws DocumentError {
        if (hr != 0 && hr != S_FALSE) {
            throw DocumentError.fromResult(file, hr);
        }
    }

    static void write(Path file, Properties p) throws DocumentError {
        int hr = Win32Impl.setCompoundDocumentUserProperties(file.toString(), p);
        if (hr != 0) {
            throw DocumentError.fromResult(file, hr);
        }
    }

    // ---- Commands -------------------------------------------------------------

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
        Properties current = ReadCommand.readUser(file, false);
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
            record.setProperty(TrackingRecord.UNTRACKED, ChangeCommand.DELETE_MARKER);
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
}
