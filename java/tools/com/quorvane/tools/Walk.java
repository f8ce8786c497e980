package com.quorvane.tools;

import java.io.IOException;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.nio.file.AccessDeniedException;
import java.nio.file.DirectoryIteratorException;
import java.nio.file.DirectoryStream;
import java.nio.file.FileSystemLoopException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.BasicFileAttributes;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;

/**
 * The files that docprops' arguments name: each FILE as given, and the
 * files in each FOLDER (with recurse, in its folders too, following
 * symbolic links and passing over a loop once), sorted by path. Holds
 * only the listings of the folders being walked, so a share of any size
 * walks in memory bounded by its largest folder.
 */
final class Walk {
    /** What the walk found at one path. */
    interface Visitor {
        /** A file to read; named is true for a FILE argument (which must then be a readable document). */
        void file(Path path, boolean named);

        /** Found and not read, for the reason given (a FIFO, a link loop, ...). */
        void skipped(Path path, String reason);

        /** Could not be walked or read; the walk goes on. */
        void failed(Path path, DocumentError error);
    }

    private Walk() {
    }

    static void walk(List<Path> arguments, boolean recurse, Visitor visitor) {
        for (Path argument : arguments) {
            if (Files.isDirectory(argument)) {
                folder(argument, recurse, visitor);
            } else if (Files.exists(argument) || Files.isSymbolicLink(argument)) {
                visitor.file(argument, true);
            } else {
                visitor.failed(argument, new DocumentError(DocumentError.EXIT_MISSING, argument + ": no such file"));
            }
        }
    }

    /** Whether any argument is a folder: then the run is over several documents. */
    static boolean anyFolder(List<Path> arguments) {
        for (Path argument : arguments) {
            if (Files.isDirectory(argument)) {
                return true;
            }
        }
        return false;
    }

    /**
     * Counts the files a walk would offer, for the progress line: one more
     * pass over the folders (which the real walk then finds in the cache),
     * rather than holding a list of every file.
     */
    static long count(List<Path> arguments, boolean recurse) {
        long[] n = {0};
        walk(arguments, recurse, new Visitor() {
            @Override
            public void file(Path path, boolean named) {
                n[0]++;
            }

            @Override
            public void skipped(Path path, String reason) {
            }

            @Override
            public void failed(Path path, DocumentError error) {
            }
        });
        return n[0];
    }

    private static void folder(Path root, boolean recurse, Visitor visitor) {
        BasicFileAttributes attributes;
        try {
            attributes = Files.readAttributes(root, BasicFileAttributes.class);
        } catch (IOException e) {
            report(root, e, visitor);
            return;
        }
        List<Object> open = new ArrayList<>();
        open.add(attributes.fileKey());
        folder(root, recurse, open, visitor);
    }

    /** A folder's entry: its attributes (the link's target's), or why they could not be read; key: its sort key. */
    private record Entry(Path path, String key, BasicFileAttributes attributes, IOException error) {
    }

    /**
     * Tells a folder's entries sorted by path, as `LC_ALL=C sort` sorts the
     * paths: by code point of their names, a subfolder's entries where its
     * name followed by '/' falls. So every file system, whatever order it
     * lists in, gives the same order. open: the identities of the folders
     * being walked, to pass over a link back to one.
     */
    private static void folder(Path dir, boolean recurse, List<Object> open, Visitor visitor) {
        List<Entry> entries = new ArrayList<>();
        IOException unfinished = null;
        try (DirectoryStream<Path> listing = Files.newDirectoryStream(dir)) {
            for (Path path : listing) {
                String name = path.getFileName().toString();
                try {
                    BasicFileAttributes attributes = Files.readAttributes(path, BasicFileAttributes.class);
                    entries.add(new Entry(path, attributes.isDirectory() ? name + "/" : name, attributes, null));
                } catch (IOException e) {
                    entries.add(new Entry(path, name, null, e));
                }
            }
        } catch (DirectoryIteratorException e) { // what was listed is still walked; then the folder is told
            unfinished = e.getCause();
        } catch (IOException e) {
            report(dir, e, visitor);
            return;
        }
        entries.sort(BY_PATH);
        for (Entry entry : entries) {
            BasicFileAttributes attributes = entry.attributes;
            if (attributes == null) {
                entry(entry.path, entry.error, visitor);
            } else if (attributes.isRegularFile()) {
                visitor.file(entry.path, false);
            } else if (!attributes.isDirectory()) {
                visitor.skipped(entry.path, notRegular(entry.path, attributes));
            } else if (recurse) {
                Object key = attributes.fileKey();
                if (key != null && open.contains(key)) {
                    visitor.skipped(entry.path, "a symbolic-link loop: this folder is already being walked");
                    continue;
                }
                open.add(key);
                folder(entry.path, true, open, visitor);
                open.remove(open.size() - 1);
            }
        }
        if (unfinished != null) {
            report(dir, unfinished, visitor);
        }
    }

    /** By code point (for names of valid text, the order of their UTF-8 bytes), then by the name's own order. */
    private static final Comparator<Entry> BY_PATH = new Comparator<>() {
        @Override
        public int compare(Entry a, Entry b) {
            String x = a.key;
            String y = b.key;
            int i = 0;
            int j = 0;
            while (i < x.length() && j < y.length()) {
                int cx = x.codePointAt(i);
                int cy = y.codePointAt(j);
                if (cx != cy) {
                    return Integer.compare(cx, cy);
                }
                i += Character.charCount(cx);
                j += Character.charCount(cy);
            }
            int byLength = Integer.compare(x.length() - i, y.length() - j);
            return byLength != 0 ? byLength : a.path.compareTo(b.path);
        }
    };

    /** An entry whose target could not be reached: a link to nothing is passed over, anything else told. */
    private static void entry(Path entry, IOException e, Visitor visitor) {
        try {
            if (Files.readAttributes(entry, BasicFileAttributes.class, LinkOption.NOFOLLOW_LINKS).isSymbolicLink()
                    && e instanceof NoSuchFileException) {
                visitor.skipped(entry, "a symbolic link to a missing file");
                return;
            }
        } catch (IOException gone) {
            report(entry, gone, visitor);
            return;
        }
        report(entry, e, visitor);
    }

    private static String notRegular(Path file, BasicFileAttributes attributes) {
        if (attributes.isSymbolicLink()) { // following it failed: a link to nothing
            return "a symbolic link to a missing file";
        }
        try {
            Object mode = Files.getAttribute(file, "unix:mode");
            switch ((Integer) mode & 0170000) {
                case 0010000:
                    return "not a regular file (a FIFO)";
                case 0140000:
                    return "not a regular file (a socket)";
                case 0020000:
                case 0060000:
                    return "not a regular file (a device)";
                default:
                    break;
            }
        } catch (IOException | UnsupportedOperationException | IllegalArgumentException e) {
            // the kind is only for the message
        }
        return "not a regular file";
    }

    private static void report(Path path, IOException e, Visitor visitor) {
        if (e instanceof FileSystemLoopException) {
            visitor.skipped(path, "a symbolic-link loop: this folder is already being walked");
        } else if (e instanceof NoSuchFileException) {
            visitor.skipped(path, "removed during the walk");
        } else if (e instanceof AccessDeniedException) {
            visitor.failed(path, new DocumentError(DocumentError.EXIT_FAILURE, path + ": permission denied"));
        } else {
            visitor.failed(path, new DocumentError(DocumentError.EXIT_FAILURE, path + ": " + e.getMessage()));
        }
    }

    /**
     * Whether a name that does not survive decoding always decodes with
     * U+FFFD in it: so in UTF-8, Latin-1 and ASCII, the encodings of nearly
     * every locale. A name without it then needs no trip back to bytes.
     */
    private static final boolean LOSS_SHOWS = lossShows();

    private static boolean lossShows() {
        try {
            Charset c = Charset.forName(System.getProperty("sun.jnu.encoding", ""));
            return c.equals(StandardCharsets.UTF_8) || c.equals(StandardCharsets.ISO_8859_1)
                    || c.equals(StandardCharsets.US_ASCII);
        } catch (IllegalArgumentException e) {
            return false;
        }
    }

    /**
     * Whether the library can be given this path: a name that is not valid
     * text in the locale's encoding does not survive the trip through a Java
     * string, and the library would be asked about another file.
     */
    static boolean nameable(Path path) {
        if (LOSS_SHOWS && path.toString().indexOf('\uFFFD') < 0) {
            return true;
        }
        try {
            return Paths.get(path.toString()).equals(path);
        } catch (java.nio.file.InvalidPathException e) {
            return false;
        }
    }
}
