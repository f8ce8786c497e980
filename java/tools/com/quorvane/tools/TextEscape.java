package com.quorvane.tools;

import java.util.ArrayList;
import java.util.List;

/**
 * How text output shows a path, name or value so that every one reads back
 * unambiguously on its line: as it is, unless it holds a line break or
 * other control character, starts or ends with a blank, or starts with a
 * double quote; such text is shown in double quotes with backslash escapes
 * (\n, \r, \t, \", \\, and \\uXXXX for the rest). Stateless.
 */
final class TextEscape {
    private TextEscape() {
    }

    static List<String> all(List<String> texts) {
        List<String> shown = new ArrayList<>(texts.size());
        for (String text : texts) {
            shown.add(of(text));
        }
        return shown;
    }

    static String of(String text) {
        if (text == null || !needsQuotes(text)) {
            return text;
        }
        StringBuilder b = new StringBuilder(text.length() + 8);
        Json.quote(b, text);
        return b.toString();
    }

    private static boolean needsQuotes(String text) {
        if (text.isEmpty()) {
            return false;
        }
        if (text.charAt(0) == '"' || Character.isWhitespace(text.charAt(0)) || Character.isSpaceChar(text.charAt(0))) {
            return true;
        }
        char last = text.charAt(text.length() - 1);
        if (Character.isWhitespace(last) || Character.isSpaceChar(last)) {
            return true;
        }
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            if (control(c)) {
                return true;
            }
            if (Character.isSurrogate(c)) { // a lone one cannot be written as UTF-8
                if (!Character.isHighSurrogate(c) || i + 1 == text.length()
                        || !Character.isLowSurrogate(text.charAt(i + 1))) {
                    return true;
                }
                i++;
            }
        }
        return false;
    }

    /** C0 and C1 controls, DEL, and the Unicode line and paragraph separators: each would break or hide a line. */
    static boolean control(char c) {
        return c < 0x20 || c >= 0x7F && c <= 0x9F || c == '\u2028' || c == '\u2029';
    }
}
