package com.quorvane.tools;

import java.io.IOException;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Properties;

/**
 * set and delete over any number of documents: the same changes to each,
 * told one line (or JSON object) per document. Immutable; applied on any
 * number of threads at once.
 */
final class ChangeCommand implements Batch.Task {
    /** The value the library reads as "delete this property". */
    static final String DELETE_MARKER = "##DEL##";

    /** What the arguments of set or delete asked for. */
    record Parsed(ChangeCommand command, List<Path> paths, boolean recurse, int jobs) {
    }

    /** Names to values to set, or to DELETE_MARKER to delete, in the order given. */
    private final Map<String, String> changes;
    private final boolean json;
    /** The type --type asked every value to be written as, or -1: each keeps its property's type. */
    private final int type;

    ChangeCommand(Map<String, String> changes, boolean json) {
        this(changes, json, -1);
    }

    ChangeCommand(Map<String, String> changes, boolean json, int type) {
        this.changes = changes;
        this.json = json;
        this.type = type;
    }

    /**
     * Parses `set [OPTIONS] FILE NAME=VALUE...` or `set [OPTIONS]
     * NAME=VALUE... -- PATH...` (and delete's, with NAMEs).
     */
    static Parsed parse(boolean delete, List<String> args) throws DocumentError {
        String command = delete ? "delete" : "set";
        List<String> positional = new ArrayList<>();
        List<Path> paths = new ArrayList<>();
        boolean recurse = false;
        boolean json = false;
        int jobs = DocProps.defaultJobs();
        int type = -1;
        boolean separated = false;
        for (int i = 0; i < args.size(); i++) {
            String arg = args.get(i);
            if (separated) {
                paths.add(Paths.get(arg));
            } else if (arg.equals("--")) {
                separated = true;
            } else if (arg.equals("-r")) {
                recurse = true;
            } else if (arg.equals("--json")) {
                json = true;
            } else if (arg.startsWith("-j")) {
                jobs = DocProps.jobs(arg.length() > 2 ? arg.substring(2) : i + 1 < args.size() ? args.get(++i) : "");
            } else if (arg.equals("--type") && !delete) {
                String name = i + 1 < args.size() ? args.get(++i) : "";
                type = ValueFormat.writable(name);
                if (type < 0) {
                    throw DocProps.usage("--type takes one of " + ValueFormat.writableTypes() + ", not '" + name + "'");
                }
            } else {
                positional.add(arg);
            }
        }
        if (!separated && !positional.isEmpty()) { // the single-document form: FILE first
            Path file = Paths.get(positional.remove(0));
            if (Files.isDirectory(file)) { // a slip of the hand must not change a whole folder
                throw DocProps.usage("'" + command + " FILE ...' changes one document; give a folder after '--'");
            }
            paths.add(file);
        }
        if (paths.isEmpty()) {
            throw DocProps.usage("'" + command + "' needs a FILE");
        }
        if (positional.isEmpty()) {
            throw DocProps.usage("'" + command + "' needs at least one " + (delete ? "NAME" : "NAME=VALUE"));
        }
        Map<String, String> changes = new LinkedHashMap<>();
        for (String change : positional) {
            if (delete) {
                changes.put(change, DELETE_MARKER);
                continue;
            }
            int eq = change.indexOf('=');
            if (eq <= 0) {
                throw DocProps.usage("'" + change + "' is not NAME=VALUE");
            }
            String value = value(change.substring(0, eq), change.substring(eq + 1));
            if (value.equals(DELETE_MARKER)) {
                throw DocProps.usage("the value " + DELETE_MARKER + " deletes; use 'docprops delete'");
            }
            changes.put(change.substring(0, eq), value);
        }
        return new Parsed(new ChangeCommand(changes, json, type), paths, recurse, jobs);
    }

    /**
     * A value as given, or, for @FILE, the text of that file (UTF-8): so a
     * value of any length, or with any characters, can be set. @@ stands
     * for a value that starts with @.
     */
    static String value(String name, String given) throws DocumentError {
        if (!given.startsWith("@")) {
            return given;
        }
        if (given.startsWith("@@")) {
            return given.substring(1);
        }
        Path file = Paths.get(given.substring(1));
        try {
            byte[] bytes = Files.readAllBytes(file);
            return StandardCharsets.UTF_8.newDecoder().onMalformedInput(CodingErrorAction.REPORT)
                    .onUnmappableCharacter(CodingErrorAction.REPORT).decode(java.nio.ByteBuffer.wrap(bytes))
                    .toString();
        } catch (NoSuchFileException e) {
            throw new DocumentError(DocumentError.EXIT_MISSING, file + ": no such file (the value of " + name + ")");
        } catch (CharacterCodingException e) {
            throw DocProps.usage(file + ": not UTF-8 text (the value of " + name + ")");
        } catch (IOException e) {
            throw new DocumentError(DocumentError.EXIT_FAILURE, file + ": " + e.getMessage() + " (the value of "
                    + name + ")");
        }
    }

    @Override
    public boolean json() {
        return json;
    }

    @Override
    public boolean separated() {
        return false;
    }

    @Override
    public String done(long documents, long tracked, long stragglers, long recorded) {
        return documents + " document" + (documents == 1 ? "" : "s") + " changed";
    }

    /** A folder's walk changes only files named as documents; other compound files (.msi, .msg) are left alone. */
    @Override
    public String passOver(Path file) {
        return Diagnosis.documentName(file) ? null : "not named as a document (.doc, .xls, .ppt): not changed";
    }

    @Override
    public ReadCommand.Outcome apply(Path file) throws DocumentError {
        TypedProperties.Set before = TypedProperties.read(file, false).user();
        DocProps.check(file, before.status());
        Properties p = new Properties();
        TypedProperties.Changes typed = new TypedProperties.Changes();
        List<String> set = new ArrayList<>();
        List<String> deleted = new ArrayList<>();
        List<String> absent = new ArrayList<>();
        boolean deletes = false;
        for (Map.Entry<String, String> change : changes.entrySet()) {
            String name = change.getKey();
            TypedProperties.Value old = before.get(name);
            if (change.getValue().equals(DELETE_MARKER)) {
                deletes = true;
                p.setProperty(name, DELETE_MARKER);
                (old != null ? deleted : absent).add(name);
                continue;
            }
            set.add(name);
            int vt = type >= 0 ? type : old == null || old.text() || old.vt() == TypedProperties.VT_EMPTY
                    ? TypedProperties.VT_LPSTR : old.vt();
            if (vt == TypedProperties.VT_LPSTR) {
                p.setProperty(name, change.getValue());
                continue;
            }
            Object value = ValueFormat.writable(vt) ? ValueFormat.parse(vt, change.getValue()) : null;
            if (value == null) { // nothing is written to this document
                throw new DocumentError(DocumentError.EXIT_FAILURE, file + ": " + name + " is "
                        + (type >= 0 ? "to be " : "") + ValueFormat.type(new TypedProperties.Value(name, vt, null,
                        null, 0)) + ", which '" + change.getValue() + "' is not"
                        + (type >= 0 ? "" : " (--type TYPE writes another type)"));
            }
            typed.put(name, vt, value);
        }
        // With typed values, the texts and deletions join them in one commit; only the library's text write
        // lays the save marks a tracking record brings in, so tracking names still take that path.
        boolean tracking = false;
        for (Object name : p.keySet()) {
            tracking |= TrackingRecord.isTrackingName((String) name);
        }
        if (!typed.isEmpty() && !tracking) {
            for (String name : p.stringPropertyNames()) {
                String value = p.getProperty(name);
                typed.put(name, TypedProperties.VT_LPWSTR, value.equals(DELETE_MARKER) ? null : value);
            }
            p.clear();
        }
        if (!typed.isEmpty()) {
            typed.write(file);
        }
        if (!p.isEmpty()) {
            DocProps.write(file, p);
        }
        String line;
        if (json) {
            Json j = new Json().open().name("schema").value(ReadCommand.SCHEMA).name("path").value(file.toString());
            if (!deletes || !set.isEmpty()) {
                j.name("set").value(set);
            }
            if (deletes) {
                j.name("deleted").value(deleted).name("notFound").value(absent);
            }
            line = j.close().toString();
        } else {
            line = TextEscape.of(file.toString()) + ":" + (!deletes || !set.isEmpty() ? " set " + count(set.size())
                    : "") + (!deletes ? "" : (set.isEmpty() ? "" : ";") + " deleted " + count(deleted.size())
                    + (deleted.isEmpty() ? "" : " (" + String.join(", ", TextEscape.all(deleted)) + ")")
                    + (absent.isEmpty() ? "" : System.lineSeparator()
                    + "  not found: " + String.join(", ", TextEscape.all(absent))));
        }
        line += System.lineSeparator();
        return new ReadCommand.Outcome(line.getBytes(StandardCharsets.UTF_8), false, false, false, 0);
    }

    private static String count(int n) {
        return n + " propert" + (n == 1 ? "y" : "ies");
    }
}
