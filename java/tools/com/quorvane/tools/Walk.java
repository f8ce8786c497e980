package com.quorvane.tools;

import java.io.IOException;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemLoopException;
import java.nio.file.FileVisitOption;
import java.nio.file.FileVisitResult;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.SimpleFileVisitor;
import java.nio.file.attribute.BasicFileAttributes;
import java.util.EnumSet;
import java.util.List;

/**
 * The files that docprops' arguments name: each FILE as given, and the
 * files in each FOLDER (with recurse, in its folders too, following
 * symbolic links and passing over a loop once). Streams entries in the
 * order the file system lists them and holds only the folders being walked,
 * so a share of any size walks in bounded memory.
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
        try {
            Files.walkFileTree(root, EnumSet.of(FileVisitOption.FOLLOW_LINKS), recurse ? Integer.MAX_VALUE : 1,
                    new SimpleFileVisitor<>() {
                        @Override
                        public FileVisitResult visitFile(Path file, BasicFileAttributes attributes) {
                            if (attributes.isRegularFile()) {
                                visitor.file(file, false);
                            } else if (!attributes.isDirectory()) { // folders beyond the depth are not walked
                                visitor.skipped(file, notRegular(file, attributes));
                            }
                            return FileVisitResult.CONTINUE;
                        }

                        @Override
                        public FileVisitResult visitFileFailed(Path file, IOException e) {
                            report(file, e, visitor);
                            return FileVisitResult.CONTINUE;
                        }

                        @Override
                        public FileVisitResult postVisitDirectory(Path dir, IOException e) {
                            if (e != null) { // the folder could not be listed to its end
                                report(dir, e, visitor);
                            }
                            return FileVisitResult.CONTINUE;
                        }
                    });
        } catch (IOException e) { // the visitor never fails the walk; this is the root itself
            report(root, e, visitor);
        }
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
