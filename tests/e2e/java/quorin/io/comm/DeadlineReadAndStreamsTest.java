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
 * that may wait runs on a thread of its own, waited for with a deadline of seconds.
 */
@Timeout(value = 60, threadMode = Timeout.ThreadMode.SEPARATE_THREAD)
class DeadlineReadAndStreamsTest extends OnConnectedPort {

  /** Nothing in time: 0, once the time is up; bytes: at once; close: -1 long before it. */
  @Test
  void aDeadlineReadReturnsWhatCameZeroOnceItsTimeIsUpOrMinusOneAtClose() throws Throwable {
    byte[] b = new byte[4];
    long start = System.nanoTime();
    assertEquals(0, (int) call(() -> com1.port.read(b, 0, 4, 300)), "on a silent line");
    assertTrue(System.nanoTime() - start >= 290_000_000L, "returned before its time was up");
    assertThrows(IllegalArgumentException.class, () -> com1.port.read(b, 0, 4, -1));

    FutureTask<Integer> waiting = inThread(() -> com1.port.read(b, 1, 3, 30_000));
    awaitIn("nativeReadWithin");
    com1.modem.send(new byte[] {'a', 'b'});
    assertEquals(2, (int) waiting.get(DEADLINE.toMillis(), TimeUnit.MILLISECONDS));
    assertArrayEquals(new byte[] {0, 'a', 'b', 0}, b);

    waiting = inThread(() -> com1.port.read(b, 0, 4, 60_000));
    awaitIn("nativeReadWithin");
    assertTrue(com1.port.close());
    assertEquals(-1, (int) waiting.get(DEADLINE.toMillis(), TimeUnit.MILLISECONDS));
    assertEquals(-1, (int) call(() -> com1.port.read(b, 0, 4, 30_000)), "on a closed port");
  }

  /**
   * The input stream waits as read does, or up to the read time-out, after which it throws with
   * nothing consumed; closing it leaves the port open, and it reads -1 once the port is closed.
   */
  @Test
  void theInputStreamReadsAndTimesOut() throws Throwable {
    InputStream in = com1.port.getInputStream();
    com1.modem.send(new byte[] {(byte) 0xFE, 'x', 'y'});
    assertEquals(3, com1.awaitQueued(3));
    assertEquals(3, in.available());
    assertEquals(0xFE, (int) call(in::read));
    byte[] b = new byte[4];
    assertEquals(2, (int) call(() -> in.read(b, 1, 3)));
    assertArrayEquals(new byte[] {0, 'x', 'y', 0}, b);

    com1.port.setReadTimeout(300);
    long start = System.nanoTime();
    ExecutionException timedOut = assertThrows(ExecutionException.class, () -> call(in::read));
    assertTrue(timedOut.getCause() instanceof SocketTimeoutException, timedOut::toString);
    assertTrue(System.nanoTime() - start >= 290_000_000L, "timed out before its time");
    com1.modem.send(new byte[] {'z'});
    assertEquals('z', (int) call(in::read), "the next read, within the time-out");

    in.close();
    com1.port.setReadTimeout(0);
    FutureTask<Integer> waiting = inThread(in::read);
    awaitIn("nativeRead");
    assertTrue(com1.port.isOpen(), "closing the stream closed the port");
    assertTrue(com1.port.close());
    assertEquals(-1, (int) waiting.get(DEADLINE.toMillis(), TimeUnit.MILLISECONDS));
  }

  /**
   * Frames go out whole; on a line that stops taking them a write throws, saying how many bytes
   * went out, and on a port that is not open. Closing the stream leaves the port open.
   */
  @Test
  void theOutputStreamWritesFramesAndThrowsWhenNotAllWentOut() throws Throwable {
    OutputStream out = com1.port.getOutputStream();
    out.write(new byte[] {9, 1, 2, 3, 9}, 1, 3);
    out.write(0x1FF);
    out.close();
    assertArrayEquals(new byte[] {1, 2, 3, (byte) 0xFF}, com1.modem.receive(4, DEADLINE));

    com1.modem.stopReading();
    byte[] frame = new byte[100]; // a limit of 2 s
    ExecutionException shortWrite = assertThrows(ExecutionException.class, () -> call(() -> {
      for (int calls = 0; calls < 100_000; calls++) {
        out.write(frame, 0, frame.length);
      }
      return null;
    }));
    InterruptedIOException thrown = (InterruptedIOException) shortWrite.getCause();
    assertTrue(thrown.bytesTransferred < frame.length, "bytesTransferred " + thrown.bytesTransferred);
    assertTrue(thrown.getMessage().startsWith("only " + thrown.bytesTransferred + " of 100 "));

    assertTrue(com1.port.close());
    assertThrows(IOException.class, () -> out.write(frame, 0, 1));
  }

  /** The call's result; it runs on a thread of its own and must end within the deadline. */
  private static <T> T call(Callable<T> call) throws Exception {
    return inThread(call).get(DEADLINE.multipliedBy(2).toMillis(), TimeUnit.MILLISECONDS);
  }

  private static <T> FutureTask<T> inThread(Callable<T> call) {
    FutureTask<T> task = new FutureTask<>(call);
    Thread thread = new Thread(task, "call");
    thread.setDaemon(true);
    thread.start();
    return task;
  }

  /** Waits until a thread "call" runs the named native: waiting for input there. */
  private static void awaitIn(String nativeMethod) throws InterruptedException {
    long end = System.nanoTime() + DEADLINE.toNanos();
    while (Thread.getAllStackTraces().entrySet().stream().noneMatch(thread
        -> thread.getKey().getName().equals("call") && thread.getValue().length > 0
            && thread.getValue()[0].getMethodName().equals(nativeMethod))) {
      assertTrue(System.nanoTime() < end, "no call got into " + nativeMethod);
      Thread.sleep(5);
    }
  }
}
