package quorin.io.comm;

import static org.junit.jupiter.api.Assertions.assertFalse;

import java.io.IOException;
import java.time.Duration;
import java.util.ArrayList;
import java.util.List;

/**
 * COM1: opened through the library on a fresh virtual null modem, with the peer end in hand.
 *
 * <p>close() cuts the line first, which ends every read, then closes the port; it leaves the
 * port open (failing the test) if a read, or a thread started here, does not end.
 */
final class ConnectedPort {
  static final Duration DEADLINE = Duration.ofSeconds(10);
  /** Long enough that a read which should wait has had every chance to return wrongly. */
  static final Duration STILL_WAITING = Duration.ofMillis(300);

  final VirtualNullModem modem;
  final CESerialPort port = new CESerialPort();
  private final List<BlockingRead> reads = new ArrayList<>();
  private final List<Thread> callers = new ArrayList<>();

  private ConnectedPort(VirtualNullModem modem) { this.modem = modem; }

  static ConnectedPort open() throws IOException, InterruptedException {
    ConnectedPort connected = new ConnectedPort(VirtualNullModem.start("COM1"));
    connected.port.open("COM1:");
    if (!connected.port.isOpen()) {
      connected.close();
      throw new AssertionError("COM1: did not open on a virtual null modem");
    }
    return connected;
  }

  BlockingRead startRead(byte[] b, int off, int len) {
    BlockingRead read = BlockingRead.start(port, b, off, len);
    reads.add(read);
    return read;
  }

  /**
   * A read into b with nothing queued, once it waits in the library: fails the test if it
   * returns within STILL_WAITING.
   */
  BlockingRead startWaitingRead(byte[] b) throws InterruptedException {
    BlockingRead read = startRead(b, 0, b.length);
    read.awaitInLibrary();
    assertFalse(read.endsWithin(STILL_WAITING), "read returned with nothing to read");
    return read;
  }

  /** A daemon thread that calls the port (a reader in a loop, a close); close() waits for it. */
  Thread startCaller(String name, Runnable calls) {
    Thread caller = new Thread(calls, name);
    caller.setDaemon(true);
    callers.add(caller);
    caller.start();
    return caller;
  }

  /** A read that must return within the deadline (bytes are known to be queued). */
  int read(byte[] b, int off, int len) throws Throwable {
    return startRead(b, off, len).result(DEADLINE);
  }

  /** Reads exactly n bytes, however the library splits them up. */
  byte[] readFully(int n) throws Throwable {
    byte[] data = new byte[n];
    int count = 0;
    while (count < n) {
      int got = read(data, count, Math.min(n - count, 65536));
      if (got < 0) {
        throw new AssertionError("read returned " + got + " after " + count + " bytes");
      }
      count += got;
    }
    return data;
  }

  /** Waits until available reports at least n bytes; returns the last count. */
  int awaitQueued(int n) throws InterruptedException {
    long end = System.nanoTime() + DEADLINE.toNanos();
    int queued = port.available();
    while (queued < n && System.nanoTime() < end) {
      Thread.sleep(5);
      queued = port.available();
    }
    return queued;
  }

  public void close() throws IOException, InterruptedException {
    modem.unplug();
    boolean readsEnded = true;
    for (BlockingRead read : reads) {
      readsEnded &= read.endsWithin(DEADLINE);
    }
    for (Thread caller : callers) {
      caller.join(DEADLINE.toMillis());
      readsEnded &= !caller.isAlive();
    }
    if (readsEnded && port.isOpen()) {
      port.close();
    }
    modem.close();
    if (!readsEnded) {
      throw new AssertionError("a call was still in progress after the line was cut");
    }
  }
}
