package com.quorvane.test;

import com.quorvane.infrastructure.os.windows.Win32Exception;
import com.quorvane.infrastructure.os.windows.Win32Impl;
import java.util.HexFormat;

/**
 * Data protection in another process, with the key stores of its environment
 * (XDG_DATA_HOME, DBUS_SESSION_BUS_ADDRESS) or its user. Commands: "at:MILLIS" waits for that instant;
 * "enc:HEX" prints the blob's hex; "dec:HEX" prints the plain text's hex, or
 * "error:MESSAGE|CODE" for a Win32Exception.
 */
public final class ProtectionChild {
    private ProtectionChild() {
    }

    public static void main(String[] args) throws Exception {
        HexFormat hex = HexFormat.of();
        for (String arg : args) {
            String value = arg.substring(arg.indexOf(':') + 1);
            try {
                if (arg.startsWith("at:")) {
                    Thread.sleep(Math.max(0, Long.parseLong(value) - System.currentTimeMillis()));
                } else if (arg.startsWith("enc:")) {
                    System.out.println(hex.formatHex(Win32Impl.encryptUserWin32(hex.parseHex(value))));
                } else {
                    System.out.println(hex.formatHex(Win32Impl.decryptUserWin32(hex.parseHex(value))));
                }
            } catch (Win32Exception e) {
                System.out.println("error:" + e.getMessage() + "|" + Integer.toHexString(e.getCode()));
            }
        }
    }
}
