package com.quorvane.tools;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Properties;

/**
 * Every property of a document's summary and user-defined sets with its
 * stored type, through the tool's own native methods (Win32Impl's hand over
 * text and dates only), and typed values written back. The native side
 * packs what the library's reader decoded (native/jni/TypedValues.h); this
 * class unpacks it.
 */
final class TypedProperties {
    static final int VT_EMPTY = 0, VT_NULL = 1, VT_I2 = 2, VT_I4 = 3, VT_R4 = 4, VT_R8 = 5, VT_CY = 6, VT_DATE = 7,
            VT_BSTR = 8, VT_ERROR = 10, VT_BOOL = 11, VT_I1 = 16, VT_UI1 = 17, VT_UI2 = 18, VT_UI4 = 19, VT_I8 = 20,
            VT_UI8 = 21, VT_INT = 22, VT_UINT = 23, VT_LPSTR = 30, VT_LPWSTR = 31, VT_FILETIME = 64, VT_BLOB = 65,
            VT_BLOB_OBJECT = 70, VT_CF = 71, VT_CLSID = 72, VT_VECTOR = 0x1000;

    static {
        try { // Win32Impl's initialisation loads the library these methods live in
            Class.forName(Win32Impl.class.getName(), true, TypedProperties.class.getClassLoader());
        } catch (ClassNotFoundException e) {
            throw new NoClassDefFoundError(e.getMessage());
        }
    }

    private TypedProperties() {
    }

    /** result[0] gets both sets packed; answers 0 or the document's HRESULT. */
    private static native int read(String fileName, boolean withBytes, byte[][] result);

    /** Writes packed changes into the user-defined set in one commit; answers 0 or the HRESULT. */
    private static native int write(String fileName, byte[] changes);

    /**
     * One property. value: Long (integers, VT_ERROR, VT_CY in ten-thousandths), Double (reals, VT_DATE),
     * Boolean, String (text), Binary, byte[] (VT_CLSID), or null (empty, or a type not read); dateText: a
     * FILETIME as the library's text API writes it.
     */
    record Value(String name, int vt, Object value, String dateText, int clipFormat) {
        /** Whether the value was read; a vector or any other type is told by name and type only. */
        boolean read() {
            return switch (vt) {
                case VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_ERROR, VT_BOOL, VT_I1,
                        VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT, VT_LPSTR, VT_LPWSTR, VT_FILETIME,
                        VT_BLOB, VT_BLOB_OBJECT, VT_CF, VT_CLSID -> true;
                default -> false;
            };
        }

        boolean text() {
            return vt == VT_LPSTR || vt == VT_LPWSTR || vt == VT_BSTR;
        }
    }

    /** Binary data: its length and SHA-256, and its bytes when they were asked for (else null). */
    record Binary(int length, byte[] sha256, byte[] bytes) {
    }

    /** One set: status 0 read, 1 missing or empty, else the HRESULT it failed with. */
    record Set(int status, List<Value> values) {
        /** The set as Win32Impl's text read hands it over: narrow texts and date-times, by name. */
        Properties asText() {
            Properties p = DocProps.newProperties();
            for (Value v : values) {
                if (v.vt == VT_LPSTR) {
                    p.setProperty(v.name, (String) v.value);
                } else if (v.vt == VT_FILETIME) {
                    p.setProperty(v.name, v.dateText);
                }
            }
            return p;
        }

        Value get(String name) {
            for (Value v : values) {
                if (v.name.equals(name)) {
                    return v;
                }
            }
            return null;
        }
    }

    /** The summary set and the user-defined set of a document. */
    record Document(Set summary, Set user) {
    }

    /** Both sets; binary values with their bytes only when `withBytes`. */
    static Document read(Path file, boolean withBytes) throws DocumentError {
        byte[][] result = new byte[1][];
        int hr = read(file.toString(), withBytes, result);
        if (hr != 0) {
            throw DocumentError.fromResult(file, hr);
        }
        ByteBuffer in = ByteBuffer.wrap(result[0]).order(ByteOrder.LITTLE_ENDIAN);
        Set summary = set(in, true);
        return new Document(summary, set(in, false));
    }

    private static Set set(ByteBuffer in, boolean summary) {
        int status = in.getInt();
        int count = in.getInt();
        List<Value> values = new ArrayList<>(count);
        for (int i = 0; i < count; i++) {
            int vt = in.getShort() & 0xffff;
            int id = in.getInt();
            String name = text(in);
            if (name == null) {
                name = summary ? summaryName(id) : "#" + Integer.toUnsignedString(id);
            }
            Object value = null;
            String dateText = null;
            int clip = 0;
            switch (vt) {
                case VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_INT, VT_UINT, VT_ERROR, VT_I8, VT_UI8, VT_CY ->
                        value = in.getLong();
                case VT_R4, VT_R8, VT_DATE -> value = in.getDouble();
                case VT_BOOL -> value = in.get() != 0;
                case VT_LPSTR, VT_LPWSTR, VT_BSTR -> value = text(in);
                case VT_FILETIME -> {
                    value = in.getLong();
                    dateText = text(in);
                }
                case VT_BLOB, VT_BLOB_OBJECT -> value = bytes(in);
                case VT_CF -> {
                    clip = in.getInt();
                    value = bytes(in);
                }
                case VT_CLSID -> {
                    byte[] id16 = new byte[16];
                    in.get(id16);
                    value = id16;
                }
                default -> {
                }
            }
            values.add(new Value(name, vt, value, dateText, clip));
        }
        return new Set(status, values);
    }

    private static String text(ByteBuffer in) {
        int units = in.getInt();
        if (units < 0) {
            return null;
        }
        char[] c = new char[units];
        in.asCharBuffer().get(c);
        in.position(in.position() + units * 2);
        return new String(c);
    }

    private static Binary bytes(ByteBuffer in) {
        int length = in.getInt();
        byte[] sha256 = new byte[32];
        in.get(sha256);
        byte[] b = new byte[in.getInt()];
        in.get(b);
        return new Binary(length, sha256, b.length == length ? b : null);
    }

    private static final String[] SUMMARY_NAMES = {null, null, "PIDSI_TITLE", "PIDSI_SUBJECT", "PIDSI_AUTHOR",
        "PIDSI_KEYWORDS", "PIDSI_COMMENTS", "PIDSI_TEMPLATE", "PIDSI_LASTAUTHOR", "PIDSI_REVNUMBER",
        "PIDSI_EDITTIME", "PIDSI_LASTPRINTED", "PIDSI_CREATE_DTM", "PIDSI_LASTSAVE_DTM", "PIDSI_PAGECOUNT",
        "PIDSI_WORDCOUNT", "PIDSI_CHARCOUNT", "PIDSI_THUMBNAIL", "PIDSI_APPNAME", "PIDSI_DOC_SECURITY"};

    static String summaryName(int id) {
        return id >= 2 && id < SUMMARY_NAMES.length ? SUMMARY_NAMES[id] : "#" + Integer.toUnsignedString(id);
    }

    // ---- Writing ----------------------------------------------------------------

    /** Changes of the user-defined set to write in one commit: typed values and deletions. */
    static final class Changes {
        private ByteBuffer grown = ByteBuffer.allocate(1 << 12).order(ByteOrder.LITTLE_ENDIAN);
        private int count;

        Changes() {
            grown.putInt(0);
        }

        /** value: Long, Double, Boolean, String, or FILETIME ticks (Long) for VT_FILETIME; null deletes. */
        Changes put(String name, int vt, Object value) {
            byte[] units = name.getBytes(StandardCharsets.UTF_16LE);
            String text = vt == VT_LPWSTR ? (String) value : "";
            byte[] textUnits = text.getBytes(StandardCharsets.UTF_16LE);
            room(16 + units.length + textUnits.length);
            grown.putInt(units.length / 2).put(units).putShort((short) (value == null ? VT_EMPTY : vt));
            if (value != null) {
                switch (vt) {
                    case VT_R4, VT_R8 -> grown.putDouble((Double) value);
                    case VT_BOOL -> grown.put((byte) ((Boolean) value ? 1 : 0));
                    case VT_LPWSTR -> grown.putInt(textUnits.length / 2).put(textUnits);
                    default -> grown.putLong((Long) value);
                }
            }
            count++;
            return this;
        }

        boolean isEmpty() {
            return count == 0;
        }

        private void room(int bytes) {
            if (grown.remaining() < bytes) {
                ByteBuffer bigger = ByteBuffer.allocate(Math.max(grown.capacity() * 2, grown.position() + bytes))
                        .order(ByteOrder.LITTLE_ENDIAN);
                grown.flip();
                bigger.put(grown);
                grown = bigger;
            }
        }

        void write(Path file) throws DocumentError {
            grown.putInt(0, count);
            byte[] packed = new byte[grown.position()];
            grown.get(0, packed);
            int hr = TypedProperties.write(file.toString(), packed);
            if (hr != 0) {
                throw DocumentError.fromResult(file, hr);
            }
        }
    }
}
