package com.quorvane.tools;

import java.util.List;

/**
 * Writes one JSON value (RFC 8259) on one line, member by member, into
 * text of its own: no map or list is built to be walked afterwards, which
 * in a run this short mostly runs in the interpreter. Writing is all
 * docprops needs, which a dependency on the tool's class path would not
 * repay. Used by one thread.
 */
final class Json {
    private final StringBuilder b = new StringBuilder(1024);
    private boolean comma; // a value was written where the next one needs a comma before it

    Json open() {
        return start('{');
    }

    Json close() {
        return end('}');
    }

    private Json start(char bracket) {
        separate();
        b.append(bracket);
        comma = false;
        return this;
    }

    private Json end(char bracket) {
        b.append(bracket);
        comma = true;
        return this;
    }

    Json name(String name) {
        separate();
        string(name);
        b.append(':');
        comma = false;
        return this;
    }

    Json value(String s) {
        separate();
        if (s == null) {
            b.append("null");
        } else {
            string(s);
        }
        comma = true;
        return this;
    }

    Json nul() {
        return value((String) null);
    }

    Json value(Long n) {
        separate();
        b.append(n == null ? "null" : n.toString());
        comma = true;
        return this;
    }

    /** A number already in JSON's form. */
    Json number(String literal) {
        separate();
        b.append(literal);
        comma = true;
        return this;
    }

    Json openArray() {
        return start('[');
    }

    Json closeArray() {
        return end(']');
    }

    Json value(boolean v) {
        separate();
        b.append(v);
        comma = true;
        return this;
    }

    Json value(List<String> list) {
        separate();
        b.append('[');
        comma = false;
        for (String s : list) {
            value(s);
        }
        b.append(']');
        comma = true;
        return this;
    }

    /** A member whose value is an object {"type": type, "value": value}. */
    Json typed(String name, String type, String value) {
        return name(name).open().name("type").value(type).name("value").value(value).close();
    }

    @Override
    public String toString() {
        return b.toString();
    }

    private void separate() {
        if (comma) {
            b.append(',');
        }
    }

    private void string(String s) {
        quote(b, s);
    }

    /**
     * Appends s quoted and escaped: the controls TextEscape names as \\uXXXX,
     * and a lone surrogate (a Java string can hold one; JSON text cannot)
     * too, which keeps the line valid UTF-8. Text output quotes with it too.
     */
    static void quote(StringBuilder b, String s) {
        b.append('"');
        int n = s.length();
        int plain = 0; // most strings need no escape: appended whole, not a character at a time
        while (plain < n && isPlain(s.charAt(plain))) {
            plain++;
        }
        b.append(s, 0, plain);
        for (int i = plain; i < n; i++) {
            char c = s.charAt(i);
            switch (c) {
                case '"' -> b.append("\\\"");
                case '\\' -> b.append("\\\\");
                case '\n' -> b.append("\\n");
                case '\r' -> b.append("\\r");
                case '\t' -> b.append("\\t");
                default -> {
                    boolean pair = Character.isHighSurrogate(c) && i + 1 < n
                            && Character.isLowSurrogate(s.charAt(i + 1));
                    if (pair) {
                        b.append(c).append(s.charAt(++i));
                    } else if (TextEscape.control(c) || Character.isSurrogate(c)) {
                        b.append("\\u");
                        for (int shift = 12; shift >= 0; shift -= 4) {
                            b.append(HEX[c >> shift & 0xF]);
                        }
                    } else {
                        b.append(c);
                    }
                }
            }
        }
        b.append('"');
    }

    private static boolean isPlain(char c) {
        return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
    }

    private static final char[] HEX = "0123456789abcdef".toCharArray();
}
