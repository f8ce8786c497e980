package com.quorvane.nativelib;

/**
 * What quorvane-native.jar carries: its version, and the SHA-256 of each library in it. Assembling the jar replaces
 * this class, which carries nothing, with one that names them; a class, because a class comes out of the jar far
 * more cheaply than a resource, at every JVM's start.
 */
final class Contents {
    private Contents() {
    }

    /** The version of the libraries the jar carries. */
    static String version() {
        return null;
    }

    /** The SHA-256 (hex) of the library at resource in the jar, or null when the jar lacks it. */
    static String sha256(String resource) {
        return null;
    }
}
