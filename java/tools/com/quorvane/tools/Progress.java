package com.quorvane.tools;

import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;

/**
 * The progress line on a terminal's standard error: files done, of how
 * many, per second, redrawn in place at most ten times a second and erased
 * before anything else is written to the terminal. Used by one thread.
 */
final class Progress {
    private final PrintStream err;
    private final boolean outIsTerminal;
    private long total;
    private long done;
    private long started;
    private long drawnAt;
    private boolean drawn;

    Progress(PrintStream err, boolean outIsTerminal) {
        this.err = err;
        this.outIsTerminal = outIsTerminal;
    }

    /**
     * Whether descriptor 1 or 2 of this process is a terminal. Java tells
     * that only of standard input and output together (System.console), so
     * on Linux the descriptor's link in /proc answers.
     */
    static boolean isTerminal(int fd) {
        try {
            String target = Files.readSymbolicLink(Path.of("/proc/self/fd/" + fd)).toString();
            return target.startsWith("/dev/pts/") || target.startsWith("/dev/tty") || target.equals("/dev/console");
        } catch (IOException | UnsupportedOperationException e) {
            return System.console() != null;
        }
    }

    void start(long files) {
        total = files;
        started = System.nanoTime();
    }

    void done() {
        done++;
        long now = System.nanoTime();
        if (now - drawnAt >= 100_000_000L || done == total) {
            double seconds = Math.max((now - started) / 1e9, 1e-3);
            err.printf("\r\033[Kdocprops: %d of %d files, %.0f/s", done, total, done / seconds);
            err.flush();
            drawn = true;
            drawnAt = now;
        }
    }

    /** Erases the line before a line is written to standard error (toErr) or output. */
    void clear(boolean toErr) {
        if (drawn && (toErr || outIsTerminal)) {
            err.print("\r\033[K");
            err.flush();
            drawn = false;
        }
    }

    void end() {
        clear(true);
    }
}
