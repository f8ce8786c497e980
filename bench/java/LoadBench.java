// Times System.loadLibrary("quorvane") once in this JVM and prints it in
// milliseconds: bench/run-load-bench.sh starts a fresh JVM for every sample,
// since a library loads only once per process.
public final class LoadBench {
  public static void main(String[] args) {
    long start = System.nanoTime();
    System.loadLibrary("quorvane");
    long end = System.nanoTime();
    System.out.printf(java.util.Locale.ROOT, "%.3f%n", (end - start) / 1e6);
  }
}
