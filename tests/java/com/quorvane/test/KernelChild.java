package com.quorvane.test;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.util.List;
import java.util.Map;

/**
 * A second process for the cross-process tests: another JVM on the same
 * library. It never closes its handles; it exits (or is killed) holding them.
 */
public final class KernelChild {
    private KernelChild() {
    }

    public static void main(String[] args) throws Exception {
        String name = args[1];
        switch (args[0]) {
            case "signal": { // open the existing event, set it, exit without closing
                int h = Win32Impl.CreateEvent(0, false, false, name);
                System.out.println(h != 0 && Win32Impl.SetEvent(h) != 0 ? "set" : "failed");
                System.out.flush();
                Runtime.getRuntime().halt(0);
                break;
            }
            case "hold": { // create a signalled manual-reset event, then wait to be killed
                int h = Win32Impl.CreateEvent(0, true, true, name);
                System.out.println(h != 0 ? "holding" : "failed");
                System.out.flush();
                Thread.sleep(60_000);
                break;
            }
            case "wait": { // wait on an existing event; report whether it came
                int h = Win32Impl.OpenEvent(0x00100000, false, name);
                System.out.println("waiting");
                System.out.flush();
                System.out.println(h != 0 && Win32Impl.WaitForSingleObject(h, 20_000) == 0 ? "woken" : "timeout");
                System.out.flush();
                Runtime.getRuntime().halt(0);
                break;
            }
            case "register":
                System.out.println(Win32Impl.RegisterWindowMessage(name));
                break;
            default:
                throw new IllegalArgumentException(args[0]);
        }
    }

    /** Starts a child JVM running {@code main(mode, name)} on this JVM's library. */
    static Process start(String mode, String name) throws Exception {
        return ChildJvm.start(Map.of(), KernelChild.class, List.of(KernelChild.class, Win32Impl.class), mode, name);
    }
}
