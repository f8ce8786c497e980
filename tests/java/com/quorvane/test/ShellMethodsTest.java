package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.*;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.nio.file.*;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.*;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.api.io.TempDir;

/** The shell's records as a client declares them (found by field name and type only), and the shell methods. */
class ShellMethodsTest {
    static final String GRIN = "\uD83D\uDE00"; // one character, two UTF-16 units

    static class NotifyIconData {
        int hWnd, uID, uFlags, uCallbackMessage, hIcon;
        char[] szTip = new char[128];
        int dwState, dwStateMask;
        char[] szInfo = new char[256];
        int uTimeout, uVersion;
        char[] szInfoTitle = new char[64];
        int dwInfoFlags;
    }

    static class FileInfo {
        int hIcon, iIcon, dwAttributes;
        char[] szDisplayName = new char[260];
        char[] szTypeName = new char[80];
    }

    static class FileOperation {
        int hWnd, wFunc;
        String pFrom, pTo, lpszProgressTitle;
        short fFlags;
        boolean fAnyOperationsAborted;
        int hNameMappings;
    }

    static class Guid {
        int Data1, Data2, Data3;
        byte[] Data4 = new byte[8];
    }

    static class IconWithoutStateMaskOrVersion {
        int hWnd, uID, uFlags, uCallbackMessage, hIcon;
        char[] szTip;
        int dwState, uTimeout;
    }

    /** Text for a char[] field: the characters, then zeros. */
    static char[] units(String text, int length) {
        return Arrays.copyOf(text.toCharArray(), length);
    }

    static String text(char[] units) {
        return new String(units).split("\0", 2)[0];
    }

    // Its own JVM, as special folders are read once per process: "N" prints CSIDL N's path, "info:N" the folder info.
    public static final class Child {
        public static void main(String[] args) {
            for (String arg : args) {
                if (arg.startsWith("info:")) {
                    FileInfo info = new FileInfo();
                    info.szDisplayName[0] = 'U';
                    boolean ok = Win32Impl.GetSpecialFolderInfo(Integer.decode(arg.substring(5)), info);
                    System.out.println(ok + "|" + text(info.szDisplayName) + "|" + text(info.szTypeName));
                } else {
                    System.out.println(Win32Impl.getSpecialFolderPath(Integer.decode(arg)));
                }
            }
        }
    }

    /** The field a NoSuchFieldError names ("pkg.Class.field sig"). */
    private static String missingField(Executable call) {
        String message = assertThrows(NoSuchFieldError.class, call).getMessage();
        String field = message.substring(0, message.indexOf(' '));
        return field.substring(field.lastIndexOf('.') + 1);
    }

    @Test
    void recordsAreReadMemberByMemberInTheirOrderWithNameListsEndingInTwoZerosAndNullsRefused(@TempDir Path tmp)
            throws Exception {
        NotifyIconData n = new NotifyIconData();
        n.hWnd = -2;
        n.uCallbackMessage = 0x8001;
        n.szInfo = units("balloon" + GRIN, 256);
        n.uTimeout = 10_000;
        n.uVersion = 4;
        n.szInfoTitle = null;
        n.dwInfoFlags = 2;
        String[] r = TestHooks.readNotifyIcon(n);
        assertEquals(List.of("936", "-2", "32769", "4", "2", "balloon" + GRIN, "kept"),
                List.of(r[0], r[1], r[4], r[8], r[9], r[11], r[12]), "uVersion wins; a null array is left alone");
        String a127 = "a".repeat(127);
        Object[][] tips = { // szTip array, what reaches the 128-unit member
            {units("hi\0rest", 20), "hi"}, {"b".repeat(500).toCharArray(), "b".repeat(127)},
            {(a127 + "\0").toCharArray(), a127}, {("a".repeat(126) + GRIN).toCharArray(), "a".repeat(126)},
            {new char[0], ""}};
        for (Object[] row : tips) {
            n.szTip = (char[]) row[0];
            assertEquals(row[1], TestHooks.readNotifyIcon(n)[10]);
        }
        // Records are read in their members' order; name lists end in two zeros.
        Object incomplete = new IconWithoutStateMaskOrVersion();
        assertEquals("dwStateMask", missingField(() -> TestHooks.readNotifyIcon(incomplete)));
        assertEquals("wFunc", missingField(() -> TestHooks.readFileOperation(incomplete)));
        // Through the methods: no platform call, the error pending.
        assertThrows(NoSuchFieldError.class, () -> Win32Impl.ShellNotifyIcon(0, incomplete));
        assertThrows(NoSuchFieldError.class, () -> Win32Impl.SHFileOperation(incomplete));
        FileOperation op = new FileOperation();
        op.hWnd = -1;
        op.wFunc = 2;
        op.pFrom = "/a\0/b c\0";
        op.pTo = "/dest"; // its last zero forgotten
        op.fFlags = (short) 0x8014;
        op.fAnyOperationsAborted = true;
        op.hNameMappings = 99;
        assertEquals(Arrays.asList("-1", "2", "32788", "1", "99", "/a|/b c", "/dest", null),
                Arrays.asList(TestHooks.readFileOperation(op)));
        // ...but the method refuses such a list (DE_INVALIDFILES) and copies nothing.
        op.pFrom = Files.writeString(tmp.resolve("a"), "A") + "\0";
        op.pTo = tmp.resolve("copy").toString();
        assertEquals(0x7C, Win32Impl.SHFileOperation(op));
        assertFalse(Files.exists(tmp.resolve("copy")));
        op.pTo += "\0";
        assertEquals(0, Win32Impl.SHFileOperation(op));
        assertEquals("A", Files.readString(tmp.resolve("copy")));
    }

    @Test
    void fileInfoAndGuidFillTheExistingArraysWithinTheirLengthAndUuidsAreRandom() {
        FileInfo f = new FileInfo();
        f.szDisplayName = new char[300];
        Arrays.fill(f.szDisplayName, 'z');
        f.szTypeName = new char[30];
        TestHooks.writeFileInfo(f, 0x4321, -3, 0x80000001, "report.doc\0after", "T".repeat(80));
        assertEquals(List.of(0x4321, -3, 0x80000001), List.of(f.hIcon, f.iIcon, f.dwAttributes));
        assertEquals("report.doc\0after", new String(f.szDisplayName, 0, 16), "the member whole, past the zero");
        assertEquals("\0" + "z".repeat(40), new String(f.szDisplayName, 259, 41), "nothing past 260 units");
        assertEquals("T".repeat(30), new String(f.szTypeName), "a short array takes what fits");
        TestHooks.writeFileInfo(f, 0, 0, 0, GRIN.repeat(200), ""); // 400 units: cut, still terminated
        assertEquals(GRIN.repeat(129), text(f.szDisplayName));
        Guid g = new Guid();
        g.Data4 = new byte[] {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
        TestHooks.writeGuid(g, 0x89ABCDEF, 0xFFFF, 0x8001);
        assertEquals(List.of(0x89ABCDEF, 65535, 0x8001), List.of(g.Data1, g.Data2, g.Data3), "zero-extended");
        assertArrayEquals(new byte[] {0, 1, 2, 3, 4, 5, 6, 7, 9, 9}, g.Data4);
        g.Data4 = new byte[3];
        TestHooks.writeGuid(g, 0, 0, 0);
        assertArrayEquals(new byte[] {0, 1, 2}, g.Data4);
        Guid other = new Guid();
        assertEquals(List.of(0, 0), List.of(Win32Impl.UuidCreate(g), Win32Impl.UuidCreate(other)));
        for (Guid u : List.of(g, other)) { // a random (version 4) UUID of the RFC 4122 variant
            assertEquals(List.of(4, 0x80), List.of(u.Data3 >>> 12, u.Data4[0] & 0xC0));
        }
        assertFalse(g.Data1 == other.Data1 && Arrays.equals(g.Data4, other.Data4));
    }

    @Test
    void specialFoldersAreTheUsersXdgFolders(@TempDir Path tmp) throws Exception {
        Path home = Files.createDirectories(tmp.resolve("home"));
        Path config = Files.createDirectories(tmp.resolve("config"));
        Files.writeString(config.resolve("user-dirs.dirs"), String.join("\n", "XDG_DESKTOP_DIR=\"$HOME/Bureau\"",
                "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"", "XDG_MUSIC_DIR=\"" + tmp.resolve("music") + "\"",
                "XDG_PICTURES_DIR=\"$HOME/Pics\"", "XDG_VIDEOS_DIR=\"$HOME/\"", // turned off
                "XDG_PUBLICSHARE_DIR=\"$HOME/.\""));
        Map<String, String> env = Map.of("HOME", home.toString(), "XDG_CONFIG_HOME", config.toString(),
                "XDG_DATA_HOME", tmp.resolve("data").toString(), "XDG_CACHE_HOME", tmp.resolve("cache").toString());
        String[][] rows = { // CSIDL (or info:CSIDL), what the child prints
            {"0x0000", home + "/Bureau"}, {"0x0010", home + "/Bureau"}, {"0x0005", home + "/Docs"},
            {"0x000d", tmp + "/music"}, {"0x0027", home + "/Pics"}, {"0x002e", "null"},
            {"0x0015", home + "/Templates"}, // unset: the XDG default, never the home folder
            {"0x000e", "null"}, {"0x800e", "null"}, {"info:0x000e", "false|U|"}, // set to the home folder: none
            {"0x001a", config.toString()}, {"0x001c", tmp + "/data"}, {"0x0020", tmp + "/cache"},
            {"0x0028", home.toString()}, {"0x0007", config + "/autostart"}, {"0x0014", tmp + "/data/fonts"},
            {"0x0024", "null"}, {"-1", "null"}, // no such folder here
            {"info:0x0024", "false|U|"}, {"info:0x000d", "false|U|"}, // the object untouched
            {"0x801c", tmp + "/data"}, {"0x8005", home + "/Docs"}, {"0x8015", home + "/Templates"}, // CSIDL_FLAG_CREATE
            {"info:0x0005", "true|Docs|folder"}};
        String[] args = Arrays.stream(rows).map(r -> r[0]).toArray(String[]::new);
        assertEquals(Arrays.stream(rows).map(r -> r[1]).toList(), ChildJvm.ok(env, Child.class, args).lines()
                .map(l -> l.replaceAll("(Docs\\|).+", "$1folder")).toList(), "CSIDLs " + String.join(" ", args));
        assertFalse(Files.exists(tmp.resolve("cache")), "asked for, not made");
        assertTrue(Files.isDirectory(home.resolve("Templates")), "made");
        assertEquals("rwx------", PosixFilePermissions.toString(Files.getPosixFilePermissions(tmp.resolve("data"))));
    }
}
