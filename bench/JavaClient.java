import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.RandomAccessFile;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.nio.charset.StandardCharsets;
import quorin.io.comm.CESerialPort;

/**
 * A Java program under test for serial_bench: "plain-jvm" uses RandomAccessFile on the tty (the
 * JVM's own floor), "tarvesk" uses the public methods of CESerialPort, as an application would.
 * Both run the same workloads: one order a line on stdin, the port opened, "ready", the workload,
 * the port closed, then the times measured here on stdout. Instants are System.nanoTime(), the
 * clock the device reads too.
 */
public final class JavaClient {
  private JavaClient() {}

  /** What the workloads need of a serial line. */
  private interface Line {
    /** Waits for at least one byte; the count read, or -1. */
    int read(byte[] b, int off, int len) throws IOException;

    void write(int b) throws IOException;

    /** The bytes queued; UnsupportedOperationException where the program has no such call. */
    int available() throws IOException;

    /** Sets 19200 8N1; UnsupportedOperationException where the program has no such call. */
    boolean setParams();

    /** Sends the len bytes of b from off on in one call. */
    void write(byte[] b, int off, int len) throws IOException;

    void close() throws IOException;
  }

  private static final class FileLine implements Line {
    private final RandomAccessFile file;

    FileLine(String path) throws IOException { file = new RandomAccessFile(path, "rw"); }

    @Override
    public int read(byte[] b, int off, int len) throws IOException {
      return file.read(b, off, len);
    }

    @Override
    public void write(int b) throws IOException {
      file.write(b);
    }

    @Override
    public int available() {
      throw new UnsupportedOperationException();
    }

    @Override
    public boolean setParams() {
      throw new UnsupportedOperationException();
    }

    @Override
    public void write(byte[] b, int off, int len) throws IOException {
      file.write(b, off, len);
    }

    @Override
    public void close() throws IOException {
      file.close();
    }
  }

  private static final class TarveskLine implements Line {
    private final CESerialPort port = new CESerialPort();

    TarveskLine(String path) {
      port.open(path);
      if (!port.isOpen()) {
        throw new IllegalStateException("cannot open " + path);
      }
    }

    @Override
    public int read(byte[] b, int off, int len) {
      return port.read(b, off, len);
    }

    @Override
    public void write(int b) {
      port.write(b);
    }

    @Override
    public int available() {
      return port.available();
    }

    @Override
    public boolean setParams() {
      return port.setSerialPortParams(19200, 8, 1, 0);
    }

    @Override
    public void write(byte[] b, int off, int len) throws IOException {
      if (port.write(b, off, len) != len) {
        throw new IOException("a frame did not go out whole");
      }
    }

    @Override
    public void close() {
      port.close();
    }
  }

  private static int readSome(Line line, byte[] b, int len) throws IOException {
    int n = line.read(b, 0, len);
    if (n < 0) {
      throw new IOException("read failed");
    }
    return n;
  }

  private static String bulkRead(Line line, long total) throws IOException {
    byte[] buffer = new byte[65536];
    long start = System.nanoTime();
    for (long got = 0; got < total;) {
      got += readSome(line, buffer, buffer.length);
    }
    return Long.toString(System.nanoTime() - start);
  }

  private static String singleByteWrites(Line line, long count) throws IOException {
    long start = System.nanoTime();
    for (long i = 0; i < count; ++i) {
      line.write((int) i);
    }
    return Long.toString(System.nanoTime() - start);
  }

  /** total bytes in frames of frameBytes, each written in one call. */
  private static String frameWrites(Line line, int frameBytes, long total) throws IOException {
    byte[] frame = new byte[frameBytes];
    long start = System.nanoTime();
    for (long sent = 0; sent < total; sent += frameBytes) {
      line.write(frame, 0, frameBytes);
    }
    return Long.toString(System.nanoTime() - start);
  }

  private static String roundTrips(Line line, int count) throws IOException {
    byte[] one = new byte[1];
    long[] samples = new long[count];
    for (int i = 0; i < count; ++i) {
      long start = System.nanoTime();
      line.write(one[0]);
      while (readSome(line, one, 1) == 0) {
      }
      samples[i] = System.nanoTime() - start;
    }
    StringBuilder report = new StringBuilder();
    for (long sample : samples) {
      report.append(sample).append(' ');
    }
    return report.toString();
  }

  private static String wakeUps(Line line, long count) throws IOException {
    byte[] one = new byte[1];
    StringBuilder report = new StringBuilder();
    for (long i = 0; i < count; ++i) {
      readSome(line, one, 1);
      report.append(System.nanoTime()).append(' ');
    }
    return report.toString();
  }

  /** How long a deadline read may wait: far longer than the device ever makes it wait. */
  private static final int DEADLINE_MS = 30_000;

  /** As wakeUps, each read with a deadline (CESerialPort.read(b, off, len, timeoutMs)). */
  private static String deadlineWakeUps(TarveskLine line, long count) throws IOException {
    byte[] one = new byte[1];
    StringBuilder report = new StringBuilder();
    for (long i = 0; i < count; ++i) {
      if (line.port.read(one, 0, 1, DEADLINE_MS) != 1) {
        throw new IOException("a deadline read ended without its byte");
      }
      report.append(System.nanoTime()).append(' ');
    }
    return report.toString();
  }

  /** As idleReadCpu, the read with a deadline. */
  private static String idleDeadlineReadCpu(TarveskLine line, ThreadMXBean threads)
      throws IOException {
    byte[] one = new byte[1];
    long before = threads.getCurrentThreadCpuTime();
    if (line.port.read(one, 0, 1, DEADLINE_MS) != 1) {
      throw new IOException("a deadline read ended without its byte");
    }
    return Long.toString(threads.getCurrentThreadCpuTime() - before);
  }

  /** A call whose time is measured; what it returns or throws does not matter here. */
  private interface Call {
    void run() throws Exception;
  }

  /** Nanoseconds the call took, or -1 when the program has no such call. */
  private static long timed(Call call) {
    long start = System.nanoTime();
    try {
      call.run();
    } catch (UnsupportedOperationException e) {
      return -1;
    } catch (Exception e) {
      // a gone device fails the call: that is what is timed
    }
    return System.nanoTime() - start;
  }

  /** Each call that has nothing to wait for: read, available, params, write, close. */
  private static String timeCalls(Line line) {
    byte[] one = new byte[1];
    long[] took = {timed(() -> line.read(one, 0, 1)), timed(line::available),
        timed(line::setParams), timed(() -> line.write('x')), timed(line::close)};
    StringBuilder report = new StringBuilder();
    for (long t : took) {
      report.append(' ').append(t);
    }
    return report.toString();
  }

  /** A read waits until the line goes; when it returned, then the calls on the gone device. */
  private static String untilGone(Line line) throws IOException {
    int n;
    try {
      n = line.read(new byte[1], 0, 1);
    } catch (IOException e) {
      n = -1;
    }
    long noticed = System.nanoTime();
    if (n > 0) {
      throw new IOException("a byte came instead of the device going");
    }
    return noticed + timeCalls(line);
  }

  /**
   * A read waits on a silent line, and close ends it: how long the close took, and when the
   * read had returned, both from the moment close was called.
   */
  private static String closeEndingARead(TarveskLine line) throws InterruptedException {
    long[] readReturned = new long[1];
    Thread reader = new Thread(() -> {
      line.read(new byte[1], 0, 1);
      readReturned[0] = System.nanoTime();
    });
    reader.start();
    while (!isIn(reader, "nativeRead")) {
      Thread.sleep(1);
    }
    Thread.sleep(5); // into the wait for input
    long start = System.nanoTime();
    line.close();
    long closed = System.nanoTime();
    reader.join();
    return (closed - start) + " " + (readReturned[0] - start);
  }

  /** Whether the thread is running the named method at this moment. */
  private static boolean isIn(Thread thread, String method) {
    StackTraceElement[] stack = thread.getStackTrace();
    return stack.length > 0 && stack[0].getMethodName().equals(method);
  }

  private static String idleReadCpu(Line line, ThreadMXBean threads) throws IOException {
    byte[] one = new byte[1];
    long before = threads.getCurrentThreadCpuTime();
    readSome(line, one, 1);
    return Long.toString(threads.getCurrentThreadCpuTime() - before);
  }

  public static void main(String[] args) throws IOException, InterruptedException {
    boolean tarvesk = args.length == 1 && args[0].equals("tarvesk");
    if (!tarvesk && !(args.length == 1 && args[0].equals("plain-jvm"))) {
      throw new IllegalArgumentException("usage: JavaClient plain-jvm|tarvesk");
    }
    ThreadMXBean threads = ManagementFactory.getThreadMXBean();
    threads.getCurrentThreadCpuTime();
    BufferedReader orders =
        new BufferedReader(new InputStreamReader(System.in, StandardCharsets.US_ASCII));
    for (String order; (order = orders.readLine()) != null;) {
      String[] words = order.split(" ");
      String workload = words[0];
      long count = Long.parseLong(words[2]);
      Line line = tarvesk ? new TarveskLine(words[1]) : new FileLine(words[1]);
      String report;
      try {
        System.out.println("ready");
        System.out.flush();
        if (workload.equals("unplug")) {
          report = untilGone(line); // closes the line
        } else if (workload.equals("closing")) {
          report = closeEndingARead((TarveskLine) line); // closes the line
        } else if (workload.equals("wake")) {
          report = wakeUps(line, count);
        } else if (workload.equals("wake-within")) {
          report = deadlineWakeUps((TarveskLine) line, count);
        } else if (workload.equals("idle-within")) {
          report = idleDeadlineReadCpu((TarveskLine) line, threads);
        } else if (workload.equals("bulk")) {
          report = bulkRead(line, count);
        } else if (workload.equals("writes")) {
          report = singleByteWrites(line, count);
        } else if (workload.startsWith("frames-")) { // frames-<bytes per frame>
          report = frameWrites(line, Integer.parseInt(workload.substring(7)), count);
        } else if (workload.equals("trips")) {
          report = roundTrips(line, (int) count);
        } else {
          report = idleReadCpu(line, threads);
        }
      } finally {
        line.close();
      }
      if (report != null) {
        System.out.println(report);
        System.out.flush();
      }
    }
  }
}
