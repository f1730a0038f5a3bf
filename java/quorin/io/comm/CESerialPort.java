package quorin.io.comm;

import java.util.concurrent.locks.ReentrantReadWriteLock;

/**
 * One serial port, driven by the native library tarvesk.
 *
 * <p>nativeHandle is the library's: 0 before the first open, the address of the native port
 * while open, -1 after close. The lock lets any number of reads, writes and queries run at
 * once but keeps close (and open) from running while one of them is inside the library, since
 * close frees the native object they use.
 */
public class CESerialPort {
  public static final int DATABITS_5 = 5;
  public static final int DATABITS_6 = 6;
  public static final int DATABITS_7 = 7;
  public static final int DATABITS_8 = 8;
  public static final int STOPBITS_1 = 1;
  public static final int STOPBITS_2 = 2;
  public static final int STOPBITS_1_5 = 3;
  public static final int PARITY_NONE = 0;
  public static final int PARITY_ODD = 1;
  public static final int PARITY_EVEN = 2;
  public static final int PARITY_MARK = 3;
  public static final int PARITY_SPACE = 4;

  static {
    System.loadLibrary("tarvesk");
  }

  long nativeHandle;

  private final ReentrantReadWriteLock lock = new ReentrantReadWriteLock();

  /**
   * Opens the named port (for example "COM1:"); isOpen tells whether it worked. An object that
   * is open already closes its port first, as close() would, so that the port is never left
   * open with nothing referring to it (the same port opens again this way): if the new port
   * then fails to open, the object is closed. A port that cannot be closed stays open and bound,
   * and nothing else is opened.
   */
  public void open(String portName) {
    lock.writeLock().lock();
    try {
      nativeOpen(portName);
    } finally {
      lock.writeLock().unlock();
    }
  }

  public boolean isOpen() {
    long handle = nativeHandle;
    return handle != 0 && handle != -1;
  }

  /** Closes the port; waits for calls in progress (a blocked read included) to return. */
  public boolean close() {
    lock.writeLock().lock();
    try {
      return nativeClose();
    } finally {
      lock.writeLock().unlock();
    }
  }

  /** Blocks until at least one byte has arrived; returns the count stored, or -1. */
  public int read(byte[] b, int off, int len) {
    lock.readLock().lock();
    try {
      return nativeRead(b, off, len);
    } finally {
      lock.readLock().unlock();
    }
  }

  public void write(int b) {
    lock.readLock().lock();
    try {
      nativeWrite(b);
    } finally {
      lock.readLock().unlock();
    }
  }

  public int available() {
    lock.readLock().lock();
    try {
      return nativeAvailable();
    } finally {
      lock.readLock().unlock();
    }
  }

  public boolean setSerialPortParams(int baudRate, int dataBits, int stopBits, int parity) {
    lock.readLock().lock();
    try {
      return nativeSetSerialPortParams(baudRate, dataBits, stopBits, parity);
    } finally {
      lock.readLock().unlock();
    }
  }

  native void nativeOpen(String portName);

  native boolean nativeClose();

  native int nativeRead(byte[] b, int off, int len);

  native void nativeWrite(int b);

  native int nativeAvailable();

  native boolean nativeSetSerialPortParams(int baudRate, int dataBits, int stopBits, int parity);
}
