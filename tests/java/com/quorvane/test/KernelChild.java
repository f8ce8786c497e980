package com.quorvane.test;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.io.File;
import java.util.ArrayList;
import java.util.List;

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

    /** Starts a child JVM running {@code main(mode, name)} with this JVM's library path. */
    static Process start(String mode, String name) throws Exception {
        List<String> command = new ArrayList<>();
        command.add(System.getProperty("java.home") + File.separator + "bin" + File.separator + "java");
        command.add("-Xshare:auto");
        command.add("-XX:TieredStopAtLevel=1");
        command.add("-Djava.library.path=" + System.getProperty("java.library.path"));
        command.add("-cp");
        command.add(location(KernelChild.class) + File.pathSeparator + location(Win32Impl.class));
        command.add(KernelChild.class.getName());
        command.add(mode);
        command.add(name);
        return new ProcessBuilder(command).redirectError(ProcessBuilder.Redirect.INHERIT).start();
    }

    private static String location(Class<?> c) throws Exception {
        return new File(c.getProtectionDomain().getCodeSource().getLocation().toURI()).getPath();
    }
}
