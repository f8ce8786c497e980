package com.quorvane.test;

import static java.nio.file.LinkOption.NOFOLLOW_LINKS;
import static org.junit.jupiter.api.Assertions.*;

import com.quorvane.nativelib.NativeLibrary;
import java.io.*;
import java.nio.charset.StandardCharsets;
import java.nio.file.*;
import java.nio.file.attribute.*;
import java.security.MessageDigest;
import java.time.Duration;
import java.time.Instant;
import java.util.*;
import java.util.stream.*;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * quorvane-native.jar in JVMs run as nobody whose class path holds only it and the client jar: the library comes
 * from java.library.path when there, else from the jar through the per-user cache, which refuses what another
 * user could have planted.
 */
class NativeJarTest {
    private static final int NOBODY = 65534, DAEMON = 1;
    private static final FileAttribute<?> OWNER_ONLY = PosixFilePermissions.asFileAttribute(
            PosixFilePermissions.fromString("rwx------"));
    private static final String READ = "read 0 {PIDSI_APPNAME=Microsoft Office Word";
    private static String sha256;

    @TempDir
    Path temp;

    private interface Setup {
        void on(Path cache, Path copy, Path tmp) throws Exception;
    }

    /** Where the copy must end up: the cache, the private folder under java.io.tmpdir, or nowhere (refused). */
    private enum Lands { CACHE, SAFE_PLACE, LIBRARY_PATH, REFUSED }

    /** What java.library.path holds: no library, this build's, or one that reports another version. */
    private enum OnPath { NONE, THIS_VERSION, OTHER_VERSION }

    private static final Setup NOTHING = (cache, copy, tmp) -> { };

    /** A row; the child's locale and a tmpfs mounted over the cache (its mount options) when set. */
    private record Row(String name, Setup setup, Lands lands, String failure, OnPath onPath, String locale,
            String mount) {
        Row(String name, Setup setup, Lands lands, String failure) {
            this(name, setup, lands, failure, OnPath.NONE, null, null);
        }
    }

    @Test
    void theCachedCopyIsMadeCheckedAndNeverTakenFromWhereAnotherUserCouldPlantIt() throws Exception {
        Path library = Path.of(System.getProperty("java.library.path"), "libquorvane.so");
        Row[] rows = {
            new Row("an empty cache", NOTHING, Lands.CACHE, null),
            new Row("a tampered copy is replaced, and what a killed JVM left is removed", (cache, copy, tmp) -> {
                Files.createDirectories(copy.getParent(), OWNER_ONLY);
                Files.write(copy, new byte[] {0x7f, 'E', 'L', 'F'});
                Path left = Files.write(copy.resolveSibling("libquorvane.so.123.tmp"), new byte[] {0x7f});
                Files.setLastModifiedTime(left, FileTime.from(Instant.now().minus(Duration.ofHours(2))));
                chown(NOBODY, cache.resolve("quorvane"), copy.getParent(), copy, left);
            }, Lands.CACHE, null),
            new Row("a copy changed after it was checked is checked again and replaced", (cache, copy, tmp) -> {
                assertEquals(0, ChildJvm.run(env(cache, tmp), probe(null, false)).exit());
                byte[] changed = Files.readAllBytes(copy);
                changed[changed.length / 2] ^= 1;
                Files.write(copy, changed); // same size, owner and mode; a new change time
            }, Lands.CACHE, null),
            new Row("a true copy that others may change is replaced", (cache, copy, tmp) -> {
                Files.createDirectories(copy.getParent(), OWNER_ONLY);
                Files.copy(library, copy);
                Files.setPosixFilePermissions(copy, PosixFilePermissions.fromString("rwxrw-rw-"));
                chown(NOBODY, cache.resolve("quorvane"), copy.getParent(), copy);
            }, Lands.CACHE, null),
            new Row("the user's own symlink is followed", (cache, copy, tmp) -> {
                Path elsewhere = Files.createDirectory(temp.resolve("elsewhere"), OWNER_ONLY);
                chown(NOBODY, elsewhere, Files.createSymbolicLink(cache.resolve("quorvane"), elsewhere));
            }, Lands.CACHE, null),
            new Row("a library of the jar's version on java.library.path comes first", NOTHING, Lands.LIBRARY_PATH,
                    null, OnPath.THIS_VERSION, null, null),
            new Row("a library of another version on java.library.path is passed over", NOTHING, Lands.CACHE, null,
                    OnPath.OTHER_VERSION, null, null),
            new Row("a cache path that the C locale cannot name", NOTHING, Lands.SAFE_PLACE, null, OnPath.NONE, "C",
                    null),
            new Row("a cache on a noexec mount", NOTHING, Lands.SAFE_PLACE, null, OnPath.NONE, null,
                    "noexec,mode=0700,uid=" + NOBODY),
            // Another user's places are avoided: the copy goes to the private folder under java.io.tmpdir.
            new Row("a root folder on the way that the user's group may write in", (cache, copy, tmp) -> {
                Files.createDirectories(copy.getParent());
                for (Path folder : List.of(cache.resolve("quorvane"), copy.getParent())) {
                    Files.setAttribute(folder, "unix:gid", NOBODY);
                    Files.setPosixFilePermissions(folder, PosixFilePermissions.fromString("rwxrwx---"));
                }
            }, Lands.SAFE_PLACE, null),
            new Row("a symlink another user planted", (cache, copy, tmp) -> {
                Files.setAttribute(cache, "unix:mode", 01777); // like /tmp
                Path elsewhere = Files.createDirectory(temp.resolve("elsewhere"));
                chown(NOBODY, elsewhere);
                chown(DAEMON, Files.createSymbolicLink(cache.resolve("quorvane"), elsewhere));
            }, Lands.SAFE_PLACE, null),
            new Row("a folder every user may write in", (cache, copy, tmp) -> {
                Files.setPosixFilePermissions(cache, PosixFilePermissions.fromString("rwxrwxrwx"));
            }, Lands.SAFE_PLACE, null),
            new Row("the user's folders inside one of another user (who may rename them)", (cache, copy, tmp) -> {
                Files.createDirectories(copy.getParent(), OWNER_ONLY);
                chown(NOBODY, cache.resolve("quorvane"), copy.getParent());
                chown(DAEMON, cache);
            }, Lands.SAFE_PLACE, null),
            new Row("a sticky folder of another user (1777)", (cache, copy, tmp) -> {
                chown(DAEMON, cache);
                Files.setAttribute(cache, "unix:mode", 01777);
            }, Lands.SAFE_PLACE, null),
            new Row("a folder of another user that the user's group may write in (2775)", (cache, copy, tmp) -> {
                chown(DAEMON, cache);
                Files.setAttribute(cache, "unix:gid", NOBODY);
                Files.setAttribute(cache, "unix:mode", 02775);
            }, Lands.SAFE_PLACE, null),
            new Row("no safe place at all", (cache, copy, tmp) -> {
                Files.setPosixFilePermissions(cache, PosixFilePermissions.fromString("rwxrwxrwx"));
                chown(DAEMON, tmp);
            }, Lands.REFUSED, "every user may write in " + temp.resolve("cache")),
            new Row("no place the user may write in", (cache, copy, tmp) -> {
                chown(0, cache);
                chown(DAEMON, tmp);
            }, Lands.REFUSED, temp.resolve("cache").resolve("quorvane") + ": permission denied"),
        };
        for (Row row : rows) {
            Path cache = freshCache(row.locale() != null ? "cache-\u00e9\u4e2d" : "cache"), tmp = temp.resolve("tmp");
            Path copy = cache.resolve("quorvane").resolve(sha256()).resolve("libquorvane.so");
            row.setup().on(cache, copy, tmp);
            Map<String, String> env = new HashMap<>(env(cache, tmp));
            if (row.locale() != null) {
                env.putAll(ChildJvm.locale(row.locale()));
            }
            List<String> as = row.mount() == null ? ChildJvm.AS_NOBODY : Stream.concat(Stream.of("unshare",
                    "--mount", "sh", "-c", "mount -t tmpfs -o " + row.mount() + " none \"$0\" && exec \"$@\"",
                    cache.toString()), ChildJvm.AS_NOBODY.stream()).toList();
            ChildJvm.Run run = ChildJvm.run(env, probe(as, libraryPath(row.onPath()), true));
            Path safe = tmp.resolve("quorvane-" + NOBODY).resolve("quorvane").resolve(sha256())
                    .resolve("libquorvane.so");
            String why = row.name() + ": " + run.output();
            assertEquals(row.lands() == Lands.REFUSED ? 1 : 0, run.exit(), why);
            switch (row.lands()) {
                case REFUSED -> assertTrue(run.output().contains(row.failure()) && run.output().contains(
                        "refusing the cache folder " + safe.getParent().getParent().getParent()), why);
                case LIBRARY_PATH -> assertTrue(run.output().contains("loaded " + libraryPath(row.onPath())
                        .resolve("libquorvane.so")) && !Files.exists(cache.resolve("quorvane")), why);
                default -> {
                    Path at = row.lands() == Lands.CACHE ? copy : safe;
                    assertTrue(run.output().contains(READ) && Files.exists(at)
                            && run.output().contains("loaded " + at.toRealPath()), why);
                    assertSound(at, NOBODY, row.name());
                    try (var planted = Files.walk(cache)) { // nothing where another user could reach it
                        assertFalse(row.lands() == Lands.SAFE_PLACE && row.mount() == null
                                && planted.anyMatch(p -> p.endsWith("libquorvane.so")), why);
                    }
                }
            }
        }
    }

    @Test
    void aUidWithoutAPasswdEntryCachesUnderItsHome() throws Exception {
        int uid = 4242;
        Path cache = freshCache("cache"), home = Files.createDirectory(temp.resolve("home"), OWNER_ONLY);
        chown(uid, home);
        Map<String, String> env = new HashMap<>(env(cache, temp.resolve("tmp")));
        env.put("XDG_CACHE_HOME", "");
        env.put("HOME", home.toString());
        ChildJvm.Run run = ChildJvm.run(env, probe(List.of("setpriv", "--reuid=" + uid, "--regid=" + uid,
                "--clear-groups"), null, true));
        assertEquals(0, run.exit(), run.output());
        assertTrue(run.output().contains(READ), run.output());
        assertSound(home.resolve(".cache").resolve("quorvane").resolve(sha256()).resolve("libquorvane.so"), uid,
                "a uid without a passwd entry");
    }

    @Test
    void writingACopyRemovesOnlyCopiesOfOtherBuildsUnusedFor30Days() throws Exception {
        Path cache = freshCache("cache"), quorvane = Files.createDirectory(cache.resolve("quorvane"), OWNER_ONLY);
        Map<String, Integer> ages = new LinkedHashMap<>(); // days since last written or read
        ages.put("a".repeat(64), 40);       // another build, unused: removed
        ages.put("b".repeat(64), 29);       // another build, used within 30 days: kept
        ages.put("c".repeat(63), 40);       // not a copy's folder: kept
        ages.put("docprops-1.jsa", 40);     // the launcher's, not the loader's: kept
        for (var entry : ages.entrySet()) {
            Path path = quorvane.resolve(entry.getKey());
            Path file = entry.getKey().endsWith(".jsa") ? Files.write(path, new byte[1])
                    : Files.write(Files.createDirectory(path).resolve("libquorvane.so"), new byte[1]);
            FileTime then = FileTime.from(Instant.now().minus(Duration.ofDays(entry.getValue())));
            for (Path p : List.of(file, path)) {
                Files.getFileAttributeView(p, BasicFileAttributeView.class, NOFOLLOW_LINKS).setTimes(then, then, null);
                chown(NOBODY, p);
            }
        }
        chown(NOBODY, quorvane);
        ChildJvm.Run run = ChildJvm.run(env(cache, temp.resolve("tmp")), probe(null, false));
        assertEquals(0, run.exit(), run.output());
        try (var left = Files.list(quorvane)) {
            assertEquals(new TreeSet<>(List.of("b".repeat(64), "c".repeat(63), sha256(), "docprops-1.jsa")),
                    left.map(p -> p.getFileName().toString()).collect(Collectors.toCollection(TreeSet::new)));
        }
    }

    /** The cache, and java.io.tmpdir; no runtime folder, so that the place to fall back on is java.io.tmpdir's. */
    private static Map<String, String> env(Path cache, Path tmp) {
        return Map.of("XDG_CACHE_HOME", cache.toString(), "XDG_RUNTIME_DIR", "",
                "JAVA_TOOL_OPTIONS", "-Djava.io.tmpdir=" + tmp);
    }

    @Test
    void twoJvmsStartingAtOnceOnAnEmptyCacheBothLoadACompleteCopy() throws Exception {
        // The second JVM starts later by some milliseconds: it meets the first at each step of the extraction.
        for (int delay : new int[] {0, 10, 40, 100, 250, 600}) {
            Path cache = freshCache("cache");
            Path go = temp.resolve("go");
            Files.deleteIfExists(go);
            List<Process> jvms = new ArrayList<>();
            List<BufferedReader> outputs = new ArrayList<>();
            for (int i = 0; i < 2; i++) { // each says it is ready, then waits for the go
                jvms.add(ChildJvm.start(env(cache, temp.resolve("tmp")),
                        probe(null, false, go.toString(), Integer.toString(i * delay))));
                outputs.add(jvms.get(i).inputReader(StandardCharsets.UTF_8));
                outputs.get(i).lines().filter("ready"::equals).findFirst();
            }
            Files.createFile(go);
            for (int i = 0; i < 2; i++) {
                String output = outputs.get(i).lines().collect(Collectors.joining("\n"));
                assertEquals(0, jvms.get(i).waitFor(), "delay " + delay + ": " + output);
                assertTrue(output.contains(READ), "delay " + delay + ": " + output);
            }
            assertSound(cache.resolve("quorvane").resolve(sha256()).resolve("libquorvane.so"), NOBODY,
                    "delay " + delay);
        }
    }

    /** The cached copy: the jar's bytes, the user's, closed to others, in folders closed to others. */
    private static void assertSound(Path copy, int uid, String name) throws Exception {
        assertEquals(sha256(), hex(copy), name);
        assertEquals("r-x------", PosixFilePermissions.toString(Files.getPosixFilePermissions(copy, NOFOLLOW_LINKS)),
                name);
        assertEquals(uid, Files.getAttribute(copy, "unix:uid", NOFOLLOW_LINKS), name);
        for (Path folder : List.of(copy.getParent(), copy.getParent().getParent().toRealPath())) {
            assertEquals("rwx------", PosixFilePermissions.toString(Files.getPosixFilePermissions(folder)), name);
            assertEquals(uid, Files.getAttribute(folder, "unix:uid"), name);
        }
        try (var left = Files.list(copy.getParent())) {
            assertEquals(List.of(copy, copy.resolveSibling(copy.getFileName() + ".identity")),
                    left.sorted().toList(), name + ": no temporary file is left");
        }
    }

    /** An empty cache folder of nobody's, inside one that only root may write in. */
    private Path freshCache(String name) throws Exception {
        Files.setPosixFilePermissions(temp, PosixFilePermissions.fromString("rwxr-xr-x"));
        try (var old = Files.walk(temp)) {
            for (Path p : old.sorted((a, b) -> b.compareTo(a)).filter(p -> !p.equals(temp)).toList()) {
                Files.delete(p);
            }
        }
        Path cache = Files.createDirectory(temp.resolve(name));
        chown(NOBODY, cache);
        Files.setAttribute(Files.createDirectory(temp.resolve("tmp")), "unix:mode", 01777); // like /tmp
        return cache;
    }

    /**
     * A folder for java.library.path: this build's library, or a copy of it that reports another version (its
     * version mark, "quorvane VERSION" in .comment, changed in place); null for none.
     */
    private Path libraryPath(OnPath onPath) throws Exception {
        Path library = Path.of(System.getProperty("java.library.path"), "libquorvane.so");
        if (onPath == OnPath.NONE) {
            return null;
        }
        if (onPath == OnPath.THIS_VERSION) {
            return ChildJvm.readableCopy(library.getParent());
        }
        byte[] bytes = Files.readAllBytes(library);
        String mark = "quorvane " + NativeLibrary.class.getPackage().getImplementationVersion();
        int at = new String(bytes, StandardCharsets.ISO_8859_1).indexOf(mark);
        assertTrue(at >= 0, "the library carries its version");
        bytes[at + mark.length() - 1] ^= 1; // 0.1.0 -> 0.1.1
        Path stale = Files.createDirectories(temp.resolve("stale"));
        Files.write(stale.resolve("libquorvane.so"), bytes);
        return ChildJvm.readableCopy(stale);
    }

    /**
     * The probe as nobody, on a class path of quorvane-native.jar and the client jar, run from its source; or,
     * where the class path is not the point, from the tests' jar too, which spares the compiler's start.
     */
    private static List<String> probe(Path onLibraryPath, boolean fromSource, String... more) throws Exception {
        return probe(ChildJvm.AS_NOBODY, onLibraryPath, fromSource, more);
    }

    private static List<String> probe(List<String> as, Path onLibraryPath, boolean fromSource, String... more)
            throws Exception {
        Path build = Path.of(System.getenv("QV_BUILD_DIR"), "java");
        Path libraryPath = onLibraryPath != null ? onLibraryPath : Path.of("/no-library-here");
        String classPath = ChildJvm.readableCopy(build.resolve("quorvane-native.jar")) + File.pathSeparator
                + ChildJvm.readableCopy(build.resolve("quorvane-client.jar"));
        String main = ChildJvm.readableCopy(Path.of(System.getenv("QV_SOURCE_DIR"), "tests", "java", "com",
                "quorvane", "test", "NativeJarProbe.java")).toString();
        if (!fromSource) {
            classPath += File.pathSeparator + ChildJvm.readableCopy(ChildJvm.location(NativeJarProbe.class));
            main = NativeJarProbe.class.getName();
        }
        List<String> command = new ArrayList<>(as);
        command.addAll(List.of(Path.of(System.getProperty("java.home"), "bin", "java").toString(), "-Xcheck:jni",
                "-Djava.library.path=" + libraryPath, "-cp", classPath, main,
                ChildJvm.readableCopy(Path.of(System.getenv("QV_SOURCE_DIR"), "tests", "fixtures",
                        "compound", "2custom.doc")).toString()));
        command.addAll(List.of(more));
        return command;
    }

    private static void chown(int uid, Path... paths) throws Exception {
        for (Path path : paths) {
            Files.setAttribute(path, "unix:uid", uid, NOFOLLOW_LINKS);
        }
    }

    /** The SHA-256 of the Linux library the jar holds: that of the library this build made. */
    private static String sha256() throws Exception {
        if (sha256 == null) {
            sha256 = hex(Path.of(System.getProperty("java.library.path"), "libquorvane.so"));
        }
        return sha256;
    }

    private static String hex(Path file) throws Exception {
        return HexFormat.of().formatHex(MessageDigest.getInstance("SHA-256").digest(Files.readAllBytes(file)));
    }
}
