package quorin.io.comm;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;

/** CECommDriver lists the entries of TARVESK_PORTS by name, without opening them. */
@Timeout(value = 60, threadMode = Timeout.ThreadMode.SEPARATE_THREAD)
class DiscoveryTest {
  private VirtualNullModem com1;
  private VirtualNullModem com2;

  @BeforeEach
  void plugIn() throws Exception {
    com2 = VirtualNullModem.start("COM2");
    com1 = VirtualNullModem.start("COM1");
  }

  @AfterEach
  void unplug() throws Exception {
    com1.close();
    com2.close();
  }

  @Test
  void serialPortsAreTheNamedDevicesInOrder() {
    assertEquals(List.of("COM1:", "COM2:"), CECommDriver.findSerialPorts());
    assertEquals(List.of(), CECommDriver.findParallelPorts());
  }

  @Test
  void aPortInUseIsStillListed() {
    CESerialPort port = new CESerialPort();
    port.nativeOpen("COM2:");
    try {
      assertTrue(port.isOpen());
      assertEquals(List.of("COM1:", "COM2:"), CECommDriver.findSerialPorts());
    } finally {
      port.nativeClose();
    }
  }
}
