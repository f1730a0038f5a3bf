package quorin.io.comm;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.time.Duration;
import java.util.Random;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;

/** Every byte value, and a mebibyte of random data, crosses the line unchanged both ways. */
@Timeout(value = 120, threadMode = Timeout.ThreadMode.SEPARATE_THREAD)
class ByteTransparencyTest extends OnConnectedPort {
  private static final int MIB = 1 << 20;
  private static final Duration BULK_DEADLINE = Duration.ofSeconds(60);

  private static byte[] everyByteValue() {
    byte[] all = new byte[256];
    for (int i = 0; i < all.length; i++) {
      all[i] = (byte) i;
    }
    return all;
  }

  private static byte[] randomBytes(int n) {
    byte[] data = new byte[n];
    new Random(20260101L).nextBytes(data);
    return data;
  }

  @Test
  void everyByteValueFromTheLibraryToThePeer() throws Throwable {
    // Through the int parameter both ways: 0..255 and the same values sign-extended.
    for (int value = 0; value < 256; value++) {
      com1.port.write(value);
    }
    for (byte value : everyByteValue()) {
      com1.port.write(value);
    }
    byte[] received = com1.modem.receive(512, ConnectedPort.DEADLINE);
    assertArrayEquals(everyByteValue(), java.util.Arrays.copyOfRange(received, 0, 256));
    assertArrayEquals(everyByteValue(), java.util.Arrays.copyOfRange(received, 256, 512));
  }

  @Test
  void everyByteValueFromThePeerToTheLibrary() throws Throwable {
    com1.modem.send(everyByteValue());
    assertArrayEquals(everyByteValue(), com1.readFully(256));
    assertEquals(0, com1.port.available());
  }

  @Test
  void aMebibyteFromTheLibraryToThePeerInSingleByteWrites() throws Throwable {
    byte[] data = randomBytes(MIB);
    long start = System.nanoTime();
    for (byte b : data) {
      com1.port.write(b);
    }
    long writeNanos = System.nanoTime() - start;
    assertArrayEquals(data, com1.modem.receive(MIB, BULK_DEADLINE));
    System.out.printf("1 MiB in single-byte write calls: %.2f s (%.0f writes/s)%n",
        writeNanos / 1e9, MIB / (writeNanos / 1e9));
  }

  @Test
  void aMebibyteFromThePeerToTheLibrary() throws Throwable {
    byte[] data = randomBytes(MIB);
    Throwable[] sendFailure = new Throwable[1];
    Thread sender = new Thread(() -> {
      try {
        com1.modem.send(data);
      } catch (Throwable t) {
        sendFailure[0] = t;
      }
    }, "peer-sender");
    sender.setDaemon(true);
    sender.start();

    assertArrayEquals(data, com1.readFully(MIB));
    sender.join(BULK_DEADLINE.toMillis());
    assertTrue(
        !sender.isAlive() && sendFailure[0] == null, "peer could not send: " + sendFailure[0]);
    assertEquals(0, com1.port.available());
  }
}
