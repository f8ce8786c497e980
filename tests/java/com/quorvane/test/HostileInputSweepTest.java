package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.assertEquals;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.io.*;
import java.lang.reflect.*;
import java.net.ServerSocket;
import java.nio.charset.StandardCharsets;
import java.nio.file.*;
import java.util.*;
import java.util.concurrent.*;
import java.util.function.Supplier;
import javax.tools.ToolProvider;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * Every native method against what a hostile caller can hand it: nulls, short arrays, broken records, odd text and
 * paths. The cases come from the methods' parameter types, so a new method is swept too. They run in a child JVM
 * that prints each case before calling it and its answer after: a crash or hang is the case it stopped at, and the
 * sweep goes on after it. Cases that depend on permissions run in a child of uid 65534.
 */
class HostileInputSweepTest {
    static final int HKCU = 0x80000001;
    /**
     * What a native method may leave pending: the boundary's family, the VM's own, the caller's object's, and
     * NullPointerException for a null array or record object where the method needs one.
     */
    static final Set<String> ALLOWED = Set.of("IllegalArgumentException", "RuntimeException", "NullPointerException",
            "ClassNotFoundException", "IOException", "Win32Exception", "NoSuchFieldError", "NoSuchMethodError",
            "OutOfMemoryError", "HostileCall");
    /**
     * Per method: what it answers, as a regex over the printed result, for input it cannot use (the guard's neutral
     * result or the platform's failure), and the cases, as a regex over their labels, that hand it something it can
     * use and may answer otherwise. Every other case must end in that answer or in an exception of ALLOWED.
     */
    static final Map<String, String[]> ANSWERS = new HashMap<>();
    static final String NONZERO = "-?[1-9]\\d*", NONE = "";

    static void answers(String method, String failure, String usable) {
        ANSWERS.put(method, new String[] {failure, usable});
    }

    static {
        answers("AnimateWindow", "0", NONE);
        answers("CloseHandle", "0", "#0 -1"); // the process's own pseudo-handle
        answers("CreateEvent", "0", "#[0-2] .*|#3 (?!100,000 chars).*");
        answers("CreateFile", "-1", "#0 (embedded zero|path fifo)|#[12356] .*");
        answers("EmptyWorkingSet", "0", "#0 -1|this process");
        answers("FlashWindow", "0", NONE);
        answers("GetCurrentProcess", "-1", NONE);
        answers("GetDriveType", "[01]", "#0 null"); // unknown, or no root folder
        answers("GetSpecialFolderInfo", "false", "#1 sz\\w+ (empty|one short)");
        answers("OpenEvent", "0", "#[01] .*");
        answers("QueryDosDevice", "null", "#0 null");
        answers("ReadDirectoryChangesW", "false", "#[1-4] .*|smaller than a record");
        answers("RegCreateKey", NONZERO, "#0 -2147483648|#1 (?!100,000 chars).*");
        answers("RegSetValueEx", NONZERO, "#0 -2147483648|#1 (?!100,000 chars).*|#[23] .*|odd-length text"
                + "|unterminated list|short DWORD|QWORD of 3 bytes");
        answers("RegisterWindowMessage", "0", "#0 (?!null|empty|100,000 chars).*");
        answers("ResetEvent", "0", NONE);
        answers("SHFileOperation", NONZERO, "#0 lpszProgressTitle .*");
        answers("SHGetFileInfo", "0", "#0 (embedded zero|path .*)|#[13] .*|#2 sz\\w+ (empty|one short)"
                + "|#4 -2147483648");
        answers("SetErrorMode", ".*", NONE); // the previous mode, whatever it was
        answers("SetEvent", "0", NONE);
        answers("SetFileAttributes", "false", "#0 (embedded zero|path folder/?)|#1 .*");
        answers("SetLayeredWindowAttributes", "0", NONE);
        answers("SetProcessWorkingSetSize", "0", "#0 -1|trim this process");
        answers("ShellNotifyIcon", "false", NONE);
        answers("StgIsStorageFile", NONZERO, NONE);
        answers("TestJavaClassFields", "null", NONE);
        answers("UuidCreate", "0", NONE);
        answers("WaitForSingleObject", "-1", "#0 -1|this process"); // timed out on the process
        answers("copySummaryPropertiesToUserProperties", NONZERO, NONE);
        answers("decryptUserWin32", "null", NONE);
        answers("encryptUserWin32", "null", "#0 one short");
        answers("getCompoundDocumentSummaryProperties", NONZERO, "#1 wrong type");
        answers("getCompoundDocumentUserProperties", NONZERO, "#1 wrong type|#2 flipped|hostile properties.*");
        answers("getFileVersionNumber", "false", NONE);
        answers("getLastInputTime", ".*", NONE);
        answers("getNetworkInterfaceInfo", "null", NONE);
        answers("getSpecialFolderPath", "null", NONE);
        answers("getSystemMessage", "Unknown error \\(couldn't find a system message for it\\)\\.", "#1 .*");
        answers("isProcessRunning", "false", NONE);
        answers("postMessage", "null", NONE);
        answers("setCompoundDocumentUserProperties", NONZERO, NONE);
    }

    /** Records by the fields the shell reads; a char[] or byte[] field has the length of its Windows member. */
    static final Map<String, List<String>> RECORDS = new LinkedHashMap<>();
    static final Map<String, Integer> LENGTHS = Map.of("szTip", 128, "szInfo", 256, "szInfoTitle", 64,
            "szDisplayName", 260, "szTypeName", 80, "Data4", 8);
    /** The record of a method's Object argument. */
    static final Map<String, String> RECORD_OF = Map.of("ShellNotifyIcon", "NotifyIcon", "SHGetFileInfo", "FileInfo",
            "GetSpecialFolderInfo", "FileInfo", "SHFileOperation", "FileOperation", "UuidCreate", "Guid");

    static {
        RECORDS.put("NotifyIcon", List.of("int hWnd", "int uID", "int uFlags", "int uCallbackMessage", "int hIcon",
                "char[] szTip", "int dwState", "int dwStateMask", "char[] szInfo", "int uTimeout", "int uVersion",
                "char[] szInfoTitle", "int dwInfoFlags"));
        RECORDS.put("FileInfo", List.of("int hIcon", "int iIcon", "int dwAttributes", "char[] szDisplayName",
                "char[] szTypeName"));
        RECORDS.put("FileOperation", List.of("int hWnd", "int wFunc", "String pFrom", "String pTo", "short fFlags",
                "boolean fAnyOperationsAborted", "int hNameMappings", "String lpszProgressTitle"));
        RECORDS.put("Guid", List.of("int Data1", "int Data2", "int Data3", "byte[] Data4"));
    }

    /** The caller's own exception, from a hostile Java object. */
    public static final class HostileCall extends RuntimeException {
        private static final long serialVersionUID = 1L;

        HostileCall() {
            super("hostile");
        }
    }

    /** A properties object whose reading throws and whose names include a non-String. */
    public static final class HostileProperties extends Properties {
        private static final long serialVersionUID = 1L;

        @Override
        public String getProperty(String key) {
            throw new HostileCall();
        }

        @Override
        public Enumeration<?> propertyNames() {
            return Collections.enumeration(List.of("PIDSI_TITLE", 7));
        }
    }

    public static final class ThrowingSink {
        public boolean add(Object o) {
            throw new HostileCall();
        }

        public void write(byte[] b, int off, int len) {
            throw new HostileCall();
        }
    }

    /** add and write with the wrong signatures. */
    public static final class WrongSink {
        public void add(Object o) {
        }

        public int write(byte[] b, int off, int len) {
            return 0;
        }
    }

    record Case(String method, String label, Supplier<Object[]> args) {
    }

    /** The native methods by name (they are not overloaded). */
    static Map<String, Method> natives() {
        Map<String, Method> methods = new TreeMap<>();
        for (Method m : Win32Impl.class.getDeclaredMethods()) {
            if (Modifier.isNative(m.getModifiers())) {
                methods.put(m.getName(), m);
            }
        }
        return methods;
    }

    /** The source of every record class: whole, and without or with a wrongly typed field in turn. */
    static Map<String, String> recordSources() {
        Map<String, String> sources = new LinkedHashMap<>();
        RECORDS.forEach((record, fields) -> {
            sources.put("Sweep" + record, recordSource("Sweep" + record, fields));
            for (String field : fields) {
                String name = field.substring(field.indexOf(' ') + 1);
                List<String> without = new ArrayList<>(fields);
                without.remove(field);
                sources.put("Sweep" + record + "No" + name, recordSource("Sweep" + record + "No" + name, without));
                List<String> wrong = new ArrayList<>(fields);
                wrong.set(fields.indexOf(field), (field.startsWith("int ") ? "String " : "long ") + name);
                sources.put("Sweep" + record + "Bad" + name, recordSource("Sweep" + record + "Bad" + name, wrong));
            }
        });
        return sources;
    }

    static String recordSource(String name, List<String> fields) {
        StringBuilder s = new StringBuilder("public class " + name + " {");
        fields.forEach(f -> s.append(" public ").append(f).append(';'));
        return s.append(" }").toString();
    }

    /** A record object of class name: arrays of full length, names in dir, and field (if any) set to value. */
    static Object newRecord(String name, Path dir, String field, Object value) {
        Map<String, Object> values = Map.of("wFunc", 2, "uFlags", 0x17, "uCallbackMessage", 0x8001, "fFlags",
                (short) 0x14, "pFrom", dir.resolve("file") + "\0", "pTo", dir.resolve("copied") + "\0");
        try {
            Object r = Class.forName(name).getConstructor().newInstance();
            for (Field f : r.getClass().getFields()) {
                Integer n = LENGTHS.get(f.getName());
                Object v = f.getName().equals(field) ? value : n == null ? values.get(f.getName())
                        : f.getType() == char[].class ? new char[n] : new byte[n];
                try {
                    if (v != null || f.getName().equals(field)) {
                        f.set(r, v);
                    }
                } catch (IllegalArgumentException e) {
                    // a wrongly typed field keeps its default
                }
            }
            return r;
        } catch (ReflectiveOperationException e) {
            throw new IllegalStateException(e);
        }
    }

    static Object newRecord(String name, Path dir) {
        return newRecord(name, dir, null, null);
    }

    /** Text a caller may pass: cut by a zero, lone surrogates, very long; paths when asked. */
    static Map<String, Object> strings(Path dir, boolean paths) {
        Map<String, Object> v = new LinkedHashMap<>();
        v.put("null", null);
        v.put("empty", "");
        v.put("embedded zero", dir.resolve("file") + "\0tail");
        v.put("unpaired surrogates", "\udc00a\ud800");
        v.put("100,000 chars", "\u00e9".repeat(100_000));
        if (paths) {
            for (String p : List.of("fifo", "folder", "dangling", "unreadable", "folder/")) {
                v.put("path " + p, dir.resolve(p).toString());
            }
        }
        return v;
    }

    /** A handle on the watched folder, which a thread keeps changing so a synchronous watch always returns. */
    static int watched;

    static int watch(Path dir) {
        if (watched == 0) {
            watched = Win32Impl.CreateFile(dir.resolve("watched").toString(), 0x80000000, 7, 0, 3, 0x02000000, 0);
            Thread t = new Thread(() -> { // names come and go: a name change for every filter
                try {
                    for (Path f = dir.resolve("watched").resolve("f");; Thread.sleep(20)) {
                        if (!Files.deleteIfExists(f)) {
                            Files.writeString(f, "x");
                        }
                    }
                } catch (Exception e) {
                    // the child is ending
                }
            });
            t.setDaemon(true);
            t.start();
        }
        return watched;
    }

    /** The arguments a call succeeds or fails ordinarily with; the cases change one at a time. */
    static Object[] baseline(Method m, Path dir, int closedPort) {
        String doc = dir.resolve("doc.doc").toString();
        switch (m.getName()) {
            case "CreateFile": return new Object[] {dir.resolve("file").toString(), 0x80000000, 7, 0, 3, 0, 0};
            case "CreateEvent": return new Object[] {0, true, false, "qv-sweep"};
            case "OpenEvent": return new Object[] {0x1F0003, false, "qv-sweep-open"};
            case "RegCreateKey": return new Object[] {HKCU, "Software\\QvSweep", new int[1]};
            case "RegSetValueEx": return new Object[] {HKCU, "v", 0, 3, new byte[16], 16};
            case "ReadDirectoryChangesW":
                return new Object[] {watch(dir), new byte[4096], 4096, false, 1, new int[1], 0, 0};
            case "SHGetFileInfo":
                return new Object[] {dir.resolve("file").toString(), 0, newRecord("SweepFileInfo", dir), 692, 0x600};
            case "postMessage": return new Object[] {"127.0.0.1", "/r", closedPort, false, new byte[16],
                new ByteArrayOutputStream()};
            case "getNetworkInterfaceInfo": return new Object[] {new HashSet<>()};
            case "getCompoundDocumentUserProperties": return new Object[] {doc, new Properties(), false};
            case "getCompoundDocumentSummaryProperties":
            case "setCompoundDocumentUserProperties":
            case "copySummaryPropertiesToUserProperties": return new Object[] {doc, DocumentFixtures.props(
                "PIDSI_TITLE", "Sweep")};
            case "StgIsStorageFile": return new Object[] {doc};
            case "getFileVersionNumber": return new Object[] {dir.resolve("versioned.dll").toString(), new int[1],
                new int[1], new int[1], new int[1]};
            default:
        }
        Class<?>[] types = m.getParameterTypes();
        Object[] args = new Object[types.length];
        for (int i = 0; i < types.length; i++) {
            Class<?> t = types[i];
            args[i] = t == int.class ? (Object) 0 : t == boolean.class ? (Object) false : t == String.class
                    ? dir.resolve("file").toString() : t == byte[].class ? new byte[16] : t == int[].class
                    ? new int[1] : RECORD_OF.containsKey(m.getName()) ? newRecord("Sweep" + RECORD_OF.get(m.getName()),
                    dir) : new Object();
        }
        return args;
    }

    /** The values argument i of m is swept with, by its type (and for a record, by its fields). */
    static Map<String, Supplier<Object>> variants(Method m, int i, Path dir, int closedPort) {
        Supplier<Object> base = () -> baseline(m, dir, closedPort)[i];
        Class<?> t = m.getParameterTypes()[i];
        Map<String, Supplier<Object>> v = new LinkedHashMap<>();
        if (t == int.class) {
            for (int n : new int[] {-1, Integer.MIN_VALUE, Integer.MAX_VALUE}) {
                v.put(Integer.toString(n), () -> n);
            }
        } else if (t == boolean.class) {
            v.put("flipped", () -> !(Boolean) base.get());
        } else if (t == String.class) {
            if (m.getName().equals("postMessage") && i == 0) { // no name lookups outside this machine
                v.put("null", () -> null);
                v.put("empty", () -> "");
                v.put("embedded zero", () -> "127.0.0.1\0x.invalid");
            } else {
                strings(dir, !m.getName().equals("postMessage")).forEach((k, s) ->
                        v.put(k, () -> s));
            }
        } else if (t.isArray()) {
            v.put("null", () -> null);
            v.put("empty", () -> java.lang.reflect.Array.newInstance(t.getComponentType(), 0));
            v.put("one short", () -> {
                Object a = base.get();
                return java.lang.reflect.Array.newInstance(t.getComponentType(),
                        java.lang.reflect.Array.getLength(a) - 1);
            });
        } else {
            v.put("null", () -> null);
            v.put("wrong type", () -> t == Properties.class ? new HostileProperties() : "a string");
            if (t == Object.class) {
                v.put("plain object", Object::new);
                v.put("throwing object", ThrowingSink::new);
                v.put("wrongly typed methods", WrongSink::new);
            }
            String record = RECORD_OF.get(m.getName());
            if (record != null) {
                for (String field : RECORDS.get(record)) {
                    String name = field.substring(field.indexOf(' ') + 1);
                    v.put("no " + name, () -> newRecord("Sweep" + record + "No" + name, dir));
                    v.put(name + " wrongly typed", () -> newRecord("Sweep" + record + "Bad" + name, dir));
                    if (field.startsWith("char[]") || field.startsWith("byte[]")) {
                        int n = LENGTHS.get(name);
                        boolean chars = field.startsWith("char[]");
                        v.put(name + " null", () -> newRecord("Sweep" + record, dir, name, null));
                        v.put(name + " empty", () -> newRecord("Sweep" + record, dir, name,
                                chars ? new char[0] : new byte[0]));
                        v.put(name + " one short", () -> newRecord("Sweep" + record, dir, name,
                                chars ? new char[n - 1] : new byte[n - 1]));
                    } else if (field.startsWith("String")) {
                        strings(dir, false).forEach((k, s) -> v.put(name + " " + k, () ->
                                newRecord("Sweep" + record, dir, name, s)));
                    }
                }
            }
        }
        return v;
    }

    /** Every case in a fixed order: the baseline, each argument varied in turn, then the extras. */
    static List<Case> cases(Path dir, int closedPort) {
        List<Case> all = new ArrayList<>();
        for (Method m : natives().values()) {
            String name = m.getName();
            all.add(new Case(name, "baseline", () -> baseline(m, dir, closedPort)));
            for (int i = 0; i < m.getParameterCount(); i++) {
                int at = i;
                variants(m, i, dir, closedPort).forEach((label, value) -> all.add(new Case(name, "#" + at + " "
                        + label, () -> {
                            Object[] args = baseline(m, dir, closedPort);
                            args[at] = value.get();
                            return args;
                        })));
            }
        }
        // Combinations the types alone do not reach.
        Object[][] extras = {
            {"RegSetValueEx", "odd-length text", HKCU, "s", 0, 1, new byte[] {'a'}, 1},
            {"RegSetValueEx", "unterminated list", HKCU, "m", 0, 7, new byte[] {'a', 0, 'b', 0}, 4},
            {"RegSetValueEx", "short DWORD", HKCU, "d", 0, 4, new byte[2], 2},
            {"RegSetValueEx", "QWORD of 3 bytes", HKCU, "q", 0, 11, new byte[3], 3},
            {"SetProcessWorkingSetSize", "trim this process", Win32Impl.GetCurrentProcess(), -1, -1},
            {"SetProcessWorkingSetSize", "maximum below minimum", Win32Impl.GetCurrentProcess(), 1 << 30, 1},
            {"EmptyWorkingSet", "this process", Win32Impl.GetCurrentProcess()},
            {"WaitForSingleObject", "this process", Win32Impl.GetCurrentProcess(), 0},
            {"getCompoundDocumentUserProperties", "hostile properties, tripwire",
                dir.resolve("doc.doc").toString(), new HostileProperties(), true},
            {"StgIsStorageFile", "a document's folder", dir.toString()},
        };
        Map<String, Method> methods = natives();
        for (Object[] e : extras) {
            all.add(new Case((String) e[0], (String) e[1], () -> Arrays.copyOfRange(e, 2, e.length)));
        }
        all.add(new Case("ReadDirectoryChangesW", "smaller than a record", () -> new Object[] {watch(dir),
            new byte[4], 4, true, -1, new int[1], 0, 0}));
        all.add(new Case("ReadDirectoryChangesW", "overlapped", () -> new Object[] {watch(dir), new byte[64], 64,
            false, 1, new int[1], 1, 1}));
        all.forEach(c -> Objects.requireNonNull(methods.get(c.method()), c.method()));
        methods.keySet().forEach(m -> Objects.requireNonNull(ANSWERS.get(m), m));
        return all;
    }

    /** Cases whose answer depends on permissions: run as an ordinary user, as root reads everything. */
    static boolean asNobody(Case c) {
        return c.label().contains("unreadable");
    }

    /**
     * The child: runs the cases from args[2] on, each announced before and answered after; those for an ordinary
     * user when args[3] is "nobody", the others otherwise.
     */
    public static final class Sweep {
        public static void main(String[] args) throws Exception {
            Path dir = Path.of(args[0]);
            List<Case> cases = cases(dir, Integer.parseInt(args[1]));
            Map<String, Method> methods = natives();
            int opened = Win32Impl.CreateEvent(0, true, false, "qv-sweep-open"); // for OpenEvent to find
            for (int i = Integer.parseInt(args[2]); i < cases.size(); i++) {
                Case c = cases.get(i);
                if (asNobody(c) != args[3].equals("nobody")) {
                    continue;
                }
                if (!Files.exists(dir.resolve("file"))) { // CreateFile's flags -1 include delete-on-close
                    Files.writeString(dir.resolve("file"), "plain text");
                }
                System.out.println("CASE " + i);
                System.out.flush();
                String outcome;
                try {
                    Object result = methods.get(c.method()).invoke(null, c.args().get());
                    if (result instanceof Integer h && h != 0 && h != -1 && c.method().matches("Create(File|Event)"
                            + "|OpenEvent")) {
                        Win32Impl.CloseHandle(h);
                    }
                    outcome = "returned " + show(result);
                } catch (InvocationTargetException e) {
                    outcome = "threw " + e.getCause().getClass().getSimpleName();
                }
                System.out.println("DONE " + i + " " + outcome);
                System.out.flush();
            }
            System.out.println("END");
            Win32Impl.CloseHandle(opened);
        }
    }

    static String show(Object r) {
        return r instanceof byte[] b ? "byte[" + b.length + "]" : String.valueOf(r).replace("\n", "\\n");
    }

    @Test
    void noHostileArgumentCrashesHangsOrWarnsAndEachEndsInTheDocumentedExceptionOrNeutralResult(@TempDir Path dir)
            throws Exception {
        DocumentFixtures.copy(dir, "Office365BlankSample_v2507.doc", "doc.doc");
        Files.writeString(dir.resolve("file"), "plain text");
        Files.writeString(dir.resolve("unreadable"), "secret");
        dir.resolve("unreadable").toFile().setReadable(false, false);
        Files.createDirectories(dir.resolve("folder"));
        Files.createDirectories(dir.resolve("watched"));
        Files.createDirectories(dir.resolve("Desktop")); // a special folder that exists
        SystemInfoMethodsTest.dll(dir, "versioned", "1 VERSIONINFO FILEVERSION 1,2,3,4 {}\n"); // versioned.dll
        Files.createSymbolicLink(dir.resolve("dangling"), dir.resolve("nowhere"));
        ChildJvm.exec(Map.of(), "mkfifo", dir.resolve("fifo").toString());
        Path classes = Files.createDirectories(dir.resolve("classes"));
        Files.createDirectories(dir.resolve("src"));
        List<String> javac = new ArrayList<>(List.of("-d", classes.toString()));
        for (Map.Entry<String, String> s : recordSources().entrySet()) {
            Path source = Files.writeString(dir.resolve("src").resolve(s.getKey() + ".java"), s.getValue());
            javac.add(source.toString());
        }
        assertEquals(0, ToolProvider.getSystemJavaCompiler().run(null, null, null, javac.toArray(String[]::new)));
        int closedPort;
        try (ServerSocket s = new ServerSocket(0, 1, java.net.InetAddress.getLoopbackAddress())) {
            closedPort = s.getLocalPort();
        }
        List<Case> cases = cases(dir, closedPort);
        List<String> faults = new ArrayList<>();
        Map<String, Integer> perMethod = new TreeMap<>();
        cases.forEach(c -> perMethod.merge(c.method(), 1, Integer::sum));
        for (int next = 0; next < cases.size();) {
            next = runChild(dir, classes, closedPort, next, cases, faults, false);
        }
        // Then the permission rows as an ordinary user who owns the folder but not the unreadable file.
        ChildJvm.exec(Map.of(), "chown", "-hR", "65534:65534", dir.toString());
        ChildJvm.exec(Map.of(), "chown", "0:0", dir.resolve("unreadable").toString());
        for (int next = 0; next < cases.size();) {
            next = runChild(dir, classes, closedPort, next, cases, faults, true);
        }
        System.out.println("hostile input sweep: " + perMethod.size() + " methods x " + cases.size() + " cases ("
                + cases.stream().filter(HostileInputSweepTest::asNobody).count() + " as uid 65534), "
                + faults.size() + " faults " + perMethod);
        assertEquals(List.of(), faults);
    }

    /** Runs the cases from first on in one child; the index to go on from (past a crash or hang). */
    private static int runChild(Path dir, Path classes, int closedPort, int first, List<Case> cases,
            List<String> faults, boolean nobody) throws Exception {
        List<String> command = ChildJvm.java(nobody ? ChildJvm.AS_NOBODY : List.of(), null, Sweep.class,
                dir.toString(), Integer.toString(closedPort), Integer.toString(first), nobody ? "nobody" : "root");
        command.replaceAll(a -> a.startsWith("-Djava.library.path=") ? "-Djava.library.path="
                + Path.of(a.substring(20)).toAbsolutePath() : a); // the child works in dir
        int cp = command.indexOf("-cp") + 1;
        command.set(cp, command.get(cp) + File.pathSeparator + classes + File.pathSeparator
                + ChildJvm.location(org.apache.poi.poifs.filesystem.POIFSFileSystem.class));
        ProcessBuilder builder = new ProcessBuilder(command).directory(dir.toFile()).redirectErrorStream(true);
        // Registry, named objects and the session bus of the child's own, whoever runs the test.
        builder.environment().putAll(Map.of("HOME", dir.toString(), "XDG_DATA_HOME", dir.toString(),
                "XDG_CONFIG_HOME", dir.toString(), "XDG_RUNTIME_DIR", dir.toString(),
                "DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir.resolve("no-bus")));
        Process child = builder.start();
        BlockingQueue<String> lines = new LinkedBlockingQueue<>();
        Thread reader = new Thread(() -> {
            try (BufferedReader r = new BufferedReader(new InputStreamReader(child.getInputStream(),
                    StandardCharsets.UTF_8))) {
                for (String line; (line = r.readLine()) != null;) {
                    lines.add(line);
                }
            } catch (IOException e) {
                // the child is gone
            }
            lines.add("EOF");
        });
        reader.start();
        int current = -1;
        StringBuilder noise = new StringBuilder();
        try {
            for (;;) {
                String line = lines.poll(20, TimeUnit.SECONDS);
                if (line == null) {
                    if (current < first) {
                        throw new AssertionError("the sweep's JVM did not start" + tail(noise));
                    }
                    faults.add(describe(cases, current) + ": hung");
                    return current + 1;
                }
                if (line.startsWith("CASE ")) {
                    current = Integer.parseInt(line.substring(5));
                } else if (line.startsWith("DONE ")) {
                    String outcome = line.substring(line.indexOf(' ', 5) + 1);
                    Case c = cases.get(current);
                    String[] answer = ANSWERS.get(c.method());
                    if (outcome.startsWith("threw ") ? !ALLOWED.contains(outcome.substring(6))
                            : !outcome.substring(9).matches(answer[0]) && !c.label().equals("baseline")
                            && !c.label().matches(answer[1])) {
                        faults.add(describe(cases, current) + ": " + outcome + (outcome.startsWith("threw ") ? ""
                                : ", not " + answer[0]));
                    }
                } else if (line.equals("END")) {
                    return cases.size();
                } else if (line.equals("EOF")) {
                    child.waitFor(20, TimeUnit.SECONDS);
                    if (current < first) { // not one case ran: no point going on
                        throw new AssertionError("the sweep's JVM did not start" + tail(noise));
                    }
                    faults.add(describe(cases, current) + ": the JVM died (" + (child.isAlive() ? "?" :
                            child.exitValue()) + ")" + tail(noise));
                    return current + 1;
                } else {
                    noise.append(line).append('\n');
                    if (line.matches(".*(WARNING|FATAL|ERROR: AddressSanitizer|: runtime error: ).*")) {
                        faults.add(describe(cases, current) + ": " + line);
                    }
                }
            }
        } finally {
            child.destroyForcibly();
            child.waitFor(20, TimeUnit.SECONDS);
        }
    }

    private static String describe(List<Case> cases, int index) {
        return index < 0 ? "start" : cases.get(index).method() + " " + cases.get(index).label();
    }

    private static String tail(StringBuilder noise) {
        String s = noise.toString();
        return s.isEmpty() ? "" : "\n" + s.substring(Math.max(0, s.length() - 1500));
    }
}
