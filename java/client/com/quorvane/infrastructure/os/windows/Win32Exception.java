package com.quorvane.infrastructure.os.windows;

/** A failed platform call, with the platform's error code. */
public class Win32Exception extends Exception {
    private static final long serialVersionUID = 1L;

    private final int code;

    public Win32Exception(String message, int code) {
        super(message);
        this.code = code;
    }

    public int getCode() {
        return code;
    }
}
