package quorin.io.comm;

import java.io.IOException;
import java.io.InterruptedIOException;
import java.io.OutputStream;
import java.util.Objects;

/** CESerialPort.getOutputStream(): frames written whole, and a short write reported. */
final class PortOutputStream extends OutputStream {
  private final CESerialPort port;

  PortOutputStream(CESerialPort port) {
    this.port = port;
  }

  @Override
  public void write(int b) throws IOException {
    write(new byte[] {(byte) b}, 0, 1);
  }

  @Override
  public void write(byte[] b, int off, int len) throws IOException {
    Objects.checkFromIndexSize(off, len, b.length);
    int sent = port.write(b, off, len);
    if (sent < 0) {
      throw new IOException("the port is not open");
    }
    if (sent < len) {
      InterruptedIOException shortWrite = new InterruptedIOException("only " + sent + " of " + len
          + " bytes went out: the write time-out passed or the device went away");
      shortWrite.bytesTransferred = sent;
      throw shortWrite;
    }
  }

  /** Leaves the port open; the stream can still be written. */
  @Override
  public void close() {}
}
