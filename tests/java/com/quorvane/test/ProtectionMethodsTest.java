package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.*;

import com.quorvane.infrastructure.os.windows.*;
import java.nio.file.*;
import java.nio.file.attribute.*;
import java.util.*;
import java.util.concurrent.*;
import java.util.regex.*;
import java.util.stream.Stream;
import org.junit.jupiter.api.*;
import org.junit.jupiter.api.io.TempDir;

class ProtectionMethodsTest {
    // Its own key stores: "at:MILLIS" waits, "enc:HEX" prints the blob, "dec:HEX" the text or "error:MSG|CODE".
    public static final class Child {
        public static void main(String[] args) throws Exception {
            for (String arg : args) {
                String value = arg.substring(arg.indexOf(':') + 1);
                try {
                    if (arg.startsWith("at:")) {
                        Thread.sleep(Math.max(0, Long.parseLong(value) - System.currentTimeMillis()));
                    } else if (arg.startsWith("threads:")) {
                        System.out.println(firstProtectionsOnThreads(Integer.parseInt(value)));
                    } else {
                        byte[] in = HEX.parseHex(value);
                        System.out.println(HEX.formatHex(arg.startsWith("enc:") ? Win32Impl.encryptUserWin32(in)
                                : Win32Impl.decryptUserWin32(in)));
                    }
                } catch (Win32Exception e) {
                    System.out.println("error:" + e.getMessage() + "|" + Integer.toHexString(e.getCode()));
                }
            }
        }
    }

    /** Protects on threads let go 25 ms apart; whether SIGPIPE is then ignored by the process. */
    static String firstProtectionsOnThreads(int threads) throws Exception {
        Class.forName(Win32Impl.class.getName()); // the library is loaded before, not by the first thread
        CountDownLatch go = new CountDownLatch(1);
        List<Thread> started = new ArrayList<>();
        for (int i = 0; i < threads; i++) {
            long delay = 25L * i;
            Thread thread = new Thread(() -> {
                try {
                    go.await();
                    Thread.sleep(delay);
                    Win32Impl.encryptUserWin32(new byte[] {1});
                } catch (Exception ignored) {
                }
            });
            thread.start();
            started.add(thread);
        }
        go.countDown();
        for (Thread thread : started) {
            thread.join();
        }
        Thread.sleep(300); // -Xcheck:jni looks at the handlers every 50 ms or so
        String ignored = Files.readString(Path.of("/proc/self/status"))
                .replaceAll("(?s).*SigIgn:\\s*(\\p{XDigit}+).*", "$1");
        return (Long.parseLong(ignored, 16) & (1L << 12)) != 0 ? "SIGPIPE ignored" : "SIGPIPE handled"; // bit of 13
    }

    static final String NO_KEY = "error:Error unencrypting data|8009000b";
    static final HexFormat HEX = HexFormat.of();
    static final FileAttribute<Set<PosixFilePermission>> PRIVATE_FOLDER = PosixFilePermissions.asFileAttribute(
            PosixFilePermissions.fromString("rwx------"));
    static final FileAttribute<Set<PosixFilePermission>> PRIVATE_FILE = PosixFilePermissions.asFileAttribute(
            PosixFilePermissions.fromString("rw-------"));

    static byte[] random(int size) {
        byte[] bytes = new byte[size];
        new Random(size).nextBytes(bytes);
        return bytes;
    }

    static String child(Map<String, String> env, String... commands) throws Exception {
        return ChildJvm.run(env, Child.class, commands).output().strip();
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
    void plainTextComesBackFromEachOfTwoBlobsTheCallersCopyIsZeroedAndAnyChangedByteIsRefused() throws Exception {
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
        // Every changed byte of a blob, and null or empty arrays, are refused.
        byte[] blob = Win32Impl.encryptUserWin32(new byte[] {42});
        for (int at = 0; at < blob.length; at++) {
            for (int flip : new int[] {0x01, 0x80}) {
                byte[] damaged = blob.clone();
                damaged[at] ^= flip;
                assertEquals("Error unencrypting data", assertThrows(Win32Exception.class,
                        () -> Win32Impl.decryptUserWin32(damaged)).getMessage(), "byte " + at);
            }
        }
        assertEquals(0xD, assertThrows(Win32Exception.class, // ERROR_INVALID_DATA
                () -> Win32Impl.decryptUserWin32(Arrays.copyOf(blob, blob.length - 1))).getCode());
        for (byte[] none : new byte[][] {null, {}}) {
            assertEquals("Error, plain text buffer is null or empty", assertThrows(IllegalArgumentException.class,
                    () -> Win32Impl.encryptUserWin32(none)).getMessage());
            assertEquals("Error, cipher text buffer is null or empty", assertThrows(IllegalArgumentException.class,
                    () -> Win32Impl.decryptUserWin32(none)).getMessage());
        }
    }

    @Test
    void twoFirstProtectionsAtOnceShareOneKeyThatIsPrivateAndOwnedByItsUser(@TempDir Path data) throws Exception {
        String blobOne = twoAtOnce(headless(data))[0];
        Path keys = data.resolve("quorvane/keys");
        try (var names = Files.list(keys)) {
            assertEquals(List.of("master.key"), names.map(p -> p.getFileName().toString()).toList());
        }
        // Private; a store another user could read or change is not used.
        Object[][] rows = {{keys, "rwx------", "rwxr-xr-x"}, {keys.resolve("master.key"), "rw-------", "rw-r--r--"}};
        for (Object[] row : rows) {
            Path path = (Path) row[0];
            assertEquals(row[1], PosixFilePermissions.toString(Files.getPosixFilePermissions(path)));
            Files.setPosixFilePermissions(path, PosixFilePermissions.fromString((String) row[2]));
            assertEquals(NO_KEY, child(headless(data), "dec:" + blobOne), path + " " + row[2]);
            Files.setPosixFilePermissions(path, PosixFilePermissions.fromString((String) row[1]));
        }
        // A FIFO in the key's place is no key, at once: nothing waits for a writer.
        Path key = keys.resolve("master.key"), kept = data.resolve("kept.key");
        Files.move(key, kept);
        ChildJvm.exec(Map.of(), "mkfifo", "-m", "600", key.toString());
        assertEquals(NO_KEY, child(headless(data), "dec:" + blobOne), "fifo");
        Files.delete(key);
        Files.move(kept, key);
        // Another uid holding a copy of our very key is refused: the blob names its uid (last: it may be skipped).
        String blob = HEX.formatHex(Win32Impl.encryptUserWin32(new byte[] {7}));
        Assumptions.assumeTrue(Files.isExecutable(Path.of("/usr/bin/setpriv")) && "root".equals(
                System.getProperty("user.name")), "needs root and setpriv");
        Path other = data.resolve("other");
        Path otherKeys = Files.createDirectories(other.resolve("quorvane/keys"));
        Files.setPosixFilePermissions(otherKeys, PRIVATE_FOLDER.value());
        Path home = Path.of(System.getenv().getOrDefault("XDG_DATA_HOME",
                System.getProperty("user.home") + "/.local/share"));
        Files.write(Files.createFile(otherKeys.resolve("master.key"), PRIVATE_FILE),
                Files.readAllBytes(home.resolve("quorvane/keys/master.key")));
        ChildJvm.exec(Map.of(), "chown", "-R", "65534:65534", other.toString());
        data.toFile().setExecutable(true, false);
        // A key problem (as after a change of the account's uid), not damaged data.
        assertEquals(NO_KEY, ChildJvm.run(Map.of("XDG_DATA_HOME", other.toString()),
                ChildJvm.java(ChildJvm.AS_NOBODY, null, Child.class, "dec:" + blob)).output().strip());
    }

    @Test
    void aDesktopSessionKeepsTheKeyInItsSecretServiceAndHeadlessUsesTheKeyFile(@TempDir Path data) throws Exception {
        Assumptions.assumeTrue(Files.isExecutable(Path.of("/usr/bin/gnome-keyring-daemon")), "needs gnome-keyring");
        Process session = ChildJvm.start(Map.of("HOME", data.toString(), "XDG_DATA_HOME", data.toString(),
                "XDG_RUNTIME_DIR", data.toString()), List.of("dbus-run-session", "--", "sh", "-c",
                "printf pw | gnome-keyring-daemon --unlock --components=secrets >/dev/null && gdbus wait --session"
                        + " --timeout 10 org.freedesktop.secrets && echo \"$DBUS_SESSION_BUS_ADDRESS\" && exec cat"));
        try {
            String bus = new Scanner(session.getInputStream()).findWithinHorizon("unix:\\S+", 0);
            Map<String, String> desktop = Map.of("XDG_DATA_HOME", data.toString(), "DBUS_SESSION_BUS_ADDRESS", bus);
            String[] blobs = twoAtOnce(desktop);
            assertFalse(Files.exists(data.resolve("quorvane/keys/master.key")));
            List<String> items = Pattern.compile("/org/freedesktop/secrets/collection/[^']+").matcher(gdbus(bus,
                    "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.SearchItems",
                    "{'xdg:schema': 'com.quorvane.MasterKey'}")).results().map(MatchResult::group).toList();
            assertEquals(1, items.size(), "one key, though two processes made it at once");
            // A headless key file moves into the keyring once the desktop sees it; each blob opens where its key
            // is, not once it is gone.
            assertEquals(NO_KEY, child(headless(data), "dec:" + blobs[0]));
            String fileBlob = child(headless(data), "enc:05");
            assertTrue(Files.exists(data.resolve("quorvane/keys/master.key")));
            String[] lines = child(desktop, "dec:" + fileBlob, "dec:" + blobs[0], "enc:06").split("\n");
            assertEquals(List.of("05", "0102"), List.of(lines[0], lines[1]));
            assertFalse(Files.exists(data.resolve("quorvane/keys/master.key")), "moved into the keyring");
            assertEquals("05\n06", child(desktop, "dec:" + fileBlob, "dec:" + lines[2]));
            assertEquals(NO_KEY, child(headless(data), "dec:" + fileBlob), "the key lives in the keyring now");
            gdbus(bus, items.get(0), "org.freedesktop.Secret.Item.Delete");
            assertEquals(NO_KEY, child(desktop, "dec:" + blobs[1]));
            // A locked keyring is never passed over for a key file, which would outlive the unlocking.
            gdbus(bus, "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.Lock",
                    "['/org/freedesktop/secrets/collection/login']");
            Path fresh = data.resolve("fresh");
            assertEquals("error:Error encrypting data|8009000b", child(Map.of("XDG_DATA_HOME", fresh.toString(),
                    "DBUS_SESSION_BUS_ADDRESS", bus), "enc:07"));
            assertFalse(Files.exists(fresh.resolve("quorvane/keys/master.key")));
        } finally {
            session.getOutputStream().close();
            session.waitFor(10, TimeUnit.SECONDS);
        }
    }

    // Format 1, made for uid 0 named "alice" under the key 00 01 .. 1f: it bound the account's name.
    static final String NAMED_BLOB = "515644500100000000d0f78777fab40cecda7698e44f83fb14000000610072006b005f0073"
            + "0065006300720065007400b319f077d373996e9cb951f309c6d5daa6a1531e6cc03b1a549f9938df43";

    @Test
    void aRenamedAccountKeepsItsBlobsWhichBindItsUidAndOldBlobsStillOpen(@TempDir Path data) throws Exception {
        Assumptions.assumeTrue("root".equals(System.getProperty("user.name"))
                && ChildJvm.run(Map.of(), List.of("unshare", "--mount", "true")).exit() == 0, "needs root and unshare");
        Path keys = Files.createDirectories(data.resolve("quorvane/keys"), PRIVATE_FOLDER);
        Files.write(Files.createFile(keys.resolve("master.key"), PRIVATE_FILE),
                HEX.parseHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"));
        String fresh = asAccount("alice", data, "enc:0102");
        // blob, the account's name when it is opened, what comes out
        String[][] rows = {
            {fresh, "bob", "0102"},
            {NAMED_BLOB, "alice", "0a0b"},
            {NAMED_BLOB, "bob", "error:Error unencrypting data|d"},
        };
        for (String[] row : rows) {
            assertEquals(row[2], asAccount(row[1], data, "dec:" + row[0]), row[1] + " opens " + row[0]);
        }
    }

    @Test
    void firstProtectionsOnSixteenThreadsLeaveTheJvmItsSigpipeHandler(@TempDir Path data) throws Exception {
        // The bus is tried, and fails at once: no socket there. Were GLib's ignoring SIGPIPE let through, it would
        // last 200 ms here: threads would come while it lasts, and the JVM's check would warn of it.
        Map<String, String> env = Map.of("XDG_DATA_HOME", data.toString(),
                "DBUS_SESSION_BUS_ADDRESS", "unix:path=" + data.resolve("no-bus"),
                "LD_PRELOAD", Path.of(System.getProperty("java.library.path"), "libqv_slow_sigpipe.so").toString());
        assertEquals("SIGPIPE handled", ChildJvm.ok(env, Child.class, "threads:16").strip());
    }

    /** A child whose account (uid 0) is named name: /etc/passwd is replaced in a mount namespace of its own. */
    static String asAccount(String name, Path data, String... commands) throws Exception {
        Path passwd = data.resolve("passwd." + name);
        Files.writeString(passwd, Files.readString(Path.of("/etc/passwd")).replaceAll("(?m)^[^:\\n]*:([^:\\n]*):0:",
                name + ":$1:0:"));
        List<String> prefix = List.of("unshare", "--mount", "sh", "-c",
                "mount --bind \"$0\" /etc/passwd && exec \"$@\"", passwd.toString());
        return ChildJvm.run(headless(data), ChildJvm.java(prefix, null, Child.class, commands)).output().strip();
    }

    static String gdbus(String bus, String path, String method, String... args) throws Exception {
        return ChildJvm.exec(Map.of(), Stream.concat(Stream.of("gdbus", "call", "--address", bus, "--dest",
                "org.freedesktop.secrets", "--object-path", path, "--method", method), Stream.of(args))
                .toArray(String[]::new));
    }
}
