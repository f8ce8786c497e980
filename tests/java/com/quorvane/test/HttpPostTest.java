package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.api.io.TempDir;

/**
 * postMessage against servers on 127.0.0.1 that the test starts. Trust,
 * proxies, .netrc credentials and registry timeouts come from the process
 * environment, so those cases run in child JVMs with their own.
 */
class HttpPostTest {
    static final String NOT_OK = "Server returned non HTTP_OK return code: ";
    static final String LOCAL = "127.0.0.1";
    static LoopbackServers servers;

    /** The child: one postMessage per "host|port|secure|resource" argument, one "result<TAB>ms" line each. */
    public static final class Child {
        public static void main(String[] args) {
            for (String arg : args) {
                String[] call = arg.split("\\|");
                ByteArrayOutputStream out = new ByteArrayOutputStream();
                long start = System.nanoTime();
                String result;
                try {
                    Win32Impl.postMessage(call[0], call[3], Integer.parseInt(call[1]), Boolean.parseBoolean(call[2]),
                            null, out);
                    result = "ok " + out.toString(StandardCharsets.ISO_8859_1);
                } catch (Exception e) {
                    result = e.getClass().getSimpleName() + ": " + e.getMessage();
                }
                System.out.println(result + "\t" + (System.nanoTime() - start) / 1_000_000);
            }
        }
    }

    /** Keeps every write: the array handed in and a copy of the bytes; throws `failure` from each when set. */
    static final class Recorder extends OutputStream {
        final List<byte[]> arrays = new ArrayList<>();
        final ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        final List<Integer> sizes = new ArrayList<>();
        RuntimeException failure;

        @Override
        public void write(int b) {
            throw new AssertionError("single-byte write");
        }

        @Override
        public void write(byte[] b, int off, int len) {
            assertEquals(0, off);
            arrays.add(b);
            sizes.add(len);
            bytes.write(b, off, len);
            if (failure != null) {
                throw failure;
            }
        }
    }

    @BeforeAll
    static void start() throws Exception {
        servers = new LoopbackServers();
    }

    @AfterAll
    static void stop() {
        servers.close();
    }

    static Recorder post(String resource, byte[] body) throws Exception {
        Recorder out = new Recorder();
        Win32Impl.postMessage(LOCAL, resource, servers.http(), false, body, out);
        return out;
    }

    static List<String> child(Map<String, String> env, String... calls) throws Exception {
        ChildJvm.Run run = ChildJvm.run(env, Child.class, List.of(Child.class, Win32Impl.class), calls);
        assertEquals(0, run.exit(), run.output());
        return run.output().lines().toList();
    }

    static String result(String line) {
        return line.substring(0, line.lastIndexOf('\t'));
    }

    @Test
    void everyRefusalAndNon200AnswerRaisesItsException() throws Exception {
        int closed;
        try (ServerSocket s = new ServerSocket(0, 1, InetAddress.getByName(LOCAL))) {
            closed = s.getLocalPort();
        }
        int port = closed;
        Object[][] rows = {
            {(Executable) () -> Win32Impl.postMessage(LOCAL, "/", servers.http(), false, null, null),
                IllegalArgumentException.class, "Return stream cannot be null"},
            {(Executable) () -> Win32Impl.postMessage(LOCAL, "/", servers.http(), false, null, new Object()),
                IllegalArgumentException.class, "Unable to load write method on return stream"},
            {(Executable) () -> Win32Impl.postMessage(null, "/", servers.http(), false, null, new Recorder()),
                IllegalArgumentException.class, "URI cannot be null"},
            {(Executable) () -> post("/status/204", null), IOException.class, NOT_OK + 204},
            {(Executable) () -> post("/status/404", new byte[] {'a'}), IOException.class, NOT_OK + 404},
            {(Executable) () -> post("/status/500", null), IOException.class, NOT_OK + 500},
            {(Executable) () -> Win32Impl.postMessage(LOCAL, "/", port, false, null, new Recorder()),
                IOException.class, NOT_OK + "0"},
        };
        for (Object[] row : rows) {
            @SuppressWarnings("unchecked")
            Class<? extends Throwable> type = (Class<? extends Throwable>) row[1];
            assertEquals(row[2], assertThrows(type, (Executable) row[0]).getMessage());
        }
    }

    @Test
    void aBodyOfOneByteOrMoreMakesAFormPostAndNoneAGet() throws Exception {
        Object[][] rows = {{null, "GET"}, {new byte[0], "GET"}, {new byte[] {'x'}, "POST"},
            {"a=1&b=%20".getBytes(StandardCharsets.US_ASCII), "POST"}};
        for (Object[] row : rows) {
            byte[] body = (byte[]) row[0];
            assertEquals("ok", post("/", body).bytes.toString(StandardCharsets.US_ASCII));
            LoopbackServers.Request got = servers.last();
            boolean isPost = row[1].equals("POST");
            assertEquals(row[1], got.method());
            assertEquals(isPost ? List.of("application/x-www-form-urlencoded;") : null,
                    got.headers().get("Content-Type"));
            assertArrayEquals(isPost ? body : new byte[0], got.body());
            assertEquals(List.of("Sorrel_ARK_1.0"), got.headers().get("User-Agent"));
            assertEquals(List.of("no-cache"), got.headers().get("Pragma"));
            assertEquals(List.of("no-cache"), got.headers().get("Cache-Control"));
        }
    }

    @Test
    void theResourceArrivesVerbatimAndOnlyThePortsLow16BitsCount() throws Exception {
        String resource = "/form/./a/../b?x=1&y=%2F+z&&";
        Win32Impl.postMessage(LOCAL, resource, servers.http() | 0x10000, false, null, new Recorder());
        assertEquals(resource, servers.last().target());
    }

    @Test
    void theResponseStreamsThroughOneArrayInKilobyteChunks() throws Exception {
        Recorder out = post("/bytes/2500", null);
        assertEquals(List.of(1024, 1024, 452), out.sizes);
        assertTrue(out.arrays.stream().allMatch(a -> a == out.arrays.get(0)), "one reused array");
        assertArrayEquals(LoopbackServers.pattern(2500), out.bytes.toByteArray());
        assertEquals(List.of(), post("/bytes/0", null).sizes, "an empty 200 writes nothing");
    }

    @Test
    void aWriteThatThrowsStopsTheCopyWithItsExceptionPending() throws Exception {
        Recorder out = new Recorder();
        out.failure = new IllegalStateException("disk full");
        assertSame(out.failure, assertThrows(IllegalStateException.class,
                () -> Win32Impl.postMessage(LOCAL, "/bytes/5000", servers.http(), false, null, out)));
        assertEquals(List.of(1024), out.sizes);
    }

    @Test
    void aSecondCallToTheSameServerReusesItsConnection() throws Exception {
        post("/", null);
        int first = servers.last().clientPort();
        post("/", new byte[] {'x'});
        assertEquals(first, servers.last().clientPort(), "same client port: the same TCP connection");
    }

    @Test
    void tlsTrustsOnlyTheConfiguredCertificateForTheNameItCarries(@TempDir Path dir) throws Exception {
        int https = servers.https(dir);
        List<String> trusting = child(Map.of("SSL_CERT_FILE", dir.resolve("cert.pem").toString()),
                "localhost|" + https + "|true|/", LOCAL + "|" + https + "|true|/");
        assertEquals("ok ok", result(trusting.get(0)));
        assertEquals("IOException: " + NOT_OK + "0", result(trusting.get(1)), "the certificate names localhost only");
        assertEquals("IOException: " + NOT_OK + "0",
                result(child(Map.of("SSL_CERT_FILE", "/etc/ssl/certs/ca-certificates.crt"),
                        "localhost|" + https + "|true|/").get(0)), "not in the system's store");
    }

    @Test
    void theEnvironmentsProxyIsUsedExceptForNoProxyHosts() throws Exception {
        int proxy = servers.proxy();
        List<String> lines = child(Map.of("http_proxy", "http://127.0.0.1:" + proxy, "no_proxy", "localhost"),
                "quorvane.invalid|" + servers.http() + "|false|/via?q=1", "localhost|" + servers.http() + "|false|/");
        assertEquals("ok proxied http://quorvane.invalid:" + servers.http() + "/via?q=1", result(lines.get(0)));
        assertEquals("ok ok", result(lines.get(1)));
    }

    @Test
    void a401IsRetriedOnceWithTheNetrcEntryOfTheHost(@TempDir Path home) throws Exception {
        String[] calls = {"localhost|" + servers.http() + "|false|/auth", LOCAL + "|" + servers.http() + "|false|/auth"};
        Object[][] rows = {
            {"machine localhost login quorvane password right\n", List.of("ok welcome", "IOException: " + NOT_OK + 401)},
            {"machine localhost login quorvane password wrong\n", List.of("IOException: " + NOT_OK + 401)}};
        for (Object[] row : rows) {
            Path netrc = Files.writeString(home.resolve(".netrc"), (String) row[0]);
            Files.setPosixFilePermissions(netrc, PosixFilePermissions.fromString("rw-------"));
            List<?> expected = (List<?>) row[1];
            List<String> lines = child(Map.of("HOME", home.toString()), Arrays.copyOf(calls, expected.size()));
            assertEquals(expected, lines.stream().map(HttpPostTest::result).toList(), (String) row[0]);
        }
    }

    @Test
    void stalledAnswersEndAtTheRegistrysReceiveTimeout(@TempDir Path data) throws Exception {
        Map<String, String> env = Map.of("XDG_DATA_HOME", data.toString());
        LoopbackServers.run(env, Path.of(System.getenv("QV_BUILD_DIR"), "bin", "reg").toString(), "add",
                "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", "/v", "ReceiveTimeout",
                "/t", "REG_DWORD", "/d", "2000", "/f");
        String half = "x".repeat(1000);
        List<String> lines = child(env, LOCAL + "|" + servers.stalling("") + "|false|/",
                LOCAL + "|" + servers.stalling("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + half) + "|false|/");
        Object[] expected = {"IOException: " + NOT_OK + "0", "ok " + half};
        for (int i = 0; i < 2; i++) {
            assertEquals(expected[i], result(lines.get(i)));
            long ms = Long.parseLong(lines.get(i).substring(lines.get(i).lastIndexOf('\t') + 1));
            assertTrue(ms >= 1900 && ms < 15_000, "2 s, not the default 30 s: " + ms);
        }
    }
}
