package quorin.io.comm;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quorin.io.comm.ConnectedPort.DEADLINE;
import static quorin.io.comm.ConnectedPort.STILL_WAITING;

import java.io.ByteArrayOutputStream;
import java.io.FileInputStream;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;
import java.util.concurrent.Callable;
import java.util.concurrent.FutureTask;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicReference;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;

/** Reading, writing and the queue count on COM1: of a virtual null modem. */
@Timeout(value = 60, threadMode = Timeout.ThreadMode.SEPARATE_THREAD)
class ReadWriteTest extends OnConnectedPort {

  @Test
  void aWaitingReadReturnsWhenThePeerWritesAndUsesNoCpuMeanwhile() throws Throwable {
    byte[] b = new byte[8];
    BlockingRead read = com1.startWaitingRead(b);

    long cpuBefore = read.cpuNanos();
    Thread.sleep(1000);
    long cpuUsed = read.cpuNanos() - cpuBefore;
    assertTrue(
        cpuUsed < 100_000_000L, "a waiting read used " + cpuUsed / 1000 + " us of CPU in 1 s");

    com1.modem.send(new byte[] {'x'});
    assertEquals(1, read.result(ConnectedPort.DEADLINE));
    assertEquals('x', b[0]);
  }

  @Test
  void lengthZeroWaitsForAByteThenLeavesItQueued() throws Throwable {
    byte[] b = {7, 7, 7};
    BlockingRead read = com1.startRead(b, 0, 0);
    read.awaitInLibrary();
    assertFalse(read.endsWithin(STILL_WAITING), "len 0 returned before any byte arrived");

    com1.modem.send(new byte[] {'q'});
    assertEquals(0, read.result(ConnectedPort.DEADLINE));
    assertArrayEquals(new byte[] {7, 7, 7}, b);
    assertEquals(1, com1.port.available());
    assertEquals(1, com1.read(b, 0, 3));
    assertEquals('q', b[0]);
  }

  @Test
  void threeQueuedBytesFillOnlyTheirPlacesAtTheOffset() throws Throwable {
    com1.modem.send(new byte[] {(byte) 0xA1, 0x00, (byte) 0xFF});
    assertEquals(3, com1.awaitQueued(3));

    byte[] b = new byte[20];
    Arrays.fill(b, (byte) 0x55);
    assertEquals(3, com1.read(b, 5, 10));

    byte[] expected = new byte[20];
    Arrays.fill(expected, (byte) 0x55);
    expected[5] = (byte) 0xA1;
    expected[6] = 0x00;
    expected[7] = (byte) 0xFF;
    assertArrayEquals(expected, b);
    assertEquals(0, com1.port.available());
  }

  @Test
  void writeSendsTheLowEightBits() throws Throwable {
    com1.port.write(0x141);
    com1.port.write(-1);
    com1.port.write(0x100);
    assertArrayEquals(
        new byte[] {0x41, (byte) 0xFF, 0x00}, com1.modem.receive(3, ConnectedPort.DEADLINE));
  }

  @Test
  void availableCountsQueuedBytesAndIsZeroOnAClosedPort() throws Throwable {
    assertEquals(0, com1.port.available());
    com1.modem.send(new byte[7]);
    assertEquals(7, com1.awaitQueued(7));
    Thread.sleep(100);
    assertEquals(7, com1.port.available(), "the count is of bytes, not of arrivals");

    assertTrue(com1.port.close());
    assertEquals(0, com1.port.available());
    assertEquals(0, new CESerialPort().available(), "never opened");
  }

  @Test
  void readOnAClosedOrNeverOpenedPortIsMinusOneAtOnce() throws Throwable {
    assertTrue(com1.port.close());
    byte[] b = new byte[4];
    assertEquals(-1, com1.read(b, 0, 4));
    assertEquals(
        -1, BlockingRead.start(new CESerialPort(), b, 0, 4).result(ConnectedPort.DEADLINE));
    // Writing to a closed port does nothing, and does not fail.
    com1.port.write('z');
    assertEquals(-1, com1.port.write(b, 0, 4));
    assertEquals(-1, new CESerialPort().write(b, 0, 4));
  }

  /**
   * Frames go out whole, each in one call, until the line is full: then a write gives up after
   * its limit, 10 ms per byte plus 1 s, and says how much of its frame went out. A write held
   * there keeps a close pending: the close ends the waiting reads, and calls made meanwhile
   * return at once.
   */
  @Test
  void aFrameGoesOutWholeOrAsFarAsTheLineTookItWithinItsLimit() throws Throwable {
    final int frameBytes = 150; // a limit of 2.5 s
    byte[] frame = new byte[frameBytes];
    ByteArrayOutputStream sent = new ByteArrayOutputStream();
    com1.modem.stopReading();
    int n = frameBytes;
    long took = 0;
    // A pseudo-terminal may free room without waking the writer, which then finds it only at its
    // time-out and sends a whole frame after all: a few such writes are its doing.
    int wholeAfterWaiting = 0;
    for (int calls = 0; n == frameBytes; calls++) {
      assertTrue(calls < 10_000 && wholeAfterWaiting < 4, "the line took " + sent.size()
              + " bytes, " + wholeAfterWaiting + " writes sent whole frames after their time-out");
      new Random(calls).nextBytes(frame); // what is left of a frame differs from the next
      long start = System.nanoTime();
      n = com1.port.write(frame, 0, frameBytes);
      took = System.nanoTime() - start;
      sent.write(frame, 0, Math.max(n, 0));
      wholeAfterWaiting += n == frameBytes && took >= 2_000_000_000L ? 1 : 0;
    }
    assertTrue(n >= 0 && took >= 2_000_000_000L && took < 30_000_000_000L,
        "on the full line a write returned " + n + " after " + took / 1_000_000 + " ms");

    // A write held by the full line keeps a close waiting. The close ends the read that waits
    // for input and the one waiting for its turn; calls made meanwhile return at once as on a
    // closed port rather than behind the close.
    BlockingRead waiting = com1.startWaitingRead(new byte[8]);
    BlockingRead next = com1.startRead(new byte[8], 0, 8);
    next.awaitItsTurn();
    byte[] held = new byte[1000]; // a limit of 11 s
    new Random(-1).nextBytes(held);
    AtomicInteger heldSent = new AtomicInteger(-2);
    Thread writer =
        com1.startCaller("held write", () -> heldSent.set(com1.port.write(held, 0, 1000)));
    BlockingRead.awaitThread(writer, "into the write", t -> t.getStackTrace().length > 0
        && t.getStackTrace()[0].getMethodName().equals("nativeWriteBytes"));
    AtomicBoolean closed = new AtomicBoolean();
    Thread closer = com1.startCaller("close", () -> closed.set(com1.port.close()));
    BlockingRead.awaitThread(closer, "to wait", t -> t.getState() == Thread.State.WAITING);
    FutureTask<String> calls = inThread(() -> com1.port.read(frame, 0, 1) + " "
        + com1.port.available() + " " + com1.port.isOpen() + " "
        + com1.port.setSerialPortParams(19200, 8, 1, 0) + " " + com1.port.write(frame, 0, 1) + " "
        + com1.port.close());
    assertEquals(-1, waiting.result(DEADLINE));
    assertEquals(-1, next.result(DEADLINE));
    assertEquals(
        "-1 0 false false -1 false", calls.get(DEADLINE.toMillis(), TimeUnit.MILLISECONDS));
    assertTrue(closer.isAlive(), "the reads or calls returned only once the close was done");

    com1.modem.resumeReading();
    closer.join(DEADLINE.toMillis());
    assertTrue(closed.get(), "the close after the held write");
    sent.write(held, 0, Math.max(heldSent.get(), 0));
    // Nothing beyond the counts went out: the held frame follows what was counted.
    assertArrayEquals(sent.toByteArray(), com1.modem.receive(sent.size(), DEADLINE));
    assertEquals(held.length, heldSent.get(), "the held write, once the line was read again");
  }

  @Test
  void aBadArrayOrRangeThrowsAndConsumesNothing() throws Throwable {
    com1.modem.send(new byte[] {1, 2});
    assertEquals(2, com1.awaitQueued(2));

    assertThrows(NullPointerException.class, () -> com1.read(null, 0, 1));
    byte[] b = new byte[4];
    int[][] badRanges = {{-1, 1}, {0, -1}, {0, 5}, {4, 1}, {5, 0}, {3, 2}, {1, Integer.MAX_VALUE},
        {Integer.MIN_VALUE, 1}};
    for (int[] range : badRanges) {
      assertThrows(ArrayIndexOutOfBoundsException.class,
          () -> com1.read(b, range[0], range[1]), "off " + range[0] + ", len " + range[1]);
    }
    assertArrayEquals(new byte[4], b, "nothing stored");
    assertEquals(2, com1.port.available(), "nothing consumed");

    // A range that ends exactly at the end of the array is fine.
    assertEquals(2, com1.read(b, 2, 2));
    assertArrayEquals(new byte[] {0, 0, 1, 2}, b);
  }

  @Test
  void fourReadersOfALiveLineAllGetBytesAndNeverTakeItForGone() throws Throwable {
    final int total = 1 << 20;
    AtomicInteger received = new AtomicInteger();
    AtomicReference<Integer> early = new AtomicReference<>(); // a read's result below 1
    List<Thread> readers = new ArrayList<>();
    for (int r = 0; r < 4; r++) {
      readers.add(com1.startCaller("reader-" + r, () -> {
        byte[] b = new byte[64];
        int n;
        while ((n = com1.port.read(b, 0, b.length)) > 0) {
          received.addAndGet(n);
        }
        if (received.get() < total) {
          early.compareAndSet(null, n); // only the unplugging at the end may end a read so
        }
      }));
    }
    for (int sent = 0; sent < total && early.get() == null; sent += 4096) {
      com1.modem.send(new byte[4096]);
    }
    long end = System.nanoTime() + ConnectedPort.DEADLINE.toNanos();
    while (received.get() < total && early.get() == null && System.nanoTime() < end) {
      Thread.sleep(10);
    }
    assertEquals(null, early.get(), "a read returned this while the line was live");
    assertEquals(total, received.get(), "bytes read");
    assertTrue(com1.port.setSerialPortParams(19200, 8, 1, 0), "the live port was taken for gone");

    com1.modem.unplug();
    for (Thread reader : readers) {
      reader.join(ConnectedPort.DEADLINE.toMillis());
      assertFalse(reader.isAlive(), "a read went on after the device was gone");
    }
  }

  /**
   * Another program reads the same device, and has set VMIN to 0 on it (settings are the
   * device's): reads here get what it leaves, never 0 or -1 while the line is live, and then
   * wait without using the CPU.
   */
  @Test
  void anotherReaderOfTheDeviceNeverEndsAReadEarly() throws Throwable {
    Path device = com1.modem.portDevice();
    Process stty = new ProcessBuilder("stty", "-F", device.toString(), "min", "0").start();
    assertTrue(stty.waitFor(DEADLINE.toMillis(), TimeUnit.MILLISECONDS) && stty.exitValue() == 0);
    AtomicInteger taken = new AtomicInteger();
    AtomicBoolean done = new AtomicBoolean();
    FutureTask<Void> other = inThread(() -> {
      try (FileInputStream in = new FileInputStream(device.toFile())) {
        for (byte[] chunk = new byte[64]; !done.get(); Thread.sleep(1)) {
          taken.addAndGet(Math.max(0, in.read(chunk))); // at once: with VMIN 0, nothing is -1
        }
      }
      return null;
    });
    AtomicInteger mine = new AtomicInteger();
    AtomicReference<Integer> ended = new AtomicReference<>(); // what ended the reads
    Thread reader = com1.startCaller("reader", () -> {
      int n;
      while ((n = com1.port.read(new byte[64], 0, 64)) > 0) {
        mine.addAndGet(n);
      }
      ended.set(n);
    });

    for (int sent = 0; sent < 1 << 16; sent += 1024) {
      com1.modem.send(new byte[1024]);
    }
    long end = System.nanoTime() + DEADLINE.toNanos();
    while (mine.get() + taken.get() < 1 << 16 && ended.get() == null && System.nanoTime() < end) {
      Thread.sleep(10);
    }
    assertEquals(1 << 16, mine.get() + taken.get(), "bytes read here and by the other reader");
    ThreadMXBean threads = ManagementFactory.getThreadMXBean();
    long cpuBefore = threads.getThreadCpuTime(reader.getId());
    Thread.sleep(1000);
    long cpuUsed = threads.getThreadCpuTime(reader.getId()) - cpuBefore;
    assertEquals(null, ended.get(), "a read returned this while the line was live");
    assertTrue(cpuUsed < 100_000_000L, "a waiting read used " + cpuUsed / 1000 + " us of CPU in 1 s");
    done.set(true);
    other.get(DEADLINE.toMillis(), TimeUnit.MILLISECONDS);
  }

  private static <T> FutureTask<T> inThread(Callable<T> call) {
    FutureTask<T> task = new FutureTask<>(call);
    Thread thread = new Thread(task, "call");
    thread.setDaemon(true);
    thread.start();
    return task;
  }
}
