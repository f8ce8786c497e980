import com.quorvane.infrastructure.os.windows.Win32Impl;
import com.sun.net.httpserver.HttpServer;
import com.sun.net.httpserver.HttpsConfigurator;
import com.sun.net.httpserver.HttpsServer;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.URL;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyStore;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.atomic.AtomicLong;
import javax.net.ssl.KeyManagerFactory;
import javax.net.ssl.SSLContext;

/**
 * postMessage over loopback: the first call in the process (the library's
 * one-time set-up of the HTTP client and proxy lookup); a large response
 * streamed to an output stream that only counts (throughput, and the growth
 * of the JVM's resident memory while it runs, sampled from
 * /proc/self/status); and the latency of a first HTTPS call to a new server
 * against the second call to it, which reuses the connection. The JVM must
 * trust the server's certificate through SSL_CERT_FILE (run-http-bench.sh
 * makes both).
 *
 * usage: HttpBench SERVER_P12 [MEGABYTES]
 */
public final class HttpBench {
    private static final int RUNS = 3;
    private static final int TLS_SERVERS = 15;
    private static final byte[] BLOCK = new byte[64 * 1024];

    /** Counts the bytes written and nothing else. */
    static final class Counter extends OutputStream {
        long bytes;

        @Override
        public void write(int b) {
            bytes++;
        }

        @Override
        public void write(byte[] b, int off, int len) {
            bytes += len;
        }
    }

    public static void main(String[] args) throws Exception {
        long megabytes = args.length > 1 ? Long.parseLong(args[1]) : 100;
        HttpServer http = HttpServer.create(new InetSocketAddress(InetAddress.getLoopbackAddress(), 0), 0);
        http.createContext("/", e -> {
            long size = Long.parseLong(e.getRequestURI().getPath().substring(1));
            e.sendResponseHeaders(200, size);
            try (OutputStream out = e.getResponseBody()) {
                for (long left = size; left > 0; left -= BLOCK.length) {
                    out.write(BLOCK, 0, (int) Math.min(left, BLOCK.length));
                }
            }
        });
        http.start();
        int port = http.getAddress().getPort();
        // The JDK server's own first answer takes ~100 ms: warmed here so it is not counted as ours.
        try (InputStream in = new URL("http://127.0.0.1:" + port + "/2").openStream()) {
            in.readAllBytes();
        }
        long first = System.nanoTime();
        stream(port, 2);
        System.out.printf("first call in the process (2 bytes): %.1f ms%n", (System.nanoTime() - first) / 1e6);
        stream(port, 10 << 20); // warm-up
        System.out.printf("%d MB response over loopback, %d runs%n", megabytes, RUNS);
        for (int run = 0; run < RUNS; run++) {
            long rssBefore = rssKb();
            AtomicLong rssPeak = new AtomicLong(rssBefore);
            Thread sampler = new Thread(() -> {
                while (!Thread.currentThread().isInterrupted()) {
                    rssPeak.accumulateAndGet(rssKb(), Math::max);
                    try {
                        Thread.sleep(2);
                    } catch (InterruptedException e) {
                        return;
                    }
                }
            });
            sampler.start();
            long start = System.nanoTime();
            stream(port, megabytes << 20);
            double seconds = (System.nanoTime() - start) / 1e9;
            sampler.interrupt();
            sampler.join();
            System.out.printf("  %.0f MB/s, resident memory grew by %d KB at most%n", megabytes / seconds,
                    rssPeak.get() - rssBefore);
        }
        http.stop(0);
        tlsLatency(Path.of(args[0]));
    }

    private static void stream(int port, long bytes) throws Exception {
        Counter out = new Counter();
        Win32Impl.postMessage("127.0.0.1", "/" + bytes, port, false, null, out);
        if (out.bytes != bytes) {
            throw new IllegalStateException("got " + out.bytes + " of " + bytes + " bytes");
        }
    }

    /** Each server is new, so its first call makes a connection and a TLS handshake. */
    private static void tlsLatency(Path store) throws Exception {
        char[] password = "changeit".toCharArray();
        KeyStore keys = KeyStore.getInstance("PKCS12");
        try (InputStream in = Files.newInputStream(store)) {
            keys.load(in, password);
        }
        KeyManagerFactory managers = KeyManagerFactory.getInstance(KeyManagerFactory.getDefaultAlgorithm());
        managers.init(keys, password);
        SSLContext tls = SSLContext.getInstance("TLS");
        tls.init(managers.getKeyManagers(), null, null);
        List<Double> first = new ArrayList<>();
        List<Double> second = new ArrayList<>();
        for (int i = 0; i < TLS_SERVERS; i++) {
            HttpsServer https = HttpsServer.create(new InetSocketAddress(InetAddress.getLoopbackAddress(), 0), 0);
            https.setHttpsConfigurator(new HttpsConfigurator(tls));
            https.createContext("/", e -> {
                e.sendResponseHeaders(200, 2);
                try (OutputStream out = e.getResponseBody()) {
                    out.write(new byte[] {'o', 'k'});
                }
            });
            https.start();
            for (List<Double> into : List.of(first, second)) {
                long start = System.nanoTime();
                Win32Impl.postMessage("localhost", "/", https.getAddress().getPort(), true, null, new Counter());
                into.add((System.nanoTime() - start) / 1e6);
            }
            https.stop(0);
        }
        System.out.printf("HTTPS to a new server, median of %d: first call %.2f ms, second call %.2f ms%n",
                TLS_SERVERS, median(first), median(second));
    }

    private static double median(List<Double> values) {
        List<Double> sorted = new ArrayList<>(values);
        Collections.sort(sorted);
        return sorted.get(sorted.size() / 2);
    }

    private static long rssKb() {
        try {
            for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
                if (line.startsWith("VmRSS:")) {
                    return Long.parseLong(line.replaceAll("\\D", ""));
                }
            }
        } catch (java.io.IOException e) {
            throw new java.io.UncheckedIOException(e);
        }
        return 0;
    }
}
