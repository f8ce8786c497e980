package com.quorvane.test;

import static java.nio.charset.StandardCharsets.ISO_8859_1;
import static org.junit.jupiter.api.Assertions.*;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.nio.*;
import java.nio.charset.StandardCharsets;
import java.nio.file.*;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.*;
import java.util.jar.*;
import java.util.stream.*;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class SystemInfoMethodsTest {
    @Test
    void systemMessagesEndAsWindowsTextsAndTakeTheInsert() {
        // Each id's text is FormatMessageW's (MessageFormatTest); here the text and a whole negative id cross intact.
        String text = Win32Impl.getSystemMessage(0x80004005, "x");
        assertTrue(text.length() > 3 && text.endsWith(".\r\n"), text);
        // The insert goes in, a null one as empty text.
        assertEquals(List.of(true, false, "Unknown error (couldn't find a system message for it)."), List.of(
                Win32Impl.getSystemMessage(193, "tool.exe").startsWith("tool.exe "), Win32Impl.getSystemMessage(193,
                null).contains("%1"), Win32Impl.getSystemMessage(0x7FFFFFFF, "x")));
    }

    @Test
    void processesMatchByBaseNameIgnoringCaseNeverAnotherUsersEvenPastTheFirst1024(@TempDir Path dir) throws Exception {
        Path exe = Path.of(ProcessHandle.current().info().command().orElseThrow());
        String name = exe.getFileName().toString();
        // Only base names are compared.
        assertEquals(List.of(true, false, false, false, false), Stream.of(name.toUpperCase(Locale.ROOT), exe.toString(),
                name + ".exe", "no-such-program-" + System.nanoTime(), null).map(Win32Impl::isProcessRunning).toList());
        // Copies of sleep under names of their own: one run by root, one by nobody; and nobody's own process that
        // made itself non-dumpable, as ssh-agent does: a copy of python.
        Files.setPosixFilePermissions(dir, PosixFilePermissions.fromString("rwxr-xr-x"));
        String roots = "qvroot-" + System.nanoTime(), nobodys = "qvother-" + System.nanoTime();
        String hidden = "qvhidden-" + System.nanoTime();
        for (String copy : List.of(roots, nobodys, hidden)) {
            Files.copy(Path.of(copy.equals(hidden) ? "/usr/bin/python3" : "/bin/sleep"), dir.resolve(copy),
                    StandardCopyOption.COPY_ATTRIBUTES);
        }
        // All three start after enough sleepers that more than 1,100 processes run: past the first 1024 listed.
        long running;
        try (Stream<Path> proc = Files.list(Path.of("/proc"))) {
            running = proc.filter(p -> p.getFileName().toString().matches("[1-9][0-9]*")).count();
        }
        List<Process> started = new ArrayList<>(List.of(new ProcessBuilder("sh", "-c", "i=0; while [ $i -lt $0 ];"
                + " do sleep 60 & i=$((i+1)); done; echo started; wait", Long.toString(Math.max(0, 1100 - running)))
                .redirectErrorStream(true).start()));
        try {
            assertEquals("started", new String(started.get(0).getInputStream().readNBytes(7), ISO_8859_1));
            started.add(ChildJvm.start(Map.of(), List.of(dir.resolve(roots).toString(), "60")));
            started.add(ChildJvm.start(Map.of(), Stream.concat(ChildJvm.AS_NOBODY.stream(),
                    Stream.of(dir.resolve(nobodys).toString(), "60")).toList()));
            Process undumpable = ChildJvm.start(Map.of(), Stream.concat(ChildJvm.AS_NOBODY.stream(), Stream.of(
                    dir.resolve(hidden).toString(), "-c", "import ctypes, time\n"
                    + "ctypes.CDLL(None).prctl(4, 0, 0, 0, 0)  # PR_SET_DUMPABLE\ntime.sleep(60)")).toList());
            started.add(undumpable);
            // Root opens every process, as an elevated administrator does on Windows.
            for (int i = 0; i < 100 && !Win32Impl.isProcessRunning(nobodys); i++) {
                Thread.sleep(50);
            }
            // A non-dumpable process's /proc files belong to root.
            Path proc = Path.of("/proc/" + undumpable.pid());
            for (int i = 0; i < 100 && !Files.getOwner(proc).getName().equals("root"); i++) {
                Thread.sleep(50);
            }
            assertTrue(Win32Impl.isProcessRunning(nobodys) && Win32Impl.isProcessRunning(roots));
            assertEquals("false\ntrue\ntrue\n", child(ChildJvm.AS_NOBODY, null, "running:" + roots,
                    "running:" + nobodys, "running:" + hidden.toUpperCase(Locale.ROOT)));
        } finally {
            started.get(0).descendants().forEach(ProcessHandle::destroyForcibly);
            started.forEach(Process::destroyForcibly);
        }
    }

    @Test
    void fileVersionsComeFromPeVersionResourcesOnly(@TempDir Path dir) throws Exception {
        // A 32-bit DLL with version 1.2.3.4.
        Path dll = dll(dir, "v", "1 VERSIONINFO\nFILEVERSION 1,2,3,4\nPRODUCTVERSION 9,9,9,9\n"
                + "BEGIN\nBLOCK \"StringFileInfo\"\nBEGIN\nBLOCK \"040904B0\"\nBEGIN\n"
                + "VALUE \"FileVersion\", \"1.2.3.4\"\nEND\nEND\nEND\n");
        byte[] bytes = Files.readAllBytes(dll);
        int key = indexOf(bytes, "VS_VERSION_INFO".getBytes(StandardCharsets.UTF_16LE));
        int signature = indexOf(bytes, new byte[] {(byte) 0xBD, 0x04, (byte) 0xEF, (byte) 0xFE});
        assertTrue(key > 0 && signature > key);
        assertArrayEquals(new int[] {1, 1, 2, 3, 4}, version(dll.toString()));
        Files.write(dir.resolve("v64.dll"), asPe32Plus(bytes));
        assertArrayEquals(new int[] {1, 1, 2, 3, 4}, version(dir.resolve("v64.dll").toString()), "PE32+");
        byte[] damaged = bytes.clone();
        damaged[signature] ^= 1;
        byte[] farHeader = bytes.clone();
        farHeader[0x3F] = 0x7F;
        Path fifo = dir.resolve("fifo"); // no writer ever comes
        ChildJvm.exec(Map.of(), "mkfifo", fifo.toString());
        Object[][] unversioned = { // what the file holds, or a path that is no plain file
            {"truncated", Arrays.copyOf(bytes, key + 8)}, {"bad signature", damaged}, {"far PE header", farHeader},
            {"text", "MZ is not enough\n".getBytes(StandardCharsets.US_ASCII)}, {"missing", dir.resolve("missing")},
            {"fifo", fifo}, {"folder", dir}, {"device", Path.of("/dev/zero")}};
        for (Object[] row : unversioned) {
            Path file = row[1] instanceof Path p ? p : Files.write(dir.resolve("copy"), (byte[]) row[1]);
            assertArrayEquals(new int[] {0, -1, -1, -1, -1}, version(file.toString()), (String) row[0]);
        }
        assertArrayEquals(new int[] {0, -1, -1, -1, -1}, version(null), "the JVM's ELF program has none");
        // An array with no room is refused before any is written.
        for (int empty = 0; empty < 4; empty++) {
            int[][] parts = {{-1}, {-1}, {-1}, {-1}};
            parts[empty] = new int[0];
            assertThrows(IllegalArgumentException.class, () -> Win32Impl.getFileVersionNumber(dll.toString(),
                    parts[0], parts[1], parts[2], parts[3]), "empty " + empty);
            assertEquals(-3, Arrays.stream(parts).flatMapToInt(Arrays::stream).sum(), "empty " + empty);
        }
        // Several version resources: Windows takes id 1 in the user's language, else a neutral one, else English
        // US, else the first; windres puts named resources first and languages by id.
        Object[][] rows = { // name, resources, version in the C locale, under de_DE
            {"named first", "NAMED VERSIONINFO FILEVERSION 9,9,9,9 {}\n1 VERSIONINFO FILEVERSION 1,2,3,4 {}\n"
                    + "2 VERSIONINFO FILEVERSION 8,8,8,8 {}\n", "1.2.3.4", "1.2.3.4"},
            {"German before English", "LANGUAGE 7,1\n1 VERSIONINFO FILEVERSION 4,0,7,1 {}\n"
                    + "LANGUAGE 9,1\n1 VERSIONINFO FILEVERSION 4,0,9,1 {}\n", "4.0.9.1", "4.0.7.1"},
            {"Czech before neutral", "LANGUAGE 5,1\n1 VERSIONINFO FILEVERSION 4,0,5,1 {}\n"
                    + "LANGUAGE 0,2\n1 VERSIONINFO FILEVERSION 4,0,0,8 {}\n", "4.0.0.8", "4.0.0.8"},
            {"Czech only", "LANGUAGE 5,1\n1 VERSIONINFO FILEVERSION 4,0,5,1 {}\n", "4.0.5.1", "4.0.5.1"}};
        String[] args = new String[rows.length];
        for (int i = 0; i < rows.length; i++) {
            args[i] = "version:" + dll(dir, "r" + i, (String) rows[i][1]);
        }
        for (int column : new int[] {2, 3}) {
            String locale = column == 2 ? "C" : "de_DE.UTF-8";
            String[] got = ChildJvm.ok(Map.of("LC_ALL", locale), Child.class, args).split("\n");
            assertEquals(Arrays.stream(rows).map(r -> r[0] + ": " + r[column]).toList(), IntStream.range(0,
                    rows.length).mapToObj(i -> rows[i][0] + ": " + got[i]).toList(), locale);
        }
    }

    /** A 32-bit DLL holding the resources of `rc`, made by mingw's windres and gcc. */
    static Path dll(Path dir, String name, String rc) throws Exception {
        Path source = Files.writeString(dir.resolve(name + ".rc"), rc), c = dir.resolve("empty.c");
        Files.writeString(c, "int f(void) { return 0; }\n");
        Path res = dir.resolve(name + ".res"), dll = dir.resolve(name + ".dll");
        ChildJvm.exec(Map.of(), "i686-w64-mingw32-windres", source.toString(), "-O", "coff", "-o", res.toString());
        ChildJvm.exec(Map.of(), "i686-w64-mingw32-gcc", "-shared", "-o", dll.toString(), c.toString(), res.toString());
        return dll;
    }

    /** The same image with a 64-bit (PE32+) optional header: its data directories and sections 16 bytes on. */
    static byte[] asPe32Plus(byte[] pe) {
        ByteBuffer in = ByteBuffer.wrap(pe).order(ByteOrder.LITTLE_ENDIAN);
        int nt = in.getInt(0x3C), optional = nt + 24, size = in.getShort(nt + 20);
        byte[] out = pe.clone();
        ByteBuffer o = ByteBuffer.wrap(out).order(ByteOrder.LITTLE_ENDIAN);
        o.putShort(nt + 20, (short) (size + 16)).putShort(optional, (short) 0x20B);
        System.arraycopy(pe, optional + 96, out, optional + 112, size - 96 + 40 * in.getShort(nt + 6));
        o.putInt(optional + 108, in.getInt(optional + 92));
        return out;
    }

    /** {ok, major, minor, patch, build}, the arrays starting at -1. */
    static int[] version(String path) {
        int[] major = {-1}, minor = {-1}, patch = {-1}, build = {-1};
        boolean ok = Win32Impl.getFileVersionNumber(path, major, minor, patch, build);
        return new int[] {ok ? 1 : 0, major[0], minor[0], patch[0], build[0]};
    }

    @Test
    void interfacesAreThoseUpAndNotLoopbackAndFailuresComeInOrderBeforeAnyWork(@TempDir Path dir) throws Exception {
        assertEquals("Error, in/out value cannot be null", assertThrows(IllegalArgumentException.class,
                () -> Win32Impl.getNetworkInterfaceInfo(null)).getMessage());
        assertEquals("Error, native unable to find Set add method (Ljava/lang/Object;)Z", assertThrows(
                ClassNotFoundException.class, () -> Win32Impl.getNetworkInterfaceInfo(new Object())).getMessage());
        // A client without NetworkAddress: the set's add is still looked up first.
        Path classes = clientWithout(dir, "com/quorvane/infrastructure/network/NetworkAddress.class");
        assertEquals("java.lang.ClassNotFoundException: Error, native unable to find Set add method "
                + "(Ljava/lang/Object;)Z\njava.lang.ClassNotFoundException: Error, unable to find NetworkAddress "
                + "return class definition\n", child(List.of(), classes, "plain", "set"));
        // In a network namespace of our own: the interfaces that are running (up with a carrier) and not
        // loopback. v2 is up but its peer is down, so it has no carrier; v3 is down.
        String setup = "ip link add v0 type veth peer name v1 && ip addr add 10.0.0.5/8 dev v0"
                + " && ip addr add 10.0.0.6/8 dev v0 && ip link set v0 up && ip link set v1 up"
                + " && ip link add v2 type veth peer name v3 && ip addr add 192.168.7.1/24 dev v2 && ip link set v2 up"
                + " && ip addr add 172.16.0.1/16 dev v3 && ip link set lo up"
                + " && for i in $(seq 100); do ip link show v0 | grep -q 'state UP' && break; sleep 0.1; done"
                + " && exec \"$@\"";
        assertEquals("[10.0.0.5/255.0.0.0, 10.0.0.6/255.0.0.0, kept]\n",
                child(List.of("unshare", "--net", "sh", "-c", setup, "sh"), null, "set"));
    }

    /** Runs Child in a new JVM, behind the given command prefix, with the client's classes from `client`. */
    static String child(List<String> prefix, Path client, String... args) throws Exception {
        ChildJvm.Run run = ChildJvm.run(Map.of(), ChildJvm.java(prefix, client, Child.class, args));
        assertEquals(0, run.exit(), run.output());
        return run.output().replaceAll("(?m)^WARNING: (?!JNI).*\n", "");
    }

    // "set" lists interfaces into a set holding "kept", "plain" into a plain object, "running:NAME" asks for a
    // process, "version:PATH" for a file's version.
    public static final class Child {
        public static void main(String[] args) {
            for (String arg : args) {
                if (arg.startsWith("version:")) {
                    int[] v = version(arg.substring("version:".length()));
                    System.out.println(v[0] == 0 ? "none" : v[1] + "." + v[2] + "." + v[3] + "." + v[4]);
                    continue;
                }
                if (arg.startsWith("running:")) {
                    System.out.println(Win32Impl.isProcessRunning(arg.substring("running:".length())));
                    continue;
                }
                Object target = arg.equals("set") ? new HashSet<>(Set.of("kept")) : new Object();
                try {
                    Win32Impl.getNetworkInterfaceInfo(target);
                    System.out.println(new TreeSet<>(((Set<?>) target).stream().map(Object::toString).toList()));
                } catch (Exception e) {
                    System.out.println(e);
                }
            }
        }
    }

    /** The client's classes, unpacked, without one. */
    static Path clientWithout(Path dir, String left) throws Exception {
        Path out = dir.resolve("client");
        try (JarInputStream jar = new JarInputStream(Files.newInputStream(ChildJvm.location(Win32Impl.class)))) {
            for (JarEntry e; (e = jar.getNextJarEntry()) != null;) {
                if (!e.isDirectory() && !e.getName().equals(left)) {
                    Files.createDirectories(out.resolve(e.getName()).getParent());
                    Files.copy(jar, out.resolve(e.getName()));
                }
            }
        }
        return out;
    }

    static int indexOf(byte[] haystack, byte[] needle) {
        return new String(haystack, ISO_8859_1).indexOf(new String(needle, ISO_8859_1));
    }
}
