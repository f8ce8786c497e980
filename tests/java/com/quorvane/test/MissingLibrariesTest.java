package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.*;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import com.sun.net.httpserver.HttpServer;
import java.io.*;
import java.net.*;
import java.nio.charset.StandardCharsets;
import java.nio.file.*;
import java.util.*;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.api.io.TempDir;

/**
 * The libraries opened on first use, each made unloadable for a child JVM (a stand-in that the dynamic linker
 * refuses comes first on LD_LIBRARY_PATH under its soname): the library still loads, and each method that needs
 * the missing one answers its documented failure.
 */
class MissingLibrariesTest {
    record Row(String soname, String call, String expected) {
    }

    static final Row[] ROWS = {
        new Row("libcurl.so.4", "post", "IOException: Unable to open WinInet services"),
        new Row("libproxy.so.1", "post", "ok answer"), // the desktop's proxy unknown: direct
        new Row("libgio-2.0.so.0", "fileInfo", "0"),
        new Row("libgio-2.0.so.0", "folderPath", "null"),
        new Row("libgio-2.0.so.0", "folderInfo", "false"),
        new Row("libgio-2.0.so.0", "trash", "1223 kept=true"), // ERROR_CANCELLED, as without a trash
        new Row("libgio-2.0.so.0", "icon", "true true"), // as without a session bus
        new Row("libgio-2.0.so.0", "protect", "true"), // the key file, as without a Secret Service
        new Row("libmount.so.1", "driveType", "0"), // DRIVE_UNKNOWN
        new Row("libmount.so.1", "dosDevice", "null"),
        new Row("libudev.so.1", "driveType", "3"), // DRIVE_FIXED: the kind of block device is not known
    };

    /** The child: "call=result" for the call named. */
    public static final class Child {
        public static void main(String[] args) throws Exception {
            System.out.println(args[0] + "=" + run(args[0], Files.createTempFile("qv-missing", ".txt")));
        }

        static String run(String call, Path file) throws Exception {
            return switch (call) {
                case "post" -> post();
                case "fileInfo" -> String.valueOf(Win32Impl.SHGetFileInfo(file.toString(), 0,
                        new ShellMethodsTest.FileInfo(), 692, 0x200)); // SHGFI_DISPLAYNAME
                case "folderPath" -> Win32Impl.getSpecialFolderPath(0x05); // CSIDL_PERSONAL
                case "folderInfo" -> String.valueOf(Win32Impl.GetSpecialFolderInfo(0x28,
                        new ShellMethodsTest.FileInfo()));
                case "trash" -> {
                    ShellMethodsTest.FileOperation op = new ShellMethodsTest.FileOperation();
                    op.wFunc = 3; // FO_DELETE
                    op.pFrom = file + "\0";
                    op.fFlags = 0x40 | 0x10 | 0x4; // FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT
                    yield Win32Impl.SHFileOperation(op) + " kept=" + Files.exists(file);
                }
                case "icon" -> {
                    ShellMethodsTest.NotifyIconData icon = new ShellMethodsTest.NotifyIconData();
                    icon.uID = 7;
                    icon.uFlags = 0x4; // NIF_TIP
                    icon.szTip = ShellMethodsTest.units("tip", 128);
                    yield Win32Impl.ShellNotifyIcon(0, icon) + " " + Win32Impl.ShellNotifyIcon(2, icon); // add, delete
                }
                case "protect" -> String.valueOf(Arrays.equals(new byte[] {1, 2}, Win32Impl.decryptUserWin32(
                        Win32Impl.encryptUserWin32(new byte[] {1, 2}))));
                case "driveType" -> String.valueOf(Win32Impl.GetDriveType("/"));
                case "dosDevice" -> Win32Impl.QueryDosDevice("/");
                default -> throw new IllegalArgumentException(call);
            };
        }

        /** postMessage to a server of its own that answers "answer". */
        static String post() throws IOException {
            HttpServer server = HttpServer.create(new InetSocketAddress(InetAddress.getLoopbackAddress(), 0), 0);
            server.createContext("/", exchange -> {
                exchange.sendResponseHeaders(200, 6);
                exchange.getResponseBody().write("answer".getBytes(StandardCharsets.US_ASCII));
                exchange.close();
            });
            server.start();
            try {
                ByteArrayOutputStream out = new ByteArrayOutputStream();
                Win32Impl.postMessage("127.0.0.1", "/", server.getAddress().getPort(), false, null, out);
                return "ok " + out;
            } catch (IOException e) {
                return e.getClass().getSimpleName() + ": " + e.getMessage();
            } finally {
                server.stop(0);
            }
        }
    }

    @Test
    void eachMethodAnswersItsFailureWhenItsLibraryCannotBeLoaded(@TempDir Path tmp) throws Exception {
        Path unloadable = Path.of(System.getProperty("java.library.path"), "libqv_unloadable.so").toAbsolutePath();
        assertTrue(Files.isRegularFile(unloadable), unloadable + " is not built");
        List<Executable> checks = new ArrayList<>();
        for (Row row : ROWS) { // a JVM each: a crash in one row hides nothing of another
            Path folder = tmp.resolve(row.soname());
            if (!Files.exists(folder)) {
                Files.createSymbolicLink(Files.createDirectories(folder).resolve(row.soname()), unloadable);
            }
            ChildJvm.Run run = ChildJvm.run(Map.of("LD_LIBRARY_PATH", folder.toString()), Child.class, row.call());
            String output = run.output();
            checks.add(() -> {
                String name = "without " + row.soname() + ": " + row.call() + "\n" + output;
                assertEquals(row.call() + "=" + row.expected() + "\n", output, name);
                assertEquals(0, run.exit(), name);
            });
        }
        assertAll(checks);
    }
}
