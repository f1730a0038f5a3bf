package quorin.io.comm;

import java.io.ByteArrayOutputStream;
import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.time.Duration;
import java.util.Comparator;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;

/**
 * A pair of pseudo-terminals joined by socat, like two serial ports joined by a null-modem
 * cable. One end is the entry {@code name} of the TARVESK_PORTS directory, so the library knows
 * it as COM1: (or whatever name is given); the test holds the other end, the peer.
 *
 * <p>The JVM's environment cannot be changed from Java, so run-e2e.sh sets TARVESK_PORTS to a
 * directory of its own for each run, and this class only adds entries to it (and keeps its
 * peer ends in a directory beside it). A reader thread drains the peer end continuously, so the
 * library's writes never stall on a full peer and every wait for received bytes has a deadline.
 */
final class VirtualNullModem {
  private static final Duration START_DEADLINE = Duration.ofSeconds(10);

  private final Path portLink;
  private final Path peerLink;
  private final Path workDir;
  private final Process socat;
  private OutputStream peerOut;
  private InputStream peerIn;
  private Thread peerReader;
  private final ByteArrayOutputStream received = new ByteArrayOutputStream();
  /** False while the peer stops reading (guarded by received). */
  private boolean reading = true;

  private VirtualNullModem(Path portLink, Path workDir, Process socat) {
    this.portLink = portLink;
    this.peerLink = workDir.resolve("peer");
    this.workDir = workDir;
    this.socat = socat;
  }

  /** Starts socat and waits (bounded) until both ends are ready; then opens the peer end. */
  static VirtualNullModem start(String name) throws IOException, InterruptedException {
    String ports = System.getenv("TARVESK_PORTS");
    if (ports == null) {
      throw new IllegalStateException("TARVESK_PORTS is not set: run the tests through run-e2e.sh");
    }
    Path portLink = Paths.get(ports, name);
    // Beside the port directory: the runner's own, which it removes whatever happens here.
    Path workDir = Files.createTempDirectory(portLink.getParent().getParent(), "peer");
    Process socat = new ProcessBuilder("socat", "-d", "-d", "pty,cfmakeraw,link=" + portLink,
        "pty,cfmakeraw,link=" + workDir.resolve("peer"))
                        .redirectErrorStream(true)
                        .redirectOutput(workDir.resolve("socat.log").toFile())
                        .start();
    VirtualNullModem modem = new VirtualNullModem(portLink, workDir, socat);
    try {
      modem.awaitEnds();
      modem.openPeer();
    } catch (IOException | RuntimeException | Error e) {
      modem.close();
      throw e;
    }
    return modem;
  }

  /**
   * socat makes each link before it puts that end in raw mode, so an end used as soon as its
   * link exists may still translate line ends; it says when both are set up.
   */
  private void awaitEnds() throws IOException, InterruptedException {
    long deadline = System.nanoTime() + START_DEADLINE.toNanos();
    while (!socatLog().contains("starting data transfer loop")) {
      if (!socat.isAlive() || System.nanoTime() > deadline) {
        throw new IllegalStateException("socat did not make the pair: " + socatLog());
      }
      Thread.sleep(10);
    }
  }

  private void openPeer() throws IOException {
    peerOut = new FileOutputStream(peerLink.toFile());
    peerIn = new FileInputStream(peerLink.toFile());
    peerReader = new Thread(this::drainPeer, "peer-reader");
    peerReader.setDaemon(true);
    peerReader.start();
  }

  private void drainPeer() {
    byte[] chunk = new byte[65536];
    try {
      for (int n; (n = peerIn.read(chunk)) > 0;) {
        synchronized (received) {
          received.write(chunk, 0, n);
          received.notifyAll();
          while (!reading) {
            received.wait();
          }
        }
      }
    } catch (IOException | InterruptedException e) {
      // EIO once socat has gone: the line is down, nothing more will arrive.
    }
  }

  /**
   * The peer stops reading after the bytes it is reading now, so that the line fills up (socat
   * and the two pseudo-terminals hold some tens of KiB).
   */
  void stopReading() {
    synchronized (received) {
      reading = false;
    }
  }

  void resumeReading() {
    synchronized (received) {
      reading = true;
      received.notifyAll();
    }
  }

  /** The entry in TARVESK_PORTS (a symlink to the library's pseudo-terminal). */
  Path portLink() { return portLink; }

  /** The pseudo-terminal the library opens, e.g. /dev/pts/3. */
  Path portDevice() throws IOException { return portLink.toRealPath(); }

  /** Sends bytes from the peer end to the library's end. */
  void send(byte[] bytes) throws IOException {
    peerOut.write(bytes);
    peerOut.flush();
  }

  /**
   * Waits until the peer end has received at least n bytes since the last call, and returns
   * exactly the first n of them (the rest stay for the next call). Fails after the deadline.
   */
  byte[] receive(int n, Duration deadline) throws InterruptedException {
    long end = System.nanoTime() + deadline.toNanos();
    synchronized (received) {
      while (received.size() < n) {
        long left = end - System.nanoTime();
        if (left <= 0) {
          throw new AssertionError(
              "peer received " + received.size() + " of " + n + " bytes within " + deadline);
        }
        TimeUnit.NANOSECONDS.timedWait(received, left);
      }
      byte[] all = received.toByteArray();
      received.reset();
      received.write(all, n, all.length - n);
      byte[] first = new byte[n];
      System.arraycopy(all, 0, first, 0, n);
      return first;
    }
  }

  /** Cuts the line as an unplugged adapter would: socat goes, and both pseudo-terminals with it. */
  void unplug() throws InterruptedException {
    if (socat.isAlive()) {
      socat.destroy();
      if (!socat.waitFor(5, TimeUnit.SECONDS)) {
        socat.destroyForcibly().waitFor(5, TimeUnit.SECONDS);
      }
    }
  }

  public void close() throws IOException, InterruptedException {
    unplug();
    resumeReading();
    if (peerReader != null) {
      peerReader.join(5000);
    }
    if (peerIn != null) {
      peerIn.close();
    }
    if (peerOut != null) {
      peerOut.close();
    }
    Files.deleteIfExists(portLink);
    try (Stream<Path> files = Files.walk(workDir)) {
      for (Path p : (Iterable<Path>) files.sorted(Comparator.reverseOrder())::iterator) {
        Files.deleteIfExists(p);
      }
    }
  }

  private String socatLog() throws IOException {
    return Files.readString(workDir.resolve("socat.log"));
  }
}
