package com.quorvane.nativelib;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;

/** The mount a file lies on, from /proc/self/mountinfo: read only to explain a library that would not load. */
final class Mounts {
    private Mounts() {
    }

    /** True when file lies on a file system mounted noexec, where no library may be mapped to run. */
    static boolean noexec(Path file) {
        try {
            String path = file.toRealPath().toString();
            String best = null, options = "";
            for (String line : Files.readAllLines(Path.of("/proc/self/mountinfo"), StandardCharsets.UTF_8)) {
                String[] fields = line.split(" ");
                if (fields.length < 6) {
                    continue;
                }
                String point = unescape(fields[4]);
                boolean under = path.equals(point) || path.startsWith(point.endsWith("/") ? point : point + "/");
                if (under && (best == null || point.length() >= best.length())) {
                    best = point; // the last of equal mounts is the one on top
                    options = fields[5];
                }
            }
            return ("," + options + ",").contains(",noexec,");
        } catch (IOException | RuntimeException unknown) {
            return false;
        }
    }

    /** A mount point as mountinfo writes it: space, tab, newline and backslash as octal escapes. */
    private static String unescape(String field) {
        StringBuilder out = new StringBuilder();
        for (int i = 0; i < field.length(); i++) {
            char c = field.charAt(i);
            if (c == '\\' && i + 3 < field.length()) {
                out.append((char) Integer.parseInt(field.substring(i + 1, i + 4), 8));
                i += 3;
            } else {
                out.append(c);
            }
        }
        return out.toString();
    }
}
