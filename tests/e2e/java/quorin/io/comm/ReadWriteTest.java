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
    // A bad argument throws as it does on an open port.
    for (CESerialPort port : new CESerialPort[] {com1.port, new CESerialPort()}) {
      assertThrows(NullPointerException.class, () -> port.read(null, 0, 1));
      assertThrows(NullPointerException.class, () -> port.write(null, 0, 1));
      assertThrows(ArrayIndexOutOfBoundsException.class, () -> port.read(b, 3, 2));
      assertThrows(ArrayIndexOutOfBoundsException.class, () -> port.write(b, -1, 1));
    }
  }

  /**
   * Frames go out whole, each in one call, until the line is full: then a write gives up after
   * its limit, 10 ms per byte plus 1 s, and says how much of its frame went out.
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

    com1.modem.resumeReading();
    assertArrayEquals(sent.toByteArray(), com1.modem.receive(sent.size(), DEADLINE));
  }

  /**
   * A close ends a frame the line holds (its limit is hours away) with the count that went out,
   * and exactly those bytes arrive; it ends the write queued behind it and a waiting read too.
   */
  @Test
  void aCloseEndsAHeldFrameWithTheCountThatWentOut() throws Throwable {
    byte[] frame = new byte[1 << 20];
    new Random(26).nextBytes(frame);
    com1.modem.stopReading();
    BlockingRead waiting = com1.startWaitingRead(new byte[8]);
    AtomicInteger heldSent = new AtomicInteger(-2);
    AtomicInteger queuedSent = new AtomicInteger(-2);
    Thread held = com1.startCaller("held write", () -> heldSent.set(com1.port.write(frame, 0,
                                                      frame.length)));
    BlockingRead.awaitThread(held, "into the write", t -> t.getStackTrace().length > 0
        && t.getStackTrace()[0].getMethodName().equals("nativeWriteBytes"));
    Thread queued = com1.startCaller("queued write", () -> queuedSent.set(com1.port.write(frame,
                                                         0, 16)));
    BlockingRead.awaitThread(queued, "to wait for its turn",
        t -> t.getState() == Thread.State.WAITING);
    Thread.sleep(STILL_WAITING.toMillis()); // the line fills up
    assertTrue(held.isAlive(), "the write returned " + heldSent.get() + " on a full line");

    assertTrue(com1.port.close(), "the close while a frame is held");
    held.join(DEADLINE.toMillis());
    queued.join(DEADLINE.toMillis());
    assertFalse(held.isAlive() || queued.isAlive(), "a write went on after the close");
    assertEquals(-1, waiting.result(DEADLINE));
    assertEquals(-1, queuedSent.get(), "the write queued behind the held one");
    int count = heldSent.get();
    assertTrue(count > 0 && count < frame.length, "the held write returned " + count);

    com1.modem.resumeReading();
    assertArrayEquals(Arrays.copyOf(frame, count), com1.modem.receive(count, DEADLINE));
    assertThrows(AssertionError.class, () -> com1.modem.receive(1, STILL_WAITING),
        "more went out than the count says");
  }

  /** Four threads' frames, each byte saying whose and which, arrive whole and in order. */
  @Test
  void framesFromFourThreadsArriveWhole() throws Throwable {
    final int frameBytes = 4096;
    final int framesEach = 60;
    AtomicReference<String> shortWrite = new AtomicReference<>();
    List<Thread> writers = new ArrayList<>();
    for (int w = 0; w < 4; w++) {
      final int writer = w;
      writers.add(com1.startCaller("writer-" + w, () -> {
        byte[] frame = new byte[frameBytes];
        for (int seq = 0; seq < framesEach; seq++) {
          Arrays.fill(frame, (byte) (writer << 6 | seq));
          int n = com1.port.write(frame, 0, frameBytes);
          if (n != frameBytes) {
            shortWrite.compareAndSet(null, "writer " + writer + " frame " + seq + ": " + n);
          }
        }
      }));
    }
    byte[] line = com1.modem.receive(4 * framesEach * frameBytes, DEADLINE.multipliedBy(3));
    for (Thread writer : writers) {
      writer.join(DEADLINE.toMillis());
    }
    assertEquals(null, shortWrite.get(), "a write sent less than its frame");
    int[] next = new int[4];
    for (int at = 0; at < line.length; at += frameBytes) {
      int mark = line[at] & 0xFF;
      for (int i = at; i < at + frameBytes; i++) {
        assertEquals(mark, line[i] & 0xFF, "the frame at offset " + at + " is torn at " + i);
      }
      assertEquals(next[mark >> 6]++, mark & 63, "the frame at offset " + at + " of writer "
          + (mark >> 6) + " came out of order");
    }
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
