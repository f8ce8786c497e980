import com.quorvane.infrastructure.os.windows.Win32Exception;
import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.lang.management.ManagementFactory;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicLong;

/**
 * encryptUserWin32 + decryptUserWin32 of a 64-byte secret through JNI, pairs
 * per second on one thread and on eight, after a first call that makes or
 * finds the key. The store is the environment's: run-protect-bench.sh runs
 * it headless (the key file) and in a session with a keyring.
 *
 * usage: ProtectBench [SECONDS]
 */
public final class ProtectBench {
    public static void main(String[] args) throws Exception {
        double seconds = args.length > 0 ? Double.parseDouble(args[0]) : 3;
        byte[] secret = new byte[64];
        Arrays.fill(secret, (byte) 7);
        long first = System.nanoTime();
        pair(secret);
        System.out.printf("  first pair: %.1f ms%n", (System.nanoTime() - first) / 1e6);
        for (int threads : new int[] {1, 8}) {
            run(threads, seconds / 3, secret); // warm-up
            long cpu = cpuNanos();
            double[] pairs = run(threads, seconds, secret);
            System.out.printf("  %d thread%s: %,.0f pairs/s, %,.0f per CPU-second%n", threads,
                    threads == 1 ? "" : "s", pairs[0] / pairs[1], pairs[0] / ((cpuNanos() - cpu) / 1e9));
        }
    }

    static void pair(byte[] secret) {
        try {
            if (Win32Impl.decryptUserWin32(Win32Impl.encryptUserWin32(secret.clone())).length != secret.length) {
                throw new IllegalStateException("protection failed");
            }
        } catch (Win32Exception e) {
            throw new IllegalStateException(e);
        }
    }

    /** The process's CPU time: on a shared machine, wall-clock rates say as much about the neighbours. */
    static long cpuNanos() {
        return ((com.sun.management.OperatingSystemMXBean) ManagementFactory.getOperatingSystemMXBean())
                .getProcessCpuTime();
    }

    /** Pairs done and the seconds they took. */
    static double[] run(int threads, double seconds, byte[] secret) throws Exception {
        AtomicBoolean stop = new AtomicBoolean();
        AtomicLong pairs = new AtomicLong();
        List<Thread> running = new ArrayList<>();
        for (int i = 0; i < threads; i++) {
            Thread thread = new Thread(() -> {
                long done = 0;
                while (!stop.get()) {
                    pair(secret);
                    done++;
                }
                pairs.addAndGet(done);
            });
            running.add(thread);
        }
        long start = System.nanoTime();
        running.forEach(Thread::start);
        Thread.sleep((long) (seconds * 1000));
        stop.set(true);
        for (Thread thread : running) {
            thread.join();
        }
        return new double[] {pairs.get(), (System.nanoTime() - start) / 1e9};
    }
}
