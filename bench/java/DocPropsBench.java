import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.Arrays;
import java.util.Map;
import java.util.Properties;
import org.apache.poi.hpsf.CustomProperties;
import org.apache.poi.hpsf.DocumentSummaryInformation;
import org.apache.poi.hpsf.PropertySetFactory;
import org.apache.poi.poifs.filesystem.DirectoryEntry;
import org.apache.poi.poifs.filesystem.POIFSFileSystem;

/**
 * The compound-document methods against Apache POI in one JVM, steady state:
 * reading the user-defined properties of a 1 MB and a 200 MB .doc, and
 * writing one of them (POI: read, modify, write back in place). The big
 * documents are a Word fixture with a filler stream added by POI, then the
 * same custom properties written by the library.
 *
 * With --user-sets, instead: documents with 500, 1,000, 2,000 and 4,000 (or
 * the given numbers of) user-defined text properties; the first bulk write, a
 * write of the whole set with one value changed (what the client does on
 * save), a write of the changed property alone, and a read of the set. The
 * machine's load (/proc/loadavg) is printed before and after: the figures of
 * a loaded machine are not comparable.
 *
 * With --cached-read, instead: the read of a document left unchanged (served
 * from what the library kept) of 50 KB against 200 MB, and of 1 MB against
 * POI's read of it, each pair taken in turns so that a machine whose speed
 * drifts slows both alike. Wall and thread CPU time per read.
 *
 * usage: DocPropsBench FIXTURE_DOC WORK_DIR [--user-sets [SIZES...] | --cached-read]
 */
public final class DocPropsBench {
    private static final long WARM_UP_NANOS = 1_000_000_000L;
    private static final long MEASURE_NANOS = 3_000_000_000L;
    private static final int MIN_RUNS = 5;
    /** Longer than the library waits before it trusts a file's change time. */
    private static final long SETTLE_MILLIS = 5_000L;

    private interface Op {
        void run(int i) throws Exception;
    }

    public static void main(String[] args) throws Exception {
        Path fixture = Path.of(args[0]);
        Path work = Path.of(args[1]);
        if (args.length > 2 && args[2].equals("--user-sets")) {
            int[] sizes = args.length > 3 ? Arrays.stream(args, 3, args.length).mapToInt(Integer::parseInt).toArray()
                    : new int[] {500, 1000, 2000, 4000};
            userSets(fixture, work, sizes);
            return;
        }
        if (args.length > 2 && args[2].equals("--cached-read")) {
            cachedRead(fixture, work);
            return;
        }
        System.out.printf("%-8s %-34s %12s %12s %8s %12s%n", "document", "operation", "median us", "mean us", "runs",
                "cpu med us");
        // Let the JIT settle on every path before the first figure counts.
        Path warm = work.resolve("warm-up.doc");
        Files.copy(fixture, warm);
        Properties sample = new Properties();
        sample.setProperty("Client", "warm-up");
        check(Win32Impl.setCompoundDocumentUserProperties(warm.toString(), sample));
        for (long end = System.nanoTime() + 3 * WARM_UP_NANOS; System.nanoTime() < end;) {
            check(Win32Impl.getCompoundDocumentUserProperties(warm.toString(), new Properties(), false));
            check(Win32Impl.getCompoundDocumentUserProperties(warm.toString(), new Properties(), true));
            poiRead(warm);
        }
        for (long size : new long[] {1L << 20, 200L << 20}) {
            Path doc = makeDocument(fixture, work, size);
            String label = size >= (1L << 30) ? (size >> 30) + " GB" : (size >> 20) + " MB";
            String name = doc.toString();
            // A document written in the last seconds is read from disk each time;
            // one left unchanged for longer is served from what the library kept.
            Properties touch = new Properties();
            touch.setProperty("Touched", "1");
            check(Win32Impl.setCompoundDocumentUserProperties(name, touch));
            double freshRead = measure(label, "getCompoundDocumentUserProperties", WARM_UP_NANOS / 4,
                    MEASURE_NANOS / 2, "(just written)",
                    i -> check(Win32Impl.getCompoundDocumentUserProperties(name, new Properties(), false)));
            Thread.sleep(SETTLE_MILLIS);
            double nativeRead = measure(label, "getCompoundDocumentUserProperties",
                    i -> check(Win32Impl.getCompoundDocumentUserProperties(name, new Properties(), false)));
            measure(label, "  ... with checkTripwire",
                    i -> check(Win32Impl.getCompoundDocumentUserProperties(name, new Properties(), true)));
            double poiRead = measure(label, "POI read custom properties", i -> poiRead(doc));
            double nativeWrite = measure(label, "setCompoundDocumentUserProperties", i -> {
                Properties p = new Properties();
                p.setProperty("Counter", Integer.toString(i));
                check(Win32Impl.setCompoundDocumentUserProperties(name, p));
            });
            double poiWrite = measure(label, "POI read-modify-write", i -> poiWrite(doc, i));
            System.out.printf("%-8s read: %.0fx POI (just written: %.0fx), write: %.0fx POI (file %d bytes)%n", label,
                    poiRead / nativeRead, poiRead / freshRead, poiWrite / nativeWrite, Files.size(doc));
            Files.delete(doc);
        }
    }

    private static void userSets(Path fixture, Path work, int[] sizes) throws Exception {
        System.out.println("load average: " + Files.readString(Path.of("/proc/loadavg")).trim());
        System.out.printf("%-8s %-34s %12s %12s %8s %12s %s%n", "set", "operation", "median us", "mean us", "runs",
                "cpu med us", "best us");
        for (int n : sizes) {
            Path doc = work.resolve("props-" + n + ".doc");
            String name = doc.toString();
            String label = n + " p";
            Properties all = new Properties();
            for (int i = 0; i < n; i++) {
                all.setProperty("Field" + i, "value number " + i);
            }
            measure(label, "first bulk write (fresh copy)", 0, 0, "", i -> {
                Files.copy(fixture, doc, StandardCopyOption.REPLACE_EXISTING);
                check(Win32Impl.setCompoundDocumentUserProperties(name, copy(all)));
            });
            measure(label, "set: whole set, one changed", WARM_UP_NANOS, MEASURE_NANOS, BEST, i -> {
                Properties p = copy(all);
                p.setProperty("Field" + (i % n), "changed " + i);
                check(Win32Impl.setCompoundDocumentUserProperties(name, p));
            });
            measure(label, "set: the changed one only", i -> {
                Properties p = new Properties();
                p.setProperty("Field" + (i % n), "again " + i);
                check(Win32Impl.setCompoundDocumentUserProperties(name, p));
            });
            measure(label, "getCompoundDocumentUserProperties", i -> {
                Properties p = new Properties();
                check(Win32Impl.getCompoundDocumentUserProperties(name, p, false));
                if (p.size() < n) {
                    throw new IllegalStateException("read " + p.size() + " of " + n);
                }
            });
            Files.delete(doc);
        }
        System.out.println("load average: " + Files.readString(Path.of("/proc/loadavg")).trim());
    }

    /** Reads of a kept document timed in blocks: one read is too short for the clock and for the CPU clock. */
    private static final int BLOCK = 200;

    private static void cachedRead(Path fixture, Path work) throws Exception {
        System.out.println("load average: " + Files.readString(Path.of("/proc/loadavg")).trim());
        Path small = makeDocument(fixture, work, 50L << 10);
        Path large = makeDocument(fixture, work, 200L << 20);
        Path medium = makeDocument(fixture, work, 1L << 20);
        Thread.sleep(SETTLE_MILLIS);
        Op smallRead = i -> readUser(small);
        Op largeRead = i -> readUser(large);
        Op mediumRead = i -> readUser(medium);
        for (long end = System.nanoTime() + 3 * WARM_UP_NANOS; System.nanoTime() < end;) {
            for (Op op : new Op[] {smallRead, largeRead, mediumRead}) {
                op.run(0);
            }
            poiRead(medium);
        }
        System.out.printf("%-34s %10s %10s %10s %10s%n", "read (us per read)", "wall med", "wall best", "cpu med",
                "blocks");
        double[][] pair = inTurns(new String[] {"50 KB, kept", "200 MB, kept"}, new Op[] {smallRead, largeRead},
                new int[] {BLOCK, BLOCK});
        double sizeRatio = pair[1][0] / pair[0][0];
        double[][] poi = inTurns(new String[] {"1 MB, kept", "1 MB, POI"}, new Op[] {mediumRead, i -> poiRead(medium)},
                new int[] {BLOCK, 4});
        double poiRatio = poi[1][0] / poi[0][0];
        System.out.printf("200 MB / 50 KB: %.2f wall, %.2f CPU (goal at most 1.2): %s%n", sizeRatio,
                pair[1][2] / pair[0][2], sizeRatio <= 1.2 ? "met" : "missed");
        System.out.printf("POI / library on 1 MB: %.0fx wall, %.0fx CPU (goal at least 100x): %s%n", poiRatio,
                poi[1][2] / poi[0][2], poiRatio >= 100 ? "met" : "missed");
        System.out.println("load average: " + Files.readString(Path.of("/proc/loadavg")).trim());
        for (Path doc : new Path[] {small, large, medium}) {
            Files.delete(doc);
        }
    }

    private static void readUser(Path doc) {
        Properties p = new Properties();
        check(Win32Impl.getCompoundDocumentUserProperties(doc.toString(), p, false));
        if (p.size() != 10) {
            throw new IllegalStateException("read " + p.size() + " of 10");
        }
    }

    /**
     * Blocks of each op in turn for MEASURE_NANOS; per op the median and best wall time of a read and the median
     * thread CPU time of one, in microseconds (then printed).
     */
    private static double[][] inTurns(String[] names, Op[] ops, int[] perBlock) throws Exception {
        java.lang.management.ThreadMXBean cpu = java.lang.management.ManagementFactory.getThreadMXBean();
        int max = 1 << 14;
        double[][] wall = new double[ops.length][max];
        double[][] used = new double[ops.length][max];
        int blocks = 0;
        for (long end = System.nanoTime() + 2 * MEASURE_NANOS; (System.nanoTime() < end || blocks < MIN_RUNS)
                && blocks < max; blocks++) {
            for (int k = 0; k < ops.length; k++) {
                long cpuStart = cpu.getCurrentThreadCpuTime();
                long start = System.nanoTime();
                for (int i = 0; i < perBlock[k]; i++) {
                    ops[k].run(i);
                }
                wall[k][blocks] = (System.nanoTime() - start) / 1000.0 / perBlock[k];
                used[k][blocks] = (cpu.getCurrentThreadCpuTime() - cpuStart) / 1000.0 / perBlock[k];
            }
        }
        double[][] result = new double[ops.length][];
        for (int k = 0; k < ops.length; k++) {
            double[] w = Arrays.copyOf(wall[k], blocks);
            double[] c = Arrays.copyOf(used[k], blocks);
            Arrays.sort(w);
            Arrays.sort(c);
            result[k] = new double[] {w[blocks / 2], w[0], c[blocks / 2]};
            System.out.printf("%-34s %10.2f %10.2f %10.2f %10d%n", names[k], result[k][0], result[k][1], result[k][2],
                    blocks);
        }
        return result;
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

    /** As a note: the row's best run. */
    private static final String BEST = "best";

    private static double measure(String doc, String what, Op op) throws Exception {
        return measure(doc, what, WARM_UP_NANOS, MEASURE_NANOS, "", op);
    }

    /** Median in microseconds of runs after a warm-up; prints a row. */
    private static double measure(String doc, String what, long warmUpNanos, long measureNanos, String note, Op op)
            throws Exception {
        int i = 0;
        for (long end = System.nanoTime() + warmUpNanos; System.nanoTime() < end || i < 2; i++) {
            op.run(i);
        }
        long[] times = new long[1 << 16];
        long[] cpuTimes = new long[times.length];
        java.lang.management.ThreadMXBean cpu = java.lang.management.ManagementFactory.getThreadMXBean();
        int runs = 0;
        for (long end = System.nanoTime() + measureNanos; (System.nanoTime() < end || runs < MIN_RUNS)
                && runs < times.length; runs++) {
            long cpuStart = cpu.getCurrentThreadCpuTime();
            long start = System.nanoTime();
            op.run(i++);
            times[runs] = System.nanoTime() - start;
            cpuTimes[runs] = cpu.getCurrentThreadCpuTime() - cpuStart;
        }
        long[] sorted = Arrays.copyOf(times, runs);
        Arrays.sort(sorted);
        long[] sortedCpu = Arrays.copyOf(cpuTimes, runs);
        Arrays.sort(sortedCpu);
        double median = sorted[runs / 2] / 1000.0;
        double mean = Arrays.stream(sorted).average().orElse(0) / 1000.0;
        String shown = note == BEST ? String.format("%.1f", sorted[0] / 1000.0) : note;
        // The thread's CPU time tells apart a slower step from a busier machine.
        System.out.printf("%-8s %-34s %12.1f %12.1f %8d %12.1f %s%n", doc, what, median, mean, runs,
                sortedCpu[runs / 2] / 1000.0, shown);
        return median;
    }

    private static Map<String, Object> poiRead(Path doc) throws IOException, Exception {
        try (POIFSFileSystem fs = new POIFSFileSystem(doc.toFile(), true)) {
            DocumentSummaryInformation dsi = (DocumentSummaryInformation) PropertySetFactory.create(fs.getRoot(),
                    DocumentSummaryInformation.DEFAULT_STREAM_NAME);
            CustomProperties custom = dsi.getCustomProperties();
            if (custom == null || custom.get("Client") == null) {
                throw new IllegalStateException("POI found no custom properties");
            }
            return custom;
        }
    }

    private static void poiWrite(Path doc, int i) throws Exception {
        try (POIFSFileSystem fs = new POIFSFileSystem(doc.toFile(), false)) {
            DirectoryEntry root = fs.getRoot();
            DocumentSummaryInformation dsi = (DocumentSummaryInformation) PropertySetFactory.create(root,
                    DocumentSummaryInformation.DEFAULT_STREAM_NAME);
            CustomProperties custom = dsi.getCustomProperties();
            custom.put("Counter", Integer.toString(i));
            dsi.setCustomProperties(custom);
            dsi.write(root, DocumentSummaryInformation.DEFAULT_STREAM_NAME);
            fs.writeFilesystem();
        }
    }

    /**
     * The fixture grown to about `size` bytes by a filler stream, with ten custom properties written after it, so
     * that the property sets lie past the filler in the file.
     */
    private static Path makeDocument(Path fixture, Path work, long size) throws Exception {
        Path doc = work.resolve("bench-" + (size >> 10) + "kb.doc");
        try (InputStream in = Files.newInputStream(fixture); POIFSFileSystem fs = new POIFSFileSystem(in);
                FileOutputStream out = new FileOutputStream(doc.toFile())) {
            fs.getRoot().createDocument("Filler", new FillerStream(size - Files.size(fixture)));
            fs.writeFilesystem(out);
        }
        Properties p = new Properties();
        p.setProperty("Client", "Müller & Söhne GmbH");
        for (int i = 0; i < 9; i++) {
            p.setProperty("Field" + i, "value " + i);
        }
        check(Win32Impl.setCompoundDocumentUserProperties(doc.toString(), p));
        return doc;
    }

    /** `left` bytes of a repeating pattern, without holding them in memory. */
    private static final class FillerStream extends InputStream {
        private long left;

        FillerStream(long left) {
            this.left = Math.max(0, left);
        }

        @Override
        public int read() {
            return left-- > 0 ? (int) (left & 0x7F) : -1;
        }

        @Override
        public int read(byte[] b, int off, int len) {
            if (left <= 0) {
                return -1;
            }
            int n = (int) Math.min(len, left);
            for (int k = 0; k < n; k++) {
                b[off + k] = (byte) ((left - k) & 0x7F);
            }
            left -= n;
            return n;
        }
    }
}
