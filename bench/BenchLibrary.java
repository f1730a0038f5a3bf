import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import quorin.io.comm.CESerialPort;

/**
 * The library's side of each workload, driven through CESerialPort exactly as an application
 * would. serial_bench calls these on a pseudo-terminal whose other side it serves itself.
 */
public final class BenchLibrary {
  private BenchLibrary() {}

  private static CESerialPort open(String device) {
    CESerialPort port = new CESerialPort();
    port.open(device);
    if (!port.isOpen()) {
      throw new IllegalStateException("cannot open " + device);
    }
    return port;
  }

  /** Reads total bytes with 64 KiB reads; returns the nanoseconds it took. */
  public static long bulkRead(String device, long total) {
    CESerialPort port = open(device);
    try {
      byte[] buffer = new byte[65536];
      long received = 0;
      long start = System.nanoTime();
      while (received < total) {
        int n = port.read(buffer, 0, buffer.length);
        if (n < 0) {
          throw new IllegalStateException("read failed after " + received + " bytes");
        }
        received += n;
      }
      return System.nanoTime() - start;
    } finally {
      port.close();
    }
  }

  /** Writes count single bytes; returns the nanoseconds the writes took. */
  public static long singleByteWrites(String device, int count) {
    CESerialPort port = open(device);
    try {
      long start = System.nanoTime();
      for (int i = 0; i < count; ++i) {
        port.write(i);
      }
      return System.nanoTime() - start;
    } finally {
      port.close();
    }
  }

  /** Sends one byte and waits for its echo, count times; the round trips in nanoseconds. */
  public static long[] roundTrips(String device, int count) {
    CESerialPort port = open(device);
    try {
      byte[] one = new byte[1];
      long[] samples = new long[count];
      for (int i = 0; i < count; ++i) {
        long start = System.nanoTime();
        port.write(i);
        if (port.read(one, 0, 1) != 1) {
          throw new IllegalStateException("echo lost");
        }
        samples[i] = System.nanoTime() - start;
      }
      return samples;
    } finally {
      port.close();
    }
  }

  /** Waits in a read until one byte comes; returns the CPU time the waiting thread used, in ns. */
  public static long idleReadCpu(String device) {
    CESerialPort port = open(device);
    try {
      ThreadMXBean threads = ManagementFactory.getThreadMXBean();
      byte[] one = new byte[1];
      long before = threads.getCurrentThreadCpuTime();
      if (port.read(one, 0, 1) != 1) {
        throw new IllegalStateException("read failed");
      }
      return threads.getCurrentThreadCpuTime() - before;
    } finally {
      port.close();
    }
  }
}
