package com.quorvane.nativelib;

import static java.nio.file.LinkOption.NOFOLLOW_LINKS;

import com.quorvane.nativelib.NativeLibrary.Platform;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.channels.Channels;
import java.nio.channels.FileChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.InvalidPathException;
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
import java.util.ArrayList;
import java.util.Deque;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;

/**
 * The per-user cache of libraries taken out of the jar: [cache]/quorvane/[sha256]/[file], where [cache] is
 * %LOCALAPPDATA% on Windows and $XDG_CACHE_HOME or ~/.cache elsewhere. A copy is written under a temporary name
 * in its own folder and renamed into place, so a JVM only ever sees a complete file; it is hashed in full when it
 * is written, and trusted afterwards while its identity (device, inode, size, change time, owner and mode) is the
 * one recorded beside it then. On Linux no code is loaded from a place another user controls: every folder from
 * / to the copy must belong to root or to the user and be writable by nobody else (a sticky folder only when root
 * owns it, as /tmp), so nobody else can rename or replace what the checks saw. Where the cache folder fails that,
 * the copy goes to a private folder under $XDG_RUNTIME_DIR or java.io.tmpdir, checked alike, and where every
 * place fails the load is refused naming each folder and why. On Windows the ACL of %LOCALAPPDATA%, which only
 * the user, SYSTEM and administrators reach, guards the copies.
 */
final class LibraryCache {
    private static final boolean POSIX = !System.getProperty("os.name").startsWith("Windows");
    private static final int S_IFMT = 0170000, S_IFDIR = 0040000, S_IFLNK = 0120000, S_IFREG = 0100000;
    private static final int STICKY = 01000, GROUP_OR_OTHER_WRITE = 0022, OTHER_WRITE = 0002;
    /** A temporary file this old was left by a JVM that stopped while extracting. */
    private static final Duration ABANDONED = Duration.ofHours(1);
    private static int uid = -1;

    private LibraryCache() {
    }

    /** A complete copy of the platform's library whose SHA-256 is sha256, extracted if need be. */
    static Path copy(Platform platform, String sha256) throws IOException {
        List<String> refused = new ArrayList<>();
        for (Path cache : caches()) {
            Path folder;
            try {
                folder = folder(cache, sha256);
            } catch (IOException e) {
                refused.add(e.getMessage());
                continue;
            }
            Path file = folder.resolve(platform.file());
            if (!trusted(file) && !intact(file, sha256)) {
                extract(platform, sha256, folder, file);
                if (!intact(file, sha256)) {
                    throw new IOException(file + " changed after it was written");
                }
            }
            return file;
        }
        throw new IOException(String.join("; ", refused)
                + " (set XDG_CACHE_HOME to a folder of your own that only you may write in)");
    }

    /**
     * Where copies may go, best first: on Linux the user's cache folder, then private folders under
     * $XDG_RUNTIME_DIR and java.io.tmpdir, for when the cache folder is not safe.
     */
    private static List<Path> caches() throws IOException {
        if (!POSIX) {
            String local = System.getenv("LOCALAPPDATA");
            return List.of(local != null ? Path.of(local)
                    : Path.of(System.getProperty("user.home"), "AppData", "Local"));
        }
        List<Path> caches = new ArrayList<>();
        Path xdg = absolute(System.getenv("XDG_CACHE_HOME"));
        // A uid without a passwd entry has "?" as user.home: $HOME, when absolute, is its home.
        Path home = absolute(System.getProperty("user.home"));
        home = home != null ? home : absolute(System.getenv("HOME"));
        if (xdg != null) {
            caches.add(xdg);
        } else if (home != null) {
            caches.add(home.resolve(".cache"));
        }
        Path runtime = absolute(System.getenv("XDG_RUNTIME_DIR"));
        if (runtime != null) {
            caches.add(runtime);
        }
        Path temporary = absolute(System.getProperty("java.io.tmpdir"));
        if (temporary != null) {
            caches.add(temporary.resolve("quorvane-" + uid()));
        }
        return caches;
    }

    /** The path text as a path when it is one and absolute; null for none, "?" or text no path can hold. */
    private static Path absolute(String text) {
        try {
            Path path = text != null && !text.isEmpty() ? Path.of(text) : null;
            return path != null && path.isAbsolute() ? path : null;
        } catch (InvalidPathException unusable) {
            return null;
        }
    }

    /** The folder for the copy with this hash under cache, made if need be and checked; on Linux its real path. */
    private static Path folder(Path cache, String sha256) throws IOException {
        if (!POSIX) {
            return Files.createDirectories(cache.resolve("quorvane").resolve(sha256));
        }
        int uid = uid();
        try {
            Files.createDirectories(cache, ownerOnly("rwx------"));
        } catch (IOException e) {
            throw refused(cache, "it cannot be made: " + e);
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

    /**
     * True when file is the copy that was hashed in full when it was written: the identity recorded then, in a
     * file beside it that only this user may have written, is still its own. On Windows every load hashes it.
     */
    private static boolean trusted(Path file) throws IOException {
        if (!POSIX) {
            return false;
        }
        try {
            Path record = identityRecord(file);
            Map<String, Object> unix = Files.readAttributes(record, "unix:mode,uid", NOFOLLOW_LINKS);
            int mode = (Integer) unix.get("mode");
            return (mode & S_IFMT) == S_IFREG && (mode & GROUP_OR_OTHER_WRITE) == 0
                    && (Integer) unix.get("uid") == uid()
                    && Files.readString(record, StandardCharsets.US_ASCII).equals(identity(file));
        } catch (NoSuchFileException | java.nio.charset.MalformedInputException missing) {
            return false;
        }
    }

    private static Path identityRecord(Path file) {
        return file.resolveSibling(file.getFileName() + ".identity");
    }

    /** What changes when the file is replaced or changed in any way. */
    private static String identity(Path file) throws IOException {
        Map<String, Object> unix = Files.readAttributes(file, "unix:dev,ino,size,ctime,uid,mode", NOFOLLOW_LINKS);
        FileTime changed = (FileTime) unix.get("ctime");
        return unix.get("dev") + " " + unix.get("ino") + " " + unix.get("size") + " "
                + changed.to(java.util.concurrent.TimeUnit.NANOSECONDS) + " " + unix.get("uid") + " "
                + Integer.toOctalString((Integer) unix.get("mode")) + "\n";
    }

    /** Records the identity of a copy that was just hashed in full, under a temporary name renamed into place. */
    private static void remember(Path file) throws IOException {
        Path record = identityRecord(file);
        Path temporary = Files.createTempFile(file.getParent(), record.getFileName() + ".", ".tmp",
                ownerOnly("rw-------"));
        try {
            Files.writeString(temporary, identity(file), StandardCharsets.US_ASCII);
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
     * The real path of path, each symlink on the way followed by hand. Every folder and symlink on the way must
     * belong to root or to this user, and no folder may be writable by anyone else unless root owns it and it is
     * sticky: anyone else could rename or swap what follows between the checks and the load.
     */
    private static Path real(Path path, int uid) throws IOException {
        Deque<String> names = new ArrayDeque<>();
        for (Path name : path.toAbsolutePath()) {
            names.add(name.toString());
        }
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
            } else if (owner != uid && owner != 0) {
                throw refused(path, next + " belongs to uid " + owner + ", neither root nor this user (uid " + uid
                        + ")");
            } else if ((mode & GROUP_OR_OTHER_WRITE) != 0 && !((mode & STICKY) != 0 && owner == 0)) {
                throw refused(path, ((mode & OTHER_WRITE) != 0 ? "every user" : "its group") + " may write in "
                        + next);
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

    /**
     * This process's effective uid, which owns what it creates (Linux; the jar serves no other POSIX system): the
     * owner of /proc/self, one stat where reading /proc/self/status would cost a cold JVM milliseconds. A JVM is
     * never a set-uid program, whose folder root would own.
     */
    private static int uid() throws IOException {
        if (uid < 0) {
            uid = (Integer) Files.getAttribute(Path.of("/proc/self"), "unix:uid");
        }
        return uid;
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
