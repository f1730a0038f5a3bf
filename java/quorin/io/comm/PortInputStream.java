package quorin.io.comm;

import java.io.IOException;
import java.io.InputStream;
import java.net.SocketTimeoutException;
import java.util.Objects;

/** CESerialPort.getInputStream(): reads of the port, bounded by its read time-out. */
final class PortInputStream extends InputStream {
  private final CESerialPort port;

  PortInputStream(CESerialPort port) {
    this.port = port;
  }

  @Override
  public int read() throws IOException {
    byte[] one = new byte[1];
    return read(one, 0, 1) < 0 ? -1 : one[0] & 0xFF;
  }

  @Override
  public int read(byte[] b, int off, int len) throws IOException {
    Objects.checkFromIndexSize(off, len, b.length);
    if (len == 0) {
      return 0;
    }
    int timeoutMs = port.getReadTimeout();
    if (timeoutMs == 0) {
      return port.read(b, off, len);
    }
    int n = port.read(b, off, len, timeoutMs);
    if (n == 0) {
      throw new SocketTimeoutException("no byte arrived within " + timeoutMs + " ms");
    }
    return n;
  }

  @Override
  public int available() {
    return port.available();
  }

  /** Leaves the port open; the stream can still be read. */
  @Override
  public void close() {}
}
