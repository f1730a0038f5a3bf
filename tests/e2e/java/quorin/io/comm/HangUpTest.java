package quorin.io.comm;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.time.Duration;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;

/** A line that goes away (adapter unplugged, peer gone) ends reads instead of stranding them. */
@Timeout(value = 60, threadMode = Timeout.ThreadMode.SEPARATE_THREAD)
class HangUpTest {
  /** Generous for a loaded machine; a read that never ends is what this catches. */
  private static final Duration PROMPTLY = Duration.ofSeconds(3);

  private ConnectedPort com1;

  @BeforeEach
  void connect() throws Exception {
    com1 = ConnectedPort.open();
  }

  @AfterEach
  void disconnect() throws Exception {
    com1.close();
  }

  @Test
  void aWaitingReadEndsWithMinusOneWhenThePeerHangsUp() throws Throwable {
    byte[] b = new byte[16];
    BlockingRead read = com1.startRead(b, 0, b.length);
    assertFalse(
        read.endsWithin(Duration.ofMillis(300)), "nativeRead returned with nothing to read");

    com1.modem.hangUp();
    assertEquals(-1, read.result(PROMPTLY));
    assertTrue(com1.port.nativeClose(), "a hung-up port still closes");
  }

  @Test
  void aReadAfterTheHangUpIsMinusOneAtOnce() throws Throwable {
    com1.modem.hangUp();
    assertEquals(-1, com1.startRead(new byte[4], 0, 4).result(PROMPTLY));
    assertEquals(-1, com1.startRead(new byte[4], 0, 0).result(PROMPTLY));
    assertTrue(com1.port.nativeClose());
  }
}
