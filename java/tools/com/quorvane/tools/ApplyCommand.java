package com.quorvane.tools;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayDeque;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.ThreadFactory;

/**
 * docprops apply: changes read as JSON Lines, one document a line
 * ({"path":..., "set":{NAME: VALUE, ...}, "delete":[NAME, ...]}), applied
 * on -j threads, one JSON result a line in the input's order. A line that
 * is not such an object gets its own error object (with its line number)
 * and the run goes on. One run per object.
 */
final class ApplyCommand {
    /** One line's result: its JSON object, and its exit code (0 when it was applied). */
    private record Result(String json, int code) {
    }

    private final int jobs;
    private final PrintStream out;
    private final PrintStream err;
    private long changed, failed;
    private int failureCode;

    private ApplyCommand(int jobs, PrintStream out, PrintStream err) {
        this.jobs = jobs;
        this.out = out;
        this.err = err;
    }

    /** `apply [-j N] [FILE]` (standard input without FILE, or for "-"); answers the exit code. */
    static int run(List<String> args, PrintStream out, PrintStream err) throws DocumentError {
        int jobs = DocProps.defaultJobs();
        String input = null;
        for (int i = 0; i < args.size(); i++) {
            String arg = args.get(i);
            if (arg.startsWith("-j")) {
                jobs = DocProps.jobs(arg.length() > 2 ? arg.substring(2) : i + 1 < args.size() ? args.get(++i) : "");
            } else if (input == null && (arg.equals("-") || !arg.startsWith("-"))) {
                input = arg;
            } else {
                throw DocProps.usage("unexpected argument '" + arg + "'");
            }
        }
        InputStream in;
        try {
            in = input == null || input.equals("-") ? System.in : Files.newInputStream(Paths.get(input));
        } catch (NoSuchFileException e) {
            throw new DocumentError(DocumentError.EXIT_MISSING, input + ": no such file");
        } catch (IOException e) {
            throw new DocumentError(DocumentError.EXIT_FAILURE, input + ": " + e.getMessage());
        }
        try (BufferedReader lines = new BufferedReader(new InputStreamReader(in, StandardCharsets.UTF_8))) {
            return new ApplyCommand(jobs, out, err).run(lines);
        } catch (IOException e) {
            throw new DocumentError(DocumentError.EXIT_FAILURE, (input == null ? "standard input" : input) + ": "
                    + e.getMessage());
        }
    }

    private int run(BufferedReader lines) throws IOException {
        ExecutorService pool = Executors.newFixedThreadPool(jobs, new ThreadFactory() {
            @Override
            public Thread newThread(Runnable r) {
                Thread t = new Thread(r, "docprops-apply");
                t.setDaemon(true);
                return t;
            }
        });
        ArrayDeque<Future<Result>> waiting = new ArrayDeque<>();
        try {
            long number = 0;
            for (String line; (line = lines.readLine()) != null; ) {
                number++;
                if (line.isBlank()) {
                    continue;
                }
                waiting.add(pool.submit(new Line(number, line)));
                while (waiting.size() >= jobs * 4) {
                    tell(waiting.poll());
                }
            }
            while (!waiting.isEmpty()) {
                tell(waiting.poll());
            }
        } finally {
            pool.shutdownNow();
        }
        out.flush(); // a write that fails ends the run here, before the summary could call it done
        err.println("docprops: " + changed + " document" + (changed == 1 ? "" : "s") + " changed; " + failed
                + " failed");
        return failed == 0 ? 0 : failureCode;
    }

    private void tell(Future<Result> next) {
        Result r;
        try {
            r = next.get();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IllegalStateException("interrupted", e);
        } catch (ExecutionException e) {
            throw new IllegalStateException(e.getCause());
        }
        out.println(r.json);
        if (r.code == 0) {
            changed++;
        } else {
            failed++;
            failureCode = failed == 1 || failureCode == r.code ? r.code : DocumentError.EXIT_FAILURE;
        }
    }

    /** One line of the input, applied. */
    private static final class Line implements Callable<Result> {
        private final long number;
        private final String text;

        Line(long number, String text) {
            this.number = number;
            this.text = text;
        }

        @Override
        public Result call() {
            Path path = null;
            try {
                Object value = JsonReader.parse(text);
                if (!(value instanceof Map<?, ?> line)) {
                    throw new JsonReader.Malformed("not a JSON object");
                }
                Map<String, String> changes = new LinkedHashMap<>();
                for (Map.Entry<?, ?> member : line.entrySet()) {
                    switch ((String) member.getKey()) {
                        case "path" -> path = member.getValue() instanceof String p ? Paths.get(p) : null;
                        case "set" -> set(member.getValue(), changes);
                        case "delete" -> delete(member.getValue(), changes);
                        default -> throw new JsonReader.Malformed("an unknown member \"" + member.getKey() + "\"");
                    }
                }
                if (path == null) {
                    throw new JsonReader.Malformed("\"path\" must be a text");
                }
                if (changes.isEmpty()) {
                    throw new JsonReader.Malformed("nothing to change: give \"set\" or \"delete\"");
                }
                DocumentError.requireFile(path);
                String json = new String(new ChangeCommand(changes, true).apply(path).text(), StandardCharsets.UTF_8);
                return new Result(json.strip(), 0);
            } catch (JsonReader.Malformed | java.nio.file.InvalidPathException e) {
                Json j = new Json().open().name("schema").value(ReadCommand.SCHEMA).name("line").value(number);
                j.name("error").open().name("code").value((long) DocumentError.EXIT_USAGE).name("hresult").nul()
                        .name("message").value("line " + number + ": " + e.getMessage()).close();
                return new Result(j.close().toString(), DocumentError.EXIT_USAGE);
            } catch (DocumentError error) {
                DocumentError e = error.unreadable() ? Diagnosis.explain(path, error, null) : error;
                return new Result(ReadCommand.failure(path, e), e.exitCode);
            } catch (RuntimeException e) { // one document's fault ends only its own line
                DocumentError f = new DocumentError(DocumentError.EXIT_FAILURE, path + ": the change failed: " + e);
                return new Result(ReadCommand.failure(path, f), f.exitCode);
            }
        }

        private static void set(Object set, Map<String, String> changes) throws JsonReader.Malformed {
            if (!(set instanceof Map<?, ?> values)) {
                throw new JsonReader.Malformed("\"set\" must be an object of names and texts");
            }
            for (Map.Entry<?, ?> value : values.entrySet()) {
                if (!(value.getValue() instanceof String text) || ((String) value.getKey()).isEmpty()) {
                    throw new JsonReader.Malformed("\"set\" takes names and texts: " + value.getKey()
                            + " is not text");
                }
                if (text.equals(ChangeCommand.DELETE_MARKER)) {
                    throw new JsonReader.Malformed("the value " + text + " deletes; use \"delete\"");
                }
                changes.put((String) value.getKey(), text);
            }
        }

        private static void delete(Object delete, Map<String, String> changes) throws JsonReader.Malformed {
            if (!(delete instanceof List<?> names)) {
                throw new JsonReader.Malformed("\"delete\" must be an array of names");
            }
            for (Object name : names) {
                if (!(name instanceof String n) || n.isEmpty() || changes.containsKey(n)) {
                    throw new JsonReader.Malformed("\"delete\" takes names not set on the same line: " + name);
                }
                changes.put(n, ChangeCommand.DELETE_MARKER);
            }
        }
    }
}
