package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.*;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.io.*;
import java.nio.charset.StandardCharsets;
import java.nio.file.*;
import java.nio.file.attribute.*;
import java.util.*;
import java.util.concurrent.TimeUnit;

// Child JVMs and programs; locales are made once per run into a private LOCPATH so no system locale changes.
final class ChildJvm {
    static final List<String> AS_NOBODY = List.of("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups");
    private static Path locales;

    private ChildJvm() {
    }

    record Run(int exit, String output) {
    }

    /** The environment of a user whose locale is de_DE.UTF-8 or de_DE.ISO-8859-1 (or C.UTF-8). */
    static synchronized Map<String, String> locale(String name) throws Exception {
        if (locales == null) {
            Path made = Files.createTempDirectory("qv-locales");
            for (String charset : new String[] {"UTF-8", "ISO-8859-1"}) {
                Path target = made.resolve("de_DE." + charset);
                Run run = run(Map.of(), List.of("localedef", "-c", "-i", "de_DE", "-f", charset, target.toString()));
                if (!Files.isDirectory(target)) { // -c: it exits 1 on mere warnings
                    throw new IOException("localedef made no " + target + ": " + run.output());
                }
            }
            locales = made;
        }
        return Map.of("LOCPATH", locales.toString(), "LC_ALL", name);
    }

    static Path location(Class<?> c) throws Exception {
        return Path.of(c.getProtectionDomain().getCodeSource().getLocation().toURI());
    }

    /** A JVM on this library running main, behind prefix (setpriv, unshare); the client from client or its jar. */
    static List<String> java(List<String> prefix, Path client, Class<?> main, String... args) throws Exception {
        Path tests = location(main);
        Path clientJar = client != null ? client : location(Win32Impl.class);
        Path library = Path.of(System.getProperty("java.library.path"));
        if (prefix.equals(AS_NOBODY)) { // the build may sit in a folder only its owner can enter
            tests = readableCopy(tests);
            clientJar = readableCopy(clientJar);
            library = readableCopy(library);
        }
        List<String> command = new ArrayList<>(prefix);
        command.addAll(List.of(Path.of(System.getProperty("java.home"), "bin", "java").toString(), "-Xcheck:jni",
                "-Djava.library.path=" + library, "-cp", tests + File.pathSeparator + clientJar, main.getName()));
        command.addAll(List.of(args));
        return command;
    }

    private static Path readable;
    private static final Set<PosixFilePermission> READABLE = PosixFilePermissions.fromString("rwxr-xr-x");

    /** A copy of a file, or of a folder's files, that every user can read; made once per run. */
    static synchronized Path readableCopy(Path source) throws IOException {
        if (readable == null) {
            readable = Files.createTempDirectory("qv-readable");
            Files.setPosixFilePermissions(readable, READABLE);
            Path made = readable;
            Runtime.getRuntime().addShutdownHook(new Thread(() -> {
                try (var tree = Files.walk(made)) {
                    tree.sorted(java.util.Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
                } catch (IOException e) { // left in the temporary folder
                }
            }));
        }
        Path target = readable.resolve(Integer.toHexString(source.toString().hashCode())).resolve(
                source.getFileName());
        if (Files.exists(target)) {
            return target;
        }
        Files.setPosixFilePermissions(Files.createDirectories(target.getParent()), READABLE);
        if (Files.isDirectory(source)) {
            Files.createDirectory(target);
            try (var files = Files.list(source)) {
                for (Path file : (Iterable<Path>) files.filter(Files::isRegularFile)::iterator) {
                    Files.copy(file, target.resolve(file.getFileName()));
                }
            }
        } else {
            Files.copy(source, target);
        }
        try (var all = Files.walk(target)) {
            for (Path p : (Iterable<Path>) all::iterator) {
                Files.setPosixFilePermissions(p, READABLE);
            }
        }
        return target;
    }

    /** Starts command with the environment changed by env. */
    static Process start(Map<String, String> env, List<String> command) throws IOException {
        ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(true);
        if (env.containsKey("LC_ALL")) {
            builder.environment().remove("LANG");
        }
        builder.environment().putAll(env);
        return builder.start();
    }

    /** Runs command, as start does, to its end. */
    static Run run(Map<String, String> env, List<String> command) throws Exception {
        Process child = start(env, command);
        String output = new String(child.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        if (!child.waitFor(120, TimeUnit.SECONDS)) {
            child.destroyForcibly();
            throw new IOException("hung: " + command + "\n" + output);
        }
        return new Run(child.exitValue(), output);
    }

    static Run run(Map<String, String> env, Class<?> main, String... args) throws Exception {
        return run(env, java(List.of(), null, main, args));
    }

    /** Runs main to its end; its output, which must come with exit 0 and no warning. */
    static String ok(Map<String, String> env, Class<?> main, String... args) throws Exception {
        Run run = run(env, main, args);
        assertEquals(0, run.exit(), run.output());
        assertFalse(run.output().contains("WARNING") || run.output().contains("Warning:"), run.output());
        return run.output();
    }

    /** Runs a program to its end; its output, failing unless it exits 0. */
    static String exec(Map<String, String> env, String... command) throws Exception {
        Run run = run(env, List.of(command));
        assertEquals(0, run.exit(), String.join(" ", command) + ": " + run.output());
        return run.output();
    }
}
