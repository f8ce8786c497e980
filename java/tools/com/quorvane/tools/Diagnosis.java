package com.quorvane.tools;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.util.Locale;

/**
 * What a file is that the library could not read as a compound document:
 * empty, of another format (named), a compound file whose structure or
 * property set is damaged, or nothing docprops knows. Judged from the
 * file's first bytes and the library's own header check, so that a damaged
 * document is never taken for a file that is no document. Stateless.
 */
final class Diagnosis {
    private static final int HEAD = 512;
    private static final byte[] COMPOUND_SIGNATURE = {(byte) 0xD0, (byte) 0xCF, 0x11, (byte) 0xE0, (byte) 0xA1,
        (byte) 0xB1, 0x1A, (byte) 0xE1};
    private static final String[] DOCUMENT_EXTENSIONS = {".doc", ".dot", ".xls", ".xlt", ".xla", ".ppt", ".pot",
        ".pps"};
    private static final int STG_E_INVALIDHEADER = 0x800300FB;
    private static final int STG_E_DOCFILECORRUPT = 0x80030109;

    private Diagnosis() {
    }

    /** Whether a result means the file could not be read as a compound document (rather than not reached). */
    static boolean unreadable(int hr) {
        return DocumentError.isNotCompound(hr) || hr == STG_E_DOCFILECORRUPT;
    }

    /**
     * The error to tell for e, a failure whose result is unreadable(); part
     * names the property set that failed when another one of the same file
     * was read (then the compound file itself is sound).
     */
    static DocumentError explain(Path file, DocumentError e, String part) {
        byte[] head = new byte[HEAD];
        int n = 0;
        long size;
        try (FileChannel c = FileChannel.open(file, StandardOpenOption.READ)) {
            size = c.size();
            ByteBuffer b = ByteBuffer.wrap(head);
            while (b.hasRemaining() && c.read(b) > 0) {
                n = b.position();
            }
        } catch (IOException | UnsupportedOperationException x) { // gone or closed since: the library's word stands
            return e;
        }
        if (size == 0) {
            return damaged(file, e, "the file is empty", documentName(file) ? null : "an empty file");
        }
        if (startsWith(head, n, COMPOUND_SIGNATURE)) {
            if (part != null) {
                return damaged(file, e, "the " + part + " property set is damaged", null);
            }
            // A header the library's own check accepts leaves the property sets as what failed to parse.
            boolean header = n == HEAD && Win32Impl.StgIsStorageFile(file.toString()) == 0;
            return damaged(file, e, header && e.hresult == STG_E_INVALIDHEADER ? "its property sets are damaged"
                    : "the compound file is damaged", null);
        }
        String format = otherFormat(head, n);
        if (format != null) {
            String reason = format + ", not a compound document";
            return new DocumentError(DocumentError.EXIT_NOT_COMPOUND, e.hresult, file + ": " + reason, reason);
        }
        String reason = "not a compound document";
        return new DocumentError(DocumentError.EXIT_NOT_COMPOUND, e.hresult,
                file + ": " + reason + " (.doc, .xls, .ppt of the binary format)",
                documentName(file) ? null : reason);
    }

    private static DocumentError damaged(Path file, DocumentError e, String reason, String skip) {
        return new DocumentError(DocumentError.EXIT_DAMAGED, e.hresult, file + ": " + reason, skip);
    }

    /** Whether the name carries the extension of a binary Office document: then it must be one. */
    static boolean documentName(Path file) {
        Path name = file.getFileName();
        String s = name == null ? "" : name.toString().toLowerCase(Locale.ROOT);
        for (String extension : DOCUMENT_EXTENSIONS) {
            if (s.endsWith(extension)) {
                return true;
            }
        }
        return false;
    }

    /** The format another program saves under a document's name (RTF, HTML, XML, a zip), or null. */
    static String otherFormat(byte[] head, int n) {
        if (startsWith(head, n, "{\\rtf".getBytes(StandardCharsets.US_ASCII))) {
            return "an RTF document";
        }
        if (startsWith(head, n, new byte[] {'P', 'K', 3, 4})) {
            return new String(head, 0, n, StandardCharsets.ISO_8859_1).contains("[Content_Types].xml")
                    ? "an Office Open XML document (zip)" : "a zip archive";
        }
        String text = markup(head, n);
        if (text.startsWith("mime-version:")) {
            return "a web archive (MHTML)";
        }
        if (text.startsWith("<html") || text.startsWith("<!doctype html") || text.startsWith("<head")
                || text.startsWith("<?xml") && text.contains("<html")) {
            return "an HTML page";
        }
        if (text.startsWith("<?xml") || text.startsWith("<w:") || text.startsWith("<workbook")) {
            return "an XML document";
        }
        return null;
    }

    /** The head as lower-case text from its first non-blank character, after a UTF-8 or UTF-16 byte-order mark. */
    private static String markup(byte[] head, int n) {
        String text;
        if (n >= 2 && (head[0] & 0xFF) == 0xFF && (head[1] & 0xFF) == 0xFE) {
            text = new String(head, 2, n - 2, StandardCharsets.UTF_16LE);
        } else if (n >= 2 && (head[0] & 0xFF) == 0xFE && (head[1] & 0xFF) == 0xFF) {
            text = new String(head, 2, n - 2, StandardCharsets.UTF_16BE);
        } else {
            text = new String(head, 0, n, StandardCharsets.UTF_8);
        }
        return text.replaceFirst("^[\\s\uFEFF]+", "").toLowerCase(Locale.ROOT);
    }

    private static boolean startsWith(byte[] head, int n, byte[] prefix) {
        if (n < prefix.length) {
            return false;
        }
        for (int i = 0; i < prefix.length; i++) {
            if (head[i] != prefix[i]) {
                return false;
            }
        }
        return true;
    }
}
