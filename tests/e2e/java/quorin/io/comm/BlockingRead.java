package quorin.io.comm;

import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.time.Duration;
import java.util.concurrent.Callable;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * One CESerialPort.read (or another call that may wait) on a thread of its own. A read may wait
 * without a time limit, so tests never call it on their own thread: they start it here and wait
 * for it with a deadline.
 */
final class BlockingRead {
  private final Thread thread;
  private final String nativeMethod;
  private final CountDownLatch finished = new CountDownLatch(1);
  private volatile int result;
  private volatile Throwable thrown;

  private BlockingRead(Callable<Integer> call, String nativeMethod) {
    this.nativeMethod = nativeMethod;
    thread = new Thread(() -> {
      try {
        result = call.call();
      } catch (Throwable t) {
        thrown = t;
      } finally {
        finished.countDown();
      }
    }, "read");
    thread.setDaemon(true);
  }

  static BlockingRead start(CESerialPort port, byte[] b, int off, int len) {
    return start(() -> port.read(b, off, len), "nativeRead");
  }

  /** The call, which waits for input in the native method named, if at all. */
  static BlockingRead start(Callable<Integer> call, String nativeMethod) {
    BlockingRead read = new BlockingRead(call, nativeMethod);
    read.thread.start();
    return read;
  }

  /** Waits until the read is inside the library: waiting for input there, or reading. */
  void awaitInLibrary() throws InterruptedException {
    awaitThread(thread, "in the library", t -> {
      StackTraceElement[] stack = t.getStackTrace();
      return stack.length > 0 && stack[0].getMethodName().equals(nativeMethod);
    });
  }

  /**
   * Waits until the thread is in the given state (a read that waits for its turn is BLOCKED, a
   * close that waits for the calls in progress is WAITING); a thread that has not got there
   * within the deadline fails the test. On a busy machine a thread may take a long while to
   * start, so a test that needs a call to be waiting asks for that state, not for time to pass.
   */
  static void awaitThread(Thread thread, String where, java.util.function.Predicate<Thread> there)
      throws InterruptedException {
    long end = System.nanoTime() + ConnectedPort.DEADLINE.toNanos();
    while (!there.test(thread)) {
      if (!thread.isAlive() || System.nanoTime() > end) {
        throw new AssertionError(thread.getName() + " never got " + where);
      }
      Thread.sleep(5);
    }
  }

  /** Waits until the read waits for its turn behind another read. */
  void awaitItsTurn() throws InterruptedException {
    awaitThread(thread, "to wait for its turn", t -> t.getState() == Thread.State.BLOCKED);
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
