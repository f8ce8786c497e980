package com.quorvane.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

class RegisteredMessageTest {
    @Test
    void oneNumberPerNameWhateverItsCase() {
        String name = "Quorvane JUnit Message " + System.nanoTime() + " \u00e9t\u00e9";
        int id = Win32Impl.RegisterWindowMessage(name);
        assertTrue(id >= 0xC000 && id <= 0xFFFF, Integer.toHexString(id));
        assertEquals(id, Win32Impl.RegisterWindowMessage(name.toUpperCase(java.util.Locale.ROOT)));
        assertEquals(id, Win32Impl.RegisterWindowMessage(name));
        int other = Win32Impl.RegisterWindowMessage(name + " 2");
        assertTrue(other >= 0xC000 && other <= 0xFFFF);
        assertNotEquals(id, other);
        assertEquals(0, Win32Impl.RegisterWindowMessage(null));
        assertEquals(0, Win32Impl.RegisterWindowMessage(""));
        assertEquals(0, Win32Impl.RegisterWindowMessage("m".repeat(256)));
        assertNotEquals(0, Win32Impl.RegisterWindowMessage("m".repeat(255)));
    }

    @Test
    void anotherProcessGetsTheSameNumber() throws Exception {
        String name = "Quorvane JUnit Shared " + System.nanoTime();
        int id = Win32Impl.RegisterWindowMessage(name);
        Process child = KernelChild.start("register", name.toLowerCase(java.util.Locale.ROOT));
        String answer = new BufferedReader(new InputStreamReader(child.getInputStream(), StandardCharsets.UTF_8))
                .readLine();
        assertTrue(child.waitFor(30, TimeUnit.SECONDS));
        assertEquals(Integer.toString(id), answer);
    }
}
