package quorin.io.comm;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.time.Duration;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;

/** A line that goes away (adapter unplugged, peer gone) ends reads instead of stranding them. */
@Timeout(value = 60, threadMode = Timeout.ThreadMode.SEPARATE_THREAD)
class HangUpTest extends OnConnectedPort {
  /** Generous for a loaded machine; a read that never ends is what this catches. */
  private static final Duration PROMPTLY = Duration.ofSeconds(3);
  /** How soon a hang-up must end a waiting read: a correctness bound, not a speed target. */
  private static final Duration HANG_UP_NOTICED = Duration.ofMillis(100);
  /** Calls that have nothing left to wait for. */
  private static final Duration AT_ONCE = Duration.ofMillis(100);
  /** The write time-out for one byte: 10 ms per byte plus 1000 ms. */
  private static final Duration WRITE_TIMEOUT = Duration.ofMillis(1010);

  @Test
  void aWaitingReadEndsWithMinusOneWhenThePeerHangsUp() throws Throwable {
    byte[] b = new byte[16];
    BlockingRead read = com1.startWaitingRead(b);

    com1.modem.hangUp();
    assertEquals(-1, read.result(PROMPTLY));
    assertTrue(com1.port.close(), "a hung-up port still closes");
  }

  @Test
  void aReadAfterTheHangUpIsMinusOneAtOnce() throws Throwable {
    com1.modem.hangUp();
    assertEquals(-1, com1.startRead(new byte[4], 0, 4).result(PROMPTLY));
    assertEquals(-1, com1.startRead(new byte[4], 0, 0).result(PROMPTLY));
    assertTrue(com1.port.close());
  }

  @Test
  void afterTheHangUpEveryCallReturnsAtOnceAndCloseFreesTheDevice() throws Throwable {
    Path device = com1.modem.portDevice();
    byte[] b = new byte[16];
    BlockingRead read = com1.startWaitingRead(b);

    // Measured from before socat is told to go, so socat's own exit counts against the bound.
    long cut = System.nanoTime();
    com1.modem.hangUp();
    long left = cut + HANG_UP_NOTICED.toNanos() - System.nanoTime();
    assertTrue(read.endsWithin(Duration.ofNanos(left)),
        "the waiting read was still waiting 100 ms after the line was cut");
    System.out.printf("the waiting read returned within %.1f ms of the cut%n", since(cut));
    assertEquals(-1, read.result(Duration.ZERO));

    long start = System.nanoTime();
    assertEquals(-1, com1.startRead(b, 0, 4).result(AT_ONCE));
    assertEquals(0, com1.port.available());
    assertFalse(com1.port.setSerialPortParams(19200, 8, 1, 0));
    assertTrue(
        since(start) < AT_ONCE.toMillis(), "read, available and params took " + since(start));
    start = System.nanoTime();
    com1.port.write('x');
    assertTrue(since(start) < WRITE_TIMEOUT.toMillis(), "write took " + since(start) + " ms");

    assertTrue(descriptorsOn(device) > 0, "the open port has a descriptor on " + device);
    assertTrue(com1.port.close(), "a hung-up port still closes");
    assertEquals(0, descriptorsOn(device), "descriptors left open on " + device);

    // Plugged in again as COM1:, the same port object opens and works.
    Files.deleteIfExists(com1.modem.portLink());
    VirtualNullModem replugged = VirtualNullModem.start("COM1");
    try {
      com1.port.open("COM1:");
      assertTrue(com1.port.isOpen(), "COM1: did not open again");
      replugged.send(new byte[] {'r'});
      assertEquals(1, BlockingRead.start(com1.port, b, 0, 1).result(ConnectedPort.DEADLINE));
      assertEquals('r', b[0]);
      assertTrue(com1.port.close());
    } finally {
      replugged.close();
    }
  }

  private static double since(long nanoTime) {
    return (System.nanoTime() - nanoTime) / 1e6;
  }

  /** How many descriptors of this VM are open on the device (gone devices read "(deleted)"). */
  private static int descriptorsOn(Path device) throws IOException {
    int count = 0;
    try (DirectoryStream<Path> fds = Files.newDirectoryStream(Paths.get("/proc/self/fd"))) {
      for (Path fd : fds) {
        String target;
        try {
          target = Files.readSymbolicLink(fd).toString();
        } catch (IOException e) {
          continue; // closed meanwhile, or the directory stream's own descriptor
        }
        if (target.equals(device.toString()) || target.equals(device + " (deleted)")) {
          count++;
        }
      }
    }
    return count;
  }
}
