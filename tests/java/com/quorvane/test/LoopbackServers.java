package com.quorvane.test;

import static java.nio.charset.StandardCharsets.ISO_8859_1;
import static java.nio.charset.StandardCharsets.UTF_8;

import com.sun.net.httpserver.Headers;
import com.sun.net.httpserver.HttpExchange;
import com.sun.net.httpserver.HttpHandler;
import com.sun.net.httpserver.HttpServer;
import com.sun.net.httpserver.HttpsConfigurator;
import com.sun.net.httpserver.HttpsServer;
import java.io.Closeable;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyStore;
import java.util.ArrayList;
import java.util.Base64;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.concurrent.TimeUnit;
import javax.net.ssl.KeyManagerFactory;
import javax.net.ssl.SSLContext;

/**
 * The servers an HTTP test talks to, all on 127.0.0.1 and all closed
 * together. The HTTP and HTTPS ones keep every request and answer by path:
 * /status/N with status N, /bytes/N with N bytes of pattern(N), /auth with
 * 401 until Basic credentials quorvane:right come, anything else "ok".
 */
final class LoopbackServers implements AutoCloseable {
    private static final char[] STORE_PASSWORD = "changeit".toCharArray();

    /** One request as the server read it; the client's port tells its connection. */
    record Request(String method, String target, Headers headers, byte[] body, int clientPort) {
    }

    private final List<Request> requests = new CopyOnWriteArrayList<>();
    private final List<HttpServer> servers = new ArrayList<>();
    private final List<Closeable> sockets = new CopyOnWriteArrayList<>();
    private final int http;

    LoopbackServers() throws IOException {
        http = serve(HttpServer.create(loopback(), 0), this::answer);
    }

    int http() {
        return http;
    }

    Request last() {
        return requests.get(requests.size() - 1);
    }

    static byte[] pattern(int size) {
        byte[] bytes = new byte[size];
        for (int i = 0; i < size; i++) {
            bytes[i] = (byte) (i % 251);
        }
        return bytes;
    }

    /** HTTPS with the same answers; its certificate names localhost only and is left in dir as cert.pem. */
    int https(Path dir) throws Exception {
        String keytool = Path.of(System.getProperty("java.home"), "bin", "keytool").toString();
        String store = dir.resolve("server.p12").toString();
        run(Map.of(), keytool, "-genkeypair", "-alias", "server", "-keyalg", "EC", "-groupname", "secp256r1",
                "-dname", "CN=localhost", "-ext", "SAN=dns:localhost", "-validity", "2", "-keystore", store,
                "-storepass", "changeit");
        run(Map.of(), keytool, "-exportcert", "-rfc", "-alias", "server", "-keystore", store, "-storepass", "changeit",
                "-file", dir.resolve("cert.pem").toString());
        KeyStore keys = KeyStore.getInstance("PKCS12");
        try (InputStream in = Files.newInputStream(Path.of(store))) {
            keys.load(in, STORE_PASSWORD);
        }
        KeyManagerFactory managers = KeyManagerFactory.getInstance(KeyManagerFactory.getDefaultAlgorithm());
        managers.init(keys, STORE_PASSWORD);
        SSLContext tls = SSLContext.getInstance("TLS");
        tls.init(managers.getKeyManagers(), null, null);
        HttpsServer server = HttpsServer.create(loopback(), 0);
        server.setHttpsConfigurator(new HttpsConfigurator(tls));
        return serve(server, this::answer);
    }

    /** A proxy that answers every request itself: "proxied " and the target it was sent. */
    int proxy() throws IOException {
        return serve(HttpServer.create(loopback(), 0),
                e -> reply(e, 200, ("proxied " + e.getRequestURI()).getBytes(UTF_8)));
    }

    /** Accepts, writes prefix to each connection and then holds it without another byte. */
    int stalling(String prefix) throws IOException {
        ServerSocket listener = new ServerSocket(0, 8, InetAddress.getByName("127.0.0.1"));
        sockets.add(listener);
        Thread accepting = new Thread(() -> {
            try {
                while (true) {
                    Socket s = listener.accept();
                    sockets.add(s);
                    s.getOutputStream().write(prefix.getBytes(ISO_8859_1));
                }
            } catch (IOException closed) {
                // the listener was closed
            }
        });
        accepting.setDaemon(true);
        accepting.start();
        return listener.getLocalPort();
    }

    /** Runs a command with env added to ours; fails unless it exits 0. */
    static String run(Map<String, String> env, String... command) throws Exception {
        ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(true);
        builder.environment().putAll(env);
        Process p = builder.start();
        String out = new String(p.getInputStream().readAllBytes(), UTF_8);
        if (!p.waitFor(60, TimeUnit.SECONDS) || p.exitValue() != 0) {
            throw new IOException(String.join(" ", command) + " failed: " + out);
        }
        return out;
    }

    @Override
    public void close() {
        servers.forEach(s -> s.stop(0));
        for (Closeable s : sockets) {
            try {
                s.close();
            } catch (IOException ignored) {
                // closing anyway
            }
        }
    }

    private static InetSocketAddress loopback() throws IOException {
        return new InetSocketAddress(InetAddress.getByName("127.0.0.1"), 0);
    }

    private int serve(HttpServer server, HttpHandler handler) {
        server.createContext("/", handler);
        server.start();
        servers.add(server);
        return server.getAddress().getPort();
    }

    private void answer(HttpExchange e) throws IOException {
        byte[] body = e.getRequestBody().readAllBytes();
        requests.add(new Request(e.getRequestMethod(), e.getRequestURI().toString(), e.getRequestHeaders(), body,
                e.getRemoteAddress().getPort()));
        String[] path = e.getRequestURI().getPath().split("/");
        String credentials = "Basic " + Base64.getEncoder().encodeToString("quorvane:right".getBytes(UTF_8));
        switch (path.length > 1 ? path[1] : "") {
            case "status" -> reply(e, Integer.parseInt(path[2]), new byte[0]);
            case "bytes" -> reply(e, 200, pattern(Integer.parseInt(path[2])));
            case "auth" -> {
                if (credentials.equals(e.getRequestHeaders().getFirst("Authorization"))) {
                    reply(e, 200, "welcome".getBytes(UTF_8));
                } else {
                    e.getResponseHeaders().add("WWW-Authenticate", "Basic realm=\"quorvane\"");
                    reply(e, 401, new byte[0]);
                }
            }
            default -> reply(e, 200, "ok".getBytes(UTF_8));
        }
    }

    private static void reply(HttpExchange e, int status, byte[] body) throws IOException {
        e.sendResponseHeaders(status, body.length == 0 ? -1 : body.length);
        try (OutputStream out = e.getResponseBody()) {
            out.write(body);
        }
    }
}
