import java.io.File;
import java.io.IOException;
import java.net.UnixDomainSocketAddress;
import java.nio.ByteBuffer;
import java.nio.channels.SocketChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * The host side of the realdrv test: boots the distribution's kernel under QEMU with an emulated
 * 16550 (COM1, /dev/ttyS1) and an emulated FTDI adapter on xHCI (COM2, /dev/ttyUSB0), plays the
 * far end of both, runs GuestChecks in one guest JVM, then holds what it expected of the
 * hardware against QEMU's trace of what the drivers programmed. Exits non-zero, saying why, on
 * any failure, including a missing QEMU or kernel package.
 *
 * <p>Arguments: WORK_DIR GUEST_IMAGE_SCRIPT GUEST_INIT GUEST_JAVA CLASSPATH
 */
public class HostHarness {
  static final long LIMIT_S = 85;  // the whole guest run
  static final int HELD_BYTES = 64 << 10;  // of a held frame, read before the far end stops

  final Path work;
  SocketChannel ftdi;
  volatile String ftdiMode = "echo";

  HostHarness(Path work) {
    this.work = work;
  }

  public static void main(String[] args) throws Exception {
    System.exit(new HostHarness(Path.of(args[0])).run(args) ? 0 : 1);
  }

  boolean run(String[] args) throws Exception {
    String qemu = "qemu-system-x86_64";
    if (!onPath(qemu)) {
      return fail(qemu + " is missing: install qemu-system-x86 (scripts/install-deps.sh)");
    }
    Path image = work.resolve("image");
    if (new ProcessBuilder("bash", args[1], image.toString(), args[2]).inheritIO().start()
            .waitFor() != 0) {
      return fail("no guest to boot (see above)");
    }
    Path results = work.resolve("results");
    deleteTree(results);
    Files.createDirectories(results);
    Path guestRun = work.resolve("guest_run.sh");
    // C1 only and no perf data file: the guest JVM runs under emulation on a read-only root.
    Files.writeString(guestRun, "exec " + args[3] + " -XX:TieredStopAtLevel=1 -XX:-UsePerfData"
        + " -Djava.io.tmpdir=\"$1\" -cp " + args[4] + " GuestChecks \"$1\"\n");
    for (String socket : new String[] {"uart", "ftdi", "control"}) {
      Files.deleteIfExists(work.resolve(socket + ".sock"));
    }
    List<String> command = new ArrayList<>(List.of(qemu, "-nodefaults", "-display", "none",
        "-M", "pc", "-smp", "2", "-m", "1024", "-kernel", image.resolve("vmlinux").toString(),
        "-initrd", image.resolve("initramfs.cpio.gz").toString(), "-append",
        "8250.nr_uarts=4 console=hvc0 quiet realdrv.run=" + guestRun + " realdrv.results="
            + results,
        "-device", "virtio-serial-pci",
        "-chardev", "file,id=console,path=" + work.resolve("console.log"),
        "-device", "virtconsole,chardev=console",
        "-chardev", socket("control"), "-device", "virtserialport,chardev=control,name=control",
        "-fsdev", "local,id=root,path=/,security_model=none,readonly=on,multidevs=remap",
        "-device", "virtio-9p-pci,fsdev=root,mount_tag=host",
        "-fsdev", "local,id=results,path=" + results + ",security_model=none",
        "-device", "virtio-9p-pci,fsdev=results,mount_tag=results",
        // index 1: the UART at 0x2f8 is ttyS1; ttyS0, 2 and 3 have none behind them
        "-chardev", socket("uart"), "-device", "isa-serial,chardev=uart,index=1",
        "-device", "qemu-xhci", "-chardev", socket("ftdi"), "-device", "usb-serial,chardev=ftdi",
        "-device", "isa-debug-exit,iobase=0xf4,iosize=4",
        "-trace", "serial_write", "-trace", "usb_serial_*", "-D", work.resolve("trace.log")
            .toString()));
    // KVM only when asked: /dev/kvm may be there and still not work (a nested VM).
    command.addAll("1".equals(System.getenv("TARVESK_REALDRV_KVM"))
        ? List.of("-accel", "kvm", "-cpu", "host") : List.of("-accel", "tcg"));
    long start = System.nanoTime();
    Process vm = new ProcessBuilder(command).redirectErrorStream(true)
        .redirectOutput(work.resolve("qemu.out").toFile()).start();
    try {
      if (!Files.exists(work.resolve("control.sock")) && vm.waitFor(10, TimeUnit.SECONDS)) {
        return fail("QEMU did not start:\n" + tail(work.resolve("qemu.out"), 20));
      }
      SocketChannel uart = connect("uart");
      ftdi = connect("ftdi");  // the adapter is plugged in while its socket has a client
      SocketChannel control = connect("control");
      daemon(() -> echo(uart));
      daemon(this::pumpFtdi);
      daemon(() -> serve(control));
      if (!vm.waitFor(LIMIT_S, TimeUnit.SECONDS)) {
        return fail("the guest did not finish within " + LIMIT_S + " s; it stands at:\n"
            + tail(work.resolve("console.log"), 15));
      }
    } finally {
      vm.destroyForcibly();
    }
    System.out.printf("realdrv: the guest ran %.1f s%n", (System.nanoTime() - start) / 1e9);
    System.out.println(tail(work.resolve("console.log"), 400));
    // isa-debug-exit makes QEMU exit with (status << 1) | 1.
    if (vm.exitValue() != 1) {
      return fail("the guest checks failed (QEMU exit " + vm.exitValue() + ")\n"
          + tail(work.resolve("qemu.out"), 20));
    }
    return checkTrace(results.resolve("expect.txt"), work.resolve("trace.log"));
  }

  /** Every state the guest expected, against the registers the drivers wrote. */
  boolean checkTrace(Path expectFile, Path trace) throws IOException {
    Pattern uartWrite = Pattern.compile("^serial_write write addr 0x(\\w+) val 0x(\\w+)");
    Pattern control = Pattern.compile("got control 0x(\\w+), value 0x(\\w+)");
    Pattern baud = Pattern.compile("usb_serial_set_baud .* baud rate (\\d+)");
    int lcr = 0, dll = 0, dlm = 0, mcr = 0;
    int ftdiRate = 0, ftdiData = 0, ftdiLines = 0;
    List<String> states = new ArrayList<>();
    for (String line : Files.readAllLines(trace)) {
      Matcher m;
      if ((m = uartWrite.matcher(line)).find()) {
        int addr = Integer.parseInt(m.group(1), 16), val = Integer.parseInt(m.group(2), 16);
        boolean dlab = (lcr & 0x80) != 0;  // divisor latch access: 0 and 1 are the divisor
        if (addr == 0 && dlab) dll = val;
        if (addr == 1 && dlab) dlm = val;
        if (addr == 3) lcr = val;
        if (addr == 4) mcr = val;
        if (addr == 7) {  // the scratch register: the guest's marker
          int divisor = dlm << 8 | dll;
          states.add(String.format("uart %d %s %s|ftdi %d %s %s",
              divisor == 0 ? 0 : 115200 / divisor, uartFraming(lcr), lines(mcr & 3),
              ftdiRate, ftdiFraming(ftdiData), lines(ftdiLines)));
        }
      } else if ((m = baud.matcher(line)).find()) {
        ftdiRate = Integer.parseInt(m.group(1));
      } else if ((m = control.matcher(line)).find()) {
        int request = Integer.parseInt(m.group(1), 16), val = Integer.parseInt(m.group(2), 16);
        if (request == 0x4004) ftdiData = val;  // SET_DATA: size, parity, stop bits
        if (request == 0x4001) {  // SET_MDM_CTRL: bits 8 and 9 say which of DTR, RTS to set
          if ((val & 0x100) != 0) ftdiLines = (ftdiLines & ~1) | (val & 1);
          if ((val & 0x200) != 0) ftdiLines = (ftdiLines & ~2) | (val & 2);
        }
      }
    }
    List<String> expected = Files.readAllLines(expectFile);
    int failures = 0;
    if (expected.size() != states.size()) {
      failures++;
      System.out.println("FAIL: " + expected.size() + " states expected, the trace has "
          + states.size() + " markers");
    }
    for (int i = 0; i < Math.min(expected.size(), states.size()); i++) {
      String[] want = expected.get(i).split(" ");  // marker device rate data stop parity lines
      String[] got = states.get(i).split("\\|")[want[1].equals("uart") ? 0 : 1].split(" ");
      int wantRate = Integer.parseInt(want[2]), gotRate = Integer.parseInt(got[1]);
      boolean framing = (got[2] + " " + got[3] + " " + got[4])
          .equals(want[3] + " " + want[4] + " " + want[5]);
      if (Math.abs(gotRate - wantRate) * 100L > wantRate || !framing || !got[5].equals(want[6])) {
        if (++failures <= 20) {
          System.out.println("FAIL: state " + want[0] + ": expected " + expected.get(i)
              + ", the hardware runs " + String.join(" ", got));
        }
      }
    }
    System.out.println("realdrv: " + states.size() + " hardware states checked, " + failures
        + " wrong");
    return failures == 0;
  }

  static String uartFraming(int lcr) {
    int data = (lcr & 3) + 5;
    String stop = (lcr & 4) == 0 ? "1" : data == 5 ? "1.5" : "2";
    // bit 3 parity on, bit 4 even, bit 5 stick: mark when odd, space when even
    String parity = (lcr & 8) == 0 ? "N"
        : (lcr & 0x20) != 0 ? ((lcr & 0x10) != 0 ? "S" : "M") : ((lcr & 0x10) != 0 ? "E" : "O");
    return data + " " + stop + " " + parity;
  }

  static String ftdiFraming(int value) {
    String[] stop = {"1", "1.5", "2", "?"};
    return (value & 0xff) + " " + stop[(value >> 11) & 3] + " " + "NOEMS???".charAt((value >> 8) & 7);
  }

  static String lines(int dtrRts) {
    return dtrRts == 3 ? "on" : dtrRts == 0 ? "off" : "mixed";
  }

  /** The commands of GuestChecks: how the FTDI's far end behaves, and its plug. */
  void serve(SocketChannel control) {
    try {
      StringBuilder line = new StringBuilder();
      ByteBuffer one = ByteBuffer.allocate(1);
      while (control.read(one.clear()) > 0) {
        char c = (char) one.get(0);
        if (c != '\n') {
          line.append(c);
          continue;
        }
        String command = line.toString();
        line.setLength(0);
        if (command.equals("unplug")) {
          ftdi.close();
        } else if (command.equals("replug")) {
          ftdiMode = "echo";
          ftdi = connect("ftdi");
          daemon(this::pumpFtdi);
        } else {
          ftdiMode = command;  // echo, drain or hold
        }
        control.write(ByteBuffer.wrap("ok\n".getBytes(StandardCharsets.US_ASCII)));
      }
    } catch (IOException | InterruptedException e) {
      System.out.println("realdrv: control channel: " + e);
    }
  }

  /**
   * The FTDI's far end until it is unplugged. On hold it stops reading once a frame has filled
   * its socket (QEMU then holds the write, and with it the guest) and unplugs the adapter 2 s on.
   */
  void pumpFtdi() {
    SocketChannel channel = ftdi;
    ByteBuffer buffer = ByteBuffer.allocate(1 << 16);
    long bytes = 0;
    long held = 0;
    try {
      while (channel.read(buffer.clear()) > 0) {
        bytes += buffer.position();
        if (ftdiMode.equals("echo")) {
          channel.write(buffer.flip());
        } else if (ftdiMode.equals("hold") && (held += buffer.position()) >= HELD_BYTES) {
          Thread.sleep(2000);
          channel.close();
        }
      }
    } catch (IOException | InterruptedException e) {
      // unplugged
    }
    System.out.println("realdrv: the FTDI's far end took " + bytes + " bytes (" + ftdiMode + ")");
  }

  static void echo(SocketChannel channel) {
    ByteBuffer buffer = ByteBuffer.allocate(4096);
    try {
      while (channel.read(buffer.clear()) > 0) {
        channel.write(buffer.flip());
      }
    } catch (IOException e) {
      // the VM is gone
    }
  }

  String socket(String name) {
    return "socket,id=" + name + ",path=" + work.resolve(name + ".sock") + ",server=on,wait=off";
  }

  SocketChannel connect(String name) throws IOException, InterruptedException {
    Path path = work.resolve(name + ".sock");
    for (int i = 0; i < 200 && !Files.exists(path); i++) {
      Thread.sleep(50);
    }
    return SocketChannel.open(UnixDomainSocketAddress.of(path));
  }

  interface Task {
    void run() throws Exception;
  }

  static void daemon(Task task) {
    Thread thread = new Thread(() -> {
      try {
        task.run();
      } catch (Exception e) {
        System.out.println("realdrv: " + e);
      }
    });
    thread.setDaemon(true);
    thread.start();
  }

  static boolean onPath(String program) {
    for (String dir : System.getenv().getOrDefault("PATH", "").split(File.pathSeparator)) {
      if (new File(dir, program).canExecute()) {
        return true;
      }
    }
    return false;
  }

  static String tail(Path file, int lines) throws IOException {
    if (!Files.exists(file)) {
      return "(no " + file + ")";
    }
    List<String> all = Files.readAllLines(file, StandardCharsets.ISO_8859_1);
    return String.join("\n", all.subList(Math.max(0, all.size() - lines), all.size()));
  }

  static void deleteTree(Path dir) throws IOException {
    if (Files.exists(dir)) {
      try (var paths = Files.walk(dir)) {
        paths.sorted(java.util.Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
      }
    }
  }

  static boolean fail(String why) {
    System.out.println("realdrv: FAIL: " + why);
    return false;
  }
}
