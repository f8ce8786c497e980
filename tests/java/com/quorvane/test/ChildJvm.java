package com.quorvane.test;

import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;

/**
 * A second JVM for tests that need another process or another environment,
 * such as a real user's locale. Locales are generated once per run with
 * localedef into a private folder (LOCPATH): no system locale is needed or changed.
 */
final class ChildJvm {
    private static Path locales;

    private ChildJvm() {
    }

    /** Result of a child JVM: its exit code and everything it printed. */
    record Run(int exit, String output) {
    }

    /** The environment of a user whose locale is de_DE.UTF-8 or de_DE.ISO-8859-1. */
    static Map<String, String> locale(String name) throws Exception {
        return Map.of("LOCPATH", localeDir().toString(), "LC_ALL", name);
    }

    private static synchronized Path localeDir() throws Exception {
        if (locales == null) {
            Path made = Files.createTempDirectory("qv-locales");
            for (String[] l : new String[][] {{"UTF-8", "de_DE.UTF-8"}, {"ISO-8859-1", "de_DE.ISO-8859-1"}}) {
                Process p = new ProcessBuilder("localedef", "-c", "-i", "de_DE", "-f", l[0],
                        made.resolve(l[1]).toString()).redirectErrorStream(true).start();
                String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
                p.waitFor(120, TimeUnit.SECONDS);
                if (!Files.isDirectory(made.resolve(l[1]))) {
                    throw new IOException("localedef made no " + l[1] + ": " + out);
                }
            }
            locales = made;
        }
        return locales;
    }

    /** Starts main of the given class with the jars holding the from classes, the environment changed by env. */
    static Process start(Map<String, String> env, Class<?> main, List<Class<?>> from, String... args) throws Exception {
        StringBuilder classPath = new StringBuilder();
        for (Class<?> c : from) {
            classPath.append(File.pathSeparator)
                    .append(Path.of(c.getProtectionDomain().getCodeSource().getLocation().toURI()));
        }
        List<String> command = new ArrayList<>(List.of(
                Path.of(System.getProperty("java.home"), "bin", "java").toString(), "-Xcheck:jni",
                "-Djava.library.path=" + System.getProperty("java.library.path"),
                "-cp", classPath.substring(1), main.getName()));
        command.addAll(List.of(args));
        ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(true);
        if (env.containsKey("LC_ALL")) {
            builder.environment().remove("LANG");
        }
        builder.environment().putAll(env);
        return builder.start();
    }

    /** Runs main as start does, to its end. */
    static Run run(Map<String, String> env, Class<?> main, List<Class<?>> from, String... args) throws Exception {
        Process child = start(env, main, from, args);
        String output = new String(child.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        if (!child.waitFor(120, TimeUnit.SECONDS)) {
            child.destroyForcibly();
            throw new IOException("child JVM hung: " + output);
        }
        return new Run(child.exitValue(), output);
    }
}
