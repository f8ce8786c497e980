package com.quorvane.test;

/** An exception class without the (String, int) constructor. */
public class PlainException extends Exception {
    private static final long serialVersionUID = 1L;

    public PlainException(String message) {
        super(message);
    }
}
