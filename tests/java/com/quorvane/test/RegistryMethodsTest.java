package com.quorvane.test;

import static java.util.stream.Collectors.joining;
import static org.junit.jupiter.api.Assertions.*;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.nio.charset.StandardCharsets;
import java.nio.file.*;
import java.util.*;
import java.util.concurrent.*;
import java.util.stream.Stream;
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
            } else if (args[0].equals("held")) {
                changedDuringAWaitingWrite(args[1]);
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
            byte[] one = {1};
            // A name that no .reg line can hold, away from the exported tree.
            System.out.println("line break name " + Win32Impl.RegSetValueEx(create(HKCU, KEY + " Break"), "a\nb", 0,
                    3, one, 1));
            int[] h = {7};
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

        /**
         * RegSetValueEx waits on the store's write lock, which sqlite3 holds, while this thread changes the array:
         * the change stays, and the value written is the array as it was passed.
         */
        static void changedDuringAWaitingWrite(String store) throws Exception {
            int key = create(HKCU, KEY + "\\Race");
            for (int round = 0; round < 5; round++) {
                Process holder = new ProcessBuilder("sqlite3", store).redirectErrorStream(true).start();
                var toHolder = new java.io.PrintWriter(holder.getOutputStream(), true);
                var fromHolder = new java.io.BufferedReader(new java.io.InputStreamReader(holder.getInputStream()));
                toHolder.println("BEGIN IMMEDIATE; SELECT 'held';");
                String held = fromHolder.readLine();
                byte[] data = {1, 2, 3, (byte) round};
                int[] result = {-1};
                String name = "v" + round;
                Thread writer = new Thread(() -> result[0] = Win32Impl.RegSetValueEx(key, name, 0, 3, data, 4));
                writer.start();
                while (writer.isAlive() && Arrays.stream(writer.getStackTrace()).noneMatch(
                        f -> f.isNativeMethod() && f.getMethodName().equals("RegSetValueEx"))) {
                    Thread.sleep(1);
                }
                Thread.sleep(200); // inside the call, waiting on the lock
                data[0] = 99;
                toHolder.println("COMMIT;");
                toHolder.close();
                holder.waitFor();
                writer.join();
                System.out.println(held + " " + result[0] + " kept " + data[0]);
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
        {"line break", 1, utf16("a\nb\0"), "\"line break\"=hex(1):61,00,0a,00,62,00,00,00"},
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
                joining()) + String.join("\n", "line break name 0", "unknown key 6", "hklm 5 0", "empty array 87",
                "past data 998", "null array NullPointerException", ""), child(folder, "write"));
        Path file = folder.resolve("export.reg");
        assertEquals(OK, reg(folder, "export", "HKCU\\" + KEY, file.toString(), "/y"));
        String text = new String(Files.readAllBytes(file), StandardCharsets.UTF_16LE);
        assertTrue(text.startsWith("\uFEFFWindows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\" + KEY
                + "]\r\n"), "a byte-order mark, then the header");
        // Created as Outer\Inner, opened again as OUTER\inner: one key, its first spelling.
        String header = "[HKEY_CURRENT_USER\\" + KEY + "\\Outer\\Inner]\r\n";
        assertEquals(Arrays.stream(VALUES).map(r -> r[3] + "\r\n").collect(joining("", header, "\r\n")),
                text.substring(text.indexOf(header)));
        assertEquals(OK, reg(folder, "delete", "HKCU\\" + KEY, "/f"));
        assertEquals(OK, reg(folder, "import", file.toString()));
        assertEquals(OK, reg(folder, "export", "HKCU\\" + KEY, file.toString(), "/y"));
        assertEquals(text, new String(Files.readAllBytes(file), StandardCharsets.UTF_16LE), "export, import, export");
        assertTrue(reg(folder, "query", "HKCU\\" + KEY + "\\Outer\\Inner").contains("    unknown    0x1234    09\n"));
        assertEquals("1\nERROR: HKEY_CURRENT_USER\\" + KEY + " Break\\a\nb has a line break in its name, which a .reg "
                + "file cannot hold.\n", reg(folder, "export", "HKCU\\" + KEY + " Break", file.toString(), "/y"));
        assertEquals(0, Files.getPosixFilePermissions(folder.resolve("quorvane")).stream()
                .filter(p -> p.name().startsWith("GROUP") || p.name().startsWith("OTHERS")).count());
        // Two processes writing at once lose nothing.
        Future<String> a = Executors.newSingleThreadExecutor().submit(() -> child(folder, "many", "a", "300"));
        assertEquals("failed 0\n", child(folder, "many", "b", "300"));
        assertEquals("failed 0\n", a.get());
        String query = reg(folder, "query", "HKCU\\" + KEY + "\\Shared");
        assertEquals(2 * 300, query.lines().filter(l -> l.contains("REG_SZ")).count());
        assertTrue(query.contains("    b299    REG_SZ    b299\n"), query);
        // A damaged page: every command that reads it fails, none stops short as if the data ended there.
        Path store = folder.resolve("quorvane/registry.sqlite3");
        ChildJvm.exec(Map.of(), "sqlite3", store.toString(), "PRAGMA wal_checkpoint(TRUNCATE)");
        byte[] bytes = Files.readAllBytes(store);
        int at = new String(bytes, StandardCharsets.ISO_8859_1).indexOf(new String(utf16("b150\0"),
                StandardCharsets.ISO_8859_1));
        Arrays.fill(bytes, at / 4096 * 4096, at / 4096 * 4096 + 4096, (byte) 0);
        Files.write(store, bytes);
        String corrupt = "1\nERROR: The configuration registry database is corrupt.\n";
        assertEquals(corrupt, reg(folder, "query", "HKCU\\" + KEY + "\\Shared"));
        assertEquals(corrupt, reg(folder, "export", "HKCU\\" + KEY, folder.resolve("damaged.reg").toString(), "/y"));
    }

    @Test
    void anArrayChangedWhileRegSetValueExWaitsKeepsTheChange() throws Exception {
        child(folder, "many", "seed", "1");
        String store = folder.resolve("quorvane/registry.sqlite3").toString();
        assertEquals("held 0 kept 99\n".repeat(5), child(folder, "held", store));
        String query = reg(folder, "query", "HKCU\\" + KEY + "\\Race");
        for (int round = 0; round < 5; round++) {
            assertTrue(query.contains("    v" + round + "    REG_BINARY    0102030" + round + "\n"), query);
        }
    }

    static final String Q = "HKEY_CURRENT_USER\\Software\\Q";
    static final String USAGE = "For help on a specific operation type";

    /** reg's arguments, then its exit code and output, or (ending in "...") how its output begins. */
    static final String[][] COMMANDS = {
        {"/?", "0\n\nREG Operation [Parameter List]\n..."},
        {"QUERY", "/?", "0\n\nREG QUERY KeyName [/v [ValueName] | /ve] [/s]\n..."},
        {"copy", "-?", "0\n\nREG COPY KeyName1 KeyName2 [/s] [/f]\n..."},
        {"query", "HKCU\\Software\\\\Q", "1\nERROR: Invalid key name: the part after \"Software\" is empty.\n"
            + "Type \"REG QUERY /?\" for usage.\n"},
        {"add", "HKCU\\" + "x".repeat(256) + "\\y", "1\nERROR: Invalid key name: \"xxxxxxxxxxxxxxxx...\" is longer "
            + "than 255 characters.\nType \"REG ADD /?\" for usage.\n"},
        {"delete", "HKXX\\Software", "1\nERROR: Invalid key name: \"HKXX\" is not a root key (HKLM, HKCU, HKCR, HKU or "
            + "HKCC).\nType \"REG DELETE /?\" for usage.\n"},
        {"add", "HKCC\\Software\\X", "/f", "1\nERROR: Access is denied.\n"},
        {"query", Q, "/f", "hello", "0\n\n" + Q + "\n    Name    REG_SZ    Hello World\n\n" + Q + "\\SubHello\n\n"
            + "End of search: 2 match(es) found.\n"},
        {"query", Q, "/f", "hello", "/k", "0\n\n" + Q + "\\SubHello\n\nEnd of search: 1 match(es) found.\n"},
        {"query", Q, "/f", "hello", "/c", "0\n\nEnd of search: 0 match(es) found.\n"},
        {"query", Q, "/f", "Hello", "/e", "/d", "0\n\nEnd of search: 0 match(es) found.\n"},
        {"query", Q, "/f", "Hello World", "/e", "/d", "0\n\n" + Q + "\n    Name    REG_SZ    Hello World\n\n"
            + "End of search: 1 match(es) found.\n"},
        {"query", Q, "/f", "N*", "/e", "/v", "0\n\n" + Q + "\n    Name    REG_SZ    Hello World\n"
            + "    Num    REG_DWORD    0x5\n\nEnd of search: 2 match(es) found.\n"},
        {"query", Q, "/t", "REG_DWORD", "/z",
            "0\n\n" + Q + "\n    Num    REG_DWORD (4)    0x5\n\n" + Q + "\\SubHello\n"},
        {"query", Q, "/v", "multi", "/se", "#", "0\n\n" + Q + "\n    Multi    REG_MULTI_SZ    a#b\n"},
        {"query", Q, "/k", "1\nERROR: Invalid syntax.\nType \"REG QUERY /?\" for usage.\n"},
        {"copy", Q, Q + "\\SubHello\\Deeper", "/s", "/f",
            "1\nERROR: A key cannot be copied into itself or one of its subkeys.\n"},
        {"copy", Q, "HKCU\\Software\\Q2", "/s", "/f", OK},
        {"copy", "HKCU\\Software\\Missing", "HKCU\\Software\\Q3", "/f",
            "1\nERROR: The system was unable to find the specified registry key or value.\n"},
    };

    /** reg add KEY ARGS /f, which must succeed. */
    void add(String key, String... args) throws Exception {
        assertEquals(OK, reg(folder, Stream.of(Stream.of("add", key), Stream.of(args), Stream.of("/f"))
                .flatMap(a -> a).toArray(String[]::new)), String.join(" ", args));
    }

    @Test
    void regCommandsAnswerAsWindowsDocumentsThem() throws Exception {
        add(Q, "/v", "Name", "/d", "Hello World");
        add(Q, "/v", "Num", "/t", "REG_DWORD", "/d", "5");
        add(Q, "/v", "Multi", "/t", "REG_MULTI_SZ", "/d", "a\\0b");
        add(Q + "\\SubHello", "/ve", "/d", "x");
        for (String[] row : COMMANDS) {
            String expected = row[row.length - 1];
            String actual = reg(folder, Arrays.copyOf(row, row.length - 1));
            String label = String.join(" ", Arrays.copyOf(row, row.length - 1));
            if (expected.endsWith("...")) {
                assertTrue(actual.startsWith(expected.substring(0, expected.length() - 3)), label + ": " + actual);
            } else {
                assertEquals(expected, actual, label);
            }
        }
        assertEquals(reg(folder, "query", Q, "/s").replace(Q, Q + "2"), reg(folder, "query", Q + "2", "/s"), "copy /s");
        // REGEDIT4 files are ANSI: Windows-1252 text, and hex(2)/hex(7) data widened to UTF-16.
        Path old = folder.resolve("old.reg");
        Files.write(old, ("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Ansi]\r\n"
                + "\"text\"=\"Caf\u00e9 \u00fcber \u20ac\"\r\n"
                + "\"expand\"=hex(2):25,50,41,54,48,25,80,00\r\n\"multi\"=hex(7):e9,00,62,00,00\r\n")
                .getBytes("windows-1252"));
        assertEquals(OK, reg(folder, "import", old.toString()));
        assertEquals("0\n\nHKEY_CURRENT_USER\\Software\\Ansi\n    text    REG_SZ    Caf\u00e9 \u00fcber \u20ac\n"
                + "    expand    REG_EXPAND_SZ    %PATH%\u20ac\n    multi    REG_MULTI_SZ    \u00e9\\0b\n\n",
                reg(folder, "query", "HKCU\\Software\\Ansi"));
    }

    /** Lines after the header of a file that imports nothing, and what reg says of it. */
    static final String[][] IMPORT_ERRORS = {
        {"[-HKEY_CURRENT_USER]", "1\nERROR: Line 3: a predefined key cannot be deleted.\n"},
        {"[-HKEY_CURRENT_USER\\]", "1\nERROR: Line 3: a predefined key cannot be deleted.\n"},
        {"[HKEY_CURRENT_USER\\Software\\Round Trip\\New]\r\n\"a\"=dword:1\r\n"
            + "[HKEY_CURRENT_USER\\Software\\Round Trip\\Sub\r\n\"n\"=dword:2",
            "1\nERROR: Line 5: the key has no closing bracket.\n"},
        {"[HKEY_CURRENT_USER\\Software\\Round Trip\\Sub]\r\n\"n\"=hex:01,\\\r\n  02\r\n\"q\"=dword:xyz",
            "1\nERROR: Line 6: the value cannot be read.\n"},
        {"\"n\"=dword:2", "1\nERROR: Line 3: a value outside a key.\n"},
        {"[HKEY_CURRENT_USER\\Software\\\\Round Trip]", "1\nERROR: Line 3: invalid key name: the part after "
            + "\"Software\" is empty.\n"},
        {"[HKEY_CURRENT_USER\\Software\\Round Trip\\Sub]\r\n\"n\"=dword:2\r\n[HKEY_LOCAL_MACHINE\\Software\\X]",
            "1\nERROR: Line 5: Access is denied.\n"},
    };

    @Test
    void regExportDeleteImportGivesBackTheSameTree() throws Exception {
        String key = "HKCU\\Software\\Round Trip";
        String[][] adds = {
            {"/ve", "/d", "default \"quoted\" \\ back"}, {"/v", "multi", "/t", "REG_MULTI_SZ", "/d", "one\\0two"},
            {"/v", "expand", "/t", "REG_EXPAND_SZ", "/d", "%PATH%;x"},
            {"/v", "n", "/t", "REG_DWORD", "/d", "0xfffffffe"},
            {"/v", "q", "/t", "REG_QWORD", "/d", "0x1122334455667788"},
            {"/v", "long", "/t", "REG_BINARY", "/d", "00112233445566778899aabbccddeeff".repeat(4)}};
        for (String[] args : adds) {
            add(key + "\\Sub", args);
        }
        String before = reg(folder, "query", key, "/s");
        assertTrue(before.contains("    (Default)    REG_SZ    default \"quoted\" \\ back\n") && before.contains(
                "    multi    REG_MULTI_SZ    one\\0two\n") && before.contains("    n    REG_DWORD    0xfffffffe\n"),
                before);
        Path file = folder.resolve("tree.reg");
        assertEquals(OK, reg(folder, "export", key, file.toString(), "/y"));
        for (String[] row : IMPORT_ERRORS) {
            Path bad = folder.resolve("bad.reg");
            Files.writeString(bad, "Windows Registry Editor Version 5.00\r\n\r\n" + row[0] + "\r\n");
            assertEquals(row[1], reg(folder, "import", bad.toString()), row[0]);
            assertEquals(before, reg(folder, "query", key, "/s"), row[0]);
        }
        // The export (UTF-16 import is the first test's) as UTF-8, with spaces after its key lines.
        String text = new String(Files.readAllBytes(file), StandardCharsets.UTF_16LE).substring(1);
        Files.writeString(file, text.replace("]\r\n", "] \r\n"), StandardCharsets.UTF_8);
        assertEquals(OK, reg(folder, "delete", key, "/f"));
        assertEquals("1\nERROR: The system was unable to find the specified registry key or value.\n",
                reg(folder, "query", key));
        assertEquals(OK, reg(folder, "import", file.toString()));
        assertEquals(before, reg(folder, "query", key, "/s"));
    }
}
