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
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.Random;
import java.util.Scanner;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.regex.MatchResult;
import java.util.regex.Pattern;
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

    static String child(Map<String, String> env, String... commands) throws Exception {
        return ChildJvm.run(env, ProtectionChild.class, List.of(ProtectionChild.class, Win32Impl.class), commands)
                .output().strip();
    }

    /** A session without a Secret Service: only the key file under data. */
    static Map<String, String> headless(Path data) {
        return Map.of("XDG_DATA_HOME", data.toString(), "DBUS_SESSION_BUS_ADDRESS", "");
    }

    /** Two first protections at once in env; both blobs open in a third process. */
    static String[] twoAtOnce(Map<String, String> env) throws Exception {
        String at = "at:" + (System.currentTimeMillis() + 3000);
        List<Future<String>> runs = Executors.newFixedThreadPool(2).invokeAll(
                List.of(() -> child(env, at, "enc:0102"), () -> child(env, at, "enc:0304")));
        String[] blobs = {runs.get(0).get(), runs.get(1).get()};
        assertEquals("0102\n0304", child(env, "dec:" + blobs[0], "dec:" + blobs[1]));
        return blobs;
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
        String blobOne = twoAtOnce(headless(data))[0];

        Path keys = data.resolve("quorvane/keys");
        try (var names = Files.list(keys)) {
            assertEquals(List.of("master.key"), names.map(p -> p.getFileName().toString()).toList());
        }
        assertEquals("rwx------", PosixFilePermissions.toString(Files.getPosixFilePermissions(keys)));
        Path key = keys.resolve("master.key");
        assertEquals("rw-------", PosixFilePermissions.toString(Files.getPosixFilePermissions(key)));

        // A store another user could read or change is not used.
        Object[][] rows = {{keys, "rwxr-xr-x"}, {key, "rw-r--r--"}};
        for (Object[] row : rows) {
            Path path = (Path) row[0];
            var kept = Files.getPosixFilePermissions(path);
            Files.setPosixFilePermissions(path, PosixFilePermissions.fromString((String) row[1]));
            assertEquals(NO_KEY, child(headless(data), "dec:" + blobOne), path + " " + row[1]);
            Files.setPosixFilePermissions(path, kept);
        }
    }

    @Test
    void aDesktopSessionKeepsTheKeyInItsSecretServiceAndHeadlessUsesTheKeyFile(@TempDir Path data) throws Exception {
        Assumptions.assumeTrue(Files.isExecutable(Path.of("/usr/bin/gnome-keyring-daemon")), "needs gnome-keyring");
        ProcessBuilder keyring = new ProcessBuilder("dbus-run-session", "--", "sh", "-c",
                "printf pw | gnome-keyring-daemon --unlock --components=secrets >/dev/null && gdbus wait --session"
                        + " --timeout 10 org.freedesktop.secrets && echo \"$DBUS_SESSION_BUS_ADDRESS\" && exec cat");
        keyring.environment().putAll(Map.of("HOME", data.toString(), "XDG_DATA_HOME", data.toString(),
                "XDG_RUNTIME_DIR", data.toString()));
        Process session = keyring.start();
        try {
            String bus = new Scanner(session.getInputStream()).nextLine();
            Map<String, String> desktop = Map.of("XDG_DATA_HOME", data.toString(), "DBUS_SESSION_BUS_ADDRESS", bus);
            String[] blobs = twoAtOnce(desktop);
            assertFalse(Files.exists(data.resolve("quorvane/keys/master.key")));
            List<String> items = Pattern.compile("/org/freedesktop/secrets/collection/[^']+").matcher(gdbus(bus,
                    "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.SearchItems",
                    "{'xdg:schema': 'com.quorvane.MasterKey'}")).results().map(MatchResult::group).toList();
            assertEquals(1, items.size(), "one key, though two processes made it at once");

            // Headless, a key file is made and then used by the desktop too; each blob opens where its key is,
            // and not once its key is gone.
            assertEquals(NO_KEY, child(headless(data), "dec:" + blobs[0]));
            String fileBlob = child(headless(data), "enc:05");
            String[] lines = child(desktop, "dec:" + fileBlob, "dec:" + blobs[0], "enc:06").split("\n");
            assertEquals(List.of("05", "0102"), List.of(lines[0], lines[1]));
            assertEquals("06", child(headless(data), "dec:" + lines[2]));

            gdbus(bus, items.get(0), "org.freedesktop.Secret.Item.Delete");
            assertEquals(NO_KEY, child(desktop, "dec:" + blobs[1]));
        } finally {
            session.getOutputStream().close();
            session.waitFor(10, TimeUnit.SECONDS);
        }
    }

    static String gdbus(String bus, String path, String method, String... args) throws Exception {
        List<String> command = new ArrayList<>(List.of("gdbus", "call", "--address", bus, "--dest",
                "org.freedesktop.secrets", "--object-path", path, "--method", method));
        command.addAll(List.of(args));
        Process call = new ProcessBuilder(command).redirectErrorStream(true).start();
        String output = new String(call.getInputStream().readAllBytes());
        assertEquals(0, call.waitFor(), output);
        return output;
    }

    @Test
    void anotherUsersBlobIsRejected(@TempDir Path data) throws Exception {
        // Another uid holding a copy of our very key: the blob names its user.
        String blob = HEX.formatHex(Win32Impl.encryptUserWin32(new byte[] {7}));
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
