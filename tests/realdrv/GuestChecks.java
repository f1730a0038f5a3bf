import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.io.RandomAccessFile;
import java.util.List;
import java.util.Vector;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import quorin.io.comm.CECommDriver;
import quorin.io.comm.CESerialPort;

/**
 * The checks run inside the guest, through the jar, on the kernel's 8250 and ftdi_sio drivers.
 * What the library returns is checked here; what the hardware was programmed with is checked by
 * the host from QEMU's trace: after each call this program writes a marker into the UART's
 * scratch register (which the 8250 driver leaves alone after probing) and a line to expect.txt
 * saying what the trace must show at that marker. The host plays both far ends and acts on the
 * commands sent over the virtio port "control": echo, hold, unplug, replug.
 */
public class GuestChecks {
  static final int[] RATES = {300, 1200, 9600, 19200, 38400, 57600, 115200, 31250, 250000, 12345,
      5000000};
  static final int[] DATA_BITS = {5, 6, 7, 8};
  static final int[] STOP_BITS = {CESerialPort.STOPBITS_1, CESerialPort.STOPBITS_2,
      CESerialPort.STOPBITS_1_5};
  static final String[] STOP_NAMES = {"", "1", "2", "1.5"};
  static final String PARITY_NAMES = "NOEMS";
  static final long BOUND_MS = 20_000;  // any wait in here; the host bounds the whole run

  final ExecutorService threads = Executors.newCachedThreadPool(r -> {
    Thread t = new Thread(r);
    t.setDaemon(true);
    return t;
  });
  final PrintStream expect;
  final RandomAccessFile ioPorts;
  final RandomAccessFile control;
  int marker = 0;
  int failures = 0;

  GuestChecks(File results) throws IOException {
    expect = new PrintStream(new FileOutputStream(new File(results, "expect.txt")), true);
    ioPorts = new RandomAccessFile("/dev/port", "rw");
    control = new RandomAccessFile(controlPort(), "rw");
  }

  public static void main(String[] args) throws Exception {
    GuestChecks checks = new GuestChecks(new File(args[0]));
    checks.run();
    System.out.println("realdrv guest: " + checks.failures + " failure(s), " + checks.marker
        + " hardware states for the host to check");
    System.exit(checks.failures == 0 ? 0 : 1);
  }

  void run() throws Exception {
    step("listing");
    // ftdi_sio binds a moment after boot.
    waitUntil("the FTDI adapter is listed", () -> listed("COM2:"));
    for (String empty : new String[] {"ttyS0", "ttyS2", "ttyS3"}) {
      check(new File("/sys/class/tty/" + empty + "/device").exists(),
          empty + ", with no UART behind it, is there to be left out");
    }
    check(List.of("COM1:", "COM2:").equals(CECommDriver.findSerialPorts()),
        "ports listed: " + CECommDriver.findSerialPorts() + ", expected [COM1:, COM2:]");
    settingsAndBytes("COM1:", "uart");
    settingsAndBytes("COM2:", "ftdi");
    unplugs();
  }

  /** Open, every framing and rate, every byte value both ways, close. */
  void settingsAndBytes(String name, String device) throws Exception {
    step(name + " (" + device + "): open");
    CESerialPort port = new CESerialPort();
    port.open(name);
    check(port.isOpen(), name + " opens");
    String current = "9600 8 1 N";
    expectHardware(device, current, "on");
    for (int data : DATA_BITS) {
      for (int stop : STOP_BITS) {
        for (int parity = 0; parity < PARITY_NAMES.length(); parity++) {
          current = setParams(port, device, current, 9600, data, stop, parity);
        }
      }
    }
    for (int rate : RATES) {
      current = setParams(port, device, current, rate, 8, CESerialPort.STOPBITS_1, 0);
    }
    for (int data : new int[] {8, 7}) {
      step(name + ": 256 byte values both ways, " + data + " data bits");
      check(port.setSerialPortParams(9600, data, CESerialPort.STOPBITS_1, 0),
          name + " takes 9600 " + data + "N1");
      command("echo");
      byte[] all = new byte[256];
      for (int i = 0; i < all.length; i++) {
        all[i] = (byte) i;
      }
      check(port.write(all, 0, all.length) == all.length, name + ": 256 bytes sent");
      byte[] back = readFully(port, all.length);
      int mask = data == 8 ? 0xff : 0x7f;  // the far end echoes what it got; 7 bits count
      for (int i = 0; i < all.length; i++) {
        if ((back[i] & mask) != (all[i] & mask)) {
          check(false, name + ": byte " + i + " came back as " + (back[i] & 0xff));
          break;
        }
      }
      current = "9600 " + data + " 1 N";
      expectHardware(device, current, "on");
    }
    step(name + ": close");
    check(port.close(), name + " closes");
    expectHardware(device, current, "off");
  }

  String setParams(CESerialPort port, String device, String current, int rate, int data,
      int stop, int parity) throws IOException {
    String asked = rate + " " + data + " " + STOP_NAMES[stop] + " " + PARITY_NAMES.charAt(parity);
    boolean taken = port.setSerialPortParams(rate, data, stop, parity);
    System.out.println("  " + device + " " + asked + ": " + taken);
    String now = taken ? asked : current;
    expectHardware(device, now, "on");
    return now;
  }

  /** The FTDI adapter pulled out under a waiting read and a held write, and plugged in again. */
  void unplugs() throws Exception {
    step("COM2: unplugged while a read waits");
    CESerialPort port = new CESerialPort();
    port.open("COM2:");
    check(port.isOpen(), "COM2: opens");
    Future<Integer> read = threads.submit(() -> port.read(new byte[16], 0, 16));
    pause(read, "the read waits");
    command("unplug");
    check(result(read, "the waiting read") == -1, "the waiting read returns -1");
    check(port.read(new byte[16], 0, 16) == -1, "a read after the unplug returns -1");
    check(port.available() == 0, "available after the unplug returns 0");
    check(!port.setSerialPortParams(9600, 8, 1, 0), "setSerialPortParams after the unplug fails");
    check(port.write(new byte[4], 0, 4) < 4, "a frame written after the unplug is not sent");
    check(port.close(), "close after the unplug returns true");

    step("COM2: replugged with the old port closed");
    replugAndOpen(port);

    step("COM2: replugged with the old port still open");
    command("unplug");
    waitUntil("COM2: is no longer listed", () -> !listed("COM2:"));
    CESerialPort again = new CESerialPort();
    replugAndOpen(again);
    check(port.close(), "the old port closes");
    check(again.close(), "the new port closes");

    step("COM2: unplugged while a frame write is held");
    port.open("COM2:");
    check(port.isOpen(), "COM2: opens");
    // The far end stops reading: the host unplugs once the frame has filled its socket.
    command("hold");
    byte[] frame = new byte[16 << 20];
    Future<Integer> write = threads.submit(() -> port.write(frame, 0, frame.length));
    int sent = result(write, "the held write");
    check(sent >= 0 && sent < frame.length, "the held write returns what was sent: " + sent);
    check(port.read(new byte[16], 0, 16) == -1, "a read after the unplug returns -1");
    check(port.close(), "close after the unplug returns true");
  }

  void replugAndOpen(CESerialPort port) throws Exception {
    command("replug");
    waitUntil("COM2: is listed again", () -> listed("COM2:"));
    port.open("COM2:");
    check(port.isOpen(), "COM2: opens after the replug");
  }

  void expectHardware(String device, String settings, String lines) throws IOException {
    marker++;
    ioPorts.seek(0x2ff);  // COM2's scratch register: the marker shows in the trace
    ioPorts.write(marker & 0xff);
    expect.println(marker + " " + device + " " + settings + " " + lines);
  }

  /** Sends a command to the host and waits for its "ok". */
  void command(String what) throws IOException {
    System.out.println("  host: " + what);
    control.write((what + "\n").getBytes());
    String reply = control.readLine();
    if (!"ok".equals(reply)) {
      throw new IOException("host answered " + what + " with " + reply);
    }
  }

  byte[] readFully(CESerialPort port, int count) throws Exception {
    Future<byte[]> reading = threads.submit(() -> {
      byte[] got = new byte[count];
      int n = 0;
      while (n < count) {
        int r = port.read(got, n, count - n);
        if (r < 0) {
          throw new IOException("read returned " + r + " after " + n + " bytes");
        }
        n += r;
      }
      return got;
    });
    return result(reading, "reading " + count + " echoed bytes");
  }

  static boolean listed(String name) {
    Vector<String> ports = CECommDriver.findSerialPorts();
    return ports != null && ports.contains(name);
  }

  interface Condition {
    boolean holds() throws Exception;
  }

  static void waitUntil(String what, Condition condition) throws Exception {
    long end = System.currentTimeMillis() + BOUND_MS;
    while (!condition.holds()) {
      if (System.currentTimeMillis() > end) {
        throw new IOException("not within " + BOUND_MS + " ms: " + what);
      }
      Thread.sleep(50);
    }
  }

  /** Gives a call a second to get going, and checks that it is still in progress. */
  void pause(Future<?> call, String what) throws InterruptedException {
    Thread.sleep(1000);
    check(!call.isDone(), what + " is in progress");
  }

  static <T> T result(Future<T> call, String what) throws Exception {
    try {
      return call.get(BOUND_MS, TimeUnit.MILLISECONDS);
    } catch (java.util.concurrent.TimeoutException e) {
      throw new IOException(what + " did not return within " + BOUND_MS + " ms");
    }
  }

  void step(String what) throws IOException {
    String uptime = new String(java.nio.file.Files.readAllBytes(java.nio.file.Path.of(
        "/proc/uptime"))).split(" ")[0];
    System.out.println("step at " + uptime + " s: " + what);
  }

  void check(boolean ok, String what) {
    if (!ok) {
      failures++;
      System.out.println("FAIL: " + what);
    }
  }

  /** The virtio port QEMU names "control". */
  static File controlPort() throws IOException {
    File[] ports = new File("/sys/class/virtio-ports").listFiles();
    for (File port : ports == null ? new File[0] : ports) {
      if (new String(java.nio.file.Files.readAllBytes(new File(port, "name").toPath())).trim()
              .equals("control")) {
        return new File("/dev", port.getName());
      }
    }
    throw new IOException("no virtio port named control");
  }
}
