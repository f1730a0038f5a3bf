package quorin.io.comm;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import java.io.FileInputStream;
import java.io.IOException;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.time.Duration;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;

/**
 * The library under load, inside one VM: no descriptor or memory left behind by many cycles,
 * several ports at full speed at once, and ports beyond descriptor 1023.
 */
@Timeout(value = 240, threadMode = Timeout.ThreadMode.SEPARATE_THREAD)
class LoadTest {
  private static final int WARM_UP_CYCLES = 500;
  private static final int CYCLES = 10_000;
  /** Less than one allocation of the smallest size per cycle. */
  private static final long RSS_SLACK_KB = 256;
  /**
   * The cycles' VM only interprets, and its heap is fixed and touched from the start: what the
   * VM adds to resident memory then stays put, and only native memory, the library's, can grow.
   * (Left to itself, a VM on a busy machine grew by megabytes: heap pages touched for the first
   * time, the compiler's memory.)
   */
  private static final List<String> STEADY_VM =
      List.of("-Xint", "-XX:+UseSerialGC", "-Xms48m", "-Xmx48m", "-XX:+AlwaysPreTouch");

  private static final int PORTS = 8;
  private static final int MIB = 1 << 20;
  /** Peer to library, through read, per port. */
  private static final int READ_BYTES = 4 * MIB;
  /**
   * Library to peer, through write, per port, at the same time as the reads. One JNI call
   * and one write() per byte make this about 200,000 bytes a second on two cores: 4 MiB on each
   * of 8 ports would take minutes, so the writes carry a sixteenth of the reads' volume.
   */
  private static final int WRITE_BYTES = 256 * 1024;
  private static final Duration BULK_DEADLINE = Duration.ofSeconds(120);

  private static final int FILLER_DESCRIPTORS = 1100;

  @Test
  void tenThousandCyclesLeaveNoDescriptorAndNoMemoryBehind() throws Exception {
    Path said = Files.createTempFile("tarvesk-cycles", ".log");
    Process vm = ChildVm.running(STEADY_VM, Cycles.class).redirectOutput(said.toFile()).start();
    try {
      assertTrue(vm.waitFor(BULK_DEADLINE.toSeconds(), TimeUnit.SECONDS),
          "the cycles did not end within " + BULK_DEADLINE);
      assertEquals(0, vm.exitValue(), Files.readString(said));
    } finally {
      vm.destroyForcibly().waitFor(5, TimeUnit.SECONDS);
      System.out.print(Files.readString(said)); // the figures, and for run-e2e.sh's JNI checks
      Files.delete(said);
    }
  }

  /** The cycles, in a VM of their own; exits non-zero when a check fails. */
  static final class Cycles {
    public static void main(String[] args) throws Exception {
      VirtualNullModem modem = VirtualNullModem.start("COM1");
      try {
        CESerialPort port = new CESerialPort();
        byte[][] single = new byte[256][];
        for (int value = 0; value < 256; value++) {
          single[value] = new byte[] {(byte) value};
        }
        byte[] in = new byte[1];

        for (int i = 0; i < WARM_UP_CYCLES; i++) {
          cycle(port, modem, i, single, in);
        }
        // Measuring once first: the VM keeps a descriptor of its own from the
        // first file it reads through NIO on.
        openDescriptors();
        residentKb();
        settle();
        int descriptorsBefore = openDescriptors();
        long rssBefore = residentKb();

        long start = System.nanoTime();
        for (int i = WARM_UP_CYCLES; i < WARM_UP_CYCLES + CYCLES; i++) {
          cycle(port, modem, i, single, in);
        }
        double seconds = (System.nanoTime() - start) / 1e9;
        settle();
        int descriptorsAfter = openDescriptors();
        long rssAfter = residentKb();

        byte[] expected = new byte[WARM_UP_CYCLES + CYCLES];
        for (int i = 0; i < expected.length; i++) {
          expected[i] = (byte) i;
        }
        System.out.printf("%d cycles in %.1f s; descriptors %d -> %d; VmRSS %d -> %d kB (%+d kB)%n",
            CYCLES, seconds, descriptorsBefore, descriptorsAfter, rssBefore, rssAfter,
            rssAfter - rssBefore);
        check(Arrays.equals(expected, modem.receive(expected.length, ConnectedPort.DEADLINE)),
            "the bytes the library wrote, one per cycle, did not arrive in order");
        check(descriptorsBefore == descriptorsAfter, "descriptors left open by the cycles");
        check(rssAfter - rssBefore <= RSS_SLACK_KB,
            "resident memory grew by " + (rssAfter - rssBefore) + " kB over " + CYCLES + " cycles");
      } finally {
        modem.close();
      }
    }
  }

  private static void check(boolean holds, String otherwise) {
    if (!holds) {
      throw new AssertionError(otherwise);
    }
  }

  /** Open, configure, write, read, close: every step must work. */
  private static void cycle(CESerialPort port, VirtualNullModem modem, int i, byte[][] single,
      byte[] in) throws Exception {
    port.open("COM1:");
    if (!port.isOpen()) {
      throw new AssertionError("cycle " + i + ": COM1: did not open");
    }
    if (!port.setSerialPortParams(i % 2 == 0 ? 9600 : 115200, 8, 1, 0)) {
      throw new AssertionError("cycle " + i + ": the line params were refused");
    }
    port.write(i);
    modem.send(single[i & 0xFF]);
    awaitQueued(port, i);
    // A byte is queued, so this read returns at once.
    if (port.read(in, 0, 1) != 1 || in[0] != (byte) i) {
      throw new AssertionError("cycle " + i + ": the byte from the peer did not arrive intact");
    }
    if (!port.close()) {
      throw new AssertionError("cycle " + i + ": close failed");
    }
  }

  private static void awaitQueued(CESerialPort port, int i) {
    long end = System.nanoTime() + ConnectedPort.DEADLINE.toNanos();
    while (port.available() == 0) {
      if (System.nanoTime() > end) {
        throw new AssertionError("cycle " + i + ": the peer's byte never arrived");
      }
      Thread.onSpinWait();
    }
  }

  /** Lets the VM collect what the warm-up left, so both measurements see a settled heap. */
  private static void settle() throws InterruptedException {
    for (int i = 0; i < 3; i++) {
      System.gc();
      Thread.sleep(100);
    }
  }

  private static int openDescriptors() throws IOException {
    int count = 0;
    try (DirectoryStream<Path> fds = Files.newDirectoryStream(Paths.get("/proc/self/fd"))) {
      for (Path ignored : fds) {
        count++;
      }
    }
    return count;
  }

  private static long residentKb() throws IOException {
    for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
      if (line.startsWith("VmRSS:")) {
        return Long.parseLong(line.replaceAll("[^0-9]", ""));
      }
    }
    throw new IllegalStateException("no VmRSS in /proc/self/status");
  }

  @Test
  void eightPortsDrivenFromEightThreadsMoveEveryByteIntact() throws Throwable {
    List<VirtualNullModem> modems = new ArrayList<>();
    List<CESerialPort> ports = new ArrayList<>();
    List<Thread> threads = new ArrayList<>();
    List<Thread> portThreads = new ArrayList<>();
    AtomicReference<Throwable> failure = new AtomicReference<>();
    try {
      for (int p = 0; p < PORTS; p++) {
        modems.add(VirtualNullModem.start("COM" + (p + 1)));
        CESerialPort port = new CESerialPort();
        port.open("COM" + (p + 1) + ":");
        assertTrue(port.isOpen(), "COM" + (p + 1) + ": did not open");
        ports.add(port);
      }
      byte[][] toLibrary = new byte[PORTS][];
      byte[][] toPeer = new byte[PORTS][];
      for (int p = 0; p < PORTS; p++) {
        toLibrary[p] = randomBytes(READ_BYTES, 1000 + p);
        toPeer[p] = randomBytes(WRITE_BYTES, 2000 + p);
      }

      long start = System.nanoTime();
      for (int p = 0; p < PORTS; p++) {
        VirtualNullModem modem = modems.get(p);
        byte[] data = toLibrary[p];
        threads.add(daemon("peer-sender-" + p, failure, () -> modem.send(data)));
        CESerialPort port = ports.get(p);
        byte[] out = toPeer[p];
        portThreads.add(daemon("port-" + p, failure, () -> drive(port, data, out)));
      }
      threads.addAll(portThreads);
      for (Thread thread : threads) {
        thread.start();
      }
      long end = System.nanoTime() + BULK_DEADLINE.toNanos();
      for (Thread thread : threads) {
        thread.join(Math.max(1, (end - System.nanoTime()) / 1_000_000));
        if (thread.isAlive()) {
          fail(thread.getName() + " did not finish within " + BULK_DEADLINE);
        }
      }
      double seconds = (System.nanoTime() - start) / 1e9;
      if (failure.get() != null) {
        throw failure.get();
      }
      for (int p = 0; p < PORTS; p++) {
        assertArrayEquals(
            toPeer[p], modems.get(p).receive(WRITE_BYTES, ConnectedPort.DEADLINE), "port " + p);
        assertEquals(0, ports.get(p).available(), "port " + p + ": bytes left over");
      }
      System.out.printf("%d ports at once: %d MiB read and %d KiB written each in %.1f s%n", PORTS,
          READ_BYTES / MIB, WRITE_BYTES / 1024, seconds);
    } finally {
      // Cutting the lines ends any read still waiting before its port is closed.
      for (VirtualNullModem modem : modems) {
        modem.unplug();
      }
      for (Thread thread : threads) {
        thread.join(ConnectedPort.DEADLINE.toMillis());
      }
      for (int p = 0; p < ports.size(); p++) {
        // Never free a port under a read that is still inside the library.
        if (p >= portThreads.size() || !portThreads.get(p).isAlive()) {
          ports.get(p).close();
        }
      }
      for (VirtualNullModem modem : modems) {
        modem.close();
      }
    }
  }

  /** Reads until all of expected has arrived, checking every byte, and writes out meanwhile. */
  private static void drive(CESerialPort port, byte[] expected, byte[] out) {
    byte[] buffer = new byte[65536];
    int got = 0;
    int written = 0;
    while (got < expected.length) {
      int n = port.read(buffer, 0, Math.min(buffer.length, expected.length - got));
      if (n <= 0) {
        throw new AssertionError("read returned " + n + " after " + got + " bytes");
      }
      int wrong = Arrays.mismatch(buffer, 0, n, expected, got, got + n);
      if (wrong >= 0) {
        throw new AssertionError("byte " + (got + wrong) + " arrived changed");
      }
      got += n;
      for (int k = 0; k < 64 && written < out.length; k++) {
        port.write(out[written++]);
      }
    }
    while (written < out.length) {
      port.write(out[written++]);
    }
  }

  private interface Work {
    void run() throws Exception;
  }

  private static Thread daemon(String name, AtomicReference<Throwable> failure, Work work) {
    Thread thread = new Thread(() -> {
      try {
        work.run();
      } catch (Throwable t) {
        failure.compareAndSet(null, t);
      }
    }, name);
    thread.setDaemon(true);
    return thread;
  }

  private static byte[] randomBytes(int n, long seed) {
    byte[] data = new byte[n];
    new Random(seed).nextBytes(data);
    return data;
  }

  @Test
  void aPortOpensAndWaitsBeyondDescriptor1023() throws Throwable {
    List<FileInputStream> fillers = new ArrayList<>();
    VirtualNullModem modem = VirtualNullModem.start("COM1");
    CESerialPort port = new CESerialPort();
    try {
      for (int i = 0; i < FILLER_DESCRIPTORS; i++) {
        fillers.add(new FileInputStream("/dev/null"));
      }
      assertTrue(openDescriptors() > FILLER_DESCRIPTORS);
      port.open("COM1:");
      assertTrue(port.isOpen(), "COM1: did not open with " + FILLER_DESCRIPTORS + " files open");
      int descriptor = descriptorOn(modem.portDevice());
      assertTrue(descriptor > 1023, "the port got descriptor " + descriptor);
      System.out.printf("COM1: open on descriptor %d with %d more files open%n", descriptor,
          FILLER_DESCRIPTORS);

      byte[] b = new byte[4];
      BlockingRead read = BlockingRead.start(port, b, 0, b.length);
      assertTrue(!read.endsWithin(Duration.ofMillis(200)), "read returned with nothing");
      modem.send(new byte[] {'h'});
      assertEquals(1, read.result(ConnectedPort.DEADLINE));
      assertEquals('h', b[0]);
    } finally {
      modem.unplug();
      port.close();
      modem.close();
      for (FileInputStream filler : fillers) {
        filler.close();
      }
    }
  }

  /** The highest descriptor of this VM open on the device, or -1. */
  private static int descriptorOn(Path device) throws IOException {
    int highest = -1;
    try (DirectoryStream<Path> fds = Files.newDirectoryStream(Paths.get("/proc/self/fd"))) {
      for (Path fd : fds) {
        try {
          if (Files.readSymbolicLink(fd).equals(device)) {
            highest = Math.max(highest, Integer.parseInt(fd.getFileName().toString()));
          }
        } catch (IOException e) {
          // the directory stream's own descriptor, closed by now
        }
      }
    }
    return highest;
  }
}
