package quorin.io.comm;

import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.time.Duration;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * One CESerialPort.read on a thread of its own. A read may wait without a time limit, so
 * tests never call it on their own thread: they start it here and wait for it with a deadline.
 */
final class BlockingRead {
  private final Thread thread;
  private final CountDownLatch finished = new CountDownLatch(1);
  private volatile int result;
  private volatile Throwable thrown;

  private BlockingRead(CESerialPort port, byte[] b, int off, int len) {
    thread = new Thread(() -> {
      try {
        result = port.read(b, off, len);
      } catch (Throwable t) {
        thrown = t;
      } finally {
        finished.countDown();
      }
    }, "read");
    thread.setDaemon(true);
  }

  static BlockingRead start(CESerialPort port, byte[] b, int off, int len) {
    BlockingRead read = new BlockingRead(port, b, off, len);
    read.thread.start();
    return read;
  }

  /** Whether the read returns (or throws) within the given time. */
  boolean endsWithin(Duration time) throws InterruptedException {
    return finished.await(time.toNanos(), TimeUnit.NANOSECONDS);
  }

  /** The read's result; fails the test if it has not returned within the given time. */
  int result(Duration deadline) throws Throwable {
    if (!endsWithin(deadline)) {
      throw new AssertionError("read did not return within " + deadline);
    }
    if (thrown != null) {
      throw thrown;
    }
    return result;
  }

  /** CPU time the reading thread has used so far. */
  long cpuNanos() {
    ThreadMXBean threads = ManagementFactory.getThreadMXBean();
    return threads.getThreadCpuTime(thread.getId());
  }
}
