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
    assertEquals(0, call(() -> com1.port.read(b, 0, 4, 300)), "on a silent line");
    assertTrue(System.nanoTime() - start >= 290_000_000L, "returned before its time was up");
    assertThrows(IllegalArgumentException.class, () -> com1.port.read(b, 0, 4, -1));
    BlockingRead read = waitingIn("nativeReadWithin", () -> com1.port.read(b, 1, 3, 30_000));
    assertEquals(0, call(() -> com1.port.read(b, 0, 0, 30_000)), "len 0 beside a waiting read");
    com1.modem.send(new byte[] {'a', 'b'});
    assertEquals(2, read.result(DEADLINE));
    assertArrayEquals(new byte[] {0, 'a', 'b', 0}, b);
    read = waitingIn("nativeReadWithin", () -> com1.port.read(b, 0, 4, 60_000));
    assertTrue(com1.port.close());
    assertEquals(-1, read.result(DEADLINE));
  }

  /**
   * The input stream reads as read does, or up to the read time-out, after which it throws with
   * nothing consumed; closing it leaves the port open, and it reads -1 once the port is closed.
   */
  @Test
  void theInputStreamReadsAndTimesOut() throws Throwable {
    InputStream in = com1.port.getInputStream();
    com1.modem.send(new byte[] {(byte) 0xFE, 'x', 'y'});
    assertEquals(3, com1.awaitQueued(3));
    assertEquals(3, in.available());
    assertEquals(0xFE, call(in::read));
    byte[] b = new byte[4];
    assertEquals(2, call(() -> in.read(b, 1, 3)));
    assertArrayEquals(new byte[] {0, 'x', 'y', 0}, b);
    com1.port.setReadTimeout(300);
    long start = System.nanoTime();
    assertThrows(SocketTimeoutException.class, () -> call(in::read));
    assertTrue(System.nanoTime() - start >= 290_000_000L, "timed out before its time");
    com1.modem.send(new byte[] {'z'});
    assertEquals('z', call(in::read), "the next read, within the time-out");
    in.close();
    com1.port.setReadTimeout(0);
    BlockingRead read = waitingIn("nativeRead", in::read);
    assertTrue(com1.port.isOpen(), "closing the stream closed the port");
    assertTrue(com1.port.close());
    assertEquals(-1, read.result(DEADLINE));
  }

  /** Frames go out whole; a write throws saying how many bytes went out when not all did. */
  @Test
  void theOutputStreamWritesFramesAndThrowsWhenNotAllWentOut() throws Throwable {
    OutputStream out = com1.port.getOutputStream();
    out.write(new byte[] {9, 1, 2, 3, 9}, 1, 3);
    out.write(0x1FF);
    out.close();
    assertArrayEquals(new byte[] {1, 2, 3, (byte) 0xFF}, com1.modem.receive(4, DEADLINE));
    com1.modem.stopReading();
    byte[] frame = new byte[100]; // a limit of 2 s
    InterruptedIOException thrown = assertThrows(InterruptedIOException.class, () -> call(() -> {
      for (int calls = 0; calls < 100_000; calls++) {
        out.write(frame, 0, frame.length);
      }
      return 0;
    }));
    int sent = thrown.bytesTransferred;
    assertTrue(sent < 100 && thrown.getMessage().startsWith("only " + sent + " of 100 "), "" + sent);
    assertTrue(com1.port.close());
    assertThrows(IOException.class, () -> out.write(frame, 0, 1), "on a closed port");
  }

  /** The call's result; it runs on a thread of its own and must end within the deadline. */
  private static int call(Callable<Integer> call) throws Throwable {
    return BlockingRead.start(call, "").result(DEADLINE);
  }

  /** The call started on a thread of its own, once it waits for input in the named native. */
  private static BlockingRead waitingIn(String nativeMethod, Callable<Integer> call)
      throws InterruptedException {
    BlockingRead read = BlockingRead.start(call, nativeMethod);
    read.awaitInLibrary();
    return read;
  }
}
