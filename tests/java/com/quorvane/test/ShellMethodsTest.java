package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import com.quorvane.test.ShellRecords.FileInfo;
import com.quorvane.test.ShellRecords.FileOperation;
import com.quorvane.test.ShellRecords.Guid;
import com.quorvane.test.ShellRecords.NotifyIconData;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class ShellMethodsTest {
    static final String GRIN = "\uD83D\uDE00"; // one character, two UTF-16 units

    // ---- the records, marshalled alone ---------------------------------------

    @Test
    void notifyIconDataReachesTheRecordMemberByMember() {
        NotifyIconData n = new NotifyIconData();
        n.hWnd = -2;
        n.uID = 7;
        n.uFlags = 0x17;
        n.uCallbackMessage = 0x8001;
        n.hIcon = 0x1234;
        n.szTip = ShellRecords.units("tip", 128);
        n.dwState = 1;
        n.dwStateMask = 3;
        n.szInfo = ShellRecords.units("balloon" + GRIN, 256);
        n.uTimeout = 10_000;
        n.uVersion = 4;
        n.szInfoTitle = null;
        n.dwInfoFlags = 2;
        String[] r = ShellHooks.readNotifyIcon(n);
        assertEquals(List.of("936", "-2", "7", "23", "32769", "4660", "1", "3", "4", "2"),
                List.of(r).subList(0, 10), "uVersion is read after uTimeout and wins");
        assertEquals(List.of("tip", "balloon" + GRIN, "kept"), List.of(r).subList(10, 13),
                "a null array leaves its member alone");
    }

    @Test
    void notifyIconTextsStopAtTheirZeroAndNeverOverflowTheMember() {
        String a127 = "a".repeat(127);
        Object[][] rows = { // szTip array, what reaches the 128-unit member
            {ShellRecords.units("hi\0rest", 20), "hi"},
            {"b".repeat(500).toCharArray(), "b".repeat(127)},
            {(a127 + "\0").toCharArray(), a127},
            {("a".repeat(126) + GRIN).toCharArray(), "a".repeat(126)}, // the pair does not fit
            {new char[0], ""},
        };
        for (Object[] row : rows) {
            NotifyIconData n = new NotifyIconData();
            n.szTip = (char[]) row[0];
            assertEquals(row[1], ShellHooks.readNotifyIcon(n)[10]);
        }
    }

    static class IconWithoutStateMaskOrVersion {
        int hWnd;
        int uID;
        int uFlags;
        int uCallbackMessage;
        int hIcon;
        char[] szTip;
        int dwState;
        char[] szInfo;
        int uTimeout;
    }

    @Test
    void recordsAreReadInTheirMembersOrder() {
        NoSuchFieldError e = assertThrows(NoSuchFieldError.class,
                () -> ShellHooks.readNotifyIcon(new IconWithoutStateMaskOrVersion()));
        assertTrue(e.getMessage().contains("dwStateMask"), e.getMessage());
        e = assertThrows(NoSuchFieldError.class,
                () -> ShellHooks.readFileOperation(new IconWithoutStateMaskOrVersion()));
        assertTrue(e.getMessage().contains("wFunc"), e.getMessage());
    }

    @Test
    void fileInfoFillsTheExistingArraysWithinTheirLength() {
        FileInfo f = new FileInfo();
        f.szDisplayName = new char[300];
        Arrays.fill(f.szDisplayName, 'z');
        f.szTypeName = new char[30]; // shorter than the member: filled, nothing more
        ShellHooks.writeFileInfo(f, 0x4321, -3, 0x80000001, "report.doc\0after", "T".repeat(80));
        assertEquals(0x4321, f.hIcon);
        assertEquals(-3, f.iIcon);
        assertEquals(0x80000001, f.dwAttributes);
        assertEquals("report.doc\0after", new String(f.szDisplayName, 0, 16), "the member whole, past the zero");
        assertEquals(0, f.szDisplayName[259]);
        assertEquals("z".repeat(40), new String(f.szDisplayName, 260, 40), "elements past 260 unchanged");
        assertEquals("T".repeat(30), new String(f.szTypeName));

        // 200 characters beyond U+FFFF are 400 UTF-16 units: cut, still terminated.
        FileInfo wide = new FileInfo();
        ShellHooks.writeFileInfo(wide, 0, 0, 0, GRIN.repeat(200), "");
        assertEquals(GRIN.repeat(129), FileInfo.text(wide.szDisplayName));
    }

    @Test
    void guidPartsArriveZeroExtended() {
        Guid g = new Guid();
        ShellHooks.writeGuid(g, 0x89ABCDEF, 0xFFFF, 0x8001);
        assertEquals(0x89ABCDEF, g.Data1);
        assertEquals(65535, g.Data2);
        assertEquals(0x8001, g.Data3);
        assertArrayEquals(new byte[] {0, 1, 2, 3, 4, 5, 6, 7}, g.Data4);

        g.Data4 = new byte[] {9, 9, 9};
        ShellHooks.writeGuid(g, 0, 0, 0);
        assertArrayEquals(new byte[] {0, 1, 2}, g.Data4, "a short array takes what fits");
        g.Data4 = new byte[10];
        Arrays.fill(g.Data4, (byte) 9);
        ShellHooks.writeGuid(g, 0, 0, 0);
        assertArrayEquals(new byte[] {0, 1, 2, 3, 4, 5, 6, 7, 9, 9}, g.Data4);
    }

    @Test
    void fileOperationListsEndInTwoZerosWhateverTheString() {
        FileOperation op = new FileOperation();
        op.hWnd = -1;
        op.wFunc = 2;
        op.pFrom = "/a\0/b c\0";
        op.pTo = "/dest"; // its last zero forgotten
        op.lpszProgressTitle = "Copying";
        op.fFlags = (short) 0x8014;
        op.fAnyOperationsAborted = true;
        op.hNameMappings = 99;
        assertEquals(Arrays.asList("-1", "2", "32788", "1", "99", "/a|/b c", "/dest", "Copying"),
                List.of(ShellHooks.readFileOperation(op)));
        op.pFrom = "";
        op.pTo = null;
        op.lpszProgressTitle = null;
        assertEquals(Arrays.asList("", null, null), Arrays.asList(ShellHooks.readFileOperation(op)).subList(5, 8));
    }

    // ---- the native methods --------------------------------------------------

    static class OperationWithoutFunc {
        int hWnd;
    }

    static class GuidWithoutData3 {
        int Data1;
        int Data2;
    }

    @Test
    void nullAndIncompleteObjectsAreRefusedWithoutAPlatformCall() {
        assertEquals(-1, Win32Impl.SHFileOperation(null));
        // (A pending exception hides the neutral result from Java.)
        assertThrows(NoSuchFieldError.class, () -> Win32Impl.SHFileOperation(new OperationWithoutFunc()));
        assertThrows(NoSuchFieldError.class,
                () -> Win32Impl.ShellNotifyIcon(0, new IconWithoutStateMaskOrVersion()));
        GuidWithoutData3 g = new GuidWithoutData3();
        assertThrows(NoSuchFieldError.class, () -> Win32Impl.UuidCreate(g));
        assertNotEquals(0, g.Data1 | g.Data2, "written before the missing field");
        assertThrows(NullPointerException.class, () -> Win32Impl.UuidCreate(null));
    }

    @Test
    void uuidsAreRandomVersionFour() {
        Guid a = new Guid();
        Guid b = new Guid();
        assertEquals(0, Win32Impl.UuidCreate(a));
        assertEquals(0, Win32Impl.UuidCreate(b));
        for (Guid g : List.of(a, b)) {
            assertEquals(4, g.Data3 >>> 12, "version");
            assertEquals(0x80, g.Data4[0] & 0xC0, "RFC 4122 variant");
            assertTrue(g.Data2 >= 0 && g.Data2 <= 0xFFFF && g.Data3 <= 0xFFFF);
        }
        assertFalse(a.Data1 == b.Data1 && a.Data2 == b.Data2 && Arrays.equals(a.Data4, b.Data4));
    }

    @Test
    void unmappedFoldersAnswerNullAndLeaveTheObjectAlone() {
        for (int csidl : new int[] {0x0024 /* CSIDL_WINDOWS */, 0x0002 /* CSIDL_PROGRAMS */, 0x00FF, -1}) {
            assertNull(Win32Impl.getSpecialFolderPath(csidl));
            FileInfo f = new FileInfo();
            f.iIcon = 77;
            f.szDisplayName[0] = 'U';
            assertFalse(Win32Impl.GetSpecialFolderInfo(csidl, f));
            assertEquals(77, f.iIcon);
            assertEquals('U', f.szDisplayName[0]);
        }
    }

    @Test
    void specialFoldersAreTheUsersXdgFolders(@TempDir Path tmp) throws Exception {
        Path home = Files.createDirectories(tmp.resolve("home"));
        Path config = Files.createDirectories(tmp.resolve("config"));
        Path music = tmp.resolve("music");
        Files.writeString(config.resolve("user-dirs.dirs"), String.join("\n",
                "# written by the test", "XDG_DESKTOP_DIR=\"$HOME/Bureau\"", "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"",
                "XDG_MUSIC_DIR=\"" + music + "\"", "XDG_PICTURES_DIR=\"$HOME/Pics\"",
                "XDG_VIDEOS_DIR=\"$HOME/Vids\"", "XDG_PUBLICSHARE_DIR=\"$HOME/Pub\"", ""));
        Map<String, String> env = Map.of("HOME", home.toString(), "XDG_CONFIG_HOME", config.toString(),
                "XDG_DATA_HOME", tmp.resolve("data").toString(), "XDG_CACHE_HOME", tmp.resolve("cache").toString());
        Object[][] rows = { // CSIDL, expected path
            {"0x0000", home.resolve("Bureau")}, {"0x0010", home.resolve("Bureau")}, {"0x0005", home.resolve("Docs")},
            {"0x000d", music}, {"0x000e", home.resolve("Vids")}, {"0x0027", home.resolve("Pics")},
            {"0x002e", home.resolve("Pub")}, {"0x0015", home}, // templates unset: the home folder
            {"0x001a", config}, {"0x001c", tmp.resolve("data")}, {"0x0020", tmp.resolve("cache")},
            {"0x0028", home}, {"0x0007", config.resolve("autostart")}, {"0x0014", tmp.resolve("data/fonts")},
            {"0x0024", null}};
        String[] args = new String[rows.length + 4];
        for (int i = 0; i < rows.length; i++) {
            args[i] = (String) rows[i][0];
        }
        args[rows.length] = "0x801c"; // CSIDL_FLAG_CREATE | CSIDL_LOCAL_APPDATA
        args[rows.length + 1] = "0x8005"; // CSIDL_FLAG_CREATE | CSIDL_PERSONAL
        args[rows.length + 2] = "info:0x000d"; // not there yet: no item identifier list
        args[rows.length + 3] = "info:0x0005"; // made just before
        ChildJvm.Run run = ChildJvm.run(env, ShellChild.class, List.of(ShellChild.class, Win32Impl.class), args);
        assertEquals(0, run.exit(), run.output());
        assertFalse(run.output().contains("WARNING"), run.output());
        List<String> lines = run.output().lines().toList();
        for (int i = 0; i < rows.length; i++) {
            assertEquals(String.valueOf(rows[i][1]), lines.get(i), "CSIDL " + rows[i][0]);
        }
        assertFalse(Files.exists(tmp.resolve("cache")), "asked for, not made");
        assertEquals(tmp.resolve("data").toString(), lines.get(rows.length));
        assertEquals("rwx------", PosixFilePermissions.toString(Files.getPosixFilePermissions(tmp.resolve("data"))));
        assertTrue(Files.isDirectory(home.resolve("Docs")));
        assertEquals("false|U|", lines.get(rows.length + 2));
        assertTrue(lines.get(rows.length + 3).matches("true\\|Docs\\|.+"), lines.get(rows.length + 3));
    }

    // ---- end to end, through the Linux shell -----------------------------------

    @Test
    void fileInfoNamesAFileAndItsType(@TempDir Path tmp) throws Exception {
        Path file = Files.writeString(tmp.resolve("report " + GRIN + ".txt"), "hello");
        FileInfo f = new FileInfo();
        int flags = 0x200 | 0x400; // SHGFI_DISPLAYNAME | SHGFI_TYPENAME
        assertNotEquals(0, Win32Impl.SHGetFileInfo(file.toString(), 0, f, 692, flags));
        assertEquals(file.getFileName().toString(), FileInfo.text(f.szDisplayName));
        assertFalse(FileInfo.text(f.szTypeName).isEmpty());

        FileInfo nameless = new FileInfo();
        assertNotEquals(0, Win32Impl.SHGetFileInfo(file.toString(), 0, nameless, 12, flags));
        assertEquals("", FileInfo.text(nameless.szDisplayName), "a 12-byte record ends before the name");
        assertEquals(0, Win32Impl.SHGetFileInfo(tmp.resolve("missing").toString(), 0, new FileInfo(), 692, flags));
    }

    @Test
    void fileOperationCopiesEveryNameOfTheList(@TempDir Path tmp) throws Exception {
        Files.writeString(tmp.resolve("a"), "1");
        Files.writeString(tmp.resolve("b"), "2");
        FileOperation op = new FileOperation();
        op.wFunc = 2; // FO_COPY
        op.pFrom = tmp.resolve("a") + "\0" + tmp.resolve("b") + "\0";
        op.pTo = tmp.resolve("out") + "\0";
        op.fFlags = 0x10 | 0x200 | 0x4 | 0x400; // no confirmations, silent, no error UI
        assertEquals(0, Win32Impl.SHFileOperation(op));
        assertEquals("1", Files.readString(tmp.resolve("out/a")));
        assertEquals("2", Files.readString(tmp.resolve("out/b")));
    }

    @Test
    void notifyIconIsAddedChangedAndDeleted() {
        NotifyIconData n = new NotifyIconData();
        n.hWnd = 0x51;
        n.uID = 3;
        n.uFlags = 0x4; // NIF_TIP
        n.szTip = ShellRecords.units("quorvane", 128);
        assertFalse(Win32Impl.ShellNotifyIcon(0, null), "no record");
        assertFalse(Win32Impl.ShellNotifyIcon(1, n), "modify before add");
        assertTrue(Win32Impl.ShellNotifyIcon(0, n));
        n.szTip = ShellRecords.units("changed", 128);
        assertTrue(Win32Impl.ShellNotifyIcon(1, n));
        assertTrue(Win32Impl.ShellNotifyIcon(2, n));
        assertFalse(Win32Impl.ShellNotifyIcon(2, n), "deleted twice");
    }
}
