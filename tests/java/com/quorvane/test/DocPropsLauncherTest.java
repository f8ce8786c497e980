package com.quorvane.test;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.*;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** The installed docprops command and its class-data archive: made and used from the user's own cache folder only. */
class DocPropsLauncherTest {
    @TempDir
    Path temp;

    /** The staged launcher in an install tree of its own, over the build's jars and library. */
    private Path install() throws Exception {
        Path build = Path.of(System.getenv("QV_BUILD_DIR"));
        String launcher = Files.readString(build.resolve("install-stage/docprops"));
        Path prefix = temp.resolve("prefix");
        Files.createDirectories(prefix.resolve("bin"));
        Files.copy(build.resolve("install-stage/docprops"), prefix.resolve("bin/docprops"));
        prefix.resolve("bin/docprops").toFile().setExecutable(true);
        Matcher jars = Pattern.compile("\\$prefix/([^\"]+)/quorvane-client\\.jar").matcher(launcher);
        Matcher jni = Pattern.compile("java\\.library\\.path=\"\\$prefix/([^\"]+)\"").matcher(launcher);
        assertTrue(jars.find() && jni.find(), launcher);
        for (String jar : List.of("quorvane-client.jar", "quorvane-tools.jar")) {
            Files.createDirectories(prefix.resolve(jars.group(1)));
            Files.createSymbolicLink(prefix.resolve(jars.group(1)).resolve(jar), build.resolve("java").resolve(jar));
        }
        Files.createDirectories(prefix.resolve(jni.group(1)));
        Files.createSymbolicLink(prefix.resolve(jni.group(1)).resolve("libquorvane.so"),
                build.resolve("lib/libquorvane.so"));
        return prefix.resolve("bin/docprops");
    }

    private static String run(Path docprops, String cache, String... args) throws Exception {
        return run(new ProcessBuilder(docprops.toString()), cache, args);
    }

    private static String run(ProcessBuilder pb, String cache, String... args) throws Exception {
        pb.command().addAll(List.of(args));
        pb.environment().put("JAVA_HOME", System.getProperty("java.home"));
        pb.environment().put("XDG_CACHE_HOME", cache);
        pb.redirectError(ProcessBuilder.Redirect.DISCARD);
        Process p = pb.start();
        String out = new String(p.getInputStream().readAllBytes(), UTF_8);
        assertEquals(0, p.waitFor(), out);
        return out;
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', textBlock = """
            the user's own folder         | rwx------ | 1
            a folder others may write in  | rwxrwxrwx | 0
            a folder its group may write  | rwxrwx--- | 0
            """)
    void archiveMadeOnceAndUsedOnlyFromAFolderNobodyElseMayWrite(String folder, String mode, int archives)
            throws Exception {
        Path docprops = install();
        String doc = DocumentFixtures.copy(temp, "2custom.doc");
        Path cache = temp.resolve("cache");
        Files.createDirectories(cache.resolve("quorvane"));
        Files.setPosixFilePermissions(cache.resolve("quorvane"), PosixFilePermissions.fromString(mode));

        String first = run(docprops, cache.toString(), "show", "--json", doc);
        String second = run(docprops, cache.toString(), "show", "--json", doc);
        assertTrue(first.contains("\"prop1\":{\"type\":\"text\",\"value\":\"aaa\"}"), first);
        assertEquals(first, second, "the same output with the archive as without");
        try (var files = Files.list(cache.resolve("quorvane"))) {
            assertEquals(archives, files.filter(f -> f.toString().endsWith(".jsa")).count());
        }
    }

    /** The jars are found beside the launcher's own folder however the shell was given it (its own path: above). */
    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', textBlock = """
            a link to it in another folder                     | link
            a path from the prefix, with a CDPATH that has bin | relative
            """)
    void jarsFoundHoweverTheLauncherIsReached(String how, String form) throws Exception {
        Path docprops = install();
        Path prefix = docprops.getParent().getParent();
        String doc = DocumentFixtures.copy(temp, "2custom.doc");
        Path decoy = Files.createDirectories(temp.resolve("decoy/bin"));
        ProcessBuilder pb = form.equals("link")
                ? new ProcessBuilder(Files.createSymbolicLink(
                        Files.createDirectories(temp.resolve("elsewhere")).resolve("docprops"), docprops).toString())
                : new ProcessBuilder("sh", "bin/docprops").directory(prefix.toFile());
        pb.environment().put("CDPATH", decoy.getParent().toString());
        String out = run(pb, temp.resolve("cache").toString(), "show", "--json", doc);
        assertTrue(out.contains("\"prop1\":{\"type\":\"text\",\"value\":\"aaa\"}"), out);
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
