package com.quorvane.test;

/** Java forms of the shell's records, as a client declares them: found by field name and type only. */
final class ShellRecords {
    private ShellRecords() {
    }

    static class NotifyIconData {
        int hWnd;
        int uID;
        int uFlags;
        int uCallbackMessage;
        int hIcon;
        char[] szTip = new char[128];
        int dwState;
        int dwStateMask;
        char[] szInfo = new char[256];
        int uTimeout;
        int uVersion;
        char[] szInfoTitle = new char[64];
        int dwInfoFlags;
    }

    static class FileInfo {
        int hIcon;
        int iIcon;
        int dwAttributes;
        char[] szDisplayName = new char[260];
        char[] szTypeName = new char[80];

        static String text(char[] units) {
            int end = 0;
            while (end < units.length && units[end] != 0) {
                end++;
            }
            return new String(units, 0, end);
        }
    }

    static class FileOperation {
        int hWnd;
        int wFunc;
        String pFrom;
        String pTo;
        String lpszProgressTitle;
        short fFlags;
        boolean fAnyOperationsAborted;
        int hNameMappings;
    }

    static class Guid {
        int Data1;
        int Data2;
        int Data3;
        byte[] Data4 = new byte[8];
    }

    /** Text for a char[] field: the characters, then a zero. */
    static char[] units(String text, int length) {
        char[] out = new char[length];
        text.getChars(0, Math.min(text.length(), length), out, 0);
        return out;
    }
}
