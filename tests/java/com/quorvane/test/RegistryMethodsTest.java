package com.quorvane.test;

import static java.util.stream.Collectors.joining;
import static org.junit.jupiter.api.Assertions.*;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

// Child JVMs keep their registry in a temporary folder, read back with this build's reg tool.
class RegistryMethodsTest {
    @TempDir
    Path folder;
    static final int HKCU = 0x80000001, HKLM = 0x80000002;
    static final String KEY = "Software\\Quorvane JUnit";
    static final String OK = "0\nThe operation completed successfully.\n";

    /** The child: runs one scenario and prints one line per answer. */
    public static final class Child {
        public static void main(String[] args) throws Exception {
            if (args[0].equals("many")) {
                many(args[1], Integer.parseInt(args[2]));
            } else {
                writeEveryTypeThenRefusals();
            }
            System.out.flush();
        }

        static int create(int parent, String sub) {
            int[] h = {0};
            int error = Win32Impl.RegCreateKey(parent, sub, h);
            if (error != 0) throw new IllegalStateException(sub + ": " + error);
            return h[0];
        }

        static void writeEveryTypeThenRefusals() {
            int nested = create(HKCU, KEY + "\\Outer\\Inner");
            int again = create(HKCU, KEY + "\\OUTER\\inner");
            int[] itself = {0};
            System.out.println("null subkey " + Win32Impl.RegCreateKey(nested, null, itself)
                    + " new handle " + (itself[0] != 0 && itself[0] != nested && itself[0] != again));
            for (Object[] row : VALUES) {
                byte[] data = (byte[]) row[2];
                System.out.println(row[0] + " " + Win32Impl.RegSetValueEx(itself[0], (String) row[0], 0,
                        (Integer) row[1], data, data.length));
            }
            int[] h = {7};
            byte[] one = {1};
            System.out.println("unknown key " + Win32Impl.RegSetValueEx(0x12345676, "v", 0, 4, one, 1));
            System.out.println("hklm " + Win32Impl.RegCreateKey(HKLM, "Software\\Quorvane", h) + " " + h[0]);
            System.out.println("empty array " + Win32Impl.RegCreateKey(HKCU, KEY, new int[0]));
            System.out.println("past data " + Win32Impl.RegSetValueEx(HKCU, "v", 0, 3, one, 2));
            try {
                Win32Impl.RegCreateKey(HKCU, KEY, null);
                System.out.println("null array no exception");
            } catch (NullPointerException e) {
                System.out.println("null array NullPointerException");
            }
        }

        static void many(String prefix, int count) {
            int key = create(HKCU, KEY + "\\Shared");
            int failed = 0;
            for (int i = 0; i < count; i++) {
                byte[] data = (prefix + i + "\0").getBytes(StandardCharsets.UTF_16LE);
                failed += Win32Impl.RegSetValueEx(key, prefix + i, 0, 1, data, data.length) != 0 ? 1 : 0;
            }
            System.out.println("failed " + failed);
        }
    }

    static byte[] utf16(String s) {
        return s.getBytes(StandardCharsets.UTF_16LE);
    }

    /** Name (null: the default value), type, data and the line `reg export` writes for it. */
    static final Object[][] VALUES = {
        {null, 1, utf16("d\u00e9faut\0"), "@=\"d\u00e9faut\""},
        {"dword", 4, new byte[] {0x78, 0x56, 0x34, 0x12}, "\"dword\"=dword:12345678"},
        {"qword", 11, new byte[] {1, 2, 3, 4, 5, 6, 7, (byte) 0x80}, "\"qword\"=hex(b):01,02,03,04,05,06,07,80"},
        {"binary", 3, new byte[] {0, (byte) 0xff}, "\"binary\"=hex:00,ff"},
        {"multi", 7, utf16("a\0b\0\0"), "\"multi\"=hex(7):61,00,00,00,62,00,00,00,00,00"},
        {"expand", 2, utf16("%H%\0"), "\"expand\"=hex(2):25,00,48,00,25,00,00,00"},
        {"unknown", 0x1234, new byte[] {9}, "\"unknown\"=hex(1234):09"},
        {"no zero", 1, utf16("x"), "\"no zero\"=hex(1):78,00"},
        {"empty", 3, new byte[0], "\"empty\"=hex:"},
    };

    static Map<String, String> registryIn(Path folder) {
        // The machine store can never exist: an unwritable machine.
        return Map.of("XDG_DATA_HOME", folder.toString(), "QV_REGISTRY_MACHINE_DIR", "/dev/null/quorvane");
    }

    static String child(Path folder, String... args) throws Exception {
        return ChildJvm.ok(registryIn(folder), Child.class, args);
    }

    /** The reg tool's exit code and output. */
    static String reg(Path folder, String... args) throws Exception {
        List<String> command = new ArrayList<>(List.of(System.getenv("QV_BUILD_DIR") + "/bin/reg"));
        command.addAll(List.of(args));
        ChildJvm.Run run = ChildJvm.run(registryIn(folder), command);
        return run.exit() + "\n" + run.output();
    }

    @Test
    void valuesOfEveryTypeArriveAsTheirExactBytesRefusalsAreErrorsAndTwoWritersLoseNothing() throws Exception {
        assertEquals("null subkey 0 new handle true\n" + Arrays.stream(VALUES).map(r -> r[0] + " 0\n").collect(
                joining()) + String.join("\n", "unknown key 6", "hklm 5 0", "empty array 87", "past data 998",
                "null array NullPointerException", ""), child(folder, "write"));
        Path file = folder.resolve("export.reg");
        assertEquals(OK, reg(folder, "export", "HKCU\\" + KEY, file.toString(), "/y"));
        String text = new String(Files.readAllBytes(file), StandardCharsets.UTF_16LE);
        assertTrue(text.startsWith("\uFEFFWindows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\" + KEY
                + "]\r\n"), "a byte-order mark, then the header");
        // Created as Outer\Inner, opened again as OUTER\inner: one key, its first spelling.
        String header = "[HKEY_CURRENT_USER\\" + KEY + "\\Outer\\Inner]\r\n";
        assertEquals(Arrays.stream(VALUES).map(r -> r[3] + "\r\n").collect(joining("", header, "\r\n")),
                text.substring(text.indexOf(header)));
        assertEquals(0, Files.getPosixFilePermissions(folder.resolve("quorvane")).stream()
                .filter(p -> p.name().startsWith("GROUP") || p.name().startsWith("OTHERS")).count());
        // Two processes writing at once lose nothing.
        Future<String> a = Executors.newSingleThreadExecutor().submit(() -> child(folder, "many", "a", "300"));
        assertEquals("failed 0\n", child(folder, "many", "b", "300"));
        assertEquals("failed 0\n", a.get());
        String query = reg(folder, "query", "HKCU\\" + KEY + "\\Shared");
        assertEquals(2 * 300, query.lines().filter(l -> l.contains("REG_SZ")).count());
        assertTrue(query.contains("    b299    REG_SZ    b299\n"), query);
    }

    @Test
    void regExportDeleteImportGivesBackTheSameTree() throws Exception {
        String key = "HKCU\\Software\\Round Trip";
        String[][] adds = { // after "add KEY\Sub", before "/f"
            {"/ve", "/d", "default \"quoted\" \\ back"}, {"/v", "multi", "/t", "REG_MULTI_SZ", "/d", "one\\0two"},
            {"/v", "expand", "/t", "REG_EXPAND_SZ", "/d", "%PATH%;x"},
            {"/v", "n", "/t", "REG_DWORD", "/d", "0xfffffffe"},
            {"/v", "q", "/t", "REG_QWORD", "/d", "0x1122334455667788"},
            {"/v", "long", "/t", "REG_BINARY", "/d", "00112233445566778899aabbccddeeff".repeat(4)}};
        for (String[] add : adds) {
            List<String> args = new ArrayList<>(List.of("add", key + "\\Sub", "/f"));
            args.addAll(2, List.of(add));
            assertEquals(OK, reg(folder, args.toArray(String[]::new)));
        }
        String before = reg(folder, "query", key, "/s");
        Path file = folder.resolve("tree.reg");
        reg(folder, "export", key, file.toString(), "/y");
        assertEquals(OK, reg(folder, "delete", key, "/f"));
        assertEquals("1\nERROR: The system was unable to find the specified registry key or value.\n",
                reg(folder, "query", key));
        assertEquals(OK, reg(folder, "import", file.toString()));
        assertEquals(before, reg(folder, "query", key, "/s"));
        assertTrue(before.contains("    (Default)    REG_SZ    default \"quoted\" \\ back\n"), before);
        assertTrue(before.contains("    multi    REG_MULTI_SZ    one\\0two\n"), before);
        assertTrue(before.contains("    n    REG_DWORD    0xfffffffe\n"), before);
        // The same file as UTF-8 imports the same.
        String text = new String(Files.readAllBytes(file), StandardCharsets.UTF_16LE).substring(1);
        Files.writeString(file, text, StandardCharsets.UTF_8);
        reg(folder, "delete", key, "/f");
        assertEquals(OK, reg(folder, "import", file.toString()));
        assertEquals(before, reg(folder, "query", key, "/s"));
    }
}
