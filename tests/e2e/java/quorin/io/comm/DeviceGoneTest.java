package quorin.io.comm;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;

/**
 * A line that goes away (adapter unplugged, peer gone) ends reads instead of stranding them, and
 * every later call returns instead of waiting (how soon is a figure of the benchmark).
 */
@Timeout(value = 60, threadMode = Timeout.ThreadMode.SEPARATE_THREAD)
class DeviceGoneTest extends OnConnectedPort {
  @Test
  void aReadOnAGoneDeviceIsMinusOne() throws Throwable {
    com1.modem.unplug();
    assertEquals(-1, com1.startRead(new byte[4], 0, 4).result(ConnectedPort.DEADLINE));
    assertEquals(-1, com1.startRead(new byte[4], 0, 0).result(ConnectedPort.DEADLINE));
    assertTrue(com1.port.close());
  }

  @Test
  void aWaitingReadEndsWhenTheDeviceGoesAndCloseThenFreesIt() throws Throwable {
    Path device = com1.modem.portDevice();
    byte[] b = new byte[16];
    BlockingRead read = com1.startWaitingRead(b);

    com1.modem.unplug();
    assertEquals(-1, read.result(ConnectedPort.DEADLINE));
    // The device is known to be gone: a read no longer waits, and nothing is tried on it.
    assertEquals(-1, com1.startRead(b, 0, 4).result(ConnectedPort.DEADLINE));
    assertEquals(0, com1.port.available());
    assertFalse(com1.port.setSerialPortParams(19200, 8, 1, 0));
    com1.port.write('x');

    assertTrue(descriptorsOn(device) > 0, "the open port has a descriptor on " + device);
    assertTrue(com1.port.close(), "the port of a gone device still closes");
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
