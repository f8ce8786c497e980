package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.*;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.nio.*;
import java.nio.charset.StandardCharsets;
import java.nio.file.*;
import java.nio.file.attribute.*;
import java.util.*;
import java.util.concurrent.*;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class FileMethodsTest {
    static final int GENERIC_READ = 0x80000000, GENERIC_WRITE = 0x40000000, SHARE_READ = 1, SHARE_ALL = 7;
    static final int CREATE_NEW = 1, OPEN_EXISTING = 3, BACKUP_SEMANTICS = 0x02000000, DELETE_ON_CLOSE = 0x04000000;
    static final int NOTIFY_NAMES = 0x3, NOTIFY_ALL = 0x17F;
    static final ExecutorService POOL = Executors.newCachedThreadPool();

    @TempDir
    Path dir;

    /** Tries each "access share" pair on a file and prints "ok" or "refused" for each, in order. */
    public static final class Child {
        public static void main(String[] args) {
            for (int i = 1; i + 1 < args.length; i += 2) {
                int h = Win32Impl.CreateFile(args[0], Integer.parseUnsignedInt(args[i]), Integer.parseInt(args[i + 1]),
                        0, OPEN_EXISTING, 0, 0);
                System.out.print(h == -1 ? "refused " : "ok ");
                Win32Impl.CloseHandle(h);
            }
        }
    }

    static int open(Path p, int access, int share, int disposition, int flags) {
        return Win32Impl.CreateFile(p.toString(), access, share, 0, disposition, flags, 0);
    }

    int folder(Path p) {
        int h = open(p, GENERIC_READ, SHARE_ALL, OPEN_EXISTING, BACKUP_SEMANTICS);
        assertNotEquals(-1, h);
        return h;
    }

    /** What another JVM gets for read sharing read+write, write sharing all, and read sharing read only. */
    static String tryInAnotherJvm(Path file) throws Exception {
        String read = Integer.toUnsignedString(GENERIC_READ);
        return ChildJvm.run(Map.of(), Child.class, file.toString(),
                read, "3", Integer.toUnsignedString(GENERIC_WRITE), "7", read, "1").output();
    }

    @Test
    void shareModesConflictAcrossJvmsAndDocumentsAndDispositionsKeepOrTruncateAsWindowsDoes() throws Exception {
        Path file = Files.writeString(dir.resolve("shared.txt"), "text");
        int writer = open(file, GENERIC_WRITE, SHARE_READ, OPEN_EXISTING, 0);
        assertNotEquals(-1, writer);
        // Writing is denied by our share mode; denying writes conflicts with our write access.
        assertEquals("ok refused refused ", tryInAnotherJvm(file));
        assertEquals(-1, open(file, GENERIC_WRITE, SHARE_ALL, OPEN_EXISTING, 0), "in this JVM too");
        assertEquals(1, Win32Impl.CloseHandle(writer));
        assertEquals("ok ok ok ", tryInAnotherJvm(file));
        String doc = DocumentFixtures.copy(dir, "2custom.doc");
        int exclusive = open(Path.of(doc), GENERIC_READ, 0, OPEN_EXISTING, 0);
        assertTrue(Win32Impl.getCompoundDocumentSummaryProperties(doc, new Properties()) < 0);
        Win32Impl.CloseHandle(exclusive);
        assertEquals(0, Win32Impl.getCompoundDocumentSummaryProperties(doc, new Properties()));
        Path target = dir.resolve("file");
        int[][] rows = {{4, 1, 5}, {5, 1, 0}, {2, 0, 0}, {2, 1, 0}}; // disposition, file there before, size after
        for (int[] row : rows) {
            Files.deleteIfExists(target);
            if (row[1] == 1) {
                Files.writeString(target, "12345");
            }
            int h = open(target, GENERIC_READ | GENERIC_WRITE, SHARE_ALL, row[0], 0);
            assertEquals(List.of(true, (long) row[2]), List.of(h != -1, Files.size(target)), "disposition " + row[0]);
            Win32Impl.CloseHandle(h);
        }
        // Delete-on-close: the name goes with the last handle to the file, whichever closes first.
        Path temporary = dir.resolve("temporary");
        for (boolean flaggedFirst : new boolean[] {true, false}) {
            int flagged = open(temporary, GENERIC_WRITE, SHARE_ALL, CREATE_NEW, DELETE_ON_CLOSE);
            int other = open(temporary, GENERIC_READ, SHARE_ALL, OPEN_EXISTING, 0);
            Win32Impl.CloseHandle(flaggedFirst ? flagged : other);
            assertTrue(Files.exists(temporary), "one handle open, flagged first: " + flaggedFirst);
            Win32Impl.CloseHandle(flaggedFirst ? other : flagged);
            assertFalse(Files.exists(temporary), "none open, flagged first: " + flaggedFirst);
        }
    }

    @Test
    void aBufferTooSmallAnswersEmptyALengthPastTheArrayIsHeldToItAndClosingOrRemovalEndsACall() throws Exception {
        int h = folder(dir);
        int[] count = {-1};
        assertThrows(IllegalArgumentException.class,
                () -> Win32Impl.ReadDirectoryChangesW(h, new byte[64], 64, false, NOTIFY_NAMES, new int[0], 0, 0));
        Future<Boolean> small = POOL.submit(
                () -> Win32Impl.ReadDirectoryChangesW(h, new byte[64], 8, false, NOTIFY_NAMES, count, 0, 0));
        Thread.sleep(200);
        Files.writeString(dir.resolve("a-name-longer-than-the-buffer"), "x");
        assertTrue(small.get(10, TimeUnit.SECONDS));
        assertEquals(0, count[0], "the rescan answer");
        // A length beyond the array is held to the array.
        Files.writeString(dir.resolve("b"), "x");
        byte[] tiny = new byte[16];
        assertTrue(Win32Impl.ReadDirectoryChangesW(h, tiny, 1 << 20, false, NOTIFY_NAMES, count, 0, 0));
        assertEquals(16, count[0]);
        assertArrayEquals(new byte[] {0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 'b', 0, 0, 0}, tiny);
        Win32Impl.CloseHandle(h);
        // Closing the handle or removing the folder ends a blocked call.
        Path removed = Files.createDirectory(dir.resolve("removed"));
        for (Path watched : List.of(dir, removed)) {
            int watch = folder(watched);
            Future<Boolean> blocked = POOL.submit(
                    () -> Win32Impl.ReadDirectoryChangesW(watch, new byte[4096], 4096, true, NOTIFY_ALL, count, 0, 0));
            Thread.sleep(300);
            assertFalse(blocked.isDone());
            if (watched == dir) {
                assertEquals(1, Win32Impl.CloseHandle(watch));
            } else {
                Files.delete(removed);
            }
            assertFalse(blocked.get(5, TimeUnit.SECONDS), watched.toString());
            Win32Impl.CloseHandle(watch);
        }
    }

    /** For each "path attributes" pair: the answer, the permissions and the DOS attribute after the call. */
    public static final class AttributesChild {
        public static void main(String[] args) throws Exception {
            for (int i = 0; i + 1 < args.length; i += 2) {
                Path p = Path.of(args[i]);
                System.out.print(Win32Impl.SetFileAttributes(args[i], Integer.decode(args[i + 1])));
                if (Files.exists(p)) {
                    UserDefinedFileAttributeView xattr = Files.getFileAttributeView(p, UserDefinedFileAttributeView.class);
                    ByteBuffer value = ByteBuffer.allocate(16);
                    String text = xattr.list().contains("DOSATTRIB") ? new String(value.array(), 0,
                            xattr.read("DOSATTRIB", value), StandardCharsets.US_ASCII).replace("\0", "\\0") : "-";
                    System.out.print(" " + PosixFilePermissions.toString(Files.getPosixFilePermissions(p)) + " " + text);
                }
                System.out.println();
            }
        }
    }

    @Test
    void fileAttributesRoundTripThroughPermissionsAndTheDosAttributeForTheFilesOwner() throws Exception {
        Path file = Files.writeString(dir.resolve("attributes.txt"), "x");
        ChildJvm.exec(Map.of(), "chown", "65534:65534", file.toString());
        dir.toFile().setExecutable(true, false);
        // As its owner, not root: the attribute is written while the file is still writable, and a read-only
        // file's attributes still change. NORMAL: writable, no DOS attribute; a missing file refused.
        String[][] rows = {{"attributes.txt", "0x23", "true r--r--r-- 0x22\\0"},
            {"attributes.txt", "0x21", "true r--r--r-- 0x20\\0"}, {"attributes.txt", "0x2", "true rw-r--r-- 0x2\\0"},
            {"attributes.txt", "0x80", "true rw-r--r-- -"}, {"missing", "0x80", "false"}};
        List<String> args = new ArrayList<>(), expected = new ArrayList<>();
        for (String[] row : rows) {
            args.addAll(List.of(dir.resolve(row[0]).toString(), row[1]));
            expected.add(row[2]);
        }
        assertEquals(String.join("\n", expected), ChildJvm.run(Map.of(), ChildJvm.java(ChildJvm.AS_NOBODY, null,
                AttributesChild.class, args.toArray(String[]::new))).output().strip());
    }

    @Test
    void drivesAreMountPoints() throws Exception {
        String rootSource = Files.readAllLines(Path.of("/proc/self/mounts")).stream().map(l -> l.split(" "))
                .filter(f -> f[1].equals("/")).reduce((a, b) -> b).map(f -> f[0]).orElse(null);
        // Fixed, tmpfs a RAM disk, no mount point; the devices of a mount point, the root and no mount point.
        assertEquals(Arrays.asList(3, 6, 1, rootSource, "/", null), Arrays.asList(Win32Impl.GetDriveType("/"),
                Win32Impl.GetDriveType("/dev/shm/"), Win32Impl.GetDriveType(dir.toString()), Win32Impl.QueryDosDevice(
                "/"), Win32Impl.QueryDosDevice(null), Win32Impl.QueryDosDevice(dir.toString())));
    }
}
