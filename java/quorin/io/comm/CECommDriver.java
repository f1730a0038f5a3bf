package quorin.io.comm;

import java.util.Vector;

/** The ports the native library tarvesk finds on this machine. */
public class CECommDriver {
  static {
    TarveskLibrary.ensureLoaded();
  }

  /** Names of the serial ports (COM1: and the like), in the system's order; null on failure. */
  public static native Vector<String> findSerialPorts();

  /** Always empty: the library knows no parallel ports. */
  public static native Vector<String> findParallelPorts();
}
