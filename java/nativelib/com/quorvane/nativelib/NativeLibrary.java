package com.quorvane.nativelib;

import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.util.List;
import java.util.Locale;
import java.util.Set;
import java.util.stream.Collectors;

/**
 * Loads the quorvane native library: from {@code java.library.path} when it is there, otherwise the copy inside
 * quorvane-native.jar for this platform, through a per-user cache. Call {@link #load()} before the first native
 * method (in place of {@code System.loadLibrary("quorvane")}). The library belongs to the class loader of this
 * class, so the jar must sit on the same class loader as the classes that declare the native methods.
 */
public final class NativeLibrary {
    /** A platform the jar may serve: its library lies at folder/file, its SHA-256 (hex) at folder/file.sha256. */
    record Platform(String os, Set<String> arches, String folder, String file) {
        String resource() {
            return folder + "/" + file;
        }
    }

    // os.name begins with os; os.arch is one of arches (as JDKs report them).
    static final List<Platform> PLATFORMS = List.of(
            new Platform("Linux", Set.of("amd64", "x86_64"), "linux-x86-64", "libquorvane.so"),
            new Platform("Windows", Set.of("x86", "i386", "i486", "i586", "i686"), "win32-x86", "quorvane.dll"),
            new Platform("Windows", Set.of("amd64", "x86_64"), "win32-x86-64", "quorvane.dll"));

    private static boolean loaded;

    private NativeLibrary() {
    }

    /**
     * Loads the library once per class loader; later calls return at once. Throws UnsatisfiedLinkError naming the
     * platform when neither java.library.path nor the jar serves it, or why the cached copy could not be used.
     */
    public static synchronized void load() {
        if (loaded) {
            return;
        }
        try {
            System.loadLibrary("quorvane");
        } catch (UnsatisfiedLinkError notOnLibraryPath) {
            Platform platform = served(System.getProperty("os.name"), System.getProperty("os.arch"));
            try {
                System.load(LibraryCache.copy(platform, sha256(platform)).toString());
            } catch (IOException | UnsatisfiedLinkError e) {
                UnsatisfiedLinkError failed = new UnsatisfiedLinkError(
                        "quorvane: cannot load " + platform.resource() + " of quorvane-native.jar: " + e.getMessage());
                failed.initCause(e);
                failed.addSuppressed(notOnLibraryPath);
                throw failed;
            }
        }
        loaded = true;
    }

    /** The platform that os.name and os.arch name, or null when the jar is never built for it. */
    static Platform select(String osName, String osArch) {
        String arch = osArch.toLowerCase(Locale.ROOT);
        for (Platform p : PLATFORMS) { // no stream: a lambda's first use costs a cold JVM milliseconds
            if (osName.startsWith(p.os()) && p.arches().contains(arch)) {
                return p;
            }
        }
        return null;
    }

    /** The platform, when this jar holds its library; otherwise an error naming it and what the jar serves. */
    static Platform served(String osName, String osArch) {
        Platform platform = select(osName, osArch);
        if (platform != null && has(platform)) {
            return platform;
        }
        String serves = PLATFORMS.stream().filter(NativeLibrary::has)
                .map(p -> p.os() + " " + String.join("/", p.arches().stream().sorted().toList()) + " ("
                        + p.resource() + ")")
                .collect(Collectors.joining(", "));
        throw new UnsatisfiedLinkError("quorvane: no native library for os.name=" + osName + ", os.arch=" + osArch
                + " on java.library.path or in quorvane-native.jar, which serves " + serves);
    }

    private static boolean has(Platform platform) {
        return NativeLibrary.class.getResource("/" + platform.resource() + ".sha256") != null;
    }

    private static String sha256(Platform platform) throws IOException {
        try (InputStream in = NativeLibrary.class.getResourceAsStream("/" + platform.resource() + ".sha256")) {
            return new String(in.readAllBytes(), StandardCharsets.US_ASCII).trim();
        }
    }
}
