package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;

import com.quorvane.infrastructure.os.windows.Win32Exception;
import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.Random;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.api.io.TempDir;

class ProtectionMethodsTest {
    static final String INVALID_DATA = "error:Error unencrypting data|d";
    static final String NO_KEY = "error:Error unencrypting data|8009000b";
    static final HexFormat HEX = HexFormat.of();

    static byte[] random(int size) {
        byte[] bytes = new byte[size];
        new Random(size).nextBytes(bytes);
        return bytes;
    }

    static ChildJvm.Run child(Path dataHome, String... commands) throws Exception {
        return ChildJvm.run(Map.of("XDG_DATA_HOME", dataHome.toString()), ProtectionChild.class,
                List.of(ProtectionChild.class, Win32Impl.class), commands);
    }

    @Test
    void plainTextComesBackFromEachOfTwoDifferentBlobsAndTheCallersCopyIsZeroed() throws Exception {
        for (int size : new int[] {1, 64, 1 << 20}) {
            byte[] plain = random(size);
            byte[] blob = Win32Impl.encryptUserWin32(plain);
            assertArrayEquals(new byte[size], plain, "HotSpot hands out a copy, which is zeroed and copied back");
            byte[] other = Win32Impl.encryptUserWin32(random(size));
            assertFalse(Arrays.equals(blob, other));
            byte[] kept = blob.clone();
            assertArrayEquals(random(size), Win32Impl.decryptUserWin32(blob), "size " + size);
            assertArrayEquals(random(size), Win32Impl.decryptUserWin32(other), "size " + size);
            assertArrayEquals(kept, blob, "the blob is left as it was");
        }
    }

    @Test
    void everyChangedByteOfABlobIsRejected() throws Exception {
        byte[] blob = Win32Impl.encryptUserWin32(new byte[] {42});
        for (int at = 0; at < blob.length; at++) {
            for (int flip : new int[] {0x01, 0x80}) {
                byte[] damaged = blob.clone();
                damaged[at] ^= flip;
                Win32Exception e = assertThrows(Win32Exception.class, () -> Win32Impl.decryptUserWin32(damaged));
                assertEquals("Error unencrypting data", e.getMessage(), "byte " + at);
            }
        }
        Win32Exception cut = assertThrows(Win32Exception.class,
                () -> Win32Impl.decryptUserWin32(Arrays.copyOf(blob, blob.length - 1)));
        assertEquals(0xD, cut.getCode(), "ERROR_INVALID_DATA");
    }

    @Test
    void nullOrEmptyArraysAreRefusedWithTheirTexts() {
        String plain = "Error, plain text buffer is null or empty";
        String cipher = "Error, cipher text buffer is null or empty";
        Object[][] rows = {
            {(Executable) () -> Win32Impl.encryptUserWin32(null), plain},
            {(Executable) () -> Win32Impl.encryptUserWin32(new byte[0]), plain},
            {(Executable) () -> Win32Impl.decryptUserWin32(null), cipher},
            {(Executable) () -> Win32Impl.decryptUserWin32(new byte[0]), cipher}};
        for (Object[] row : rows) {
            assertEquals(row[1], assertThrows(IllegalArgumentException.class, (Executable) row[0]).getMessage());
        }
    }

    @Test
    void twoFirstProtectionsAtOnceShareOneKeyThatIsPrivate(@TempDir Path data) throws Exception {
        String at = "at:" + (System.currentTimeMillis() + 3000);
        List<Future<ChildJvm.Run>> runs = Executors.newFixedThreadPool(2).invokeAll(
                List.of(() -> child(data, at, "enc:0102"), () -> child(data, at, "enc:0304")));
        String blobOne = runs.get(0).get().output().strip();
        String blobTwo = runs.get(1).get().output().strip();
        assertEquals("0102\n0304", child(data, "dec:" + blobOne, "dec:" + blobTwo).output().strip());

        Path keys = data.resolve("quorvane/keys");
        try (var names = Files.list(keys)) {
            assertEquals(List.of("master.key"), names.map(p -> p.getFileName().toString()).toList());
        }
        assertEquals("rwx------", PosixFilePermissions.toString(Files.getPosixFilePermissions(keys)));
        Path key = keys.resolve("master.key");
        assertEquals("rw-------", PosixFilePermissions.toString(Files.getPosixFilePermissions(key)));

        // A store another user could read or change is not used; a key that is gone opens nothing.
        Object[][] rows = {{keys, "rwxr-xr-x"}, {key, "rw-r--r--"}};
        for (Object[] row : rows) {
            Path path = (Path) row[0];
            var kept = Files.getPosixFilePermissions(path);
            Files.setPosixFilePermissions(path, PosixFilePermissions.fromString((String) row[1]));
            assertEquals(NO_KEY, child(data, "dec:" + blobOne).output().strip(), path + " " + row[1]);
            Files.setPosixFilePermissions(path, kept);
        }
        Files.delete(key);
        assertEquals(NO_KEY, child(data, "dec:" + blobOne).output().strip());
    }

    @Test
    void anotherUsersBlobIsRejected(@TempDir Path data) throws Exception {
        String blob = HEX.formatHex(Win32Impl.encryptUserWin32(new byte[] {7}));
        assertEquals(NO_KEY, child(data, "dec:" + blob).output().strip(), "another key store");

        // Another uid holding a copy of our very key: the blob names its user.
        Assumptions.assumeTrue(Files.isExecutable(Path.of("/usr/bin/setpriv")) && "root".equals(
                System.getProperty("user.name")), "needs root and setpriv");
        Path keys = Files.createDirectories(data.resolve("other/quorvane/keys"));
        Path home = Path.of(System.getenv().getOrDefault("XDG_DATA_HOME",
                System.getProperty("user.home") + "/.local/share"));
        Files.copy(home.resolve("quorvane/keys/master.key"), keys.resolve("master.key"));
        Files.setPosixFilePermissions(keys, PosixFilePermissions.fromString("rwx------"));
        Files.setPosixFilePermissions(keys.resolve("master.key"), PosixFilePermissions.fromString("rw-------"));
        new ProcessBuilder("chown", "-R", "65534:65534", data.resolve("other").toString()).start().waitFor();
        data.toFile().setExecutable(true, false);
        String classPath = Path.of(ProtectionChild.class.getProtectionDomain().getCodeSource().getLocation().toURI())
                + ":" + Path.of(Win32Impl.class.getProtectionDomain().getCodeSource().getLocation().toURI());
        ProcessBuilder nobody = new ProcessBuilder("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                Path.of(System.getProperty("java.home"), "bin", "java").toString(), "-Xcheck:jni",
                "-Djava.library.path=" + System.getProperty("java.library.path"), "-cp", classPath,
                ProtectionChild.class.getName(), "dec:" + blob).redirectErrorStream(true);
        nobody.environment().put("XDG_DATA_HOME", data.resolve("other").toString());
        Process run = nobody.start();
        String output = new String(run.getInputStream().readAllBytes()).strip();
        run.waitFor();
        assertEquals(INVALID_DATA, output);
    }
}
