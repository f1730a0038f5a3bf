import java.io.IOException;
import java.lang.reflect.Field;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import java.util.Vector;
import java.util.concurrent.TimeUnit;
import quorin.io.comm.CECommDriver;
import quorin.io.comm.CESerialPort;

/**
 * Walks the whole road once: list the ports, open the first one found, configure it, write a
 * message, read it back from the loopback at the far end, and close. scripts/demo.sh provides
 * COM1 (a pseudo-terminal made by socat) through TARVESK_PORTS.
 *
 * <p>Every wait has a deadline: the read-back reads with a time-out, so a missing echo ends the
 * demo with a clear message instead of a hang.
 */
public final class Demo {
  private static final long ECHO_DEADLINE_MS = 5000;

  public static void main(String[] args) throws Exception { System.exit(run() ? 0 : 1); }

  private static boolean run() throws Exception {
    Vector<String> ports = CECommDriver.findSerialPorts();
    System.out.println("serial ports: " + ports);
    System.out.println("parallel ports: " + CECommDriver.findParallelPorts());
    if (ports == null || ports.isEmpty()) {
      System.out.println("no serial port found");
      return false;
    }

    String name = ports.get(0);
    CESerialPort port = new CESerialPort();
    port.open(name);
    if (!port.isOpen()) {
      System.out.println("could not open " + name + " (the library's message says why)");
      return false;
    }
    System.out.printf("opened %s (native port object at 0x%x)%n", name, nativeHandle(port));
    System.out.println("  line as opened: " + lineParams(name));

    boolean configured = port.setSerialPortParams(
        115200, CESerialPort.DATABITS_8, CESerialPort.STOPBITS_1, CESerialPort.PARITY_NONE);
    System.out.println("setSerialPortParams(115200, 8, 1, none): " + configured);
    System.out.println("  line now: " + lineParams(name));

    boolean echoed = echo(port, "hello, tarvesk");

    System.out.println("close: " + port.close());
    System.out.println("isOpen after close: " + port.isOpen());
    return configured && echoed;
  }

  private static boolean echo(CESerialPort port, String message) {
    byte[] sent = message.getBytes(StandardCharsets.US_ASCII);
    int written = port.write(sent, 0, sent.length);
    System.out.println("wrote \"" + message + "\" in one frame: " + written + " of " + sent.length
        + " bytes went out");

    // Each read waits for what is left of the deadline, so a silent line ends the demo here.
    long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(ECHO_DEADLINE_MS);
    byte[] received = new byte[64];
    int count = 0;
    while (count < sent.length) {
      long leftMs = TimeUnit.NANOSECONDS.toMillis(deadline - System.nanoTime());
      int n = leftMs <= 0 ? 0 : port.read(received, count, received.length - count, (int) leftMs);
      if (n < 0) {
        System.out.println("read failed: the port closed or the device went away");
        return false;
      }
      if (n == 0) {
        System.out.println("the echo did not come back within " + ECHO_DEADLINE_MS + " ms: "
            + count + " of " + sent.length + " bytes arrived; is the far end silent?");
        return false;
      }
      count += n;
    }
    String text = new String(received, 0, count, StandardCharsets.US_ASCII);
    System.out.println("read back \"" + text + "\" (each read waiting at most for what was left "
        + "of " + ECHO_DEADLINE_MS + " ms); input queue now: " + port.available());
    return text.equals(message);
  }

  /** The field is the library's business; the demo only shows it. */
  private static long nativeHandle(CESerialPort port) throws ReflectiveOperationException {
    Field field = CESerialPort.class.getDeclaredField("nativeHandle");
    field.setAccessible(true);
    return field.getLong(port);
  }

  /** The pseudo-terminal's settings as the kernel holds them. */
  private static String lineParams(String name) {
    String dir = System.getenv("TARVESK_PORTS");
    if (dir == null) {
      return "(TARVESK_PORTS is not set)";
    }
    try {
      Path device = Paths.get(dir, name.replaceFirst(":$", "")).toRealPath();
      Process stty = new ProcessBuilder("stty", "-F", device.toString(), "-a").start();
      if (!stty.waitFor(5, TimeUnit.SECONDS)) {
        stty.destroyForcibly();
        return "(stty did not answer)";
      }
      String out = new String(stty.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
      if (stty.exitValue() != 0) {
        return "(stty could not read the settings)";
      }
      return device + ": " + summarize(out);
    } catch (IOException e) {
      return "(" + e.getMessage() + ")";
    } catch (InterruptedException e) {
      Thread.currentThread().interrupt();
      return "(interrupted)";
    }
  }

  /** "speed 9600 baud; ... cs8 -parenb -cstopb -crtscts ..." becomes "9600 baud, 8N1, ...". */
  private static String summarize(String stty) {
    List<String> words = List.of(stty.split("[\\s;]+"));
    String speed = "?";
    int at = words.indexOf("speed");
    if (at >= 0 && at + 1 < words.size()) {
      speed = words.get(at + 1);
    }
    String bits = "?";
    for (String size : List.of("cs5", "cs6", "cs7", "cs8")) {
      if (words.contains(size)) {
        bits = size.substring(2);
      }
    }
    String parity = "N";
    if (words.contains("parenb")) {
      parity = words.contains("parodd") ? "O" : "E";
    }
    String stop = words.contains("cstopb") ? "2" : "1";
    String flow = words.contains("crtscts") ? "RTS/CTS" : "no RTS/CTS";
    String echo = words.contains("echo") ? "echo" : "no echo";
    String icanon = words.contains("icanon") ? "canonical" : "raw";
    return speed + " baud, " + bits + parity + stop + ", " + flow + ", " + icanon + ", " + echo;
  }
}
