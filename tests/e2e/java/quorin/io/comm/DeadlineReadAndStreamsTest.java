package quorin.io.comm;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quorin.io.comm.ConnectedPort.DEADLINE;

import java.io.IOException;
import java.io.InputStream;
import java.io.InterruptedIOException;
import java.io.OutputStream;
import java.net.SocketTimeoutException;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.FutureTask;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;

/**
 * The read with a deadline and the port's streams on COM1: of a virtual null modem. Every call
 * that may wait runs on a thread of its own and is waited for with a deadline of seconds.
 */
@Timeout(value = 60, threadMode = Timeout.ThreadMode.SEPARATE_THREAD)
class DeadlineReadAndStreamsTest extends OnConnectedPort {

  @Test
  void aDeadlineReadReturnsWhatCameOrZeroOnceItsTimeIsUp() throws Throwable {
    byte[] b = new byte[8];
    long start = System.nanoTime();
    assertEquals(0, (int) call(() -> com1.port.read(b, 0, 8, 300)), "on a silent line");
    assertTrue(System.nanoTime() - start >= 290_000_000L, "returned before its time was up");
    assertEquals(0, (int) call(() -> com1.port.read(b, 0, 8, 0)), "nothing queued, no wait");

    FutureTask<Integer> waiting = inThread(() -> com1.port.read(b, 2, 6, 30_000));
    awaitIn("nativeReadWithin");
    com1.modem.send(new byte[] {'a', 'b'});
    assertEquals(2, (int) waiting.get(DEADLINE.toMillis(), TimeUnit.MILLISECONDS));
    assertArrayEquals(new byte[] {0, 0, 'a', 'b', 0, 0, 0, 0}, b);

    com1.modem.send(new byte[] {'c', 'd', 'e'});
    assertEquals(3, com1.awaitQueued(3));
    assertEquals(0, (int) call(() -> com1.port.read(b, 0, 0, 30_000)), "len 0 waits for nothing");
    assertEquals(2, (int) call(() -> com1.port.read(b, 0, 2, 0)), "what is queued, no wait");
    assertEquals(1, (int) call(() -> com1.port.read(b, 7, 1, 30_000)));
    assertArrayEquals(new byte[] {'c', 'd', 'a', 'b', 0, 0, 0, 'e'}, b);
  }

  /** Arguments are checked first, on an open port as on a closed one, and consume nothing. */
  @Test
  void badArgumentsThrowAndAClosedPortReadsMinusOne() throws Throwable {
    com1.modem.send(new byte[] {1});
    assertEquals(1, com1.awaitQueued(1));
    byte[] b = new byte[4];
    for (int round = 0; round < 2; round++) {
      assertThrows(NullPointerException.class, () -> com1.port.read(null, 0, 1, 10));
      assertThrows(ArrayIndexOutOfBoundsException.class, () -> com1.port.read(b, 3, 2, 10));
      assertThrows(ArrayIndexOutOfBoundsException.class, () -> com1.port.read(b, -1, 1, 10));
      assertThrows(IllegalArgumentException.class, () -> com1.port.read(b, 0, 1, -1));
      assertThrows(IllegalArgumentException.class, () -> com1.port.setReadTimeout(-1));
      if (round == 0) {
        assertEquals(1, com1.port.available(), "nothing consumed");
        assertTrue(com1.port.close());
      }
    }
    assertEquals(-1, (int) call(() -> com1.port.read(b, 0, 4, 30_000)));
    assertEquals(-1, (int) call(() -> com1.port.read(b, 0, 0, 0)));
    assertEquals(-1, (int) call(() -> new CESerialPort().read(b, 0, 4, 30_000)), "never opened");
  }

  @Test
  void closeEndsADeadlineReadThatWaits() throws Throwable {
    FutureTask<Integer> waiting = inThread(() -> com1.port.read(new byte[4], 0, 4, 60_000));
    awaitIn("nativeReadWithin");
    assertTrue(com1.port.close());
    assertEquals(-1, (int) waiting.get(DEADLINE.toMillis(), TimeUnit.MILLISECONDS));
  }

  /**
   * The input stream waits as read does, or up to the read time-out, after which it throws with
   * nothing consumed; closing it leaves the port open. It ends with -1 when the port closes.
   */
  @Test
  void theInputStreamReadsWaitsAndTimesOut() throws Throwable {
    InputStream in = com1.port.getInputStream();
    com1.modem.send(new byte[] {(byte) 0xFE, 'x', 'y'});
    assertEquals(3, com1.awaitQueued(3));
    assertEquals(3, in.available());
    assertEquals(0xFE, (int) call(in::read));
    byte[] b = new byte[4];
    assertEquals(2, (int) call(() -> in.read(b, 1, 3)));
    assertArrayEquals(new byte[] {0, 'x', 'y', 0}, b);
    assertEquals(0, (int) call(() -> in.read(b, 0, 0)));
    assertThrows(IndexOutOfBoundsException.class, () -> in.read(b, 2, 3));

    com1.port.setReadTimeout(300);
    assertEquals(300, com1.port.getReadTimeout());
    long start = System.nanoTime();
    ExecutionException timedOut = assertThrows(ExecutionException.class, () -> call(in::read));
    assertTrue(timedOut.getCause() instanceof SocketTimeoutException, timedOut.getCause()::toString);
    assertTrue(System.nanoTime() - start >= 290_000_000L, "timed out before its time");
    com1.modem.send(new byte[] {'z'});
    assertEquals('z', (int) call(in::read), "the next read, within the time-out");

    in.close();
    com1.port.setReadTimeout(0);
    FutureTask<Integer> waiting = inThread(() -> in.read(b, 0, 4));
    awaitIn("nativeRead");
    com1.modem.send(new byte[] {'w'});
    assertEquals(1, (int) waiting.get(DEADLINE.toMillis(), TimeUnit.MILLISECONDS), "after close");
    assertTrue(com1.port.isOpen(), "closing the stream closed the port");

    waiting = inThread(in::read);
    awaitIn("nativeRead");
    assertTrue(com1.port.close());
    assertEquals(-1, (int) waiting.get(DEADLINE.toMillis(), TimeUnit.MILLISECONDS));
    com1.port.setReadTimeout(5000);
    assertEquals(-1, (int) call(in::read), "a closed port, with a time-out");
  }

  @Test
  void theInputStreamEndsWhenTheDeviceGoes() throws Throwable {
    InputStream in = com1.port.getInputStream();
    FutureTask<Integer> waiting = inThread(in::read);
    awaitIn("nativeRead");
    com1.modem.unplug();
    assertEquals(-1, (int) waiting.get(DEADLINE.toMillis(), TimeUnit.MILLISECONDS));
  }

  /**
   * Frames go out whole; on a line that stops taking them a write throws, saying how many bytes
   * of its frame went out, and a port that is not open throws. Closing the stream leaves the
   * port open.
   */
  @Test
  void theOutputStreamWritesFramesAndThrowsWhenNotAllWentOut() throws Throwable {
    OutputStream out = com1.port.getOutputStream();
    out.write(new byte[] {9, 1, 2, 3, 9}, 1, 3);
    out.write(0x1FF);
    out.flush();
    out.close();
    assertArrayEquals(new byte[] {1, 2, 3, (byte) 0xFF}, com1.modem.receive(4, DEADLINE));
    assertTrue(com1.port.isOpen(), "closing the stream closed the port");

    com1.modem.stopReading();
    byte[] frame = new byte[100]; // a limit of 2 s
    ExecutionException shortWrite = assertThrows(ExecutionException.class, () -> call(() -> {
      for (int calls = 0; calls < 100_000; calls++) {
        out.write(frame, 0, frame.length);
      }
      return null;
    }, DEADLINE.multipliedBy(3).toMillis()));
    InterruptedIOException thrown = (InterruptedIOException) shortWrite.getCause();
    assertTrue(thrown.bytesTransferred >= 0 && thrown.bytesTransferred < frame.length,
        "bytesTransferred " + thrown.bytesTransferred);
    assertTrue(thrown.getMessage().startsWith("only " + thrown.bytesTransferred + " of 100 "),
        thrown.getMessage());

    com1.modem.resumeReading();
    assertTrue(com1.port.close());
    IOException notOpen = assertThrows(IOException.class, () -> out.write(frame, 0, 1));
    assertEquals("the port is not open", notOpen.getMessage());
  }

  /** The call's result; it runs on a thread of its own and must end within the deadline. */
  private static <T> T call(Callable<T> call) throws Exception {
    return call(call, DEADLINE.toMillis());
  }

  private static <T> T call(Callable<T> call, long deadlineMs) throws Exception {
    return inThread(call).get(deadlineMs, TimeUnit.MILLISECONDS);
  }

  private static <T> FutureTask<T> inThread(Callable<T> call) {
    FutureTask<T> task = new FutureTask<>(call);
    Thread thread = new Thread(task, "call");
    thread.setDaemon(true);
    thread.start();
    return task;
  }

  /** Waits until the thread "call" runs the named native: waiting for input there. */
  private static void awaitIn(String nativeMethod) throws InterruptedException {
    long end = System.nanoTime() + DEADLINE.toNanos();
    for (;;) {
      for (Thread thread : Thread.getAllStackTraces().keySet()) {
        StackTraceElement[] stack = thread.getStackTrace();
        if (thread.getName().equals("call") && stack.length > 0
            && stack[0].getMethodName().equals(nativeMethod)) {
          return;
        }
      }
      assertTrue(System.nanoTime() < end, "no call got into " + nativeMethod);
      Thread.sleep(5);
    }
  }
}
