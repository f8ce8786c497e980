package com.quorvane.tools;

import java.io.PrintStream;
import java.nio.file.Path;
import java.util.ArrayDeque;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.ThreadFactory;

/**
 * Runs one read command over every file the arguments name, on `jobs`
 * threads of this JVM. Results are told in the order the walk found the
 * files; at most a few per thread wait to be told, so memory stays bounded
 * whatever the number of files. Ends with a summary on standard error and
 * answers the exit code. One run per object.
 */
final class Batch {
    /** What the run does to each document; applied on any number of threads at once. */
    interface Task {
        ReadCommand.Outcome apply(Path file) throws DocumentError;

        boolean json();

        /** Whether text outcomes are set apart by a blank line (outcomes of several lines). */
        boolean separated();

        /** The summary's words for the documents done, from the counts of those with each mark. */
        String done(long documents, long tracked, long stragglers, long recorded);

        /** Why a file a folder's walk found is passed over without being tried, or null to try it. */
        default String passOver(Path file) {
            return null;
        }
    }

    /** What became of one path: a document's outcome, or why it was not read; offered: a file the walk offered. */
    private record Result(Path path, ReadCommand.Outcome outcome, String skipped, DocumentError error,
            boolean offered) {
        Result(Path path, ReadCommand.Outcome outcome, String skipped, DocumentError error) {
            this(path, outcome, skipped, error, true);
        }
    }

    private final Task command;
    private final int jobs;
    private final PrintStream out;
    private final PrintStream err;
    private final Progress progress;

    private long read, tracked, stragglers, recorded, skipped, failed;
    private int failureCode;
    private boolean first = true;

    Batch(Task command, int jobs, PrintStream out, PrintStream err, Progress progress) {
        this.command = command;
        this.jobs = jobs;
        this.out = out;
        this.err = err;
        this.progress = progress;
    }

    /** Reads what the arguments name; the summary is told when summarize is true. Answers the exit code. */
    int run(List<Path> arguments, boolean recurse, boolean summarize) {
        if (progress != null) {
            progress.start(Walk.count(arguments, recurse));
        }
        // Classes, not lambdas, here and below: the first lambda of a run
        // costs milliseconds of method-handle set-up before any document is read.
        ExecutorService pool = Executors.newFixedThreadPool(jobs, new ThreadFactory() {
            @Override
            public Thread newThread(Runnable r) {
                Thread t = new Thread(r, "docprops-reader");
                t.setDaemon(true);
                return t;
            }
        });
        ArrayDeque<Future<Result[]>> waiting = new ArrayDeque<>();
        int window = jobs * 4;
        try {
            final class Submitter implements Walk.Visitor {
                private Chunk chunk;
                private long offered;

                @Override
                public void file(Path path, boolean named) {
                    if (chunk == null) {
                        // One file a task at first, so that a few files spread over the threads; later more,
                        // so that a share's thousands do not each pay for a hand-over between threads.
                        chunk = new Chunk((int) Math.min(MAX_CHUNK, 1 + offered / window));
                    }
                    offered++;
                    if (chunk.add(path, named)) {
                        flush();
                    }
                }

                @Override
                public void skipped(Path path, String reason) {
                    flush();
                    queue(CompletableFuture.completedFuture(
                            new Result[] {new Result(path, null, reason, null, false)}));
                }

                @Override
                public void failed(Path path, DocumentError error) {
                    flush();
                    queue(CompletableFuture.completedFuture(new Result[] {new Result(path, null, null, error, false)}));
                }

                void flush() {
                    if (chunk != null) {
                        queue(pool.submit(chunk));
                        chunk = null;
                    }
                }

                /** Keeps the results in walk order, told as soon as the window is full. */
                private void queue(Future<Result[]> results) {
                    waiting.add(results);
                    while (waiting.size() >= window) {
                        tell(waiting.poll());
                    }
                }
            }
            Submitter submitter = new Submitter();
            Walk.walk(arguments, recurse, submitter);
            submitter.flush();
            while (!waiting.isEmpty()) {
                tell(waiting.poll());
            }
        } finally { // also when a lost output ends the run: its message then starts a line of its own
            pool.shutdownNow();
            if (progress != null) {
                progress.end();
            }
        }
        out.flush(); // a write that fails ends the run here, before the summary could call it done
        if (summarize) {
            err.println("docprops: " + command.done(read, tracked, stragglers, recorded) + "; " + skipped
                    + " skipped, " + failed + " failed");
        }
        return failed == 0 ? 0 : failureCode;
    }

    private static final int MAX_CHUNK = 16;

    /** Files the walk found, read in walk order on one thread. */
    private final class Chunk implements Callable<Result[]> {
        private final Path[] paths;
        private final boolean[] named;
        private int size;

        Chunk(int capacity) {
            paths = new Path[capacity];
            named = new boolean[capacity];
        }

        /** Adds a file; true when the chunk is full. */
        boolean add(Path path, boolean isNamed) {
            paths[size] = path;
            named[size++] = isNamed;
            return size == paths.length;
        }

        @Override
        public Result[] call() {
            Result[] results = new Result[size];
            for (int i = 0; i < size; i++) {
                results[i] = readOne(paths[i], named[i]);
            }
            return results;
        }
    }

    private Result readOne(Path path, boolean named) {
        if (!Walk.nameable(path)) {
            return new Result(path, null, null, new DocumentError(DocumentError.EXIT_FAILURE,
                    path + ": the file name is not valid text in this locale's encoding"));
        }
        String passed = named ? null : command.passOver(path);
        if (passed != null) {
            return new Result(path, null, passed, null);
        }
        try {
            if (named) { // a walked file was found regular; one gone since is told by the library
                DocumentError.requireFile(path);
            }
            return new Result(path, command.apply(path), null, null);
        } catch (DocumentError error) {
            DocumentError e = error.unreadable() ? Diagnosis.explain(path, error, null) : error;
            // What a folder holds besides documents, or lost meanwhile, is passed over; a named file must be read.
            if (!named && e.skip != null) {
                return new Result(path, null, e.skip, null);
            }
            if (!named && e.exitCode == DocumentError.EXIT_MISSING) {
                return new Result(path, null, "removed during the walk", null);
            }
            return new Result(path, null, null, e);
        } catch (RuntimeException e) { // one document's fault ends only its own read
            return new Result(path, null, null,
                    new DocumentError(DocumentError.EXIT_FAILURE, path + ": the read failed: " + e));
        }
    }

    private void tell(Future<Result[]> next) {
        Result[] results;
        try {
            results = next.get();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IllegalStateException("interrupted", e);
        } catch (ExecutionException e) {
            throw new IllegalStateException(e.getCause());
        }
        for (Result r : results) {
            tell(r);
        }
    }

    private void tell(Result r) {
        if (progress != null) {
            progress.clear(r.outcome == null && !command.json());
        }
        if (r.outcome != null) {
            ReadCommand.Outcome o = r.outcome;
            read++;
            tracked += o.tracked() ? 1 : 0;
            stragglers += o.straggler() ? 1 : 0;
            recorded += o.recorded() ? 1 : 0;
            if (o.exitCode() != 0) {
                fail(o.exitCode());
            }
            if (o.error() != null && !command.json()) {
                err.println("docprops: " + o.error());
            }
            if (!command.json() && !first && command.separated()) {
                out.println();
            }
            out.write(o.text(), 0, o.text().length);
            first = false;
        } else if (r.skipped != null) {
            skipped++;
            if (command.json()) {
                out.println(ReadCommand.skipped(r.path, r.skipped));
            } else {
                err.println("docprops: " + r.path + ": skipped: " + r.skipped);
            }
        } else {
            fail(r.error.exitCode);
            if (command.json()) {
                out.println(ReadCommand.failure(r.path, r.error));
            } else {
                err.println("docprops: " + r.error.getMessage());
            }
        }
        if (progress != null && r.offered) {
            progress.done();
        }
    }

    /** Failures of one kind end with their code; of several kinds, with 1. */
    private void fail(int code) {
        failed++;
        failureCode = failed == 1 || failureCode == code ? code : DocumentError.EXIT_FAILURE;
    }
}
