package com.quorvane.test;

import com.quorvane.infrastructure.os.windows.Win32Impl;

/**
 * A JVM of its own for the special folders, which the library reads once per
 * process from HOME and the XDG variables. Prints one line per argument: for
 * "N" the path of CSIDL N (or "null"); for "info:N" GetSpecialFolderInfo's
 * answer, display name and type name.
 */
public final class ShellChild {
    private ShellChild() {
    }

    public static void main(String[] args) {
        for (String arg : args) {
            if (arg.startsWith("info:")) {
                ShellRecords.FileInfo info = new ShellRecords.FileInfo();
                info.szDisplayName[0] = 'U';
                boolean ok = Win32Impl.GetSpecialFolderInfo(Integer.decode(arg.substring(5)), info);
                System.out.println(ok + "|" + ShellRecords.FileInfo.text(info.szDisplayName) + "|"
                        + ShellRecords.FileInfo.text(info.szTypeName));
            } else {
                System.out.println(Win32Impl.getSpecialFolderPath(Integer.decode(arg)));
            }
        }
    }
}
