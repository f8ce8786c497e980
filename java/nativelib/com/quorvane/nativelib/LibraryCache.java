package com.quorvane.nativelib;

import static java.nio.file.LinkOption.NOFOLLOW_LINKS;

import com.quorvane.nativelib.NativeLibrary.Platform;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.NoSuchFileException;
import java.nio.file.NotLinkException;
import java.nio.file.Path;
import java.nio.file.attribute.FileTime;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Deque;
import java.util.List;
import java.util.Map;

/**
 * The per-user cache of libraries taken out of the jar: [cache]/quorvane/[sha256]/[file], where [cache] is
 * %LOCALAPPDATA% on Windows and $XDG_CACHE_HOME or ~/.cache elsewhere. CopyWriter writes a copy, hashing it in full;
 * afterwards it is trusted while its identity (device, inode, size, change time, owner and mode) is the one
 * recorded beside it then. On Linux no code is loaded from a place another user controls: every folder from / to the
 * copy must belong to root or to the user and be writable by nobody else (a sticky folder only when root owns it, as
 * /tmp), so nobody else can rename or replace what the checks saw. Where the cache folder fails that, or lies on a
 * noexec mount, the copy goes to a private folder under $XDG_RUNTIME_DIR or java.io.tmpdir, checked alike, and where
 * every place fails the load is refused naming each folder and why. On Windows the ACL of %LOCALAPPDATA%, which only
 * the user, SYSTEM and administrators reach, guards the copies. This class holds what every load runs; a JVM loads
 * and verifies CopyWriter only when a copy must be written.
 */
final class LibraryCache {
    static final boolean POSIX = !System.getProperty("os.name").startsWith("Windows");
    static final int S_IFMT = 0170000, S_IFDIR = 0040000, S_IFLNK = 0120000, S_IFREG = 0100000;
    static final int STICKY = 01000, GROUP_OR_OTHER_WRITE = 0022, OTHER_WRITE = 0002;
    private static int uid = -1;

    private LibraryCache() {
    }

    /**
     * Loads a complete copy of the platform's library whose SHA-256 is sha256, written if need be, from the first
     * place that is safe and lets it run; otherwise throws naming each place and why it failed.
     */
    static void load(Platform platform, String sha256) {
        List<String> failed = new ArrayList<>();
        for (Path cache : caches(failed)) {
            Path file;
            try {
                Path folder = folder(cache, sha256);
                file = folder.resolve(platform.file());
                if (!trusted(file)) {
                    CopyWriter.write(platform, sha256, folder, file);
                }
            } catch (IOException e) {
                failed.add(CopyWriter.describe(e));
                continue;
            }
            try {
                System.load(file.toString());
                return;
            } catch (UnsatisfiedLinkError e) {
                if (!Mounts.noexec(file)) {
                    String musl = NativeLibrary.musl();
                    UnsatisfiedLinkError unloadable = new UnsatisfiedLinkError("quorvane: cannot load " + file
                            + ", the copy of quorvane-native.jar's " + platform.resource() + ": " + e.getMessage()
                            + (musl != null ? "; " + NativeLibrary.needsGlibc(platform, musl) : ""));
                    unloadable.initCause(e);
                    throw unloadable;
                }
                failed.add(file + ": its file system is mounted noexec, so no library there may run");
            }
        }
        throw new UnsatisfiedLinkError("quorvane: cannot load quorvane-native.jar's " + platform.resource() + ": "
                + String.join("; ", failed) + " (set XDG_CACHE_HOME to a folder of your own that only you may write"
                + " in, on a file system that lets programs run)");
    }

    /**
     * Where copies may go, best first: on Linux the user's cache folder, then private folders under
     * $XDG_RUNTIME_DIR and java.io.tmpdir, for when the cache folder is not safe.
     */
    private static List<Path> caches(List<String> failed) {
        if (!POSIX) {
            String local = System.getenv("LOCALAPPDATA");
            return List.of(local != null ? Path.of(local)
                    : Path.of(System.getProperty("user.home"), "AppData", "Local"));
        }
        List<Path> caches = new ArrayList<>();
        Path xdg = absolute("XDG_CACHE_HOME", System.getenv("XDG_CACHE_HOME"), failed);
        if (xdg != null) {
            caches.add(xdg);
        } else {
            // A uid without a passwd entry has "?" as user.home: $HOME, when absolute, is its home.
            Path home = absolute("user.home", System.getProperty("user.home"), failed);
            home = home != null ? home : absolute("HOME", System.getenv("HOME"), failed);
            if (home != null) {
                caches.add(home.resolve(".cache"));
            }
        }
        Path runtime = absolute("XDG_RUNTIME_DIR", System.getenv("XDG_RUNTIME_DIR"), failed);
        if (runtime != null) {
            caches.add(runtime);
        }
        Path temporary = absolute("java.io.tmpdir", System.getProperty("java.io.tmpdir"), failed);
        if (temporary != null) {
            try {
                caches.add(temporary.resolve("quorvane-" + uid()));
            } catch (IOException e) {
                failed.add(CopyWriter.describe(e));
            }
        }
        return caches;
    }

    /**
     * The path text as a path when it is one and absolute; null for none, "?" or text that no path of this locale's
     * encoding can hold (as non-ASCII text under LC_ALL=C), which is noted in failed.
     */
    private static Path absolute(String source, String text, List<String> failed) {
        try {
            Path path = text != null && !text.isEmpty() ? Path.of(text) : null;
            return path != null && path.isAbsolute() ? path : null;
        } catch (InvalidPathException unusable) {
            failed.add(source + " (" + text + ") cannot be a path in this locale's encoding, "
                    + System.getProperty("sun.jnu.encoding"));
            return null;
        }
    }

    /** The folder for the copy with this hash under cache, made if need be and checked; on Linux its real path. */
    private static Path folder(Path cache, String sha256) throws IOException {
        if (!POSIX) {
            return Files.createDirectories(cache.resolve("quorvane").resolve(sha256));
        }
        int uid = uid();
        try { // made before, as at each load but the first: one walk from / checks it all
            Path real = real(cache.resolve("quorvane").resolve(sha256), uid);
            ours(real.getParent(), uid);
            return ours(real, uid);
        } catch (NoSuchFileException notYet) {
            return CopyWriter.makeFolders(cache, sha256, uid);
        }
    }

    /**
     * True when file is the copy that was hashed in full when it was written: the identity recorded then, as the
     * target of a symlink beside it, is still its own. Only this user (or root) can have made that symlink, in a
     * folder that passed the checks of real and ours. On Windows every load hashes the copy.
     */
    private static boolean trusted(Path file) throws IOException {
        if (!POSIX) {
            return false;
        }
        try {
            return Files.readSymbolicLink(identityRecord(file)).toString().equals(identity(file));
        } catch (NoSuchFileException | NotLinkException missing) {
            return false;
        }
    }

    static Path identityRecord(Path file) {
        return file.resolveSibling(file.getFileName() + ".identity");
    }

    /** What changes when the file is replaced or changed in any way. */
    static String identity(Path file) throws IOException {
        Map<String, Object> unix = Files.readAttributes(file, "unix:dev,ino,size,ctime,uid,mode", NOFOLLOW_LINKS);
        FileTime changed = (FileTime) unix.get("ctime");
        return unix.get("dev") + " " + unix.get("ino") + " " + unix.get("size") + " "
                + changed.to(java.util.concurrent.TimeUnit.NANOSECONDS) + " " + unix.get("uid") + " "
                + Integer.toOctalString((Integer) unix.get("mode"));
    }

    /**
     * The real path of path, each symlink on the way followed by hand. Every folder and symlink on the way must
     * belong to root or to this user, and no folder may be writable by anyone else unless root owns it and it is
     * sticky: anyone else could rename or swap what follows between the checks and the load.
     */
    static Path real(Path path, int uid) throws IOException {
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
    static Path ours(Path folder, int uid) throws IOException {
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

    static IOException refused(Path folder, String why) {
        return new IOException("refusing the cache folder " + folder + ": " + why);
    }

    /**
     * This process's effective uid, which owns what it creates (Linux; the jar serves no other POSIX system): the
     * owner of /proc/self, one stat where reading /proc/self/status would cost a cold JVM milliseconds. A JVM is
     * never a set-uid program, whose folder root would own.
     */
    static int uid() throws IOException {
        if (uid < 0) {
            uid = (Integer) Files.getAttribute(Path.of("/proc/self"), "unix:uid");
        }
        return uid;
    }
}
