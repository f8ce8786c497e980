package com.quorvane.test;

import static java.nio.charset.StandardCharsets.*;
import static org.junit.jupiter.api.Assertions.*;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import com.sun.net.httpserver.*;
import java.io.*;
import java.net.*;
import java.nio.file.*;
import java.nio.file.attribute.*;
import java.security.KeyStore;
import java.util.*;
import java.util.concurrent.*;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.locks.LockSupport;
import java.util.regex.Pattern;
import java.util.stream.*;
import javax.net.ssl.*;
import org.junit.jupiter.api.*;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.api.io.TempDir;

// Trust, proxies, .netrc and registry timeouts come from the process environment: those cases run in child JVMs.
class HttpPostTest {
    static final String NOT_OK = "Server returned non HTTP_OK return code: ";
    static final String FORM = "application/x-www-form-urlencoded;";
    static final String LOCAL = "127.0.0.1";
    static final Servers SERVERS = new Servers();
    static final Set<PosixFilePermission> OWNER_RW = PosixFilePermissions.fromString("rw-------");

    /** The child: a postMessage per "host|port|secure|resource[|body]" (\\uXXXX unescaped), printing "ok BODY" or
     *  the exception. */
    public static final class Child {
        public static void main(String[] args) {
            for (String arg : args) {
                String[] call = unescape(arg).split("\\|");
                ByteArrayOutputStream out = new ByteArrayOutputStream();
                try {
                    Win32Impl.postMessage(call[0], call[3], Integer.parseInt(call[1]), Boolean.parseBoolean(call[2]),
                            call.length > 4 ? call[4].getBytes(ISO_8859_1) : null, out);
                    System.out.println("ok " + out.toString(ISO_8859_1));
                } catch (Exception e) {
                    System.out.println(e.getClass().getSimpleName() + ": " + e.getMessage());
                }
            }
        }

        /** Non-ASCII text reaches the child as \\uXXXX, whatever the locale of its command line. */
        static String unescape(String text) {
            return Pattern.compile("\\\\u(\\p{XDigit}{4})").matcher(text)
                    .replaceAll(m -> String.valueOf((char) Integer.parseInt(m.group(1), 16)));
        }
    }

    /** The child of the connection test: postMessage from N threads at once, then the sockets left open. */
    public static final class Crowd {
        public static void main(String[] args) throws Exception {
            List<Thread> threads = new ArrayList<>();
            for (int i = 0; i < Integer.parseInt(args[2]); i++) {
                threads.add(new Thread(() -> { // nothing of the test class: its servers would keep this JVM alive
                    try {
                        Win32Impl.postMessage(args[0], "/gather", Integer.parseInt(args[1]), false, null,
                                new ByteArrayOutputStream());
                    } catch (IOException e) {
                        System.out.println(e);
                    }
                }));
            }
            threads.forEach(Thread::start);
            for (Thread thread : threads) {
                thread.join();
            }
            long sockets = 0;
            try (var fds = Files.list(Path.of("/proc/self/fd"))) {
                for (Path fd : fds.toList()) {
                    try {
                        sockets += Files.readSymbolicLink(fd).toString().startsWith("socket:") ? 1 : 0;
                    } catch (IOException e) {
                        // the listing's own descriptor, closed by now
                    }
                }
            }
            System.out.println(sockets);
        }
    }

    /** Keeps every write's array and count besides the bytes; throws `failure` from the first when it is set. */
    static final class Recorder extends ByteArrayOutputStream {
        final List<byte[]> arrays = new ArrayList<>();
        final List<Integer> sizes = new ArrayList<>();
        RuntimeException failure;

        @Override
        public synchronized void write(byte[] b, int off, int len) {
            assertEquals(0, off);
            arrays.add(b);
            sizes.add(len);
            super.write(b, off, len);
            if (failure != null) {
                throw failure;
            }
        }
    }

    @AfterAll
    static void stop() {
        SERVERS.open.forEach(server -> server.stop(0));
    }

    static Recorder post(String resource, byte[] body) throws Exception {
        Recorder out = new Recorder();
        Win32Impl.postMessage(LOCAL, resource, SERVERS.http, false, body, out);
        return out;
    }

    /** Runs the child with env added; its lines. */
    static List<String> child(Map<String, String> env, String... calls) throws Exception {
        List<String> lines = ChildJvm.ok(env, Child.class, calls).lines().toList();
        assertEquals(calls.length, lines.size(), lines.toString());
        return lines;
    }

    @Test
    void everyRefusalAndNon200AnswerRaisesItsException() {
        Object[][] rows = { // host, resource, port (0: the server's), body, stream, message
            {LOCAL, "/", 0, null, null, "Return stream cannot be null"},
            {LOCAL, "/", 0, null, new Object(), "Unable to load write method on return stream"},
            {null, "/", 0, null, new Recorder(), "URI cannot be null"},
            {LOCAL, "/status/204", 0, null, new Recorder(), NOT_OK + 204},
            {LOCAL, "/status/404", 0, new byte[] {'a'}, new Recorder(), NOT_OK + 404},
            {LOCAL, "/status/500", 0, null, new Recorder(), NOT_OK + 500},
            {LOCAL, "/redirect/302/loop", 0, null, new Recorder(), NOT_OK + 302}, // a loop ends with its last answer
            {LOCAL, "/", 1, null, new Recorder(), NOT_OK + "0 (WinInet error 12029)"}, // nothing listens on port 1
            // A check the caller made on the whole text must hold for what is sent: nothing is.
            {LOCAL + "\u0000.evil.test", "/", 0, null, new Recorder(), "URI contains a control character"},
            {LOCAL + "\n", "/", 0, null, new Recorder(), "URI contains a control character"},
            {LOCAL, "/ok\u0000/../evil", 0, null, new Recorder(), "Resource contains a control character"},
            {LOCAL, "/ok\r\nX-Evil: 1", 0, new byte[] {'a'}, new Recorder(), "Resource contains a control character"},
            {LOCAL, "/ok\u0085", 0, null, new Recorder(), "Resource contains a control character"}};
        for (Object[] r : rows) {
            int port = (int) r[2] == 0 ? SERVERS.http : (int) r[2];
            Class<? extends Exception> type = r[5].toString().startsWith(NOT_OK) ? IOException.class
                    : IllegalArgumentException.class;
            int before = SERVERS.requests.size();
            assertEquals(r[5], assertThrows(type, () -> Win32Impl.postMessage((String) r[0], (String) r[1], port,
                    false, (byte[]) r[3], r[4])).getMessage());
            if (type == IllegalArgumentException.class) {
                assertEquals(before, SERVERS.requests.size(), "nothing sent for " + r[0] + r[1]);
            }
        }
    }

    @Test
    void aBodyOfOneByteOrMoreMakesAFormPostAndNoneAGetOfTheResourceAsGivenAllOnOneConnection() throws Exception {
        String resource = "/form/./a/../b?x=1&y=%2F+z&&";
        Set<Integer> clientPorts = new HashSet<>(); // one port: one TCP connection
        for (byte[] body : new byte[][] {null, {}, {'x'}, "a=1&b=%20".getBytes(ISO_8859_1)}) {
            Recorder out = new Recorder();
            Win32Impl.postMessage(LOCAL, resource, SERVERS.http | 0x10000, false, body, out); // low 16 bits count
            Servers.Request got = SERVERS.last();
            Headers h = got.headers();
            boolean post = body != null && body.length > 0;
            assertEquals(Arrays.asList("ok", post ? "POST" : "GET", resource, post ? List.of(FORM) : null,
                    post ? new String(body, ISO_8859_1) : "", List.of("Sorrel_ARK_1.0"), List.of("no-cache"),
                    List.of("no-cache")), Arrays.asList(out.toString(ISO_8859_1), got.method(), got.target(),
                    h.get("Content-Type"), new String(got.body(), ISO_8859_1), h.get("User-Agent"), h.get("Pragma"),
                    h.get("Cache-Control")));
            clientPorts.add(got.clientPort());
        }
        assertEquals(1, clientPorts.size(), "later calls to the same server reuse its connection");
    }

    @Test
    void theResponseStreamsThroughOneArrayInKilobyteChunksUntilAWriteThrows() throws Exception {
        assertEquals(List.of(), post("/bytes/0", null).sizes, "an empty 200 writes nothing");
        Recorder out = post("/bytes/2500", null);
        // One reused array, each read filled though the body comes in pieces.
        assertEquals(List.of(true, Servers.TEXT.substring(0, 2500), List.of(1024, 1024, 452)), List.of(
                out.arrays.stream().allMatch(a -> a == out.arrays.get(0)), out.toString(ISO_8859_1), out.sizes));
        // A write that throws stops the copy, its exception pending.
        Recorder failing = new Recorder();
        failing.failure = new IllegalStateException("disk full");
        assertSame(failing.failure, assertThrows(IllegalStateException.class,
                () -> Win32Impl.postMessage(LOCAL, "/bytes/5000", SERVERS.http, false, null, failing)));
        assertEquals(1, failing.sizes.size(), "no write after the one that threw");
    }

    @Test
    void redirectsAreFollowedAsWinInetFollowsThem() throws Exception {
        Object[][] rows = {
            {301, "GET", ""}, {302, "GET", ""}, {303, "GET", ""}, {307, "POST", "a=1"}, {308, "POST", "a=1"}};
        for (Object[] r : rows) {
            assertEquals("ok", post("/redirect/" + r[0], "a=1".getBytes(ISO_8859_1)).toString(ISO_8859_1));
            Servers.Request got = SERVERS.last();
            assertEquals(List.of("/landed", r[1], r[2]), List.of(got.target(), got.method(),
                    new String(got.body(), ISO_8859_1)), "after " + r[0]);
        }
    }

    @Test
    void tlsTrustsOnlyTheConfiguredCertificateAndKeepsItsSecrets(@TempDir Path dir) throws Exception {
        int https = SERVERS.https(dir, SERVERS::answer), tlsProxy = SERVERS.https(dir, Servers.PROXY);
        String cert = dir.resolve("cert.pem").toString(), system = "/etc/ssl/certs/ca-certificates.crt";
        String refused = "IOException: " + NOT_OK + "0 (WinInet error 12045)";
        String misnamed = "IOException: " + NOT_OK + "0 (WinInet error 12038)";
        String viaTls = "quorvane.invalid|" + SERVERS.http + "|false|/tls-proxy";
        String[] calls = {"localhost|" + https + "|true|/", LOCAL + "|" + https + "|true|/", viaTls};
        String proxied = "ok proxied http://quorvane.invalid:" + SERVERS.http + "/tls-proxy";
        Path keys = dir.resolve("keys.log");
        Object[][] rows = { // environment, results, whether TLS secrets reached SSLKEYLOGFILE
            {Map.of("SSL_CERT_FILE", cert), List.of("ok ok", misnamed, proxied), false}, // it names localhost only
            {Map.of("SSL_CERT_FILE", system), List.of(refused, refused, refused), false}, // the system's lacks it
            {Map.of("CURL_CA_BUNDLE", cert, "SSL_CERT_FILE", system), List.of("ok ok", misnamed, proxied), false},
            {Map.of("SSL_CERT_FILE", cert, "SSLKEYLOGFILE", keys.toString()), List.of("ok ok", misnamed, proxied),
                false},
            {Map.of("SSL_CERT_FILE", cert, "SSLKEYLOGFILE", keys.toString(), "QV_INET_KEYLOG", "1"),
                List.of("ok ok", misnamed, proxied), true}};
        for (Object[] row : rows) {
            Files.deleteIfExists(keys);
            @SuppressWarnings("unchecked")
            Map<String, String> env = new HashMap<>((Map<String, String>) row[0]);
            env.putAll(Map.of("http_proxy", "https://localhost:" + tlsProxy, "no_proxy", "localhost," + LOCAL));
            List<String> results = child(env, calls);
            boolean logged = Files.exists(keys) && Files.readString(keys).contains("SECRET");
            assertEquals(List.of(row[1], row[2]), List.of(results, logged), row[0].toString());
        }
    }

    @Test
    void noProxyIsReadAsCurlReadsIt() throws Exception {
        String proxy = "http://127.0.0.1:" + SERVERS.proxy();
        String three = "127.0.0.3|" + SERVERS.http3, local = "localhost|" + SERVERS.http;
        // no_proxy ('' for empty), NO_PROXY after a "|", host|port, whether curl 7.88 goes direct
        Object[][] rows = {
            {"3", three, false}, {".0.3", three, false}, {"0.0.3", three, false}, {"127.0.0.3", three, true},
            {"127.0.0.0/8", three, true}, {"127.0.0.0/30", three, true}, {"127.0.0.4/30", three, false},
            {"127.0.0.3/32", three, true}, {"127.0.0.0/0", three, false}, {"127.0.0.3/33", three, false},
            {"127.0.0.3:80", three, false}, {"localhost, 127.0.0.3", three, true}, {" ,, 127.0.0.3 ", three, true},
            {"a.test 127.0.0.3", three, true}, {"*", three, true}, {"*,a.test", three, false},
            {"127.0.0.3;a.test", three, false},
            {"LOCALHOST.", local, true}, {".localhost", local, true}, {"host", local, false},
            {"calhost", local, false}, {"|127.0.0.3", three, true}, {"a.test|127.0.0.3", three, false},
            {"''|127.0.0.3", three, true}};
        List<Executable> checks = new ArrayList<>();
        for (Object[] r : rows) {
            String[] lists = (r[0] + "|").split("\\|", -1);
            Map<String, String> env = new HashMap<>(Map.of("http_proxy", proxy, "no_proxy", lists[0], "NO_PROXY",
                    lists[1]));
            env.values().removeIf(String::isEmpty);
            env.replaceAll((name, value) -> value.equals("''") ? "" : value);
            String[] at = r[1].toString().split("\\|");
            String ours = child(env, r[1] + "|false|/np").get(0);
            String curl = ChildJvm.exec(env, "curl", "-q", "-s", "-m", "30", "http://" + at[0] + ":" + at[1] + "/np");
            String expected = (boolean) r[2] ? "direct" : "proxied";
            checks.add(() -> assertEquals(List.of(expected, expected), List.of(
                    ours.equals("ok ok") ? "direct" : ours.startsWith("ok proxied") ? "proxied" : ours,
                    curl.equals("ok") ? "direct" : curl.startsWith("proxied") ? "proxied" : curl), env.toString()));
        }
        assertAll(checks);
    }

    @Test
    void a401IsRetriedOnceWithTheNetrcEntryOfTheHost(@TempDir Path home) throws Exception {
        String denied = "IOException: " + NOT_OK + 401;
        int http = SERVERS.http, https = SERVERS.https(home, SERVERS::answer);
        // 127.0.0.1 has no entry; localhost's answers a form POST, over TLS only since /auth takes Basic alone
        String[] calls = {LOCAL + "|" + http + "|false|/auth", "localhost|" + http + "|false|/auth|a=1",
            "localhost|" + https + "|true|/auth|a=1", "localhost|" + http + "|false|/auth/digest|a=1"};
        Object[][] rows = {{"right", List.of(denied, denied, "ok welcome", "ok welcome")},
            {"wrong", List.of(denied, denied, denied, denied)}};
        for (Object[] row : rows) {
            Files.setPosixFilePermissions(Files.writeString(home.resolve(".netrc"),
                    "machine localhost login quorvane password " + row[0]), OWNER_RW);
            int before = SERVERS.requests.size();
            assertEquals(row[1], child(Map.of("HOME", home.toString(), "SSL_CERT_FILE",
                    home.resolve("cert.pem").toString()), calls), "password " + row[0]);
            assertEquals(7, SERVERS.requests.size() - before, "1, 1, 2, 3 (Digest takes its own challenge): a retry"
                    + " only where the password cannot be read on the way, over TLS or by Digest");
            assertEquals(List.of(List.of(FORM), "a=1"), List.of(SERVERS.last().headers().get("Content-Type"),
                    new String(SERVERS.last().body(), ISO_8859_1)));
        }
    }

    @Test
    void stalledOrTricklingAnswersEndAtTheRegistrysLimits(@TempDir Path data) throws Exception {
        Map<String, String> env = Map.of("XDG_DATA_HOME", data.toString());
        for (String[] value : new String[][] {{"ReceiveTimeout", "3000"}, {"RequestTimeout", "6000"}}) {
            ChildJvm.exec(env, Path.of(System.getenv("QV_BUILD_DIR"), "bin", "reg").toString(), "add",
                    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", "/v", value[0],
                    "/t", "REG_DWORD", "/d", value[1], "/f");
        }
        String timedOut = "(WinInet error 12002)";
        try (SocketRecorder headers = new SocketRecorder(LOCAL, Servers.TRICKLED_HEADERS)) {
            Object[][] rows = { // call, result
                {"/stall/0", "IOException: " + NOT_OK + "0 " + timedOut}, // no answer at all
                {"/stall/1000", "IOException: Response cut short " + timedOut}, // 1000 bytes of 5000, then none
                {"/trickle/30", "IOException: Response cut short " + timedOut}, // a body byte a second
                {headers.port() + "/", "IOException: " + NOT_OK + "0 " + timedOut}}; // a header line a second
            long start = System.nanoTime();
            List<String> results = child(env, Arrays.stream(rows).map(r -> r[0].toString().startsWith("/")
                    ? LOCAL + "|" + SERVERS.http + "|false|" + r[0] : LOCAL + "|" + r[0].toString().replace("/",
                    "|false|/")).toArray(String[]::new));
            long ms = (System.nanoTime() - start) / 1_000_000;
            assertEquals(Arrays.stream(rows).map(r -> r[1]).toList(), results);
            assertTrue(ms < 50_000, "3 s, 3 s, 6 s and 3 s as the registry says, not the default 30 s each: " + ms);
        }
    }

    @Test
    void theCallersBodyArrayIsLeftAsTheCallerLeavesIt() throws Exception {
        byte[] body = "a=1".getBytes(ISO_8859_1);
        CountDownLatch[] hold = SERVERS.hold = new CountDownLatch[] {new CountDownLatch(1), new CountDownLatch(1)};
        Future<Recorder> call = Executors.newSingleThreadExecutor().submit(() -> post("/hold", body));
        assertTrue(hold[0].await(60, TimeUnit.SECONDS), "the request arrives");
        body[2] = '2'; // another thread changes the body while the call has it
        hold[1].countDown();
        call.get();
        assertEquals(List.of("a=1", "a=2"), List.of(new String(SERVERS.last().body(), ISO_8859_1),
                new String(body, ISO_8859_1)));
    }

    @Test
    void connectionsLeftOpenAfterManyThreadsPostedAtOnceAreFew() throws Exception {
        int threads = 64;
        SERVERS.gather = new CountDownLatch(threads); // every answer waits until all are in: 64 connections
        String sockets = ChildJvm.ok(Map.of(), Crowd.class, LOCAL, "" + SERVERS.http, "" + threads).strip();
        assertTrue(Integer.parseInt(sockets) <= 16, sockets + " sockets left open");
    }

    @Test
    void credentialsStayWhereTheyWereGiven(@TempDir Path home) throws Exception {
        int h1 = SERVERS.http, h2 = SERVERS.http2, h3 = SERVERS.http3;
        String denied = "IOException: " + NOT_OK + 401;
        try (SocketRecorder tunnel = new SocketRecorder("127.0.0.2", SocketRecorder.FIRST_READ)) {
            Map<String, String> proxies = Map.of("http_proxy", "http://127.0.0.1:" + SERVERS.loginProxy(),
                    "https_proxy", tunnel.url("http"));
            Object[][] rows = { // case, .netrc, proxies, call, result
                {"default entry", "default login d password secret", Map.of(),
                    "127.0.0.2|" + h2 + "|false|/auth/digest", denied},
                {"cross-host redirect", "machine 127.0.0.1 login o password one\ndefault login d password secret",
                    Map.of(), LOCAL + "|" + h1 + "|false|/goto/127.0.0.2:" + h2 + "/auth/digest|a=1", denied},
                // the login proxy sends it on to https://quorvane.invalid/, the tunnel's
                {"proxy change", "machine 127.0.0.1 login p password p1", proxies, "quorvane.invalid|80|false|/",
                    "IOException: " + NOT_OK + "0 (WinInet error 12031)"},
                // each answers 401, then with its password a redirect to the other
                {"retry loop", "machine 127.0.0.2 login u password two\nmachine 127.0.0.3 login w password three",
                    Map.of(), "127.0.0.2|" + h2 + "|false|/loop/127.0.0.3:" + h3, denied}};
            List<Executable> checks = new ArrayList<>(); // every row's verdict, not only the first failure's
            for (Object[] r : rows) {
                Files.setPosixFilePermissions(Files.writeString(home.resolve(".netrc"), (String) r[1]), OWNER_RW);
                @SuppressWarnings("unchecked")
                Map<String, String> env = new HashMap<>((Map<String, String>) r[2]);
                env.put("HOME", home.toString());
                int before = SERVERS.requests.size();
                tunnel.records.clear();
                List<String> result = child(env, (String) r[3]);
                List<Servers.Request> sent = SERVERS.requests.subList(before, SERVERS.requests.size());
                // Logins at 127.0.0.2 other than its own, a proxy's on the tunnel, and how often we asked.
                List<Object> seen = List.of(result, sent.stream().filter(q -> q.server().equals("127.0.0.2"))
                        .map(q -> q.headers().getFirst("Authorization"))
                        .filter(a -> a != null && !Servers.user(a).equals("u")).toList(),
                        tunnel.records.stream().anyMatch(t -> t.contains("Proxy-Authorization")), sent.size() <= 8);
                checks.add(() -> assertEquals(List.of(List.of(r[4]), List.of(), false, true), seen, (String) r[0]));
            }
            assertAll(checks);
        }
    }

    @Test
    void aProxyTheUserSetIsUsedOrTheCallFailsAndIsNeverBypassed(@TempDir Path dir) throws Exception {
        String proxy = "http://127.0.0.1:" + SERVERS.proxy(), failed = "IOException: " + NOT_OK + "0 ";
        String origin = "http://" + LOCAL + ":" + SERVERS.http;
        String desk = "ok proxied " + origin + "/desk";
        try (SocketRecorder socks = new SocketRecorder(LOCAL, SocketRecorder.SOCKS5);
                SocketRecorder tls = new SocketRecorder(LOCAL, SocketRecorder.FIRST_READ);
                GnomeDesktop gnome = new GnomeDesktop(dir, SERVERS.proxy())) {
            String viaSocks = "socks " + LOCAL + ":" + SERVERS.http;
            Object[][] rows = { // proxy settings, resource, result, what the SOCKS or the TLS listener heard
                {Map.of("http_proxy", socks.url("socks5h")), "/socks", failed + "(WinInet error 12029)", viaSocks},
                {Map.of("http_proxy", tls.url("https")), "/tls", failed + "(WinInet error 12157)", "TLS hello"},
                {Map.of("http_proxy", "ftp://127.0.0.1:21"), "/ftp", failed + "(WinInet error 12033)", ""},
                {Map.of("http_proxy", proxy.substring(7)), "/bare", "ok proxied " + origin + "/bare", ""},
                {Map.of("http_proxy", proxy, "no_proxy", "*"), "/star", "ok ok", ""},
                // Without desktop settings libproxy reads the environment itself, HTTP_PROXY included.
                {Map.of("HTTP_PROXY", proxy), "/upper", "ok proxied " + origin + "/upper", ""},
                {Map.of("http_proxy", proxy), "@evil.test/x", "ok proxied " + origin + "/@evil.test/x", ""},
                {Map.of("http_proxy", proxy), "/frag?q=1#part", "ok proxied " + origin + "/frag?q=1", ""},
                // The desktop's proxy (GNOME, through libproxy) unless a variable names another.
                {gnome.env(), "/desk", desk, ""}, {gnome.env("no_proxy", "localhost"), "/desk", desk, ""},
                {gnome.env("NO_PROXY", "localhost"), "/desk", desk, ""},
                {gnome.env("HTTP_PROXY", socks.url("socks5h")), "/desk", desk, ""},
                {gnome.env("https_proxy", socks.url("socks5h")), "/desk", desk, ""},
                {gnome.env("no_proxy", "127.0.0.0/8"), "/desk", "ok ok", ""},
                {gnome.env("all_proxy", socks.url("socks5h")), "/desk", failed + "(WinInet error 12029)", viaSocks}};
            List<Executable> checks = new ArrayList<>();
            for (Object[] r : rows) {
                socks.records.clear();
                tls.records.clear();
                @SuppressWarnings("unchecked")
                Map<String, String> env = (Map<String, String>) r[0];
                List<String> result = child(env, LOCAL + "|" + SERVERS.http + "|false|" + r[1]);
                String heard = String.join(" ", Stream.concat(socks.records.stream().map(t -> "socks " + t),
                        tls.records.stream().map(t -> t.startsWith("\u0016\u0003") ? "TLS hello" : t)).toList());
                checks.add(() -> assertEquals(List.of(r[2], r[3]), List.of(result.get(0), heard), env.toString()));
            }
            // A name beyond ASCII goes to the proxy as the server's DNS knows it.
            checks.add(() -> assertEquals(List.of("ok proxied http://xn--bcher-kva.invalid:" + SERVERS.http + "/idn"),
                    child(Map.of("http_proxy", proxy), "b\\u00fccher.invalid|" + SERVERS.http + "|false|/idn")));
            assertAll(checks);
        }
    }

    /** A loopback listener that records what each connection first says, answers it once and hangs up. */
    static final class SocketRecorder implements AutoCloseable {
        /** Reads a connection's opening and records it before any answer, which may end the client's call. */
        interface Script {
            void play(Socket socket, List<String> records) throws IOException;
        }

        /** The bytes of the first read, as text: a request head, or a TLS hello. */
        static final Script FIRST_READ = (socket, records) -> {
            byte[] buffer = new byte[8192];
            int n = socket.getInputStream().read(buffer);
            records.add(n <= 0 ? "" : new String(buffer, 0, n, ISO_8859_1));
        };

        /** A SOCKS5 server that takes no credentials, records "host:port" of the CONNECT and refuses it. */
        static final Script SOCKS5 = (socket, records) -> {
            DataInputStream in = new DataInputStream(socket.getInputStream());
            in.readUnsignedByte(); // version
            in.readNBytes(in.readUnsignedByte()); // the methods offered
            socket.getOutputStream().write(new byte[] {5, 0});
            in.readNBytes(3); // version, command, reserved
            int type = in.readUnsignedByte();
            String host = type == 3 ? new String(in.readNBytes(in.readUnsignedByte()), ISO_8859_1)
                    : InetAddress.getByAddress(in.readNBytes(type == 1 ? 4 : 16)).getHostAddress();
            records.add(host + ":" + in.readUnsignedShort());
            socket.getOutputStream().write(new byte[] {5, 5, 0, 1, 0, 0, 0, 0, 0, 0}); // connection refused
        };

        final List<String> records = new CopyOnWriteArrayList<>();
        private final ServerSocket server;

        SocketRecorder(String address, Script script) throws IOException {
            server = new ServerSocket(0, 50, InetAddress.getByName(address));
            Thread accept = new Thread(() -> {
                while (!server.isClosed()) {
                    try (Socket socket = server.accept()) {
                        script.play(socket, records);
                    } catch (IOException e) {
                        // closed, or a client that went away mid-way
                    }
                }
            });
            accept.setDaemon(true);
            accept.start();
        }

        int port() {
            return server.getLocalPort();
        }

        /** "scheme://address:port" of this listener. */
        String url(String scheme) {
            return scheme + "://" + server.getInetAddress().getHostAddress() + ":" + port();
        }

        @Override
        public void close() throws IOException {
            server.close();
        }
    }

    /** GNOME's proxy settings, "manual" with an HTTP proxy at 127.0.0.1:port, on a private session bus and dconf. */
    static final class GnomeDesktop implements AutoCloseable {
        private final Process bus;
        private final Map<String, String> env = new HashMap<>();

        GnomeDesktop(Path dir, int port) throws Exception {
            Path runtime = Files.createDirectories(dir.resolve("runtime"), PosixFilePermissions.asFileAttribute(
                    PosixFilePermissions.fromString("rwx------")));
            env.putAll(Map.of("XDG_CONFIG_HOME", Files.createDirectories(dir.resolve("config")).toString(),
                    "XDG_RUNTIME_DIR", runtime.toString(), "DESKTOP_SESSION", "gnome", "GSETTINGS_BACKEND", "dconf"));
            bus = ChildJvm.start(env, List.of("dbus-daemon", "--session", "--nofork", "--print-address=1"));
            String address = new BufferedReader(new InputStreamReader(bus.getInputStream(), UTF_8)).readLine();
            assertNotNull(address, "dbus-daemon gave no address");
            env.put("DBUS_SESSION_BUS_ADDRESS", address);
            ChildJvm.exec(env, "sh", "-c", "gsettings set org.gnome.system.proxy mode manual && gsettings set"
                    + " org.gnome.system.proxy.http host 127.0.0.1 && gsettings set org.gnome.system.proxy.http port $0"
                    + " && gsettings set org.gnome.system.proxy ignore-hosts \"['localhost']\"", "" + port);
            assertEquals("'127.0.0.1'", ChildJvm.exec(env, "gsettings", "get", "org.gnome.system.proxy.http", "host")
                    .strip());
        }

        /** The desktop's environment, with the given variables added. */
        Map<String, String> env(String... variables) {
            Map<String, String> all = new HashMap<>(env);
            for (int i = 0; i < variables.length; i += 2) {
                all.put(variables[i], variables[i + 1]);
            }
            return all;
        }

        @Override
        public void close() {
            bus.destroy();
        }
    }

    // Keep every request; /status/N answers N, /bytes/N N bytes, /auth 401 until quorvane:right proves itself,
    // others "ok".
    static final class Servers {
        private static final InetSocketAddress LOOPBACK = new InetSocketAddress(InetAddress.getLoopbackAddress(), 0);
        static final String TEXT = "0123456789abcdefghijklmnopqrstuvwxyz".repeat(200);
        private static final String NONCE = "6f7175617276616e65";

        /** A request as the server read it; the client's port tells its connection apart. */
        record Request(String method, String target, Headers headers, byte[] body, int clientPort, String server) {
        }

        static final HttpHandler PROXY = e -> reply(e, 200, "proxied " + e.getRequestURI());

        /** Answers 200 with a header line a second for 30 s, then "ok". */
        static final SocketRecorder.Script TRICKLED_HEADERS = (socket, records) -> {
            socket.getInputStream().read(new byte[8192]);
            OutputStream out = socket.getOutputStream();
            out.write("HTTP/1.1 200 OK\r\n".getBytes(ISO_8859_1));
            for (int i = 0; i < 30; i++) {
                out.write(("X-Slow-" + i + ": 1\r\n").getBytes(ISO_8859_1));
                out.flush();
                LockSupport.parkNanos(1_000_000_000L);
            }
            out.write("Content-Length: 2\r\n\r\nok".getBytes(ISO_8859_1));
        };

        final List<Request> requests = new CopyOnWriteArrayList<>();
        final List<HttpServer> open = new CopyOnWriteArrayList<>();
        final int http, http2, http3; // on 127.0.0.1, 127.0.0.2 and 127.0.0.3
        volatile CountDownLatch[] hold; // /hold: signals the first when the request is in, answers on the second
        volatile CountDownLatch gather; // /gather: answers once all have come
        private final AtomicInteger loops = new AtomicInteger();

        Servers() {
            try {
                http = serve(HttpServer.create(LOOPBACK, 0), this::answer);
                http2 = serve(HttpServer.create(new InetSocketAddress("127.0.0.2", 0), 0), this::answer);
                http3 = serve(HttpServer.create(new InetSocketAddress("127.0.0.3", 0), 0), this::answer);
            } catch (IOException e) {
                throw new UncheckedIOException(e);
            }
        }

        Request last() {
            return requests.get(requests.size() - 1);
        }

        /** HTTPS answering as handler does; its certificate, for localhost only, is made once in dir as cert.pem. */
        int https(Path dir, HttpHandler handler) throws Exception {
            String store = dir.resolve("server.p12").toString(), pass = "changeit";
            if (!Files.exists(dir.resolve("cert.pem"))) {
                String keytool = Path.of(System.getProperty("java.home"), "bin", "keytool").toString();
                ChildJvm.exec(Map.of(), keytool, "-genkeypair", "-alias", "server", "-keyalg", "EC", "-groupname",
                        "secp256r1", "-dname", "CN=localhost", "-ext", "SAN=dns:localhost", "-validity", "2",
                        "-keystore", store, "-storepass", pass);
                ChildJvm.exec(Map.of(), keytool, "-exportcert", "-rfc", "-alias", "server", "-keystore", store,
                        "-storepass", pass, "-file", dir.resolve("cert.pem").toString());
            }
            KeyManagerFactory managers = KeyManagerFactory.getInstance(KeyManagerFactory.getDefaultAlgorithm());
            managers.init(KeyStore.getInstance(new File(store), pass.toCharArray()), pass.toCharArray());
            SSLContext tls = SSLContext.getInstance("TLS");
            tls.init(managers.getKeyManagers(), null, null);
            HttpsServer server = HttpsServer.create(LOOPBACK, 0);
            server.setHttpsConfigurator(new HttpsConfigurator(tls));
            return serve(server, handler);
        }

        /** A proxy that answers every request itself: "proxied " and the target it was sent. */
        int proxy() throws IOException {
            return serve(HttpServer.create(LOOPBACK, 0), PROXY);
        }

        /** A proxy that wants p:p1 and then sends every request on to https://quorvane.invalid/. */
        int loginProxy() throws IOException {
            return serve(HttpServer.create(LOOPBACK, 0), e -> {
                boolean known = authorized(e.getRequestHeaders().getFirst("Proxy-Authorization"), "p", "p1",
                        e.getRequestMethod());
                if (known) {
                    e.getResponseHeaders().add("Location", "https://quorvane.invalid/");
                } else {
                    challenge(e, "Proxy-Authenticate", true);
                }
                reply(e, known ? 302 : 407, "");
            });
        }

        /** Asks for Basic, and for Digest too with `digest`. */
        static void challenge(HttpExchange e, String header, boolean digest) {
            e.getResponseHeaders().add(header, "Basic realm=\"quorvane\"");
            if (digest) {
                e.getResponseHeaders().add(header, "Digest realm=\"quorvane\", nonce=\"" + NONCE
                        + "\", qop=\"auth\"");
            }
        }

        /** The fields of a Digest answer. */
        private static Map<String, String> digestFields(String authorization) {
            return Pattern.compile("(\\w+)=(?:\"([^\"]*)\"|([^,\\s]*))").matcher(authorization).results().collect(
                    Collectors.toMap(m -> m.group(1), m -> m.group(m.group(2) != null ? 2 : 3), (a, b) -> b));
        }

        /** The user an Authorization header names, Basic or Digest; "" for none. */
        static String user(String authorization) {
            if (authorization.startsWith("Basic ")) {
                String login = new String(Base64.getDecoder().decode(authorization.substring(6)), UTF_8);
                return login.substring(0, Math.max(0, login.indexOf(':')));
            }
            return digestFields(authorization).getOrDefault("username", "");
        }

        /** Whether the header proves user:password, by Basic or by Digest (RFC 7616, MD5, qop=auth). */
        static boolean authorized(String authorization, String user, String password, String method) {
            if (authorization == null) {
                return false;
            }
            if (authorization.startsWith("Basic ")) {
                return authorization.equals("Basic " + Base64.getEncoder().encodeToString((user + ":" + password)
                        .getBytes(UTF_8)));
            }
            Map<String, String> f = digestFields(authorization);
            String ha1 = md5(user + ":quorvane:" + password), ha2 = md5(method + ":" + f.get("uri"));
            return user.equals(f.get("username")) && NONCE.equals(f.get("nonce")) && md5(ha1 + ":" + NONCE + ":"
                    + f.get("nc") + ":" + f.get("cnonce") + ":auth:" + ha2).equals(f.get("response"));
        }

        private static String md5(String text) {
            try {
                return HexFormat.of().formatHex(java.security.MessageDigest.getInstance("MD5")
                        .digest(text.getBytes(UTF_8)));
            } catch (java.security.NoSuchAlgorithmException e) {
                throw new IllegalStateException(e);
            }
        }

        private int serve(HttpServer server, HttpHandler handler) {
            server.createContext("/", handler);
            server.setExecutor(Executors.newCachedThreadPool()); // a stalled answer holds one thread
            server.start();
            open.add(server);
            return server.getAddress().getPort();
        }

        private void answer(HttpExchange e) throws IOException {
            requests.add(new Request(e.getRequestMethod(), e.getRequestURI().toString(), e.getRequestHeaders(),
                    e.getRequestBody().readAllBytes(), e.getRemoteAddress().getPort(),
                    e.getLocalAddress().getAddress().getHostAddress()));
            String[] path = e.getRequestURI().getPath().split("/");
            switch (path.length > 1 ? path[1] : "") {
                case "status" -> reply(e, Integer.parseInt(path[2]), "");
                case "bytes" -> reply(e, 200, TEXT.substring(0, Integer.parseInt(path[2])));
                case "auth" -> { // /auth takes Basic, /auth/digest Digest too
                    boolean authorized = authorized(e.getRequestHeaders().getFirst("Authorization"), "quorvane",
                            "right", e.getRequestMethod());
                    challenge(e, "WWW-Authenticate", path.length > 2);
                    reply(e, authorized ? 200 : 401, authorized ? "welcome" : "");
                }
                case "stall" -> { // /stall/N: N bytes of a 5000-byte body (no answer for 0), then 20 s of nothing
                    if (Integer.parseInt(path[2]) > 0) {
                        e.sendResponseHeaders(200, 5000);
                        e.getResponseBody().write("x".repeat(Integer.parseInt(path[2])).getBytes(ISO_8859_1));
                        e.getResponseBody().flush();
                    }
                    LockSupport.parkNanos(20_000_000_000L);
                }
                case "trickle" -> { // /trickle/N: a body of N bytes, one a second
                    int length = Integer.parseInt(path[2]);
                    e.sendResponseHeaders(200, length);
                    for (int i = 0; i < length; i++) {
                        e.getResponseBody().write('x');
                        e.getResponseBody().flush();
                        LockSupport.parkNanos(1_000_000_000L);
                    }
                    e.close();
                }
                case "redirect" -> { // /redirect/N to /landed; /redirect/N/loop to itself
                    String to = path.length > 3 ? e.getRequestURI().getPath() : "../landed";
                    e.getResponseHeaders().add("Location", to);
                    reply(e, Integer.parseInt(path[2]), "");
                }
                case "goto" -> { // /goto/HOST:PORT/REST to http://HOST:PORT/REST
                    e.getResponseHeaders().add("Location", "http://" + e.getRequestURI().getPath().substring(6));
                    reply(e, 302, "");
                }
                case "loop" -> { // /loop/OTHER: 401 without a login, with one a redirect to OTHER's /loop back here
                    boolean login = e.getRequestHeaders().containsKey("Authorization");
                    InetSocketAddress local = e.getLocalAddress();
                    String here = local.getAddress().getHostAddress() + ":" + local.getPort();
                    if (login) {
                        e.getResponseHeaders().add("Location", "http://" + path[2] + "/loop/" + here);
                    } else {
                        challenge(e, "WWW-Authenticate", true);
                    }
                    reply(e, loops.incrementAndGet() > 40 ? 500 : login ? 302 : 401, ""); // 500 ends an endless one
                }
                case "hold" -> {
                    hold[0].countDown();
                    awaitQuietly(hold[1]);
                    reply(e, 200, "ok");
                }
                case "gather" -> {
                    gather.countDown();
                    awaitQuietly(gather);
                    reply(e, 200, "ok");
                }
                default -> reply(e, 200, "ok");
            }
        }

        private static void awaitQuietly(CountDownLatch latch) {
            try {
                latch.await(60, TimeUnit.SECONDS); // bounds a test that fails
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }

        private static void reply(HttpExchange e, int status, String body) throws IOException {
            e.sendResponseHeaders(status, body.isEmpty() ? -1 : body.length());
            try (OutputStream out = e.getResponseBody()) {
                for (int at = 0; at < body.length(); at += 100) { // in pieces, as a slow network brings them
                    out.write(body.substring(at, Math.min(at + 100, body.length())).getBytes(ISO_8859_1));
                    out.flush();
                }
            }
        }
    }
}
