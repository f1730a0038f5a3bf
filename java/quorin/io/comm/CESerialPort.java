package quorin.io.comm;

import java.io.InputStream;
import java.io.OutputStream;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.locks.LockSupport;
import java.util.concurrent.locks.ReentrantLock;

/**
 * One serial port, driven by the native library tarvesk.
 *
 * <p>nativeHandle is the library's: 0 before the first open, the address of the native port
 * while open, -1 after close. Any number of queries may run at once, and one read and one write
 * beside them; other reads and writes wait for their turn. open and close free or replace the
 * native port those calls use, so they wait until none is in progress; calls that arrive
 * meanwhile do not wait behind them but return at once as on a closed port (read -1, available 0, isOpen false, setSerialPortParams false after
 * checking its values, write(int) sends nothing, write(byte[], int, int) -1).
 *
 * <p>A read waits until a byte arrives or the device goes away, or until close (or open on an
 * open object) ends it: it then returns -1 at once, and the close goes ahead. So does a write
 * held by a peer that stops reading: it returns at once with the count that went out. With a
 * library older than nativeCancelIo, close instead waits until the read or write ends by
 * itself.
 *
 * <p>Writes go out one at a time, in the order they were called, so the bytes of each are
 * contiguous on the line whichever threads write; a write the peer holds holds the ones behind
 * it, and close ends them all.
 *
 * <p>A port is released by close only: a port object dropped while open keeps its device until
 * the VM exits.
 */
public class CESerialPort {
  /**
   * Declared first: the library looks this field up by name on every call, and the search runs
   * through the fields in the order they are declared.
   */
  long nativeHandle;

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
    TarveskLibrary.ensureLoaded();
  }

  /** Set in {@link #calls} while an open or close has the port to itself, or waits for it. */
  private static final int EXCLUSIVE = 1 << 30;

  /** The calls in progress inside the library, plus EXCLUSIVE. */
  private final AtomicInteger calls = new AtomicInteger();

  /** The open or close that waits for the calls in progress to leave. */
  private volatile Thread exclusiveOwner;

  /** Lets one read at a time take input, so that no read finds its bytes taken by another. */
  private final Object reading = new Object();

  /**
   * Lets one write at a time reach the driver, in the order they came: the driver sends a write
   * in pieces as room comes, and pieces of writes side by side would interleave on the line.
   */
  private final ReentrantLock writing = new ReentrantLock(true);

  /** Bound to no port: checks the values setSerialPortParams is given while this one is busy. */
  private static final CESerialPort UNBOUND = new CESerialPort();

  /** False once the library turned out to be one without nativeCancelIo. */
  private static volatile boolean canCancelIo = true;

  /**
   * How long an open or close waits for the calls in progress before it cancels again: a write
   * that was about to start when the cancel came starts after it, and is ended only by another.
   */
  private static final long RECANCEL_NANOS = 50_000_000L;

  /** How long a read of the input stream waits for a byte; 0: without a limit. */
  private volatile int readTimeoutMs;

  /**
   * Opens the named port (for example "COM1:"); isOpen tells whether it worked. Does nothing
   * while another open or a close of this object is under way. An object that is open already
   * closes its port first, as close() would, so that the port is never left open with nothing
   * referring to it (the same port opens again this way): if the new port then fails to open,
   * the object is closed. A port that cannot be closed stays open and bound, and nothing else is
   * opened.
   */
  public void open(String portName) {
    if (beginExclusive()) {
      try {
        // nativeOpen replaces the field without looking at it.
        if (!bound() || nativeClose()) {
          nativeOpen(portName);
        }
      } finally {
        endExclusive();
      }
    }
  }

  /** False also while an open or close of this object is under way. */
  public boolean isOpen() {
    // The field is read only while no open or close can write it: a VM may read a long in two
    // halves, and the library writes it through JNI, which need not write it whole.
    if (!enter()) {
      return false;
    }
    try {
      return bound();
    } finally {
      leave();
    }
  }

  /** Whether nativeHandle holds a port; read only while no open or close can write it. */
  private boolean bound() {
    long portAddress = nativeHandle;
    return portAddress != 0 && portAddress != -1;
  }

  /**
   * Closes the port; true when it was open and is now closed. A read that waits for input ends
   * with -1; close waits until every call in progress has returned. False at once while another
   * close or an open of this object is under way.
   */
  public boolean close() {
    if (!beginExclusive()) {
      return false;
    }
    try {
      return nativeClose();
    } finally {
      endExclusive();
    }
  }

  /**
   * Waits until at least one byte has arrived, then stores up to len of the bytes queued into
   * b from off on. Returns their number (0 only when len is 0), or -1 when the port is not open
   * or the device has gone away. Throws NullPointerException for a null b and
   * ArrayIndexOutOfBoundsException when off and len do not describe a part of b, whether the port
   * is open or not.
   */
  public int read(byte[] b, int off, int len) {
    checkRange(b, off, len);
    if (!enter()) {
      return -1;
    }
    try {
      synchronized (reading) {
        // A close that began while this read waited for the one before it.
        return closing() ? -1 : nativeRead(b, off, len);
      }
    } finally {
      leave();
    }
  }

  /**
   * Waits at most timeoutMs milliseconds for a byte to arrive, then stores up to len of the bytes
   * queued into b from off on, as read(byte[], int, int) does. Returns their number: 0 when none
   * arrived in time; -1 when the port is not open, the device has gone away or the port is closed
   * meanwhile (close ends the wait at once). timeoutMs 0 takes what is queued without waiting. A
   * len of 0 returns 0 at once on an open port, even while another read waits: it reads nothing
   * and waits for nothing, since 0 could not tell whether a byte came. Reads of one port take turns; the time counts from the
   * call, and one whose turn comes after it has passed takes what is queued. Throws
   * NullPointerException for a null b, ArrayIndexOutOfBoundsException when off and len do not
   * describe a part of b and IllegalArgumentException for a negative timeoutMs, whether the port
   * is open or not; nothing is read then. With a library older than nativeReadWithin it throws
   * UnsatisfiedLinkError.
   */
  public int read(byte[] b, int off, int len, int timeoutMs) {
    checkRange(b, off, len);
    if (timeoutMs < 0) {
      throw new IllegalArgumentException("negative time-out: " + timeoutMs + " ms");
    }
    long deadline = System.nanoTime() + timeoutMs * 1_000_000L;
    if (!enter()) {
      return -1;
    }
    try {
      if (len == 0) {
        // Nothing to read, so no turn to wait for: the library asks the driver nothing.
        return nativeReadWithin(nativeHandle, b, off, 0, 0);
      }
      synchronized (reading) {
        if (closing()) {
          return -1;
        }
        long leftNanos = deadline - System.nanoTime();
        int waitMs =
            leftNanos <= 0 ? 0 : (int) Math.min(timeoutMs, (leftNanos + 999_999) / 1_000_000);
        // Handed the field as write(byte[], int, int) hands it: no look-up in the library.
        return nativeReadWithin(nativeHandle, b, off, len, waitMs);
      }
    } finally {
      leave();
    }
  }

  /**
   * A stream that reads from this port: read() and read(byte[], int, int) wait as read does, for
   * at most the read time-out (setReadTimeout) if one is set, and return -1 once the port is not
   * open or the device has gone away; available() is the port's. Closing the stream does not
   * close the port, and the stream can still be read after it. Each call returns a new stream;
   * reads of all of them take turns with the port's.
   */
  public InputStream getInputStream() {
    return new PortInputStream(this);
  }

  /**
   * A stream that writes to this port: write(byte[], int, int) hands the whole range to the
   * driver in one piece, as write(byte[], int, int) of the port does, and throws an IOException
   * when fewer bytes went out than asked (a java.io.InterruptedIOException whose bytesTransferred
   * says how many did) or the port is not open; write(int) sends one byte the same way. Closing
   * the stream does not close the port, and the stream can still be written after it.
   */
  public OutputStream getOutputStream() {
    return new PortOutputStream(this);
  }

  /**
   * Sets how long a read of the port's input streams waits for a byte before it throws
   * java.net.SocketTimeoutException, consuming nothing, as a socket's does after setSoTimeout;
   * 0 (the default) waits without a limit. Reads in progress keep the time-out they began with.
   * The port's own read methods are not affected. Throws IllegalArgumentException for a
   * negative timeoutMs.
   */
  public void setReadTimeout(int timeoutMs) {
    if (timeoutMs < 0) {
      throw new IllegalArgumentException("negative time-out: " + timeoutMs + " ms");
    }
    readTimeoutMs = timeoutMs;
  }

  /** The read time-out of the input streams in milliseconds; 0: none. */
  public int getReadTimeout() {
    return readTimeoutMs;
  }

  /**
   * Sends the low 8 bits of b. A byte that cannot be sent within 1010 ms (the peer stops
   * reading, or flow control holds the line) is dropped without a sign, as is one written to a
   * port that is not open.
   */
  public void write(int b) {
    if (enter()) {
      try {
        writing.lock();
        try {
          // A close that began while this write waited for the ones before it.
          if (!closing()) {
            nativeWrite(b);
          }
        } finally {
          writing.unlock();
        }
      } finally {
        leave();
      }
    }
  }

  /**
   * Sends len bytes of b from off on, handed to the driver in one piece, and returns how many
   * went out: len, or fewer when the rest could not be sent within the write time-out (10 ms per
   * byte plus 1 s: a peer that stops reading, or flow control holding the line) or the device
   * went away, or close ended the write; -1 when the port is not open. Throws
   * NullPointerException for a null b and ArrayIndexOutOfBoundsException when off and len do not
   * describe a part of b, whether the port is open or not, and
   * OutOfMemoryError when no native memory can hold the bytes; nothing is sent then. With a
   * library older than nativeWriteBytes it throws UnsatisfiedLinkError.
   */
  public int write(byte[] b, int off, int len) {
    checkRange(b, off, len);
    if (!enter()) {
      return -1;
    }
    try {
      writing.lock();
      try {
        // Read while no open or close can change it, as in isOpen, and handed over: the library
        // then looks nothing up, which would cost a small frame's call a tenth of its time.
        return closing() ? -1 : nativeWriteBytes(nativeHandle, b, off, len);
      } finally {
        writing.unlock();
      }
    } finally {
      leave();
    }
  }

  /**
   * The number of bytes waiting to be read; 0 when the port is not open. It counts what the
   * driver's input buffer holds (at most 4,095 bytes on Linux), while one read takes all that has
   * arrived: do not wait for a larger count.
   */
  public int available() {
    if (!enter()) {
      return 0;
    }
    try {
      return nativeAvailable();
    } finally {
      leave();
    }
  }

  /** True when the port took the new settings. */
  public boolean setSerialPortParams(int baudRate, int dataBits, int stopBits, int parity) {
    if (!enter()) {
      // Nothing to set, but invalid values are reported as on a closed port.
      return UNBOUND.nativeSetSerialPortParams(baudRate, dataBits, stopBits, parity);
    }
    try {
      return nativeSetSerialPortParams(baudRate, dataBits, stopBits, parity);
    } finally {
      leave();
    }
  }

  /**
   * Throws for a null array or a range outside it before the port is looked at, so that a
   * programming error shows the same way whether the port is open or not.
   */
  private static void checkRange(byte[] b, int off, int len) {
    if (b == null) {
      throw new NullPointerException("byte array is null");
    }
    if (off < 0 || len < 0 || off > b.length - len) {
      throw new ArrayIndexOutOfBoundsException("offset or length outside the array");
    }
  }

  /** Counts a call in, unless an open or close has claimed the port. */
  private boolean enter() {
    for (;;) {
      int current = calls.get();
      if ((current & EXCLUSIVE) != 0) {
        return false;
      }
      if (calls.compareAndSet(current, current + 1)) {
        return true;
      }
    }
  }

  private void leave() {
    if (calls.decrementAndGet() == EXCLUSIVE) {
      LockSupport.unpark(exclusiveOwner);
    }
  }

  private boolean closing() {
    return (calls.get() & EXCLUSIVE) != 0;
  }

  /**
   * Claims the port for an open or close and waits until the calls in progress have left; false
   * at once when another open or close holds the claim. Interrupts do not end the wait (the
   * native port may not be freed under a call), they are kept for the caller.
   */
  private boolean beginExclusive() {
    int current;
    do {
      current = calls.get();
      if ((current & EXCLUSIVE) != 0) {
        return false;
      }
    } while (!calls.compareAndSet(current, current | EXCLUSIVE));
    // Set before the count is looked at: the last call to leave sees it and wakes this thread.
    exclusiveOwner = Thread.currentThread();
    // No other open or close can free the native port meanwhile: only the claim's holder does.
    cancelIo();
    boolean interrupted = false;
    while (calls.get() != EXCLUSIVE) {
      LockSupport.parkNanos(this, RECANCEL_NANOS);
      interrupted |= Thread.interrupted();
      if (calls.get() != EXCLUSIVE) {
        cancelIo();
      }
    }
    if (interrupted) {
      Thread.currentThread().interrupt();
    }
    return true;
  }

  private void endExclusive() {
    exclusiveOwner = null;
    calls.addAndGet(-EXCLUSIVE);
  }

  /**
   * Ends a read that waits for input and a write that waits for room, unless the library is one
   * without nativeCancelIo.
   */
  private void cancelIo() {
    if (canCancelIo) {
      try {
        nativeCancelIo();
      } catch (UnsatisfiedLinkError olderLibrary) {
        canCancelIo = false;
      }
    }
  }

  native void nativeOpen(String portName);

  native boolean nativeClose();

  native int nativeRead(byte[] b, int off, int len);

  native void nativeWrite(int b);

  native int nativeAvailable();

  native boolean nativeSetSerialPortParams(int baudRate, int dataBits, int stopBits, int parity);

  /**
   * Beyond the six natives above: makes a read that waits for input, and every read after it,
   * return -1, and a write that waits for room return with what went out, every write after it
   * sending nothing, until the port is closed (or, if it cannot be, until nativeClose has failed).
   */
  native void nativeCancelIo();

  /**
   * Beyond the six natives too: write(byte[], int, int) in one write of the driver, on the port
   * whose nativeHandle is portAddress.
   */
  native int nativeWriteBytes(long portAddress, byte[] b, int off, int len);

  /**
   * Beyond the six natives too: read(byte[], int, int, int) on the port whose nativeHandle is
   * portAddress, waiting at most timeoutMs for the first byte.
   */
  native int nativeReadWithin(long portAddress, byte[] b, int off, int len, int timeoutMs);
}
