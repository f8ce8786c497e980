import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.Properties;

/**
 * Large user-defined sets through the compound-document methods: for 1,000,
 * 2,000 and 4,000 text properties, the first bulk write, a write of the whole
 * set with one value changed (what the client does on save), a write of the
 * changed property alone, and a read of the set. Medians of runs after a
 * warm-up, in one JVM.
 *
 * usage: UserPropsBench FIXTURE_DOC WORK_DIR [SIZES...]
 */
public final class UserPropsBench {
    private static final long WARM_UP_NANOS = 500_000_000L;
    private static final long MEASURE_NANOS = 2_000_000_000L;
    private static final int MIN_RUNS = 5;

    private interface Op {
        void run(int i) throws Exception;
    }

    public static void main(String[] args) throws Exception {
        Path fixture = Path.of(args[0]);
        Path work = Path.of(args[1]);
        int[] sizes = args.length > 2 ? Arrays.stream(args, 2, args.length).mapToInt(Integer::parseInt).toArray()
                : new int[] {1000, 2000, 4000};
        System.out.printf("%-6s %-44s %12s %8s%n", "props", "operation", "median ms", "runs");
        for (int n : sizes) {
            Path doc = work.resolve("props-" + n + ".doc");
            String name = doc.toString();
            Properties all = set(n);
            double[] bulk = new double[3];
            for (int k = 0; k < bulk.length; k++) {
                Files.copy(fixture, doc, java.nio.file.StandardCopyOption.REPLACE_EXISTING);
                long start = System.nanoTime();
                check(Win32Impl.setCompoundDocumentUserProperties(name, copy(all)));
                bulk[k] = (System.nanoTime() - start) / 1e6;
            }
            Arrays.sort(bulk);
            System.out.printf("%-6d %-44s %12.2f %8d%n", n, "first bulk write (fresh copy)", bulk[1], bulk.length);
            measure(n, "setCompoundDocumentUserProperties, one changed", i -> {
                Properties p = copy(all);
                p.setProperty("Field" + (i % n), "changed " + i);
                check(Win32Impl.setCompoundDocumentUserProperties(name, p));
            });
            measure(n, "setCompoundDocumentUserProperties, changed only", i -> {
                Properties p = new Properties();
                p.setProperty("Field" + (i % n), "again " + i);
                check(Win32Impl.setCompoundDocumentUserProperties(name, p));
            });
            measure(n, "getCompoundDocumentUserProperties", i -> {
                Properties p = new Properties();
                check(Win32Impl.getCompoundDocumentUserProperties(name, p, false));
                if (p.size() < n) {
                    throw new IllegalStateException("read " + p.size() + " of " + n);
                }
            });
            Files.delete(doc);
        }
    }

    private static Properties set(int n) {
        Properties p = new Properties();
        for (int i = 0; i < n; i++) {
            p.setProperty("Field" + i, "value number " + i);
        }
        return p;
    }

    private static Properties copy(Properties source) {
        Properties p = new Properties();
        p.putAll(source);
        return p;
    }

    private static void check(int hr) {
        if (hr != 0) {
            throw new IllegalStateException(String.format("native result 0x%08X", hr));
        }
    }

    /** Median in milliseconds of runs after a warm-up; prints a row. */
    private static void measure(int n, String what, Op op) throws Exception {
        int i = 0;
        for (long end = System.nanoTime() + WARM_UP_NANOS; System.nanoTime() < end || i < 2; i++) {
            op.run(i);
        }
        long[] times = new long[1 << 14];
        int runs = 0;
        for (long end = System.nanoTime() + MEASURE_NANOS; (System.nanoTime() < end || runs < MIN_RUNS)
                && runs < times.length; runs++) {
            long start = System.nanoTime();
            op.run(i++);
            times[runs] = System.nanoTime() - start;
        }
        long[] sorted = Arrays.copyOf(times, runs);
        Arrays.sort(sorted);
        System.out.printf("%-6d %-44s %12.2f %8d%n", n, what, sorted[runs / 2] / 1e6, runs);
    }
}
