package com.quorvane.tools;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.attribute.BasicFileAttributes;

/**
 * A document operation that failed, with the one-line reason docprops
 * prints and the exit code it ends with. Immutable.
 */
final class DocumentError extends Exception {
    private static final long serialVersionUID = 1L;

    static final int EXIT_FAILURE = 1;
    static final int EXIT_USAGE = 2;
    static final int EXIT_MISSING = 3;
    static final int EXIT_NOT_COMPOUND = 4;
    static final int EXIT_LOCKED = 5;
    static final int EXIT_DAMAGED = 6;

    final int exitCode;
    /** The document method's result when one failed, else 0. */
    final int hresult;
    /** Why a folder's walk passes this file over (it is no document), else null: the file failed. */
    final String skip;

    /** Whether Diagnosis told what the file is already. */
    private final boolean diagnosed;

    DocumentError(int exitCode, String message) {
        this(exitCode, 0, message, null, false);
    }

    /** What Diagnosis found the file to be; skip as above. */
    DocumentError(int exitCode, int hresult, String message, String skip) {
        this(exitCode, hresult, message, skip, true);
    }

    private DocumentError(int exitCode, int hresult, String message, String skip, boolean diagnosed) {
        super(message);
        this.exitCode = exitCode;
        this.hresult = hresult;
        this.skip = skip;
        this.diagnosed = diagnosed;
    }

    /** The library could not read the file as a compound document, and Diagnosis has yet to tell what it is. */
    boolean unreadable() {
        return !diagnosed && Diagnosis.unreadable(hresult);
    }

    static boolean isNotCompound(int hr) {
        return hr == 0x80030050 // STG_E_FILEALREADYEXISTS: the file is there but no compound file
                || hr == 0x800300FB // STG_E_INVALIDHEADER
                || hr == 0x80030104; // STG_E_OLDFORMAT
    }

    /** Fails early, with a plain reason, for a path that names no regular file. */
    static void requireFile(Path file) throws DocumentError {
        BasicFileAttributes attributes;
        try {
            attributes = Files.readAttributes(file, BasicFileAttributes.class);
        } catch (NoSuchFileException e) {
            throw new DocumentError(EXIT_MISSING, file + ": no such file");
        } catch (IOException e) { // a folder on the way that may not be entered: the library's open tells it
            return;
        }
        if (!attributes.isRegularFile()) {
            throw new DocumentError(EXIT_MISSING, file + ": not a regular file");
        }
    }

    /**
     * Whether the disk holding the file is too full for a property set write: one needs at most the
     * set's 256 KiB and a few table sectors. The library answers STG_E_MEDIUMFULL for both causes.
     */
    private static boolean diskFull(Path file) {
        try {
            return Files.getFileStore(file).getUsableSpace() < (1L << 20);
        } catch (IOException | RuntimeException e) {
            return false;
        }
    }

    /** The error for a negative result of a document method. */
    static DocumentError fromResult(Path file, int hr) {
        DocumentError e = reason(file, hr);
        return new DocumentError(e.exitCode, hr, e.getMessage(), null, false);
    }

    private static DocumentError reason(Path file, int hr) {
        if (isNotCompound(hr)) {
            return new DocumentError(EXIT_NOT_COMPOUND,
                    file + ": not a compound document (.doc, .xls, .ppt of the binary format)");
        }
        switch (hr) {
            case 0x80030002: // STG_E_FILENOTFOUND
            case 0x80030003: // STG_E_PATHNOTFOUND
            case 0x80070002: // ERROR_FILE_NOT_FOUND
            case 0x80070003: // ERROR_PATH_NOT_FOUND
                return new DocumentError(EXIT_MISSING, file + ": no such file");
            case 0x80030109: // STG_E_DOCFILECORRUPT
                return new DocumentError(EXIT_DAMAGED, file + ": the compound file is damaged");
            case 0x80030020: // STG_E_SHAREVIOLATION
            case 0x80030021: // STG_E_LOCKVIOLATION
            case 0x80030100: // STG_E_INUSE: the writer lock did not come free within 5 s
                return new DocumentError(EXIT_LOCKED, file + ": locked by another program; close it and try again");
            case 0x80030005: // STG_E_ACCESSDENIED
            case 0x80070005: // E_ACCESSDENIED
                return new DocumentError(EXIT_FAILURE, file + ": permission denied");
            case 0x80004005: // E_FAIL
                return new DocumentError(EXIT_FAILURE, file + ": the operation failed");
            case 0x80030070: // STG_E_MEDIUMFULL: no room on the disk, or a property set past its limit
                return new DocumentError(EXIT_FAILURE, file + (diskFull(file)
                        ? ": the disk is full; nothing was changed"
                        : ": the property set would be over 256 KiB, the most a document may hold;"
                                + " nothing was changed"));
            case 0x8003001D: // STG_E_WRITEFAULT
            case 0x8003001E: // STG_E_READFAULT
                return new DocumentError(EXIT_FAILURE,
                        String.format("%s: the disk reported an error (0x%08X)", file, hr));
            default:
                return new DocumentError(EXIT_FAILURE, String.format("%s: failed with 0x%08X", file, hr));
        }
    }
}
