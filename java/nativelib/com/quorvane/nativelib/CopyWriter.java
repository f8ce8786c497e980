package com.quorvane.nativelib;

import static com.quorvane.nativelib.LibraryCache.GROUP_OR_OTHER_WRITE;
import static com.quorvane.nativelib.LibraryCache.POSIX;
import static com.quorvane.nativelib.LibraryCache.S_IFMT;
import static com.quorvane.nativelib.LibraryCache.S_IFREG;
import static com.quorvane.nativelib.LibraryCache.ours;
import static com.quorvane.nativelib.LibraryCache.real;
import static com.quorvane.nativelib.LibraryCache.refused;
import static com.quorvane.nativelib.LibraryCache.uid;
import static java.nio.file.LinkOption.NOFOLLOW_LINKS;

import com.quorvane.nativelib.NativeLibrary.Platform;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.channels.Channels;
import java.nio.channels.FileChannel;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.NotDirectoryException;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.DigestInputStream;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.time.Duration;
import java.time.Instant;
import java.util.HexFormat;
import java.util.Map;

/**
 * Writes the cache's copies of the jar's libraries: under a temporary name in the copy's own folder, hashed in full
 * and renamed into place, so a JVM only ever sees a complete file; its identity is recorded beside it then. Removes
 * what interrupted runs left and the copies of other builds nobody uses. Only the first load of a build needs this.
 */
final class CopyWriter {
    /** A temporary file this old was left by a JVM that stopped while extracting. */
    private static final Duration ABANDONED = Duration.ofHours(1);
    /** A copy of another build unused this long is removed when a new one is written. */
    static final Duration UNUSED = Duration.ofDays(30);

    private CopyWriter() {
    }

    /** Makes file the jar's copy of the platform's library unless it holds it already (as it may, on Windows). */
    static void write(Platform platform, String sha256, Path folder, Path file) throws IOException {
        if (intact(file, sha256)) {
            return;
        }
        String musl = NativeLibrary.musl();
        if (musl != null) {
            throw new IOException(NativeLibrary.needsGlibc(platform, musl));
        }
        extract(platform, sha256, folder, file);
        prune(folder);
    }

    /** The cache's folder for the copy with this hash, made and checked; its real path. */
    static Path makeFolders(Path cache, String sha256, int uid) throws IOException {
        try {
            Files.createDirectories(cache, ownerOnly("rwx------"));
        } catch (IOException e) {
            throw refused(cache, "it cannot be made: " + describe(e));
        }
        Path quorvane = ours(real(makeFolder(real(cache, uid), "quorvane"), uid), uid);
        return ours(real(makeFolder(quorvane, sha256), uid), uid);
    }

    private static Path makeFolder(Path parent, String name) throws IOException {
        Path folder = parent.resolve(name);
        try {
            Files.createDirectory(folder, ownerOnly("rwx------"));
        } catch (FileAlreadyExistsException before) {
            // made before, or by another JVM just now; checked next
        }
        return folder;
    }

    /** What went wrong, with the path it concerns and the reason, which some exceptions leave out. */
    static String describe(IOException e) {
        if (e instanceof FileSystemException f && f.getFile() != null) {
            String reason = f.getReason() != null ? f.getReason()
                    : e instanceof AccessDeniedException ? "permission denied"
                    : e instanceof NoSuchFileException ? "no such file or folder"
                    : e instanceof FileAlreadyExistsException ? "something else is in the way"
                    : e instanceof NotDirectoryException ? "not a folder"
                    : e.getClass().getSimpleName();
            return f.getFile() + (f.getOtherFile() != null ? " -> " + f.getOtherFile() : "") + ": " + reason;
        }
        return e.getMessage();
    }

    /**
     * Records the identity of a copy that was just hashed in full: a symlink to it, which one system call reads
     * back, made under a temporary name and renamed into place.
     */
    private static void remember(Path file) throws IOException {
        Path record = LibraryCache.identityRecord(file);
        Path temporary = record.resolveSibling(record.getFileName() + "." + ProcessHandle.current().pid() + "."
                + System.nanoTime() + ".tmp");
        try {
            Files.createSymbolicLink(temporary, Path.of(LibraryCache.identity(file)));
            Files.move(temporary, record, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
        } finally {
            Files.deleteIfExists(temporary);
        }
    }

    /**
     * True when file holds the expected bytes and, on Linux, only its owner, this user, may change it; then its
     * identity is recorded, so that later loads need not hash it again.
     */
    private static boolean intact(Path file, String sha256) throws IOException {
        try {
            if (POSIX) {
                Map<String, Object> unix = Files.readAttributes(file, "unix:mode,uid", NOFOLLOW_LINKS);
                int mode = (Integer) unix.get("mode");
                if ((mode & S_IFMT) != S_IFREG || (mode & GROUP_OR_OTHER_WRITE) != 0
                        || (Integer) unix.get("uid") != uid()) {
                    return false;
                }
            }
            try (InputStream in = Files.newInputStream(file, NOFOLLOW_LINKS)) {
                if (!sha256.equalsIgnoreCase(sha256(in))) {
                    return false;
                }
            }
            if (POSIX && !file.getFileName().toString().endsWith(".tmp")) {
                remember(file);
            }
            return true;
        } catch (NoSuchFileException missing) {
            return false;
        }
    }

    /** Writes the jar's copy under a temporary name beside file, checks it, and renames it over file. */
    private static void extract(Platform platform, String sha256, Path folder, Path file) throws IOException {
        removeAbandoned(folder);
        Path temporary = POSIX ? Files.createTempFile(folder, platform.file() + ".", ".tmp", ownerOnly("rw-------"))
                : Files.createTempFile(folder, platform.file() + ".", ".tmp");
        try {
            try (InputStream in = NativeLibrary.class.getResourceAsStream("/" + platform.resource());
                    FileChannel out = FileChannel.open(temporary, StandardOpenOption.WRITE)) {
                if (in == null) {
                    throw new IOException("the jar lacks " + platform.resource());
                }
                in.transferTo(Channels.newOutputStream(out));
                out.force(true); // the name must never reach a file whose bytes are not yet on disk
            } catch (IOException e) { // a full disk says only "No space left on device"
                throw e instanceof FileSystemException ? e : new IOException(temporary + ": " + e.getMessage(), e);
            }
            if (!intact(temporary, sha256)) {
                throw new IOException("the jar's " + platform.resource() + " does not match its SHA-256");
            }
            if (POSIX) {
                Files.setPosixFilePermissions(temporary, PosixFilePermissions.fromString("r-x------"));
            }
            try {
                Files.move(temporary, file, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
                if (POSIX) {
                    remember(file); // the file hashed above, by its new name in a folder only this user may change
                }
            } catch (IOException e) {
                // Windows cannot replace a DLL another JVM has loaded; that one is complete if it verifies
                if (!intact(file, sha256)) {
                    throw e;
                }
            }
        } finally {
            Files.deleteIfExists(temporary);
        }
    }

    private static void removeAbandoned(Path folder) throws IOException {
        FileTime before = FileTime.from(Instant.now().minus(ABANDONED));
        try (var files = Files.newDirectoryStream(folder, "*.tmp")) {
            for (Path file : files) {
                try {
                    if (Files.getLastModifiedTime(file, NOFOLLOW_LINKS).compareTo(before) < 0) {
                        Files.deleteIfExists(file);
                    }
                } catch (NoSuchFileException removedByAnotherJvm) {
                    // gone already
                }
            }
        }
    }

    /**
     * Removes the copies of other builds beside folder that nobody has loaded for UNUSED: a load reads the file,
     * which keeps its access time within a day even under relatime. Tidying only: what cannot go stays.
     */
    private static void prune(Path folder) {
        FileTime before = FileTime.from(Instant.now().minus(UNUSED));
        try (var others = Files.newDirectoryStream(folder.getParent(), CopyWriter::isCopyFolder)) {
            for (Path other : others) {
                try {
                    if (!other.equals(folder) && lastUse(other).compareTo(before) < 0) {
                        try (var files = Files.newDirectoryStream(other)) {
                            for (Path file : files) {
                                Files.deleteIfExists(file);
                            }
                        }
                        Files.deleteIfExists(other);
                    }
                } catch (IOException keptForNow) {
                    // another JVM removes it, or it is in use (Windows): next time
                }
            }
        } catch (IOException | RuntimeException unlisted) {
            // tidying only
        }
    }

    /** A folder named by a SHA-256, as copies are; nothing else in the cache is ours to remove. */
    private static boolean isCopyFolder(Path path) {
        String name = path.getFileName().toString();
        return name.length() == 64 && name.chars().allMatch(c -> c >= '0' && c <= '9' || c >= 'a' && c <= 'f')
                && Files.isDirectory(path, NOFOLLOW_LINKS);
    }

    /** When the folder or anything in it was last written or read. */
    private static FileTime lastUse(Path folder) throws IOException {
        FileTime last = Files.getLastModifiedTime(folder, NOFOLLOW_LINKS);
        try (var files = Files.newDirectoryStream(folder)) {
            for (Path file : files) {
                BasicFileAttributes seen = Files.readAttributes(file, BasicFileAttributes.class, NOFOLLOW_LINKS);
                for (FileTime time : new FileTime[] {seen.lastModifiedTime(), seen.lastAccessTime()}) {
                    last = time.compareTo(last) > 0 ? time : last;
                }
            }
        }
        return last;
    }

    private static FileAttribute<?> ownerOnly(String permissions) {
        return PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString(permissions));
    }

    private static String sha256(InputStream in) throws IOException {
        try {
            DigestInputStream digesting = new DigestInputStream(in, MessageDigest.getInstance("SHA-256"));
            digesting.transferTo(OutputStream.nullOutputStream());
            return HexFormat.of().formatHex(digesting.getMessageDigest().digest());
        } catch (NoSuchAlgorithmException e) {
            throw new IOException(e); // every JDK has SHA-256
        }
    }
}
