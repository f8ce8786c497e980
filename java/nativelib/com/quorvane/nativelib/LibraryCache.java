package com.quorvane.nativelib;

import static java.nio.file.LinkOption.NOFOLLOW_LINKS;

import com.quorvane.nativelib.NativeLibrary.Platform;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.channels.Channels;
import java.nio.channels.FileChannel;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.DigestInputStream;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.time.Duration;
import java.time.Instant;
import java.util.ArrayDeque;
import java.util.Deque;
import java.util.HexFormat;
import java.util.Map;

/**
 * The per-user cache of libraries taken out of the jar: [cache]/quorvane/[sha256]/[file], where [cache] is
 * %LOCALAPPDATA% on Windows and $XDG_CACHE_HOME or ~/.cache elsewhere. A copy is written under a temporary name
 * in its own folder and renamed into place, so a JVM only ever sees a complete file, and it is hashed again
 * before every load. On Linux the folders are the user's own and closed to others, and a path that another
 * user could redirect (a symlink of theirs, a folder they may write in) is refused; on Windows the ACL of
 * %LOCALAPPDATA%, which only the user, SYSTEM and administrators reach, guards the copies.
 */
final class LibraryCache {
    private static final boolean POSIX = !System.getProperty("os.name").startsWith("Windows");
    private static final int S_IFMT = 0170000, S_IFDIR = 0040000, S_IFLNK = 0120000, S_IFREG = 0100000;
    private static final int STICKY = 01000, GROUP_OR_OTHER_WRITE = 0022, OTHER_WRITE = 0002;
    /** A temporary file this old was left by a JVM that stopped while extracting. */
    private static final Duration ABANDONED = Duration.ofHours(1);

    private LibraryCache() {
    }

    /** A complete copy of the platform's library whose SHA-256 is sha256, extracted if need be. */
    static Path copy(Platform platform, String sha256) throws IOException {
        Path folder = folder(sha256);
        Path file = folder.resolve(platform.file());
        if (!intact(file, sha256)) {
            extract(platform, sha256, folder, file);
            if (!intact(file, sha256)) {
                throw new IOException(file + " changed after it was written");
            }
        }
        return file;
    }

    /** The folder for the copy with this hash, made if need be and checked; on Linux its real path. */
    private static Path folder(String sha256) throws IOException {
        if (!POSIX) {
            String local = System.getenv("LOCALAPPDATA");
            Path cache = local != null ? Path.of(local) : Path.of(System.getProperty("user.home"), "AppData", "Local");
            return Files.createDirectories(cache.resolve("quorvane").resolve(sha256));
        }
        String xdg = System.getenv("XDG_CACHE_HOME");
        Path cache = xdg != null && Path.of(xdg).isAbsolute() ? Path.of(xdg)
                : Path.of(System.getProperty("user.home"), ".cache");
        Files.createDirectories(cache, ownerOnly("rwx------"));
        int uid = uid();
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

    /** True when file holds the expected bytes and, on Linux, only its owner, this user, may change it. */
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
                return sha256.equalsIgnoreCase(sha256(in));
            }
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
            }
            if (!intact(temporary, sha256)) {
                throw new IOException("the jar's " + platform.resource() + " does not match its SHA-256");
            }
            if (POSIX) {
                Files.setPosixFilePermissions(temporary, PosixFilePermissions.fromString("r-x------"));
            }
            try {
                Files.move(temporary, file, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
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
     * The real path of path, each symlink on the way followed by hand: one that neither this user nor root owns
     * is refused, as is a folder that others may write in without the sticky bit (they could swap what follows).
     */
    private static Path real(Path path, int uid) throws IOException {
        Deque<String> names = new ArrayDeque<>();
        path.toAbsolutePath().forEach(name -> names.add(name.toString()));
        Path real = path.toAbsolutePath().getRoot();
        int links = 0;
        while (!names.isEmpty()) {
            String name = names.removeFirst();
            if (name.equals("..")) {
                real = real.getParent() != null ? real.getParent() : real;
                continue;
            }
            if (name.equals(".")) {
                continue;
            }
            Path next = real.resolve(name);
            Map<String, Object> unix = Files.readAttributes(next, "unix:mode,uid", NOFOLLOW_LINKS);
            int mode = (Integer) unix.get("mode");
            int owner = (Integer) unix.get("uid");
            if ((mode & S_IFMT) == S_IFLNK) {
                if (owner != uid && owner != 0) {
                    throw refused(path, next + " is a symlink of another user (uid " + owner + ")");
                }
                if (++links > 40) {
                    throw refused(path, "too many symlinks");
                }
                Path target = Files.readSymbolicLink(next);
                if (target.isAbsolute()) {
                    real = target.getRoot();
                }
                for (int i = target.getNameCount() - 1; i >= 0; i--) {
                    names.addFirst(target.getName(i).toString());
                }
            } else if ((mode & S_IFMT) != S_IFDIR) {
                throw refused(path, next + " is not a folder");
            } else if ((mode & OTHER_WRITE) != 0 && (mode & STICKY) == 0) {
                throw refused(path, "every user may write in " + next);
            } else {
                real = next;
            }
        }
        return real;
    }

    /** The folder, unless it belongs to another user or others may write in it. */
    private static Path ours(Path folder, int uid) throws IOException {
        Map<String, Object> unix = Files.readAttributes(folder, "unix:mode,uid", NOFOLLOW_LINKS);
        int owner = (Integer) unix.get("uid");
        if (owner != uid) {
            throw refused(folder, "it belongs to uid " + owner + ", not to this user (uid " + uid + ")");
        }
        if (((Integer) unix.get("mode") & GROUP_OR_OTHER_WRITE) != 0) {
            throw refused(folder, "others may write in it");
        }
        return folder;
    }

    private static IOException refused(Path folder, String why) {
        return new IOException("refusing the cache folder " + folder + ": " + why);
    }

    /** This process's effective uid, which owns what it creates (Linux; the jar serves no other POSIX system). */
    private static int uid() throws IOException {
        for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
            if (line.startsWith("Uid:")) {
                return Integer.parseInt(line.split("\\s+")[2]);
            }
        }
        throw new IOException("no Uid line in /proc/self/status");
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
