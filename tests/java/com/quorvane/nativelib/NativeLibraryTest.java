package com.quorvane.nativelib;

import static org.junit.jupiter.api.Assertions.*;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** Which of the jar's libraries a JVM is given, and what the loader reads of a library file before loading it. */
class NativeLibraryTest {
    @TempDir
    Path temp;

    @Test
    void eachPlatformGetsItsLibraryOrANamedRefusal() {
        String[][] rows = { // os.name, os.arch, the library or null for a refusal
            {"Linux", "amd64", "linux-x86-64/libquorvane.so"}, {"Linux", "x86_64", "linux-x86-64/libquorvane.so"},
            {"Windows 10", "x86", "win32-x86/quorvane.dll"}, {"Windows XP", "i386", "win32-x86/quorvane.dll"},
            {"Windows 11", "amd64", "win32-x86-64/quorvane.dll"},
            {"Windows Server 2022", "x86_64", "win32-x86-64/quorvane.dll"},
            {"Linux", "aarch64", null}, {"Linux", "x86", null}, // a 32-bit JVM cannot load the x86-64 library
            {"Linux", "amd64-but-not", null}, {"Windows 11", "aarch64", null}, {"Mac OS X", "x86_64", null},
            {"FreeBSD", "amd64", null}, {"SunOS", "x86", null}};
        for (String[] row : rows) {
            String where = row[0] + "/" + row[1];
            NativeLibrary.Platform platform = NativeLibrary.select(row[0], row[1]);
            assertEquals(row[2], platform == null ? null : platform.resource(), where);
            String message = NativeLibrary.unserved(row[0], row[1]).getMessage();
            assertTrue(row[2] != null || message.contains("os.name=" + row[0] + ", os.arch=" + row[1])
                    && message.contains("serves Linux amd64/x86_64 (linux-x86-64/libquorvane.so)"), message);
        }
    }

    private interface Change {
        byte[] on(byte[] bytes);
    }

    /** The version each library reports from its headers, as built, and after damage a reader must survive. */
    @Test
    void theVersionIsReadFromTheHeadersAndNothingElse() throws Exception {
        Path linux = Path.of(System.getProperty("java.library.path"), "libquorvane.so");
        String version = Contents.version();
        String mark = "quorvane " + version;
        Object[][] rows = {
            {"this build's library", (Change) b -> b, version},
            {"another version", (Change) b -> replace(b, mark, "quorvane 9.8.7"), "9.8.7"},
            {"no mark", (Change) b -> replace(b, mark, "quorvanX " + version), null},
            {"cut off after the ELF header", (Change) b -> Arrays.copyOf(b, 64), null},
            {"cut off inside the section table", (Change) b -> Arrays.copyOf(b, b.length - 100), null},
            {"a section table beyond the end", (Change) b -> set(b, 0x2f, 0x7f), null},
            {"a section name index beyond its table", (Change) b -> set(b, 0x3e, 0xff), null},
            {"an empty file", (Change) b -> new byte[0], null},
            {"a text file that says the mark", (Change) b -> mark.getBytes(StandardCharsets.US_ASCII), null},
        };
        for (Object[] row : rows) {
            Path file = Files.write(temp.resolve("lib.so"), ((Change) row[1]).on(Files.readAllBytes(linux)));
            assertEquals(row[2], Binaries.version(file.toFile()), (String) row[0]);
        }
        for (String dll : new String[] {"win32-x86/quorvane.dll", "win32-x86-64/quorvane.dll"}) {
            if (Contents.sha256(dll) != null) { // the jar carries it: it says its version in its .qvver section
                try (var in = NativeLibrary.class.getResourceAsStream("/" + dll)) {
                    Path file = Files.write(temp.resolve("quorvane.dll"), in.readAllBytes());
                    assertEquals(version, Binaries.version(file.toFile()), dll);
                    byte[] other = replace(Files.readAllBytes(file), mark, "quorvane 9.8.7");
                    assertEquals("9.8.7", Binaries.version(Files.write(file, other).toFile()), dll);
                }
            }
        }
    }

    /** A JVM on musl is told the jar's library needs the GNU C library; one on glibc is not. */
    @Test
    void muslIsRecognisedByTheProgramsInterpreter() throws Exception {
        File java = new File(System.getProperty("java.home"), "bin/java");
        assertNull(NativeLibrary.musl(java), "this JVM runs on glibc");
        byte[] bytes = Files.readAllBytes(java.toPath());
        String glibc = Binaries.interpreter(java);
        assertTrue(glibc.contains("ld-linux"), glibc);
        String musl = "/lib/ld-musl-x86_64.so.1";
        assertTrue(musl.length() <= glibc.length());
        replace(bytes, glibc, musl + "\0".repeat(glibc.length() - musl.length()));
        Path program = Files.write(temp.resolve("java"), bytes);
        assertEquals(musl, NativeLibrary.musl(program.toFile()));
        String message = NativeLibrary.needsGlibc(NativeLibrary.select("Linux", "amd64"), musl);
        assertTrue(message.contains("needs the GNU C library") && message.contains(musl), message);
    }

    private static byte[] replace(byte[] bytes, String from, String to) {
        byte[] a = from.getBytes(StandardCharsets.ISO_8859_1), b = to.getBytes(StandardCharsets.ISO_8859_1);
        for (int i = 0; i + a.length <= bytes.length; i++) {
            if (Arrays.equals(bytes, i, i + a.length, a, 0, a.length)) {
                System.arraycopy(b, 0, bytes, i, b.length);
                return bytes;
            }
        }
        return fail("no " + from);
    }

    private static byte[] set(byte[] bytes, int at, int value) {
        bytes[at] = (byte) value;
        return bytes;
    }
}
