package com.quorvane.nativelib;

import java.io.File;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.Set;
import java.util.TreeSet;

/**
 * Loads the quorvane native library: from {@code java.library.path} when a library there is of this jar's version,
 * otherwise the copy inside quorvane-native.jar for this platform, through a per-user cache. Call {@link #load()}
 * before the first native method (in place of {@code System.loadLibrary("quorvane")}). The library belongs to the
 * class loader of this class, so the jar must sit on the same class loader as the classes that declare the native
 * methods.
 */
public final class NativeLibrary {
    /** A platform the jar may serve: its library lies at folder/file in the jar. */
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
     * platform when neither java.library.path nor the jar serves it, or the path, the reason and what to set when
     * the jar's copy could not be used.
     */
    public static synchronized void load() {
        if (loaded) {
            return;
        }
        String osName = System.getProperty("os.name"), osArch = System.getProperty("os.arch");
        Platform platform = select(osName, osArch);
        String sha256 = platform != null ? Contents.sha256(platform.resource()) : null;
        File installed = onLibraryPath();
        // Read only when the jar has a copy to put in its place.
        String installedVersion = installed != null && sha256 != null ? Binaries.version(installed) : null;
        // A library of another version would lack methods or answer otherwise: the jar's own comes first then.
        if (installed != null && (sha256 == null || Contents.version().equals(installedVersion))) {
            System.load(installed.getPath());
        } else if (sha256 == null) {
            throw unserved(osName, osArch);
        } else {
            try {
                LibraryCache.load(platform, sha256);
            } catch (UnsatisfiedLinkError e) {
                if (installed == null) {
                    throw e;
                }
                UnsatisfiedLinkError failed = new UnsatisfiedLinkError(e.getMessage() + "; " + installed
                        + " on java.library.path was passed over: it is version " + installedVersion + ", not "
                        + Contents.version());
                failed.initCause(e);
                throw failed;
            }
        }
        loaded = true;
    }

    /** The library System.loadLibrary("quorvane") would load, found as it would find it; null when none. */
    private static File onLibraryPath() {
        String name = System.mapLibraryName("quorvane");
        String path = System.getProperty("java.library.path", "");
        for (String folder : path.split(File.pathSeparator)) {
            File file = new File(folder.isEmpty() ? "." : folder, name);
            if (file.isFile()) {
                return file.getAbsoluteFile();
            }
        }
        return null;
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

    /**
     * The C library this JVM runs on, when it is musl, which the jar's Linux library (built for the GNU C library)
     * cannot run on; null otherwise. Read from the interpreter the JVM's program asks for.
     */
    static String musl() {
        return musl(new File("/proc/self/exe"));
    }

    static String musl(File program) {
        String interpreter = LibraryCache.POSIX ? Binaries.interpreter(program) : null;
        return interpreter != null && interpreter.contains("musl") ? interpreter : null;
    }

    static String needsGlibc(Platform platform, String musl) {
        return "quorvane-native.jar's " + platform.resource() + " needs the GNU C library, but this JVM runs on musl ("
                + musl + "); put a quorvane library built for musl, of version " + Contents.version()
                + ", on java.library.path";
    }

    static UnsatisfiedLinkError unserved(String osName, String osArch) {
        List<String> serves = new ArrayList<>();
        for (Platform p : PLATFORMS) {
            if (Contents.sha256(p.resource()) != null) {
                serves.add(p.os() + " " + String.join("/", new TreeSet<>(p.arches())) + " (" + p.resource() + ")");
            }
        }
        return new UnsatisfiedLinkError("quorvane: no native library for os.name=" + osName + ", os.arch=" + osArch
                + " on java.library.path or in quorvane-native.jar, which serves "
                + (serves.isEmpty() ? "no platform" : String.join(", ", serves)));
    }
}
