package quorin.io.comm;

import java.io.IOException;
import java.time.Duration;
import java.util.ArrayList;
import java.util.List;

/**
 * COM1: opened through the library on a fresh virtual null modem, with the peer end in hand.
 *
 * <p>close() never frees the native port under a read that is still waiting: it cuts the line
 * first, which ends every read, and leaves the port open (failing the test) if one does not.
 */
final class ConnectedPort {
  static final Duration DEADLINE = Duration.ofSeconds(10);

  final VirtualNullModem modem;
  final CESerialPort port = new CESerialPort();
  private final List<BlockingRead> reads = new ArrayList<>();

  private ConnectedPort(VirtualNullModem modem) { this.modem = modem; }

  static ConnectedPort open() throws IOException, InterruptedException {
    ConnectedPort connected = new ConnectedPort(VirtualNullModem.start("COM1"));
    connected.port.nativeOpen("COM1:");
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

  /** nativeRead that must return within the deadline (bytes are known to be queued). */
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
        throw new AssertionError("nativeRead returned " + got + " after " + count + " bytes");
      }
      count += got;
    }
    return data;
  }

  /** Waits until nativeAvailable reports at least n bytes; returns the last count. */
  int awaitQueued(int n) throws InterruptedException {
    long end = System.nanoTime() + DEADLINE.toNanos();
    int queued = port.nativeAvailable();
    while (queued < n && System.nanoTime() < end) {
      Thread.sleep(5);
      queued = port.nativeAvailable();
    }
    return queued;
  }

  public void close() throws IOException, InterruptedException {
    modem.hangUp();
    boolean readsEnded = true;
    for (BlockingRead read : reads) {
      readsEnded &= read.endsWithin(DEADLINE);
    }
    if (readsEnded && port.isOpen()) {
      port.nativeClose();
    }
    modem.close();
    if (!readsEnded) {
      throw new AssertionError("a nativeRead was still waiting after the line was cut");
    }
  }
}
