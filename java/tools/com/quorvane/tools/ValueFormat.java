package com.quorvane.tools;

import static com.quorvane.tools.TypedProperties.*;

import java.math.BigDecimal;
import java.time.Instant;
import java.util.Base64;
import java.util.HexFormat;

/**
 * How docprops tells one typed property (its type's name, its value as text
 * output shows it, its JSON object) and reads a value given for a type.
 * Stateless.
 */
final class ValueFormat {
    private ValueFormat() {
    }

    /** The editing time is stored as a date-time and means a duration. */
    static boolean isDuration(Value v) {
        return v.vt() == VT_FILETIME && v.name().equals("PIDSI_EDITTIME");
    }

    /** The type's name as docprops tells it; a vector's is "vector of " its element's. */
    static String type(Value v) {
        if (isDuration(v)) {
            return "duration";
        }
        int vt = v.vt();
        String base = baseType(vt & ~VT_VECTOR);
        return (vt & VT_VECTOR) != 0 ? "vector of " + base : base;
    }

    private static String baseType(int vt) {
        return switch (vt) {
            case VT_EMPTY, VT_NULL -> "empty";
            case VT_I1 -> "int8";
            case VT_UI1 -> "uint8";
            case VT_I2 -> "int16";
            case VT_UI2 -> "uint16";
            case VT_I4 -> "int32";
            case VT_UI4 -> "uint32";
            case VT_INT -> "int";
            case VT_UINT -> "uint";
            case VT_I8 -> "int64";
            case VT_UI8 -> "uint64";
            case VT_ERROR -> "error";
            case VT_CY -> "currency";
            case VT_R4 -> "float";
            case VT_R8 -> "double";
            case VT_DATE, VT_FILETIME -> "date";
            case VT_BOOL -> "boolean";
            case VT_LPSTR, VT_LPWSTR, VT_BSTR -> "text";
            case VT_BLOB, VT_BLOB_OBJECT -> "binary";
            case VT_CF -> "clipboard";
            case VT_CLSID -> "guid";
            case 12 -> "variant";
            default -> String.format("vt 0x%04x", vt);
        };
    }

    /** The value as JSON takes it: a number's literal, a text, true or false; null for none. */
    private static Object jsonValue(Value v) {
        Object value = v.value();
        if (isDuration(v)) {
            return Long.toString(Long.divideUnsigned((Long) value, 10_000_000L));
        }
        return switch (v.vt()) {
            case VT_UI8 -> Long.toUnsignedString((Long) value);
            case VT_CY -> BigDecimal.valueOf((Long) value, 4).stripTrailingZeros().toPlainString();
            case VT_ERROR -> String.format("0x%08X", (Long) value);
            case VT_R4 -> real((Double) value, true);
            case VT_R8 -> real((Double) value, false);
            case VT_FILETIME -> ReadCommand.date(v.dateText());
            case VT_DATE -> automationDate((Double) value);
            case VT_CLSID -> guid((byte[]) value);
            case VT_EMPTY, VT_NULL -> null;
            default -> value instanceof Long n ? n.toString() : value;
        };
    }

    /** A real as a JSON number: whole ones without a fraction (42, not 42.0); null when not finite. */
    private static String real(double d, boolean single) {
        if (Double.isNaN(d) || Double.isInfinite(d)) {
            return null;
        }
        if (d == Math.rint(d) && Math.abs(d) < 1e15) {
            return Long.toString((long) d);
        }
        return single ? Float.toString((float) d) : Double.toString(d);
    }

    private static final long FIRST_SECOND = -62135596800L, LAST_SECOND = 253402300799L; // years 1 to 9999

    /** An automation date (days since 1899-12-30, the fraction the time of day) in ISO 8601; null out of range. */
    private static String automationDate(double days) {
        if (Double.isNaN(days) || Math.abs(days) > 3e6) {
            return null;
        }
        long whole = (long) days; // a negative date's fraction still counts forward within its day
        long seconds = (whole - 25569) * 86400 + Math.round(Math.abs(days - whole) * 86400);
        return seconds < FIRST_SECOND || seconds > LAST_SECOND ? null : Instant.ofEpochSecond(seconds).toString();
    }

    private static String guid(byte[] b) {
        return String.format("{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3], b[2],
                b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    }

    private static boolean isBinary(Value v) {
        return v.value() instanceof TypedProperties.Binary;
    }

    /** The member name: {"type":...,"value":...}, or for binary data its length and SHA-256 (and Base64). */
    static void json(Json j, Value v, boolean base64) {
        j.name(v.name()).open().name("type").value(type(v));
        if (isBinary(v)) {
            TypedProperties.Binary b = (TypedProperties.Binary) v.value();
            if (v.vt() == VT_CF) {
                j.name("format").value((long) v.clipFormat());
            }
            j.name("length").value((long) b.length()).name("sha256").value(HexFormat.of().formatHex(b.sha256()));
            if (base64) {
                j.name("base64").value(Base64.getEncoder().encodeToString(b.bytes()));
            }
        } else {
            Object value = jsonValue(v);
            j.name("value");
            if (value instanceof Boolean bool) {
                j.value(bool);
            } else if (value != null && isNumber(v)) {
                j.number((String) value);
            } else {
                j.value((String) value);
            }
        }
        j.close();
    }

    private static boolean isNumber(Value v) {
        return isDuration(v) || switch (v.vt()) {
            case VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_INT, VT_UINT, VT_I8, VT_UI8, VT_CY, VT_R4, VT_R8 ->
                    true;
            default -> false;
        };
    }

    /** The value as text output shows it (not yet escaped); dates in UTC, binary data by length and digest. */
    static String text(Value v, boolean base64) {
        if (isBinary(v)) {
            TypedProperties.Binary b = (TypedProperties.Binary) v.value();
            return base64 ? Base64.getEncoder().encodeToString(b.bytes())
                    : b.length() + " bytes, sha256 " + HexFormat.of().formatHex(b.sha256());
        }
        if (isDuration(v)) {
            long s = Long.divideUnsigned((Long) v.value(), 10_000_000L);
            return String.format("%d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
        }
        Object value = jsonValue(v);
        if (v.vt() == VT_FILETIME || v.vt() == VT_DATE) {
            return value == null ? "(not set)" : ((String) value).replace("Z", " UTC");
        }
        return value == null ? "(empty)" : value.toString();
    }

    // ---- Values given to set ----------------------------------------------------------

    /** The types set writes, by name; text is written by the library's own text path. */
    private static final String[] WRITABLE = {"text", "int16", "uint16", "int32", "uint32", "int64", "uint64",
        "float", "double", "boolean", "date"};
    private static final int[] WRITABLE_VT = {VT_LPSTR, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8, VT_R4, VT_R8,
        VT_BOOL, VT_FILETIME};

    /** The type of that name that set writes, or -1. */
    static int writable(String type) {
        for (int i = 0; i < WRITABLE.length; i++) {
            if (WRITABLE[i].equals(type)) {
                return WRITABLE_VT[i];
            }
        }
        return -1;
    }

    static String writableTypes() {
        return String.join(", ", WRITABLE);
    }

    /** Whether set writes a value of the type vt (texts of any kind are written as text). */
    static boolean writable(int vt) {
        for (int w : WRITABLE_VT) {
            if (w == vt) {
                return true;
            }
        }
        return false;
    }

    /** Decimal reals only: Java's parser also takes hexadecimal, NaN, Infinity and a trailing d or f. */
    private static final String REAL = "[-+]?(\\d+\\.?\\d*|\\.\\d+)([eE][-+]?\\d+)?";

    /**
     * text read as a value of the type vt (one set writes): a Long (FILETIME
     * ticks for a date), Double, Boolean or the text; null when it is no such value.
     */
    static Object parse(int vt, String text) {
        String t = text.strip();
        try {
            return switch (vt) {
                case VT_I2 -> range(Long.parseLong(t), Short.MIN_VALUE, Short.MAX_VALUE);
                case VT_UI2 -> range(Long.parseLong(t), 0, 0xffff);
                case VT_I4 -> range(Long.parseLong(t), Integer.MIN_VALUE, Integer.MAX_VALUE);
                case VT_UI4 -> range(Long.parseLong(t), 0, 0xffffffffL);
                case VT_I8 -> Long.parseLong(t);
                case VT_UI8 -> Long.parseUnsignedLong(t.startsWith("+") ? t.substring(1) : t);
                case VT_R4, VT_R8 -> t.matches(REAL) && (vt == VT_R8 || Float.isFinite(Float.parseFloat(t)))
                        ? Double.parseDouble(t) : null;
                case VT_BOOL -> switch (t.toLowerCase(java.util.Locale.ROOT)) {
                    case "true", "yes", "1" -> Boolean.TRUE;
                    case "false", "no", "0" -> Boolean.FALSE;
                    default -> null;
                };
                case VT_FILETIME -> ticks(t);
                default -> text;
            };
        } catch (NumberFormatException | java.time.format.DateTimeParseException e) {
            return null;
        }
    }

    private static Long range(long n, long min, long max) {
        return n < min || n > max ? null : n;
    }

    /** "2021-06-15T10:20:30" (UTC, a Z allowed) or "2021-06-15" as FILETIME ticks: 100 ns since 1601. */
    private static Long ticks(String t) {
        String s = t.endsWith("Z") ? t.substring(0, t.length() - 1) : t;
        java.time.LocalDateTime when = s.length() == 10 ? java.time.LocalDate.parse(s).atStartOfDay()
                : java.time.LocalDateTime.parse(s);
        long seconds = when.toEpochSecond(java.time.ZoneOffset.UTC) + 11644473600L;
        return seconds < 0 ? null : seconds * 10_000_000L + when.getNano() / 100;
    }
}
