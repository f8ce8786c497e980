package com.quorvane.nativelib;

import static org.junit.jupiter.api.Assertions.*;

import org.junit.jupiter.api.Test;

/** Which of the jar's libraries a JVM is given, by the os.name and os.arch it reports. */
class NativeLibraryTest {
    @Test
    void eachPlatformGetsItsLibraryOrANamedRefusal() {
        String[][] rows = {
            {"Linux", "amd64", "linux-x86-64/libquorvane.so"},
            {"Linux", "x86_64", "linux-x86-64/libquorvane.so"},
            {"Windows 10", "x86", "win32-x86/quorvane.dll"},
            {"Windows XP", "i386", "win32-x86/quorvane.dll"},
            {"Windows 11", "amd64", "win32-x86-64/quorvane.dll"},
            {"Windows Server 2022", "x86_64", "win32-x86-64/quorvane.dll"},
            {"Linux", "aarch64", null},
            {"Linux", "x86", null}, // a 32-bit JVM cannot load the x86-64 library
            {"Linux", "amd64-but-not", null},
            {"Windows 11", "aarch64", null},
            {"Mac OS X", "x86_64", null},
            {"FreeBSD", "amd64", null},
            {"SunOS", "x86", null},
        };
        for (String[] row : rows) {
            String where = row[0] + "/" + row[1];
            NativeLibrary.Platform platform = NativeLibrary.select(row[0], row[1]);
            assertEquals(row[2], platform == null ? null : platform.resource(), where);
            if (row[2] == null) {
                String message = assertThrows(UnsatisfiedLinkError.class, () -> NativeLibrary.served(row[0], row[1]),
                        where).getMessage();
                assertTrue(message.contains("os.name=" + row[0] + ", os.arch=" + row[1]), message);
                assertTrue(message.contains("serves Linux amd64/x86_64 (linux-x86-64/libquorvane.so)"), message);
            }
        }
    }
}
