package com.quorvane.test;

import static java.nio.charset.StandardCharsets.ISO_8859_1;

import java.io.*;
import java.net.*;
import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;

/** A loopback listener that records what each connection first says, answers it once and hangs up. */
final class SocketRecorder implements AutoCloseable {
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
