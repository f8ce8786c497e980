package com.quorvane.infrastructure.os.windows;

import java.lang.reflect.InvocationTargetException;

/**
 * The native methods of the quorvane library. Every method is static; the
 * receiver is never used by the native side.
 */
public final class Win32Impl {
    static {
        load();
    }

    private Win32Impl() {
    }

    /**
     * quorvane-native.jar, when on the class path, picks the library: one on java.library.path only when it is of
     * the jar's version, else the jar's own. Without the jar, java.library.path's.
     */
    private static void load() {
        try {
            Class.forName("com.quorvane.nativelib.NativeLibrary").getMethod("load").invoke(null);
        } catch (ClassNotFoundException noNativeJar) {
            System.loadLibrary("quorvane");
        } catch (InvocationTargetException failed) {
            Throwable cause = failed.getCause();
            if (cause instanceof Error error) {
                throw error;
            }
            UnsatisfiedLinkError unloaded = new UnsatisfiedLinkError("quorvane-native.jar: " + cause);
            unloaded.initCause(cause);
            throw unloaded;
        } catch (ReflectiveOperationException e) {
            throw new UnsatisfiedLinkError("quorvane-native.jar: " + e);
        }
    }

    /** Self-test of the native field accessors on a probe object (see FieldProbe in the tests). */
    public static native void TestJavaClassFields(Object probe);

    // Kernel, process and window services. Handles and window handles are the
    // platform's 32-bit values; BOOL results are the platform's value (nonzero
    // for success); WaitForSingleObject answers 0, 0x102 or -1 (WAIT_FAILED).

    public static native int SetEvent(int event);

    public static native int ResetEvent(int event);

    public static native int WaitForSingleObject(int handle, int milliseconds);

    public static native int CloseHandle(int handle);

    public static native int CreateEvent(int securityAttributes, boolean manualReset, boolean initialState,
            String name);

    public static native int OpenEvent(int desiredAccess, boolean inheritHandle, String name);

    public static native int AnimateWindow(int window, int milliseconds, int flags);

    public static native int SetErrorMode(int mode);

    public static native int SetLayeredWindowAttributes(int window, int colorKey, int alpha, int flags);

    public static native int FlashWindow(int window, boolean invert);

    public static native int GetCurrentProcess();

    public static native int SetProcessWorkingSetSize(int process, int minimumBytes, int maximumBytes);

    public static native int EmptyWorkingSet(int process);

    /** Tick count (milliseconds since boot) of the user's last input; 0 when unknown. */
    public static native int getLastInputTime();

    public static native int RegisterWindowMessage(String name);

    // Compound documents (.doc, .xls, .ppt). Every value crosses as text:
    // ANSI strings and date-times ("2004-03-05T07:08:09", UTC); other types
    // are not read. Results: 0 done, 1 the set to be read is missing or empty,
    // a negative HRESULT when the platform failed (missing, not a compound
    // file, locked), 0x80004005 with a Java exception pending for a null or
    // unsuitable argument.

    /** User-defined properties into {@code properties}; with checkTripwire the straggler check runs first. */
    public static native int getCompoundDocumentUserProperties(String fileName, java.util.Properties properties,
            boolean checkTripwire);

    /** Summary information into {@code properties}, under PIDSI names ("PIDSI_TITLE", ...). */
    public static native int getCompoundDocumentSummaryProperties(String fileName, java.util.Properties properties);

    /** Copies summary properties (keys: PIDSI names) to user-defined ones (values: their names), types kept. */
    public static native int copySummaryPropertiesToUserProperties(String fileName, java.util.Properties mapping);

    /** Writes {@code properties} as user-defined text properties; the value "##DEL##" deletes one. */
    public static native int setCompoundDocumentUserProperties(String fileName, java.util.Properties properties);

    // Shell services. Record objects are any objects with the fields of the
    // Windows record (NOTIFYICONDATAW, SHFILEINFOW, SHFILEOPSTRUCTW, GUID),
    // matched by name and type; text arrays hold UTF-16 units.

    /** Adds, modifies or deletes a notification-area icon; {@code data} may be null. */
    public static native boolean ShellNotifyIcon(int message, Object data);

    /** Fills {@code fileInfo} (szDisplayName of 260 chars, szTypeName of 80), even when the call fails. */
    public static native int SHGetFileInfo(String path, int fileAttributes, Object fileInfo, int fileInfoSize,
            int flags);

    /** Display name, type name and small icon of a special folder (CSIDL); false leaves {@code fileInfo} alone. */
    public static native boolean GetSpecialFolderInfo(int folder, Object fileInfo);

    /** The path of a special folder (CSIDL, CSIDL_FLAG_CREATE may be or-ed in); null when it has none. */
    public static native String getSpecialFolderPath(int folder);

    /** pFrom and pTo are lists: names separated by "\0" and ended by one; -1 for a null object. */
    public static native int SHFileOperation(Object operation);

    /** A new UUID into {@code guid} (Data1..Data3 as ints, Data4 of 8 bytes); 0 for success. */
    public static native int UuidCreate(Object guid);

    /**
     * Synchronous only: {@code overlapped} and {@code completionRoutine} must be 0 (anything else answers false).
     * At most {@code min(length, buffer.length)} bytes of change records; their count goes into element 0.
     */
    public static native boolean ReadDirectoryChangesW(int directory, byte[] buffer, int length, boolean watchSubtree,
            int filter, int[] bytesReturned, int overlapped, int completionRoutine);

    /** A file or (with FILE_FLAG_BACKUP_SEMANTICS) folder handle; -1 when the open failed. */
    public static native int CreateFile(String fileName, int desiredAccess, int shareMode, int securityAttributes,
            int creationDisposition, int flagsAndAttributes, int templateFile);

    public static native boolean SetFileAttributes(String path, int attributes);

    /** S_OK (0) for a compound document, S_FALSE (1) for another file, else a failure HRESULT. */
    public static native int StgIsStorageFile(String fileName);

    public static native int GetDriveType(String rootPath);

    /** The first device name of the platform's list; null when there is none. */
    public static native String QueryDosDevice(String deviceName);

    /** Opens or creates {@code subKey} under {@code key}; the key's handle goes into element 0. */
    public static native int RegCreateKey(int key, String subKey, int[] result);

    /** Sets a value ({@code name} null: the default value) to the first {@code length} bytes of {@code data}. */
    public static native int RegSetValueEx(int key, String name, int reserved, int type, byte[] data, int length);

    /** Protects {@code plain} for the current user; a copy of it handed to native code is zeroed. */
    public static native byte[] encryptUserWin32(byte[] plain) throws Win32Exception;

    /** The plain text of a blob of {@link #encryptUserWin32} protected by the current user. */
    public static native byte[] decryptUserWin32(byte[] blob) throws Win32Exception;

    // System information. An ordinary "no" is false or a fixed text.

    /** Whether a process of this user runs an executable of this base name (case ignored, no path). */
    public static native boolean isProcessRunning(String executableName);

    /** The file version (null path: this process's executable) into element 0 of each array. */
    public static native boolean getFileVersionNumber(String path, int[] major, int[] minor, int[] patch,
            int[] build);

    /** The system's text for a message id, {@code insert} in place of %1. */
    public static native String getSystemMessage(int id, String insert);

    /**
     * Adds a {@code NetworkAddress} per IPv4 address of each interface that is up and not loopback to
     * {@code addresses}, a set (any object with {@code boolean add(Object)}).
     */
    public static native void getNetworkInterfaceInfo(Object addresses);

    /**
     * Sends one HTTP request to {@code uri} (a host name) at {@code port} for {@code resource}: a form POST of
     * {@code body}, or a GET when it is null or empty, over TLS when {@code secure}; the body of a 200 answer is
     * written to {@code out} (any object with {@code void write(byte[], int, int)}), anything else is an
     * IOException.
     */
    public static native void postMessage(String uri, String resource, int port, boolean secure, byte[] body,
            Object out) throws java.io.IOException;
}
