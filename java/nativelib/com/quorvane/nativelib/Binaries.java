package com.quorvane.nativelib;

import java.io.File;
import java.io.IOException;
import java.io.RandomAccessFile;
import java.nio.charset.StandardCharsets;

/**
 * What a library file says of itself, read from its headers without loading it: the quorvane version it was built
 * as (an ELF file's .comment string "quorvane VERSION", a PE file's .qvver section), and an ELF program's
 * interpreter, which names the C library it runs on. Only the few header bytes are read, never the whole file.
 */
final class Binaries {
    private static final String MARK = "quorvane ";
    private static final int MAX_SECTION = 4096;

    private Binaries() {
    }

    /** The version the library at file was built as, or null when it names none or is no library we read. */
    static String version(File file) {
        try (RandomAccessFile in = new RandomAccessFile(file, "r")) {
            byte[] head = read(in, 0, 64);
            byte[] section = head[0] == 0x7f && head[1] == 'E' && head[2] == 'L' && head[3] == 'F'
                    ? elfSection(in, head, ".comment")
                    : head[0] == 'M' && head[1] == 'Z' ? peSection(in, head, ".qvver") : null;
            return section != null ? mark(section) : null;
        } catch (IOException | RuntimeException unreadable) {
            return null; // a truncated or strange header is no version
        }
    }

    /** The interpreter an ELF program asks for (the dynamic loader, which is the C library's), or null. */
    static String interpreter(File program) {
        try (RandomAccessFile in = new RandomAccessFile(program, "r")) {
            byte[] head = read(in, 0, 64);
            if (head[0] != 0x7f || head[1] != 'E' || head[2] != 'L' || head[3] != 'F' || head[4] != 2) {
                return null;
            }
            long offset = u64(head, 0x20);
            int size = u16(head, 0x36), count = u16(head, 0x38);
            for (int i = 0; i < count; i++) {
                byte[] entry = read(in, offset + (long) i * size, 56);
                if (u32(entry, 0) == 3) { // PT_INTERP
                    byte[] name = read(in, u64(entry, 8), (int) Math.min(u64(entry, 32), 4096));
                    return cString(name, 0);
                }
            }
            return null;
        } catch (IOException | RuntimeException unreadable) {
            return null;
        }
    }

    /** The version in a NUL-separated list of strings, one of them "quorvane VERSION". */
    private static String mark(byte[] strings) {
        for (int at = 0; at < strings.length; ) {
            String text = cString(strings, at);
            if (text.startsWith(MARK)) {
                return text.substring(MARK.length());
            }
            at += text.length() + 1;
        }
        return null;
    }

    /** The contents of the named section of a little-endian 64-bit ELF file. */
    private static byte[] elfSection(RandomAccessFile in, byte[] head, String wanted) throws IOException {
        if (head[4] != 2 || head[5] != 1) {
            return null;
        }
        long table = u64(head, 0x28);
        int size = u16(head, 0x3a), count = u16(head, 0x3c), names = u16(head, 0x3e);
        if (size < 64 || count == 0 || names >= count) {
            return null;
        }
        byte[] headers = read(in, table, size * count);
        int namesAt = names * size;
        byte[] nameTable = read(in, u64(headers, namesAt + 0x18),
                (int) Math.min(u64(headers, namesAt + 0x20), 65536));
        for (int i = 0; i < count; i++) {
            int at = i * size;
            if (cString(nameTable, u32(headers, at)).equals(wanted)) {
                return read(in, u64(headers, at + 0x18), (int) Math.min(u64(headers, at + 0x20), MAX_SECTION));
            }
        }
        return null;
    }

    /** The raw contents of the named section of a PE file (names of at most 8 bytes, which the table holds). */
    private static byte[] peSection(RandomAccessFile in, byte[] head, String wanted) throws IOException {
        long pe = u32(head, 0x3c);
        byte[] coff = read(in, pe, 24);
        if (coff[0] != 'P' || coff[1] != 'E' || coff[2] != 0 || coff[3] != 0) {
            return null;
        }
        int count = u16(coff, 6), optional = u16(coff, 20);
        byte[] table = read(in, pe + 24 + optional, 40 * count);
        for (int i = 0; i < count; i++) {
            int at = i * 40;
            if (cString(java.util.Arrays.copyOfRange(table, at, at + 8), 0).equals(wanted)) {
                return read(in, u32(table, at + 20), (int) Math.min(u32(table, at + 16), MAX_SECTION));
            }
        }
        return null;
    }

    private static byte[] read(RandomAccessFile in, long offset, int length) throws IOException {
        if (offset < 0 || length < 0 || length > 1 << 20) {
            throw new IOException("implausible header");
        }
        byte[] bytes = new byte[length];
        in.seek(offset);
        in.readFully(bytes);
        return bytes;
    }

    private static String cString(byte[] bytes, long from) {
        int start = (int) Math.min(from, bytes.length), end = start;
        while (end < bytes.length && bytes[end] != 0) {
            end++;
        }
        return new String(bytes, start, end - start, StandardCharsets.ISO_8859_1);
    }

    private static int u16(byte[] b, int at) {
        return (b[at] & 0xff) | (b[at + 1] & 0xff) << 8;
    }

    private static long u32(byte[] b, int at) {
        return (u16(b, at) | (long) u16(b, at + 2) << 16) & 0xffffffffL;
    }

    private static long u64(byte[] b, int at) {
        return u32(b, at) | u32(b, at + 4) << 32;
    }
}
