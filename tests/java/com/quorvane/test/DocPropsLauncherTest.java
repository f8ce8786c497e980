package com.quorvane.test;

import static java.nio.charset.StandardCharsets.UTF_8;
import static java.nio.file.LinkOption.NOFOLLOW_LINKS;
import static org.junit.jupiter.api.Assertions.*;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.*;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * The installed docprops command and its class-data archive, which is code: made and mapped only where nobody else
 * could have put or swapped it, and healed when it breaks.
 */
class DocPropsLauncherTest {
    private static final int NOBODY = 65534, DAEMON = 1;
    private static final String PROP1 = "\"prop1\":{\"type\":\"text\",\"value\":\"aaa\"}";

    @TempDir
    Path temp;
    private Path docprops;
    private Path jdk;

    /**
     * The staged launcher in an install tree of its own, over copies of the build's jars and library that every
     * user may read; and a JVM that notes each start in calls, then is the real one, save when a file tells it to
     * die part-way through writing an archive (kill-dump) or to be interrupted (interrupt): after its run when it
     * lists the classes it loaded, at once when it maps an archive.
     */
    private Path install() throws Exception {
        Files.setPosixFilePermissions(temp, PosixFilePermissions.fromString("rwxr-xr-x"));
        Path build = Path.of(System.getenv("QV_BUILD_DIR"));
        String launcher = Files.readString(build.resolve("install-stage/docprops"));
        Path prefix = temp.resolve("prefix");
        Files.createDirectories(prefix.resolve("bin"));
        docprops = Files.copy(build.resolve("install-stage/docprops"), prefix.resolve("bin/docprops"));
        Files.setPosixFilePermissions(docprops, PosixFilePermissions.fromString("rwxr-xr-x"));
        Matcher jars = Pattern.compile("\\$prefix/([^\"]+)/quorvane-client\\.jar").matcher(launcher);
        Matcher jni = Pattern.compile("java\\.library\\.path=\"\\$prefix/([^\"]+)\"").matcher(launcher);
        assertTrue(jars.find() && jni.find(), launcher);
        for (String jar : List.of("quorvane-client.jar", "quorvane-tools.jar")) {
            Files.createDirectories(prefix.resolve(jars.group(1)));
            Files.createSymbolicLink(prefix.resolve(jars.group(1)).resolve(jar),
                    ChildJvm.readableCopy(build.resolve("java").resolve(jar)));
        }
        Files.createDirectories(prefix.resolve(jni.group(1)));
        Files.createSymbolicLink(prefix.resolve(jni.group(1)).resolve("libquorvane.so"),
                ChildJvm.readableCopy(build.resolve("lib/libquorvane.so")));
        jdk = Files.createDirectories(temp.resolve("jdk/bin")).getParent();
        Path java = Files.writeString(jdk.resolve("bin/java"), """
                #!/bin/sh
                here=${0%/bin/java}
                printf '%s\\n' "$*" >>"$here/calls"
                # Ctrl-C: the launcher is told too, never the tests' JVM
                stop() { tr '\\0' ' ' </proc/$PPID/cmdline | grep -q /bin/docprops && kill -INT $PPID; exit 130; }
                case " $* " in
                  *" -Xshare:dump "*)
                    if [ -e "$here/kill-dump" ]; then
                      for a; do case $a in -XX:SharedArchiveFile=*) head -c 65536 /dev/zero >"${a#*=}" ;; esac; done
                      kill -KILL $$
                    fi ;;
                  *" -XX:DumpLoadedClassList="*) if [ -e "$here/interrupt" ]; then "$real" "$@"; stop; fi ;;
                  *" -XX:SharedArchiveFile="*) if [ -e "$here/interrupt" ]; then stop; fi ;;
                esac
                exec "$real" "$@"
                """.replace("\"$real\"", "'" + Path.of(System.getProperty("java.home"), "bin", "java") + "'"));
        Files.setPosixFilePermissions(java, PosixFilePermissions.fromString("rwxr-xr-x"));
        Files.setPosixFilePermissions(Files.createFile(jdk.resolve("calls")), PosixFilePermissions.fromString(
                "rw-rw-rw-"));
        return docprops;
    }

    private record Run(int exit, String out, String err) {
    }

    /** The installed docprops, run as nobody. */
    private List<String> asNobody() {
        List<String> command = new ArrayList<>(ChildJvm.AS_NOBODY);
        command.add(docprops.toString());
        return command;
    }

    /** The launcher command run with args from cwd, in env (a null value unsets); to its end. */
    private Run run(List<String> launcher, Path cwd, Map<String, String> env, String... args) throws Exception {
        List<String> command = new ArrayList<>(launcher);
        command.addAll(List.of(args));
        ProcessBuilder pb = new ProcessBuilder(command).directory(cwd.toFile());
        pb.environment().put("JAVA_HOME", jdk.toString());
        env.forEach((name, value) -> {
            if (value == null) {
                pb.environment().remove(name);
            } else {
                pb.environment().put(name, value);
            }
        });
        Path out = Files.createTempFile(temp, "out", ".txt"), err = Files.createTempFile(temp, "err", ".txt");
        Process p = pb.redirectOutput(out.toFile()).redirectError(err.toFile()).start();
        if (!p.waitFor(120, TimeUnit.SECONDS)) {
            p.descendants().forEach(ProcessHandle::destroyForcibly);
            p.destroyForcibly();
            fail("hung: " + command);
        }
        return new Run(p.exitValue(), Files.readString(out, UTF_8), Files.readString(err, UTF_8));
    }

    /** The archives the JVMs noted since the last call mapped (a dump's own is not mapped); the note is emptied. */
    private List<Path> mapped() throws Exception {
        List<Path> mapped = new ArrayList<>();
        for (String call : Files.readAllLines(jdk.resolve("calls"))) {
            Matcher archive = Pattern.compile("-XX:SharedArchiveFile=(\\S+)").matcher(call);
            if (archive.find() && !call.contains("-Xshare:dump")) {
                mapped.add(Path.of(archive.group(1)));
            }
        }
        Files.writeString(jdk.resolve("calls"), "");
        return mapped;
    }

    /** The archives anywhere under folder (symlinks not followed). */
    private static List<Path> archives(Path folder) throws Exception {
        try (var files = Files.walk(folder)) {
            return files.filter(f -> f.getFileName().toString().endsWith(".jsa")).sorted().toList();
        }
    }

    private static Path mine(int uid, String mode, Path folder) throws Exception {
        Files.createDirectories(folder);
        Files.setAttribute(folder, "unix:uid", uid, NOFOLLOW_LINKS);
        Files.setAttribute(folder, "unix:mode", Integer.parseInt(mode, 8));
        return folder;
    }

    private interface Place {
        void on(Path base, Map<String, String> env) throws Exception;
    }

    /** Where the archive must land (a folder under the row's own one), or nowhere (null). */
    private record Where(String name, Place place, String lands) {
    }

    @Test
    void archiveMadeAndMappedOnlyWhereNobodyElseCouldPutOrSwapIt() throws Exception {
        install();
        String doc = DocumentFixtures.copy(temp, "2custom.doc");
        Files.setPosixFilePermissions(Path.of(doc), PosixFilePermissions.fromString("rw-r--r--"));
        Where[] rows = {
            new Where("the user's own folder", (base, env) -> { }, "cache/quorvane"),
            new Where("the user's folder in a sticky one of root's (like /tmp)", (base, env) -> {
                mine(NOBODY, "700", mine(0, "1777", base.resolve("tmp")).resolve("cache"));
                env.put("XDG_CACHE_HOME", base.resolve("tmp/cache").toString());
            }, "tmp/cache/quorvane"),
            new Where("the user's own symlink on the way", (base, env) -> {
                Files.delete(base.resolve("cache"));
                Files.setAttribute(Files.createSymbolicLink(base.resolve("cache"), mine(NOBODY, "700",
                        base.resolve("real"))), "unix:uid", NOBODY, NOFOLLOW_LINKS);
            }, "real/quorvane"),
            // Another user's places are avoided: the archive goes to the runtime folder.
            new Where("the user's folder in one of another user", (base, env) -> {
                mine(NOBODY, "700", mine(DAEMON, "755", base.resolve("other")).resolve("cache"));
                env.put("XDG_CACHE_HOME", base.resolve("other/cache").toString());
            }, "runtime/quorvane"),
            new Where("a sticky folder of another user (1777)", (base, env) -> {
                mine(DAEMON, "1777", base.resolve("shared"));
                env.put("XDG_CACHE_HOME", base.resolve("shared/cache").toString());
            }, "runtime/quorvane"),
            new Where("a folder of another user that the user's group may write in (2775)", (base, env) -> {
                Files.setAttribute(mine(DAEMON, "2775", base.resolve("group")), "unix:gid", NOBODY);
                env.put("XDG_CACHE_HOME", base.resolve("group/cache").toString());
            }, "runtime/quorvane"),
            new Where("another user's symlink in a sticky folder of root's", (base, env) -> {
                Path link = mine(0, "1777", base.resolve("tmp")).resolve("link");
                Files.setAttribute(Files.createSymbolicLink(link, mine(NOBODY, "700", base.resolve("real"))),
                        "unix:uid", DAEMON, NOFOLLOW_LINKS);
                env.put("XDG_CACHE_HOME", link.resolve("cache").toString());
            }, "runtime/quorvane"),
            new Where("a cache folder every user may write in", (base, env) -> mine(NOBODY, "777",
                    base.resolve("cache")), "runtime/quorvane"),
            new Where("a quorvane folder its group may write in", (base, env) -> mine(NOBODY, "770",
                    base.resolve("cache/quorvane")), "runtime/quorvane"),
            new Where("no HOME, no XDG_CACHE_HOME", (base, env) -> {
                env.put("XDG_CACHE_HOME", null);
                env.put("HOME", null);
            }, "runtime/quorvane"),
            new Where("a relative HOME and XDG_CACHE_HOME", (base, env) -> {
                env.put("XDG_CACHE_HOME", "cache");
                env.put("HOME", ".");
            }, "runtime/quorvane"),
            new Where("no safe place at all", (base, env) -> {
                mine(NOBODY, "777", base.resolve("cache"));
                mine(NOBODY, "777", base.resolve("runtime"));
            }, null),
            new Where("no runtime folder", (base, env) -> {
                mine(NOBODY, "777", base.resolve("cache"));
                env.put("XDG_RUNTIME_DIR", "");
            }, null),
        };
        List<Executable> checks = new ArrayList<>();
        for (int i = 0; i < rows.length; i++) {
            Where row = rows[i];
            Path base = Files.createDirectories(temp.resolve("places").resolve(Integer.toString(i)));
            checks.add(() -> named(row.name(), () -> place(row, base, doc)));
        }
        assertAll(checks);
    }

    private void place(Where row, Path base, String doc) throws Exception {
        Path cwd = mine(NOBODY, "755", base.resolve("cwd"));
        Map<String, String> env = new HashMap<>(Map.of(
                "XDG_CACHE_HOME", mine(NOBODY, "700", base.resolve("cache")).toString(),
                "XDG_RUNTIME_DIR", mine(NOBODY, "700", base.resolve("runtime")).toString()));
        row.place().on(base, env);
        Run first = run(asNobody(), cwd, env, "show", "--json", doc);
        mapped();
        Run second = run(asNobody(), cwd, env, "show", "--json", doc);
        assertEquals(0, first.exit(), first.toString());
        assertTrue(first.out().contains(PROP1), first.toString());
        assertEquals(first, second, "the same output with the archive as without");
        List<Path> made = archives(base);
        if (row.lands() == null) {
            assertEquals(List.of(), made, "archives made");
        } else {
            assertEquals(1, made.size(), made.toString());
            assertEquals(base.resolve(row.lands()), made.get(0).getParent(), "where the archive is");
            assertEquals(NOBODY, Files.getAttribute(made.get(0), "unix:uid"), "whose archive");
        }
        List<Path> real = new ArrayList<>();
        for (Path archive : mapped()) {
            real.add(archive.toRealPath());
        }
        assertEquals(made, real, "the archives mapped");
        try (var left = Files.list(cwd)) {
            assertEquals(List.of(), left.toList(), "nothing in the current folder");
        }
    }

    /** A row's cache: its quorvane folder, the document, the current folder, and runs in them. */
    private record Cache(Path folder, String doc, Path cwd, Map<String, String> env) {
    }

    private interface Prepare {
        void on(Cache cache) throws Exception;
    }

    private interface Expect {
        void on(Cache cache, Run run) throws Exception;
    }

    /** What is left in the folder besides the archive the launcher keeps. */
    private static List<String> leftovers(Cache cache) throws Exception {
        try (var files = Files.list(cache.folder())) {
            return files.map(f -> f.getFileName().toString()).filter(f -> !f.matches("docprops-[0-9]+\\.jsa"))
                    .sorted().toList();
        }
    }

    private record Heal(String name, Prepare prepare, String[] args, int exit, Expect expect) {
    }

    @Test
    void aBrokenArchiveOrAnUnfinishedRunHealsAndNothingIsLeftBehind() throws Exception {
        install();
        long dead = new ProcessBuilder("true").start().onExit().get().pid(), live = ProcessHandle.current().pid();
        Heal[] rows = {
            new Heal("a damaged archive is replaced, and the read runs again", this::damage,
                    new String[] {"show", "--json", "DOC"}, 0, (cache, run) -> {
                        assertTrue(run.out().startsWith("{") && run.out().contains(PROP1), run.toString());
                        assertEquals("", run.err(), "no crash report, no word on the signal");
                        List<Path> now = archives(cache.folder());
                        assertEquals(1, now.size(), now.toString());
                        assertFalse(Arrays.equals(Files.readAllBytes(cache.folder().resolveSibling("damaged")),
                                Files.readAllBytes(now.get(0))), "the damaged archive is still there");
                        assertEquals(2, starts(), "the read ran again");
                        assertEquals(1, mapped().size(), "the second time without it");
                    }),
            new Heal("a damaged archive goes; a command that writes does not run again", this::damage,
                    new String[] {"set", "DOC", "prop1=bbb"}, 134, (cache, run) -> {
                        assertEquals(List.of(), archives(cache.folder()));
                        assertTrue(run.err().startsWith("docprops: "), run.err());
                        assertEquals(1, starts(), "the command ran once");
                    }),
            new Heal("a usage error makes no archive", cache -> { }, new String[] {"show", "--bogus", "DOC"}, 2,
                    (cache, run) -> assertEquals(List.of(), archives(cache.folder()))),
            new Heal("a dump killed part-way installs nothing", cache -> Files.createFile(jdk.resolve("kill-dump")),
                    new String[] {"show", "DOC"}, 0, (cache, run) -> {
                        assertEquals(List.of(), archives(cache.folder()));
                        assertEquals(List.of(), leftovers(cache));
                    }),
            new Heal("an interrupted run leaves no class list", cache -> Files.createFile(jdk.resolve("interrupt")),
                    new String[] {"show", "DOC"}, 130, (cache, run) -> assertEquals(List.of(), leftovers(cache))),
            new Heal("a run with an archive that the user stops (hung on it?) takes it along", cache -> {
                assertEquals(0, run(List.of(docprops.toString()), cache.cwd(), cache.env(), "show", cache.doc())
                        .exit());
                Files.createFile(jdk.resolve("interrupt"));
            }, new String[] {"show", "DOC"}, 130, (cache, run) -> {
                assertEquals(1, mapped().size());
                assertEquals(List.of(), archives(cache.folder()));
            }),
            new Heal("what killed runs left goes, a live run's stays", cache -> {
                for (String name : List.of(".jsa." + dead, ".jsa." + dead + ".classes", ".jsa." + live)) {
                    Files.write(cache.folder().resolve("docprops-1" + name), new byte[4096]);
                }
            }, new String[] {"show", "DOC"}, 0, (cache, run) -> assertEquals(List.of("docprops-1.jsa." + live),
                    leftovers(cache))),
            new Heal("an archive of another key goes when a new one is made", cache -> Files.write(
                    cache.folder().resolve("docprops-1.jsa"), new byte[4096]), new String[] {"show", "DOC"}, 0,
                    (cache, run) -> {
                        List<Path> now = archives(cache.folder());
                        assertEquals(1, now.size(), now.toString());
                        assertNotEquals(cache.folder().resolve("docprops-1.jsa"), now.get(0));
                    }),
            new Heal("an archive others may write in is not mapped, and is replaced", cache -> {
                assertEquals(0, run(List.of(docprops.toString()), cache.cwd(), cache.env(), "show", cache.doc())
                        .exit());
                Files.setPosixFilePermissions(archives(cache.folder()).get(0),
                        PosixFilePermissions.fromString("rw-rw-rw-"));
                mapped();
            }, new String[] {"show", "DOC"}, 0, (cache, run) -> {
                assertEquals(List.of(), mapped());
                assertEquals("r--r--r--", PosixFilePermissions.toString(Files.getPosixFilePermissions(
                        archives(cache.folder()).get(0))));
            }),
        };
        List<Executable> checks = new ArrayList<>();
        for (int i = 0; i < rows.length; i++) {
            Heal row = rows[i];
            Path base = Files.createDirectories(temp.resolve("heal").resolve(Integer.toString(i)));
            checks.add(() -> named(row.name(), () -> heal(row, base)));
        }
        assertAll(checks);
    }

    private void heal(Heal row, Path base) throws Exception {
        Path folder = Files.createDirectories(base.resolve("cache/quorvane"));
        Files.setPosixFilePermissions(folder, PosixFilePermissions.fromString("rwx------"));
        Cache cache = new Cache(folder, DocumentFixtures.copy(base, "2custom.doc"),
                Files.createDirectories(base.resolve("cwd")), Map.of("XDG_CACHE_HOME",
                        base.resolve("cache").toString(), "XDG_RUNTIME_DIR", ""));
        row.prepare().on(cache);
        Files.writeString(jdk.resolve("calls"), "");
        String[] args = Arrays.stream(row.args()).map(a -> a.equals("DOC") ? cache.doc() : a)
                .toArray(String[]::new);
        Run run;
        try {
            run = run(List.of(docprops.toString()), cache.cwd(), cache.env(), args);
        } finally {
            Files.deleteIfExists(jdk.resolve("kill-dump"));
            Files.deleteIfExists(jdk.resolve("interrupt"));
        }
        assertEquals(row.exit(), run.exit(), run.toString());
        row.expect().on(cache, run);
        try (var left = Files.list(cache.cwd())) {
            assertEquals(List.of(), left.toList(), "nothing in the current folder");
        }
    }

    /** A row's check, its failure named after the row. */
    private static void named(String row, Executable check) throws Throwable {
        try {
            check.execute();
        } catch (AssertionError e) {
            throw new AssertionError(row + ": " + e.getMessage(), e);
        }
    }

    /** How many times docprops' own code was started since the note was last emptied. */
    private long starts() throws Exception {
        return Files.readAllLines(jdk.resolve("calls")).stream()
                .filter(call -> call.contains("com.quorvane.tools.DocProps")).count();
    }

    /**
     * An archive made by a first run, then 200 bytes flipped in the start of its first region, which the JVM reads
     * at once (a copy kept as damaged). Flipped anywhere, a few in a dozen archives hang the JVM instead.
     */
    private void damage(Cache cache) throws Exception {
        Run first = run(List.of(docprops.toString()), cache.cwd(), cache.env(), "show", cache.doc());
        assertEquals(0, first.exit(), first.toString());
        Path archive = archives(cache.folder()).get(0);
        byte[] bytes = Files.readAllBytes(archive);
        Random random = new Random(1);
        for (int i = 0; i < 200; i++) {
            bytes[4096 + random.nextInt(65536)] ^= (byte) 0xff;
        }
        Files.setPosixFilePermissions(archive, PosixFilePermissions.fromString("rw-r--r--"));
        Files.write(archive, bytes);
        Files.setPosixFilePermissions(archive, PosixFilePermissions.fromString("r--r--r--"));
        Files.write(cache.folder().resolveSibling("damaged"), bytes);
    }

    /** The jars are found beside the launcher's own folder however the shell was given it (its own path: above). */
    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', textBlock = """
            a link to it in another folder                     | link
            a path from the prefix, with a CDPATH that has bin | relative
            """)
    void jarsFoundHoweverTheLauncherIsReached(String how, String form) throws Exception {
        install();
        Path prefix = docprops.getParent().getParent();
        String doc = DocumentFixtures.copy(temp, "2custom.doc");
        Path decoy = Files.createDirectories(temp.resolve("decoy/bin"));
        List<String> launcher = form.equals("link")
                ? List.of(Files.createSymbolicLink(Files.createDirectories(temp.resolve("elsewhere"))
                        .resolve("docprops"), docprops).toString())
                : List.of("sh", "bin/docprops");
        Run run = run(launcher, prefix, Map.of("CDPATH", decoy.getParent().toString(), "XDG_CACHE_HOME",
                temp.resolve("cache").toString()), "show", "--json", doc);
        assertEquals(0, run.exit(), run.toString());
        assertTrue(run.out().contains(PROP1), run.toString());
    }

    /** The launcher reads ahead, while the JVM starts, every library ours links beside the C runtime's. */
    @Test
    void everyLibraryOursLinksIsReadAhead() throws Exception {
        Path build = Path.of(System.getenv("QV_BUILD_DIR"));
        String launcher = Files.readString(build.resolve("install-stage/docprops"));
        Process readelf = new ProcessBuilder("readelf", "-dW", build.resolve("lib/libquorvane.so").toString()).start();
        String dynamic = new String(readelf.getInputStream().readAllBytes(), UTF_8);
        assertEquals(0, readelf.waitFor());
        Matcher needed = Pattern.compile("\\(NEEDED\\).*\\[(.+)\\]").matcher(dynamic);
        int linked = 0;
        while (needed.find()) {
            String soname = needed.group(1);
            if (soname.matches("(libc|libm|libgcc_s|ld-linux-x86-64)\\.so\\.[0-9]+")) continue;
            Matcher named = Pattern.compile("\"(/[^\"]+/" + Pattern.quote(soname) + ")\"").matcher(launcher);
            assertTrue(named.find(), soname + " is not read ahead:\n" + launcher);
            assertTrue(Files.isReadable(Path.of(named.group(1))), named.group(1));
            linked++;
        }
        assertTrue(linked > 0, dynamic);
    }
}
