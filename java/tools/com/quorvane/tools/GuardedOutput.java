package com.quorvane.tools;

import java.io.FilterOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.Locale;

/**
 * Standard output that stops the run when a write fails. A PrintStream
 * keeps an error to itself, so a full disk or a reader gone away would let a
 * run go on to its end and call itself done: here the first failed write
 * ends it, through Lost, which a PrintStream lets through.
 */
final class GuardedOutput extends FilterOutputStream {
    /** Exit code of a run whose reader went away, as of a command a broken pipe's signal ended. */
    static final int EXIT_PIPE_CLOSED = 141;

    /** A write to standard output failed; the run ends. */
    static final class Lost extends RuntimeException {
        private static final long serialVersionUID = 1L;

        Lost(IOException cause) {
            super(cause.getMessage(), cause);
        }

        /**
         * Tells the loss on err, unless the reader of a pipe went away (as
         * `| head` does, having read enough): that ends the run quietly.
         * Answers the exit code.
         */
        int report(PrintStream err) {
            if (readerGone(getMessage())) {
                return EXIT_PIPE_CLOSED;
            }
            err.println("docprops: standard output: " + (getMessage() == null ? "write failed" : getMessage())
                    + "; the output is incomplete");
            return DocumentError.EXIT_FAILURE;
        }
    }

    GuardedOutput(OutputStream out) {
        super(out);
    }

    @Override
    public void write(int b) {
        try {
            out.write(b);
        } catch (IOException e) {
            throw new Lost(e);
        }
    }

    @Override
    public void write(byte[] b, int off, int len) {
        try {
            out.write(b, off, len);
        } catch (IOException e) {
            throw new Lost(e);
        }
    }

    @Override
    public void flush() {
        try {
            out.flush();
        } catch (IOException e) {
            throw new Lost(e);
        }
    }

    /**
     * Whether standard output is a pipe, named or not, or a socket: writes
     * to those fail only when the reader is gone. Where /proc does not tell,
     * the message does.
     */
    private static boolean readerGone(String message) {
        try {
            int kind = (Integer) Files.getAttribute(Paths.get("/proc/self/fd/1"), "unix:mode") & 0170000;
            return kind == 0010000 || kind == 0140000;
        } catch (IOException | UnsupportedOperationException | IllegalArgumentException | SecurityException e) {
            return message != null && message.toLowerCase(Locale.ROOT).contains("pipe");
        }
    }
}
