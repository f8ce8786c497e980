package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import org.junit.jupiter.api.Test;

class KernelMethodsTest {
    static final int WAIT_OBJECT_0 = 0;
    static final int WAIT_TIMEOUT = 0x102;
    static final int WAIT_FAILED = -1;
    static final int INFINITE = -1;
    static final int SYNCHRONIZE = 0x00100000;
    static final int EVENT_ALL_ACCESS = 0x001F0003;

    static String uniqueName(String what) {
        return "qv-junit-" + ProcessHandle.current().pid() + "-" + System.nanoTime() + "-" + what;
    }

    static BufferedReader output(Process p) {
        return new BufferedReader(new InputStreamReader(p.getInputStream(), StandardCharsets.UTF_8));
    }

    /** Threads that wait on one handle and count their successes. */
    static Thread[] waiters(int handle, int count, AtomicInteger woken) {
        Thread[] threads = new Thread[count];
        for (int i = 0; i < count; i++) {
            threads[i] = new Thread(() -> {
                if (Win32Impl.WaitForSingleObject(handle, 10_000) == WAIT_OBJECT_0) {
                    woken.incrementAndGet();
                }
            });
            threads[i].start();
        }
        return threads;
    }

    static void settle() throws InterruptedException {
        Thread.sleep(300);
    }

    @Test
    void unnamedEventsFollowTheirResetModeAndInitialState() {
        int manual = Win32Impl.CreateEvent(0, true, true, null);
        int auto = Win32Impl.CreateEvent(0, false, false, null);
        assertNotEquals(0, manual);
        assertNotEquals(0, auto);
        assertNotEquals(manual, auto);
        assertEquals(WAIT_OBJECT_0, Win32Impl.WaitForSingleObject(manual, 0));
        assertEquals(WAIT_OBJECT_0, Win32Impl.WaitForSingleObject(manual, 0));
        assertNotEquals(0, Win32Impl.ResetEvent(manual));
        assertEquals(WAIT_TIMEOUT, Win32Impl.WaitForSingleObject(manual, 0));

        assertEquals(WAIT_TIMEOUT, Win32Impl.WaitForSingleObject(auto, 0));
        assertNotEquals(0, Win32Impl.SetEvent(auto));
        assertEquals(WAIT_OBJECT_0, Win32Impl.WaitForSingleObject(auto, INFINITE));
        assertEquals(WAIT_TIMEOUT, Win32Impl.WaitForSingleObject(auto, 0));

        assertNotEquals(0, Win32Impl.CloseHandle(manual));
        assertNotEquals(0, Win32Impl.CloseHandle(auto));
        assertEquals(0, Win32Impl.CloseHandle(auto));
        assertEquals(0, Win32Impl.SetEvent(auto));
        assertEquals(0, Win32Impl.ResetEvent(auto));
        for (int invalid : new int[] {auto, 0, 3, 0x7FFFFFFF}) {
            assertEquals(WAIT_FAILED, Win32Impl.WaitForSingleObject(invalid, 0), "handle " + invalid);
        }
    }

    @Test
    void waitsTimeOutAfterTheirTimeAndTheProcessIsNeverSignalled() {
        int event = Win32Impl.CreateEvent(0, false, false, null);
        long start = System.nanoTime();
        assertEquals(WAIT_TIMEOUT, Win32Impl.WaitForSingleObject(event, 200));
        long elapsedMs = (System.nanoTime() - start) / 1_000_000;
        assertTrue(elapsedMs >= 200 && elapsedMs < 5000, "waited " + elapsedMs + " ms");
        start = System.nanoTime();
        assertEquals(WAIT_TIMEOUT, Win32Impl.WaitForSingleObject(Win32Impl.GetCurrentProcess(), 150));
        assertTrue((System.nanoTime() - start) / 1_000_000 >= 150);
        Win32Impl.CloseHandle(event);
    }

    @Test
    void aManualResetEventReleasesEveryWaiterEvenWhenResetAtOnce() throws Exception {
        int event = Win32Impl.CreateEvent(0, true, false, null);
        AtomicInteger woken = new AtomicInteger();
        Thread[] threads = waiters(event, 3, woken);
        settle();
        Win32Impl.SetEvent(event);
        Win32Impl.ResetEvent(event);
        for (Thread t : threads) {
            t.join(10_000);
        }
        assertEquals(3, woken.get());
        assertEquals(WAIT_TIMEOUT, Win32Impl.WaitForSingleObject(event, 0));
        Win32Impl.CloseHandle(event);
    }

    @Test
    void awkwardAndLongNamesStayDistinctAndOverlongNamesAreRefused() {
        String base = uniqueName("a/b%c..\u00e9\ud83d\ude00");
        int a = Win32Impl.CreateEvent(0, true, true, base + "x".repeat(200) + "A");
        int b = Win32Impl.CreateEvent(0, true, false, base + "x".repeat(200) + "B");
        int c = Win32Impl.CreateEvent(0, true, false, base);
        assertEquals(WAIT_OBJECT_0, Win32Impl.WaitForSingleObject(a, 0));
        assertEquals(WAIT_TIMEOUT, Win32Impl.WaitForSingleObject(b, 0));
        assertEquals(WAIT_TIMEOUT, Win32Impl.WaitForSingleObject(c, 0));
        assertEquals(0, Win32Impl.CreateEvent(0, true, false, "n".repeat(261)));
        for (int h : new int[] {a, b, c}) {
            assertNotEquals(0, Win32Impl.CloseHandle(h));
        }
    }

    @Test
    void namesReachTheSameEventAndMissingNamesOpenNothing() {
        String name = uniqueName("same");
        assertEquals(0, Win32Impl.OpenEvent(SYNCHRONIZE, false, name));
        assertEquals(0, Win32Impl.OpenEvent(SYNCHRONIZE, false, null));
        int created = Win32Impl.CreateEvent(0, true, false, name);
        int again = Win32Impl.CreateEvent(0, false, true, name); // arguments ignored: it exists
        int opened = Win32Impl.OpenEvent(EVENT_ALL_ACCESS, true, name);
        assertNotEquals(0, again);
        assertNotEquals(0, opened);
        assertEquals(WAIT_TIMEOUT, Win32Impl.WaitForSingleObject(again, 0));
        Win32Impl.SetEvent(opened);
        assertEquals(WAIT_OBJECT_0, Win32Impl.WaitForSingleObject(again, 0));
        assertEquals(WAIT_OBJECT_0, Win32Impl.WaitForSingleObject(created, 0)); // manual reset stays set
        for (int h : new int[] {created, again, opened}) {
            assertNotEquals(0, Win32Impl.CloseHandle(h));
        }
        assertEquals(0, Win32Impl.OpenEvent(SYNCHRONIZE, false, name));
    }

    @Test
    void aSecondProcessSignalsAndExitsWithoutClosing() throws Exception {
        String name = uniqueName("signal");
        int event = Win32Impl.CreateEvent(0, false, false, name);
        Process child = KernelChild.start("signal", name);
        assertEquals(WAIT_OBJECT_0, Win32Impl.WaitForSingleObject(event, 30_000));
        assertEquals("set", output(child).readLine());
        assertTrue(child.waitFor(30, TimeUnit.SECONDS));
        assertEquals(WAIT_TIMEOUT, Win32Impl.WaitForSingleObject(event, 0));
        Win32Impl.CloseHandle(event);
        assertEquals(0, Win32Impl.OpenEvent(SYNCHRONIZE, false, name));
    }

    @Test
    void aKilledHolderLeavesNoStaleEvent() throws Exception {
        String name = uniqueName("killed");
        Process child = KernelChild.start("hold", name);
        try {
            assertEquals("holding", output(child).readLine());
            int seen = Win32Impl.OpenEvent(SYNCHRONIZE, false, name);
            assertNotEquals(0, seen);
            assertEquals(WAIT_OBJECT_0, Win32Impl.WaitForSingleObject(seen, 0));
            Win32Impl.CloseHandle(seen);
        } finally {
            child.destroyForcibly();
            assertTrue(child.waitFor(30, TimeUnit.SECONDS));
        }
        assertEquals(0, Win32Impl.OpenEvent(SYNCHRONIZE, false, name));
        int fresh = Win32Impl.CreateEvent(0, false, false, name);
        assertNotEquals(0, fresh);
        assertEquals(WAIT_TIMEOUT, Win32Impl.WaitForSingleObject(fresh, 0));
        Win32Impl.CloseHandle(fresh);
    }

    @Test
    void anAutoResetEventReleasesOneWaiterAcrossProcesses() throws Exception {
        String name = uniqueName("across");
        int event = Win32Impl.CreateEvent(0, false, false, name);
        // A waiter killed in its wait must not swallow a later signal.
        Process victim = KernelChild.start("wait", name);
        assertEquals("waiting", output(victim).readLine());
        settle();
        victim.destroyForcibly();
        assertTrue(victim.waitFor(30, TimeUnit.SECONDS));

        Process child = KernelChild.start("wait", name);
        BufferedReader childOut = output(child);
        assertEquals("waiting", childOut.readLine());
        AtomicInteger childWoken = new AtomicInteger();
        Thread reader = new Thread(() -> {
            try {
                if ("woken".equals(childOut.readLine())) {
                    childWoken.incrementAndGet();
                }
            } catch (java.io.IOException e) {
                // the count stays 0 and the assertions say so
            }
        });
        reader.start();
        AtomicInteger woken = new AtomicInteger();
        Thread[] here = waiters(event, 1, woken);
        settle();
        Win32Impl.SetEvent(event);
        settle();
        assertEquals(1, woken.get() + childWoken.get(), "one SetEvent, one waiter");
        Win32Impl.SetEvent(event);
        here[0].join(10_000);
        reader.join(30_000);
        assertEquals(1, woken.get());
        assertEquals(1, childWoken.get());
        assertTrue(child.waitFor(30, TimeUnit.SECONDS));
        Win32Impl.CloseHandle(event);
    }

    @Test
    void processServicesTakeTheCurrentProcessPseudoHandle() {
        int self = Win32Impl.GetCurrentProcess();
        assertEquals(-1, self);
        int original = Win32Impl.SetErrorMode(0x8001);
        assertEquals(0x8001, Win32Impl.SetErrorMode(0x0002));
        assertEquals(0x0002, Win32Impl.SetErrorMode(original));

        assertNotEquals(0, Win32Impl.EmptyWorkingSet(self));
        assertNotEquals(0, Win32Impl.SetProcessWorkingSetSize(self, -1, -1));
        assertNotEquals(0, Win32Impl.SetProcessWorkingSetSize(self, 1 << 20, 64 << 20));
        assertEquals(0, Win32Impl.SetProcessWorkingSetSize(self, 64 << 20, 1 << 20));
        int event = Win32Impl.CreateEvent(0, true, false, null);
        assertEquals(0, Win32Impl.EmptyWorkingSet(event));
        assertEquals(0, Win32Impl.SetProcessWorkingSetSize(event, 1 << 20, 64 << 20));
        assertEquals(0, Win32Impl.EmptyWorkingSet(0));
        Win32Impl.CloseHandle(event);
        for (int pseudo : new int[] {self, -2}) { // the current process and the current thread
            assertNotEquals(0, Win32Impl.CloseHandle(pseudo), "closing " + pseudo + " does nothing");
            assertEquals(WAIT_TIMEOUT, Win32Impl.WaitForSingleObject(pseudo, 0), "waiting on " + pseudo);
        }
        assertNotEquals(0, Win32Impl.EmptyWorkingSet(self));
    }
}
