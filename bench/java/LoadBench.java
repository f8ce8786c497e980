// Times one load of the library in this JVM and prints it in milliseconds:
// System.loadLibrary("quorvane"), or with "jar" quorvane-native.jar's
// NativeLibrary.load() (java.library.path lacking the library, so the jar's
// cached copy is loaded). bench/run-load-bench.sh starts a fresh JVM for
// every sample, since a library loads only once per process.
public final class LoadBench {
  public static void main(String[] args) throws Exception {
    boolean jar = args.length > 0 && args[0].equals("jar");
    long start = System.nanoTime();
    if (jar) {
      Class.forName("com.quorvane.nativelib.NativeLibrary").getMethod("load").invoke(null);
    } else {
      System.loadLibrary("quorvane");
    }
    long end = System.nanoTime();
    System.out.printf(java.util.Locale.ROOT, "%.3f%n", (end - start) / 1e6);
  }
}
