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
 * A second JVM for tests that need another process or another environment, such as a real user's locale.
 * Locales are generated once per run with localedef into a private folder (LOCPATH): no system locale is changed.
 */
final class ChildJvm {
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
                Process p = new ProcessBuilder("localedef", "-c", "-i", "de_DE", "-f", charset,
                        made.resolve("de_DE." + charset).toString()).redirectErrorStream(true).start();
                String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
                if (!p.waitFor(120, TimeUnit.SECONDS) || !Files.isDirectory(made.resolve("de_DE." + charset))) {
                    throw new IOException("localedef made no de_DE." + charset + ": " + out);
                }
            }
            locales = made;
        }
        return Map.of("LOCPATH", locales.toString(), "LC_ALL", name);
    }

    /** Starts main of the given class with the jars holding the from classes, the environment changed by env. */
    static Process start(Map<String, String> env, Class<?> main, List<Class<?>> from, String... args) throws Exception {
        List<String> classPath = new ArrayList<>();
        for (Class<?> c : from) {
            classPath.add(Path.of(c.getProtectionDomain().getCodeSource().getLocation().toURI()).toString());
        }
        String java = Path.of(System.getProperty("java.home"), "bin", "java").toString();
        List<String> command = new ArrayList<>(List.of(java, "-Xcheck:jni", "-Djava.library.path=" + System.getProperty("java.library.path"),
                "-cp", String.join(File.pathSeparator, classPath), main.getName()));
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
