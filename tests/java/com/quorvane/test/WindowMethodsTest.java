package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.*;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.io.*;
import java.nio.charset.StandardCharsets;
import java.nio.file.*;
import java.util.List;
import org.junit.jupiter.api.*;

/** The window services against a private Xvfb server that the test starts, and with no display at all. */
class WindowMethodsTest {
    static final int LWA_COLORKEY = 1, LWA_ALPHA = 2, AW_HOR_POSITIVE = 0x1, AW_HIDE = 0x10000, AW_ACTIVATE = 0x20000;
    static final int AW_SLIDE = 0x40000, AW_BLEND = 0x80000;

    static Process xvfb;
    static String displayName;
    static long display;
    static long serverStartTick;

    @BeforeAll
    static void startXvfb() throws Exception {
        serverStartTick = tickCount();
        // -displayfd picks a free display number and prints it when the server is ready.
        xvfb = new ProcessBuilder("Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24")
                .redirectError(ProcessBuilder.Redirect.DISCARD).start();
        String number = new BufferedReader(new InputStreamReader(xvfb.getInputStream(), StandardCharsets.US_ASCII))
                .readLine();
        assertNotNull(number, "Xvfb did not start");
        displayName = ":" + number.trim();
        TestHooks.setDisplayVariable(displayName);
        display = TestHooks.open(displayName);
        assertNotEquals(0L, display);
    }

    @AfterAll
    static void stopXvfb() throws Exception {
        if (display != 0) {
            TestHooks.close(display);
        }
        TestHooks.setDisplayVariable(System.getenv("DISPLAY"));
        if (xvfb != null) {
            xvfb.destroy();
            xvfb.waitFor();
        }
    }

    /** Milliseconds since boot, the clock GetTickCount counts. */
    static long tickCount() throws Exception {
        return (long) (Double.parseDouble(Files.readString(Path.of("/proc/uptime")).split(" ")[0]) * 1000);
    }

    static int deadWindow() {
        int w = TestHooks.createWindow(display, false);
        TestHooks.destroyWindow(display, w);
        return w;
    }

    static String state(int window) {
        return TestHooks.state(display, window);
    }

    @Test
    void layeredAlphaIsTheOpacityFlashingAsksForAttentionAndAnimationBlendsOverItsTime() {
        int w = TestHooks.createWindow(display, true);
        Object[][] rows = { // alpha, flags, answered, state after; only the low 8 bits of alpha count
            {128, LWA_ALPHA, 1, "shown opacity=80808080"}, {255, LWA_ALPHA, 1, "shown opacity=ffffffff"},
            {256, LWA_ALPHA, 1, "shown opacity=0"}, {0x140, LWA_ALPHA | LWA_COLORKEY, 1, "shown opacity=40404040"},
            {10, LWA_COLORKEY, 0, "shown opacity=40404040"}};
        for (Object[] row : rows) {
            int ok = Win32Impl.SetLayeredWindowAttributes(w, 0xFF00FF, (int) row[0], (int) row[1]) == 0 ? 0 : 1;
            assertEquals(List.of(row[2], row[3]), List.of(ok, state(w)), "alpha " + row[0]);
        }
        for (int dead : new int[] {deadWindow(), 0, -1}) {
            assertEquals(0, Win32Impl.SetLayeredWindowAttributes(dead, 0, 128, LWA_ALPHA));
        }
        assertEquals(List.of(0, "shown urgent attention opacity=40404040", 1, 1, "shown opacity=40404040", 0, 0),
                List.of(Win32Impl.FlashWindow(w, true), state(w), Win32Impl.FlashWindow(w, true),
                        Win32Impl.FlashWindow(w, false), state(w), Win32Impl.FlashWindow(w, false),
                        Win32Impl.FlashWindow(deadWindow(), true)));
        TestHooks.destroyWindow(display, w);
        // Animation shows, hides and blends over its time.
        w = TestHooks.createWindow(display, false);
        assertEquals(0, Win32Impl.AnimateWindow(w, 100, AW_HIDE | AW_BLEND)); // already hidden
        long start = System.nanoTime();
        assertNotEquals(0, Win32Impl.AnimateWindow(w, 300, AW_BLEND | AW_ACTIVATE));
        assertTrue((System.nanoTime() - start) / 1_000_000 >= 250, "the fade takes its time");
        // Shown with no opacity of its own left behind, so not shown again; hidden, its own opacity is kept.
        assertEquals(List.of("shown", 0), List.of(state(w), Win32Impl.AnimateWindow(w, 100, AW_BLEND)));
        Win32Impl.SetLayeredWindowAttributes(w, 0, 0x80, LWA_ALPHA);
        assertEquals(List.of(true, "hidden opacity=80808080"), List.of(Win32Impl.AnimateWindow(w, 100,
                AW_HIDE | AW_BLEND) != 0, state(w)));
        // A slide needs a direction.
        assertEquals(List.of(false, true, "shown opacity=80808080", true, "hidden opacity=80808080", false), List.of(
                Win32Impl.AnimateWindow(w, 0, AW_SLIDE) != 0, Win32Impl.AnimateWindow(w, 0, AW_SLIDE | AW_HOR_POSITIVE)
                != 0, state(w), Win32Impl.AnimateWindow(w, 0, AW_HIDE | AW_HOR_POSITIVE) != 0, state(w),
                Win32Impl.AnimateWindow(deadWindow(), 0, AW_BLEND) != 0));
        TestHooks.destroyWindow(display, w);
    }

    @Test
    void lastInputTimeIsTheTickCountOfTheLastInput() throws Exception {
        long first = Integer.toUnsignedLong(Win32Impl.getLastInputTime());
        long now = tickCount();
        assertTrue(first >= serverStartTick - 1000 && first <= now + 1000,
                "last input " + first + " between server start " + serverStartTick + " and now " + now);
        Thread.sleep(1200);
        long later = Integer.toUnsignedLong(Win32Impl.getLastInputTime());
        assertTrue(Math.abs(later - first) < 300, "no input meanwhile: " + first + " then " + later);
        TestHooks.resetIdle(display);
        long reset = Integer.toUnsignedLong(Win32Impl.getLastInputTime());
        assertTrue(reset >= first + 1000 && reset <= tickCount() + 1000, "after input: " + reset);
    }

    @Test
    void withoutADisplayEveryWindowMethodAnswersFalse() {
        int w = TestHooks.createWindow(display, true);
        for (String value : new String[] {null, "", ":", "::0", ":4999", ":99999999", "no-such-host.invalid:0",
            "nonsense"}) {
            TestHooks.setDisplayVariable(value);
            try {
                long start = System.nanoTime();
                assertEquals(List.of(0, 0, 0, 0), List.of(Win32Impl.getLastInputTime(),
                        Win32Impl.SetLayeredWindowAttributes(w, 0, 128, LWA_ALPHA), Win32Impl.FlashWindow(w, true),
                        Win32Impl.AnimateWindow(w, 100, AW_HIDE | AW_BLEND)), value);
                assertTrue((System.nanoTime() - start) / 1_000_000 < 10_000, value);
            } finally {
                TestHooks.setDisplayVariable(displayName);
            }
        }
        assertEquals("shown", state(w));
        TestHooks.destroyWindow(display, w);
    }
}
