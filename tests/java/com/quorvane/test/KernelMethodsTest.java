package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.*;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.io.*;
import java.nio.charset.StandardCharsets;
import java.util.*;
import java.util.concurrent.*;
import java.util.concurrent.atomic.AtomicInteger;
import org.junit.jupiter.api.Test;

/** Events, handles, process services and registered messages through the JNI methods, in one JVM and across JVMs. */
class KernelMethodsTest {
    static final int WAIT_OBJECT_0 = 0, WAIT_TIMEOUT = 0x102, SYNCHRONIZE = 0x00100000;

    /** Another JVM on the same library; it exits (or is killed) holding its handles. */
    public static final class Child {
        public static void main(String[] args) throws Exception {
            String name = args[1];
            switch (args[0]) {
                case "wait" -> { // wait on an existing event; report whether it came
                    int h = Win32Impl.OpenEvent(0x00100000, false, name);
                    say("waiting");
                    say(h != 0 && Win32Impl.WaitForSingleObject(h, 20_000) == 0 ? "woken" : "timeout");
                }
                case "register" -> say(Integer.toString(Win32Impl.RegisterWindowMessage(name)));
                default -> throw new IllegalArgumentException(args[0]);
            }
            Runtime.getRuntime().halt(0); // no handle closed, no shutdown hook run
        }

        private static void say(String line) {
            System.out.println(line);
            System.out.flush();
        }

        /** Starts a child JVM running {@code main(mode, name)} on this JVM's library. */
        static Process start(String mode, String name) throws Exception {
            return ChildJvm.start(Map.of(), ChildJvm.java(List.of(), null, Child.class, mode, name));
        }
    }

    static String uniqueName(String what) {
        return "qv-junit-" + ProcessHandle.current().pid() + "-" + System.nanoTime() + "-" + what;
    }

    static BufferedReader output(Process p) {
        return new BufferedReader(new InputStreamReader(p.getInputStream(), StandardCharsets.UTF_8));
    }

    static int waitFor(int handle) {
        return Win32Impl.WaitForSingleObject(handle, 0);
    }

    /** A started thread that counts into count when the call answers true. */
    static Thread counting(AtomicInteger count, Callable<Boolean> call) {
        Thread thread = new Thread(() -> {
            try {
                count.addAndGet(call.call() ? 1 : 0);
            } catch (Exception e) { // the count stays as it is and the assertions say so
            }
        });
        thread.start();
        return thread;
    }

    static Thread waiter(int handle, AtomicInteger woken) {
        return counting(woken, () -> Win32Impl.WaitForSingleObject(handle, 10_000) == WAIT_OBJECT_0);
    }

    @Test
    void unnamedEventsFollowTheirResetModeWaitsTakeTheirTimeAndWorkingSetsTheProcess() throws Exception {
        int manual = Win32Impl.CreateEvent(0, true, true, null);
        int auto = Win32Impl.CreateEvent(0, false, false, null);
        assertTrue(manual != 0 && auto != 0 && manual != auto);
        // A manual-reset event stays set until reset; an auto-reset one resets on release.
        assertEquals(List.of(WAIT_OBJECT_0, WAIT_OBJECT_0, true, WAIT_TIMEOUT, true, WAIT_OBJECT_0, WAIT_TIMEOUT),
                List.of(waitFor(manual), waitFor(manual), Win32Impl.ResetEvent(manual) != 0, waitFor(manual),
                        Win32Impl.SetEvent(auto) != 0, Win32Impl.WaitForSingleObject(auto, -1), waitFor(auto)));
        long start = System.nanoTime();
        assertEquals(WAIT_TIMEOUT, Win32Impl.WaitForSingleObject(auto, 200));
        long elapsedMs = (System.nanoTime() - start) / 1_000_000;
        assertTrue(elapsedMs >= 200 && elapsedMs < 5000, "waited " + elapsedMs + " ms");
        // The process is never signalled; the working-set calls take it only, with a minimum below the maximum.
        assertEquals(List.of(-1, WAIT_TIMEOUT), List.of(Win32Impl.GetCurrentProcess(),
                Win32Impl.WaitForSingleObject(-1, 150)));
        assertEquals(List.of(true, true, true, false, false, false, false, true, true), List.of(
                Win32Impl.EmptyWorkingSet(-1) != 0, Win32Impl.SetProcessWorkingSetSize(-1, -1, -1) != 0,
                Win32Impl.SetProcessWorkingSetSize(-1, 1 << 20, 64 << 20) != 0,
                Win32Impl.SetProcessWorkingSetSize(-1, 64 << 20, 1 << 20) != 0, Win32Impl.EmptyWorkingSet(auto) != 0,
                Win32Impl.SetProcessWorkingSetSize(auto, 1 << 20, 64 << 20) != 0, Win32Impl.EmptyWorkingSet(0) != 0,
                Win32Impl.CloseHandle(manual) != 0, Win32Impl.CloseHandle(auto) != 0));
        // A manual-reset event releases every waiter even when reset at once.
        int event = Win32Impl.CreateEvent(0, true, false, null);
        AtomicInteger woken = new AtomicInteger();
        List<Thread> threads = List.of(waiter(event, woken), waiter(event, woken), waiter(event, woken));
        Thread.sleep(300);
        Win32Impl.SetEvent(event);
        Win32Impl.ResetEvent(event);
        for (Thread t : threads) {
            t.join(10_000);
        }
        assertEquals(List.of(3, WAIT_TIMEOUT), List.of(woken.get(), waitFor(event)));
        Win32Impl.CloseHandle(event);
    }

    @Test
    void namesReachOneEventAreRefusedOverlongAndAnAutoResetOneWakesOneWaiterAcrossProcesses() throws Exception {
        String name = uniqueName("a/b%c..\u00e9\ud83d\ude00");
        assertEquals(0, Win32Impl.OpenEvent(SYNCHRONIZE, false, name));
        int created = Win32Impl.CreateEvent(0, true, false, name);
        int again = Win32Impl.CreateEvent(0, false, true, name); // arguments ignored: it exists
        int opened = Win32Impl.OpenEvent(0x001F0003, true, name); // EVENT_ALL_ACCESS
        int longA = Win32Impl.CreateEvent(0, true, true, name + "x".repeat(200) + "A");
        int longB = Win32Impl.CreateEvent(0, true, false, name + "x".repeat(200) + "B");
        // Long names stay distinct; set through one handle, the manual-reset event is set for all.
        assertEquals(List.of(WAIT_TIMEOUT, WAIT_OBJECT_0, WAIT_TIMEOUT, true, WAIT_OBJECT_0, WAIT_OBJECT_0),
                List.of(waitFor(again), waitFor(longA), waitFor(longB), Win32Impl.SetEvent(opened) != 0,
                        waitFor(again), waitFor(created)));
        assertEquals(0, Win32Impl.CreateEvent(0, true, false, "n".repeat(261)));
        for (int h : new int[] {created, again, opened, longA, longB}) {
            assertNotEquals(0, Win32Impl.CloseHandle(h));
        }
        assertEquals(0, Win32Impl.OpenEvent(SYNCHRONIZE, false, name));
        // An auto-reset event wakes one waiter across processes; a waiter killed in its wait swallows no signal.
        name = uniqueName("across");
        int event = Win32Impl.CreateEvent(0, false, false, name);
        Process victim = Child.start("wait", name);
        assertEquals("waiting", output(victim).readLine());
        Thread.sleep(300);
        victim.destroyForcibly();
        assertTrue(victim.waitFor(30, TimeUnit.SECONDS));
        Process child = Child.start("wait", name);
        BufferedReader childOut = output(child);
        assertEquals("waiting", childOut.readLine());
        AtomicInteger childWoken = new AtomicInteger(), woken = new AtomicInteger();
        Thread reader = counting(childWoken, () -> "woken".equals(childOut.readLine()));
        Thread here = waiter(event, woken);
        Thread.sleep(300);
        Win32Impl.SetEvent(event);
        Thread.sleep(300);
        assertEquals(1, woken.get() + childWoken.get(), "one SetEvent, one waiter");
        Win32Impl.SetEvent(event);
        here.join(10_000);
        reader.join(30_000);
        assertEquals(List.of(1, 1), List.of(woken.get(), childWoken.get()));
        assertTrue(child.waitFor(30, TimeUnit.SECONDS));
        Win32Impl.CloseHandle(event);
    }

    @Test
    void aRegisteredMessageIsOneNumberPerNameWhateverItsCaseAndInAnotherProcess() throws Exception {
        String name = "Quorvane JUnit Message " + System.nanoTime() + " \u00e9t\u00e9";
        int id = Win32Impl.RegisterWindowMessage(name);
        assertTrue(id >= 0xC000 && id <= 0xFFFF, Integer.toHexString(id));
        assertEquals(id, Win32Impl.RegisterWindowMessage(name.toUpperCase(Locale.ROOT)));
        int other = Win32Impl.RegisterWindowMessage(name + " 2");
        assertTrue(other >= 0xC000 && other <= 0xFFFF && other != id);
        assertEquals(List.of(0, true), List.of(Win32Impl.RegisterWindowMessage("m".repeat(256)),
                Win32Impl.RegisterWindowMessage("m".repeat(255)) != 0));
        assertEquals(Integer.toString(id), ChildJvm.ok(Map.of(), Child.class, "register", name.toLowerCase(Locale.ROOT))
                .strip());
    }
}
