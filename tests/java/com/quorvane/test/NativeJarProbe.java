package com.quorvane.test;

import com.quorvane.infrastructure.os.windows.Win32Impl;
import com.quorvane.nativelib.NativeLibrary;
import java.nio.file.*;
import java.util.*;

/**
 * Run by NativeJarTest with only quorvane-native.jar and the client jar on its class path: loads the library, says
 * from which file, and reads a document's summary. Given a file and a delay, it says "ready", waits for the file and
 * then the delay before it loads, so that two JVMs load at about the same moment.
 */
public final class NativeJarProbe {
    public static void main(String[] args) throws Exception {
        if (args.length > 1) {
            System.out.println("ready");
            while (!Files.exists(Path.of(args[1]))) {
                Thread.sleep(1);
            }
            Thread.sleep(Long.parseLong(args[2]));
        }
        NativeLibrary.load();
        try (var maps = Files.lines(Path.of("/proc/self/maps"))) { // which file the library came from
            maps.filter(line -> line.endsWith("/libquorvane.so")).findFirst()
                    .ifPresent(line -> System.out.println("loaded " + line.substring(line.indexOf('/'))));
        }
        Properties summary = new Properties();
        int result = Win32Impl.getCompoundDocumentSummaryProperties(args[0], summary);
        System.out.println("read " + result + " " + new TreeMap<>(summary));
    }
}
