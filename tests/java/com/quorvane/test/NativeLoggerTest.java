package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * The native logger is built while the library loads: a JVM whose
 * XDG_DATA_HOME holds an ai.config writes its lines into that data folder.
 * The settings are read once at load, so each case runs in a child JVM with
 * its own environment.
 */
class NativeLoggerTest {
    private static final Pattern LINE = Pattern.compile(
            "^\\d{4}\\.\\d{2}\\.\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} (\\S+) +\\[(\\d+):(\\d+)\\] (.+) - (.*)$");

    /** Child JVM: loading Win32Impl loads the library, and nothing else; prints its process id. */
    static final class Child {
        public static void main(String[] args) throws ClassNotFoundException {
            Class.forName("com.quorvane.infrastructure.os.windows.Win32Impl");
            System.out.print("pid " + ProcessHandle.current().pid());
        }
    }

    private static long runChild(Path xdgDataHome) throws Exception {
        ChildJvm.Run run = ChildJvm.run(Map.of("XDG_DATA_HOME", xdgDataHome.toString()), Child.class,
                List.of(Child.class, Win32Impl.class));
        assertEquals(0, run.exit(), run.output());
        Matcher pid = Pattern.compile("pid (\\d+)$").matcher(run.output());
        assertTrue(pid.find() && !run.output().contains("WARNING"), run.output());
        return Long.parseLong(pid.group(1));
    }

    @Test
    void loggerReadsItsSettingsAtLoadAndWritesIntoTheDataFolder(@TempDir Path home) throws Exception {
        Path data = Files.createDirectories(home.resolve("Quorvane/data"));
        Files.writeString(data.resolve("ai.config"),
                "# read once, at load\nlogger.file = native.log\nlogger.output = screen\nlogger.level = verbose\n",
                StandardCharsets.ISO_8859_1);
        long pid = runChild(home);

        byte[] bytes = Files.readAllBytes(data.resolve("native.log"));
        assertTrue(bytes.length > 0);
        assertFalse(bytes[0] == (byte) 0xEF, "no byte-order mark");
        List<String> lines = List.of(new String(bytes, StandardCharsets.UTF_8).split("\n"));
        assertEquals(2, lines.size(), String.join("\n", lines));
        String[] expected = {
            "Didn't recognize the logger.output value of 'screen'. Setting to debugger.",
            "Didn't recognize the logger.level value of 'verbose'. Setting level to NONE.",
        };
        for (int i = 0; i < 2; i++) {
            Matcher m = LINE.matcher(lines.get(i));
            assertTrue(m.matches(), lines.get(i));
            assertEquals("ERROR", m.group(1));
            assertEquals(pid, Long.parseLong(m.group(2)), "written by the child JVM");
            assertTrue(m.group(4).endsWith("java"), "the executable of the JVM: " + m.group(4));
            assertEquals(expected[i], m.group(5));
        }
    }

    @Test
    void withoutSettingsTheLoggerStaysSilent(@TempDir Path home) throws Exception {
        Path data = Files.createDirectories(home.resolve("Quorvane/data"));
        runChild(home);
        try (var files = Files.list(data)) {
            assertEquals(0, files.count(), "nothing is created");
        }
    }
}
