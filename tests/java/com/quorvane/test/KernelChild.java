package com.quorvane.test;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.util.List;
import java.util.Map;

/** Another JVM on the same library for the cross-process tests; it exits (or is killed) holding its handles. */
public final class KernelChild {
    private KernelChild() {
    }

    public static void main(String[] args) throws Exception {
        String name = args[1];
        switch (args[0]) {
            case "signal" -> { // open the existing event and set it
                int h = Win32Impl.CreateEvent(0, false, false, name);
                say(h != 0 && Win32Impl.SetEvent(h) != 0 ? "set" : "failed");
            }
            case "hold" -> { // create a signalled manual-reset event, then wait to be killed
                say(Win32Impl.CreateEvent(0, true, true, name) != 0 ? "holding" : "failed");
                Thread.sleep(60_000);
            }
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
        return ChildJvm.start(Map.of(), KernelChild.class, List.of(KernelChild.class, Win32Impl.class), mode, name);
    }
}
