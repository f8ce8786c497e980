package com.quorvane.tools;

import java.util.List;
import java.util.Map;

/**
 * Writes one JSON value (RFC 8259) on one line: maps become objects in their
 * iteration order, lists arrays; strings, numbers, booleans and null as
 * themselves. Writing is all docprops needs, which a dependency on the
 * tool's class path would not repay.
 */
final class Json {
    private Json() {
    }

    static String write(Object value) {
        StringBuilder b = new StringBuilder(256);
        append(b, value);
        return b.toString();
    }

    private static void append(StringBuilder b, Object value) {
        if (value == null) {
            b.append("null");
        } else if (value instanceof String s) {
            string(b, s);
        } else if (value instanceof Number || value instanceof Boolean) {
            b.append(value);
        } else if (value instanceof Map<?, ?> map) {
            b.append('{');
            String comma = "";
            for (Map.Entry<?, ?> e : map.entrySet()) {
                b.append(comma);
                string(b, String.valueOf(e.getKey()));
                b.append(':');
                append(b, e.getValue());
                comma = ",";
            }
            b.append('}');
        } else if (value instanceof List<?> list) {
            b.append('[');
            String comma = "";
            for (Object element : list) {
                b.append(comma);
                append(b, element);
                comma = ",";
            }
            b.append(']');
        } else {
            throw new IllegalArgumentException("no JSON form for " + value.getClass());
        }
    }

    /**
     * Quotes and escapes. A lone surrogate (a Java string can hold one; JSON
     * text cannot) is written as \\uXXXX, which keeps the line valid UTF-8.
     */
    private static void string(StringBuilder b, String s) {
        b.append('"');
        int plain = 0; // most strings need no escape: appended whole, not a character at a time
        while (plain < s.length() && s.charAt(plain) >= 0x20 && s.charAt(plain) < 0x7F && s.charAt(plain) != '"'
                && s.charAt(plain) != '\\') {
            plain++;
        }
        b.append(s, 0, plain);
        for (int i = plain; i < s.length(); i++) {
            char c = s.charAt(i);
            switch (c) {
                case '"' -> b.append("\\\"");
                case '\\' -> b.append("\\\\");
                case '\n' -> b.append("\\n");
                case '\r' -> b.append("\\r");
                case '\t' -> b.append("\\t");
                default -> {
                    boolean pair = Character.isHighSurrogate(c) && i + 1 < s.length()
                            && Character.isLowSurrogate(s.charAt(i + 1));
                    if (pair) {
                        b.append(c).append(s.charAt(++i));
                    } else if (c < 0x20 || c == 0x7F || Character.isSurrogate(c)) {
                        b.append(String.format("\\u%04x", (int) c));
                    } else {
                        b.append(c);
                    }
                }
            }
        }
        b.append('"');
    }
}
