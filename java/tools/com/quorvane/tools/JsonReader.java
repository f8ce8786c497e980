package com.quorvane.tools;

import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * Reads one JSON value (RFC 8259) from one line of a batch: objects as
 * maps in their order, arrays as lists, strings, numbers as BigDecimal,
 * true, false and null. docprops runs on the JDK and its own two jars
 * alone (the launcher's class path), and the JDK reads no JSON, hence this
 * reader. A value that is not JSON fails with where it went wrong. Used by
 * one thread.
 */
final class JsonReader {
    /** Text that is no JSON value; the message says where. */
    static final class Malformed extends Exception {
        private static final long serialVersionUID = 1L;

        Malformed(String message) {
            super(message);
        }
    }

    /** Nesting allowed: a batch line needs three levels; more is an error, not a deep recursion. */
    private static final int MAX_DEPTH = 64;

    private final String s;
    private int at;

    private JsonReader(String s) {
        this.s = s;
    }

    static Object parse(String text) throws Malformed {
        JsonReader r = new JsonReader(text);
        Object value = r.value(0);
        r.blank();
        if (r.at != text.length()) {
            throw r.fail("text after the value");
        }
        return value;
    }

    private Object value(int depth) throws Malformed {
        if (depth > MAX_DEPTH) {
            throw fail("nested too deeply");
        }
        blank();
        if (at == s.length()) {
            throw fail("a value expected");
        }
        char c = s.charAt(at);
        switch (c) {
            case '{':
                return object(depth);
            case '[':
                return array(depth);
            case '"':
                return string();
            case 't':
                return word("true", Boolean.TRUE);
            case 'f':
                return word("false", Boolean.FALSE);
            case 'n':
                return word("null", null);
            default:
                if (c == '-' || c >= '0' && c <= '9') {
                    return number();
                }
                throw fail("a value expected");
        }
    }

    private Map<String, Object> object(int depth) throws Malformed {
        Map<String, Object> map = new LinkedHashMap<>();
        at++;
        blank();
        if (take('}')) {
            return map;
        }
        do {
            blank();
            if (at == s.length() || s.charAt(at) != '"') {
                throw fail("a member name expected");
            }
            String name = string();
            blank();
            if (!take(':')) {
                throw fail("':' expected");
            }
            if (map.containsKey(name)) {
                throw fail("the member \"" + name + "\" twice");
            }
            map.put(name, value(depth + 1));
            blank();
        } while (take(','));
        if (!take('}')) {
            throw fail("',' or '}' expected");
        }
        return map;
    }

    private List<Object> array(int depth) throws Malformed {
        List<Object> list = new ArrayList<>();
        at++;
        blank();
        if (take(']')) {
            return list;
        }
        do {
            list.add(value(depth + 1));
            blank();
        } while (take(','));
        if (!take(']')) {
            throw fail("',' or ']' expected");
        }
        return list;
    }

    private String string() throws Malformed {
        StringBuilder b = new StringBuilder();
        at++;
        while (true) {
            if (at == s.length()) {
                throw fail("the string does not end");
            }
            char c = s.charAt(at++);
            if (c == '"') {
                return b.toString();
            }
            if (c < 0x20) {
                throw fail("a control character in a string");
            }
            if (c != '\\') {
                b.append(c);
                continue;
            }
            if (at == s.length()) {
                throw fail("the string does not end");
            }
            char e = s.charAt(at++);
            switch (e) {
                case '"', '\\', '/' -> b.append(e);
                case 'b' -> b.append('\b');
                case 'f' -> b.append('\f');
                case 'n' -> b.append('\n');
                case 'r' -> b.append('\r');
                case 't' -> b.append('\t');
                case 'u' -> {
                    if (at + 4 > s.length()) {
                        throw fail("\\u needs four hex digits");
                    }
                    int code = 0;
                    for (int i = 0; i < 4; i++) {
                        int digit = Character.digit(s.charAt(at++), 16);
                        if (digit < 0) {
                            throw fail("\\u needs four hex digits");
                        }
                        code = code * 16 + digit;
                    }
                    b.append((char) code);
                }
                default -> throw fail("an unknown escape \\" + e);
            }
        }
    }

    private java.math.BigDecimal number() throws Malformed {
        int start = at;
        take('-');
        if (!take('0')) {
            digits();
        }
        if (take('.')) {
            digits();
        }
        if (take('e') || take('E')) {
            if (!take('+')) {
                take('-');
            }
            digits();
        }
        return new java.math.BigDecimal(s.substring(start, at));
    }

    private void digits() throws Malformed {
        int start = at;
        while (at < s.length() && s.charAt(at) >= '0' && s.charAt(at) <= '9') {
            at++;
        }
        if (at == start) {
            throw fail("a digit expected");
        }
    }

    private Object word(String word, Object value) throws Malformed {
        if (!s.startsWith(word, at)) {
            throw fail("a value expected");
        }
        at += word.length();
        return value;
    }

    private boolean take(char c) {
        if (at < s.length() && s.charAt(at) == c) {
            at++;
            return true;
        }
        return false;
    }

    private void blank() {
        while (at < s.length() && (s.charAt(at) == ' ' || s.charAt(at) == '\t' || s.charAt(at) == '\r'
                || s.charAt(at) == '\n')) {
            at++;
        }
    }

    private Malformed fail(String what) {
        return new Malformed("not JSON at character " + (at + 1) + ": " + what);
    }
}
