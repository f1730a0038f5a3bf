import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.Arrays;
import java.util.Vector;
import quorin.io.comm.CECommDriver;
import quorin.io.comm.CESerialPort;

/**
 * Lists the serial ports, expects exactly the names given as arguments, opens and closes the
 * first, and prints which libtarvesk.so the JVM mapped. Exit status 0 when all went as expected.
 */
public class ListAndOpen {
  public static void main(String[] args) throws IOException {
    if (args.length == 0) {
      fail("usage: ListAndOpen PORT... (the ports expected, the first is opened)");
    }
    Vector<String> expected = new Vector<>(Arrays.asList(args));
    Vector<String> ports = CECommDriver.findSerialPorts();
    System.out.println("ports: " + ports);
    if (!expected.equals(ports)) {
      fail("expected the ports " + expected);
    }

    CESerialPort port = new CESerialPort();
    port.open(args[0]);
    if (!port.isOpen()) {
      fail("could not open " + args[0]);
    }
    System.out.println("library: " + mappedLibrary());
    if (!port.close()) {
      fail("close of " + args[0] + " reported failure");
    }
    if (port.isOpen()) {
      fail(args[0] + " still open after close");
    }
    System.out.println("opened and closed " + args[0]);
  }

  /** The path of the libtarvesk.so this process loaded, from the kernel's view of its mappings. */
  private static String mappedLibrary() throws IOException {
    for (String line : Files.readAllLines(Paths.get("/proc/self/maps"))) {
      if (line.endsWith("/libtarvesk.so")) {
        return line.substring(line.indexOf('/'));
      }
    }
    return "(none)";
  }

  private static void fail(String message) {
    System.err.println("ListAndOpen: " + message);
    System.exit(1);
  }
}
