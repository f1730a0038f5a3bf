package quorin.io.comm;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.util.List;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;

/** setSerialPortParams: the codes it refuses with a message, and what reaches the line. */
@Timeout(value = 60, threadMode = Timeout.ThreadMode.SEPARATE_THREAD)
class LineParamsTest extends OnConnectedPort {
  private List<String> messagesOf(int baud, int dataBits, int stopBits, int parity, boolean result)
      throws IOException {
    MessageLog log = MessageLog.mark();
    assertEquals(result, com1.port.setSerialPortParams(baud, dataBits, stopBits, parity),
        baud + ", " + dataBits + ", " + stopBits + ", " + parity);
    return log.newLines();
  }

  @Test
  void theFirstInvalidCodeIsReportedAndTheRestAreNotExamined() throws Exception {
    String dataBits = "tarvesk: Error: Invalid number of data bits";
    String stopBits = "tarvesk: Error: Invalid number of stop bits";
    String parity = "tarvesk: Error: Invalid Parity";

    assertEquals(List.of(dataBits), messagesOf(9600, 9, 1, 0, false));
    assertEquals(List.of(dataBits), messagesOf(9600, 4, 0, 7, false));
    assertEquals(List.of(stopBits), messagesOf(9600, 8, 0, 7, false));
    assertEquals(List.of(stopBits), messagesOf(9600, 8, 4, 0, false));
    assertEquals(List.of(parity), messagesOf(9600, 8, 1, 5, false));
    assertEquals(List.of(parity), messagesOf(9600, 8, 2, -1, false));
  }

  @Test
  void theSameCodesAreCheckedWithoutAPort() throws Exception {
    CESerialPort unopened = new CESerialPort();
    MessageLog log = MessageLog.mark();
    assertFalse(unopened.setSerialPortParams(9600, 8, 1, 9));
    assertEquals(List.of("tarvesk: Error: Invalid Parity"), log.newLines());

    log = MessageLog.mark();
    assertFalse(unopened.setSerialPortParams(9600, 8, 1, 0));
    assertEquals(List.of(), log.newLines(), "no port is not a message");
  }

  @Test
  void aFramingNoUartHasIsRefusedWithoutAMessage() throws Exception {
    // As on Windows: one and a half stop bits exist only with five data bits, two stop bits
    // only with six to eight.
    for (int dataBits = 6; dataBits <= 8; dataBits++) {
      assertEquals(List.of(), messagesOf(9600, dataBits, 3, 0, false));
    }
    assertEquals(List.of(), messagesOf(9600, 5, 2, 0, false));
  }

  @Test
  void newSpeedReachesTheLineAndDataStillFlows() throws Throwable {
    assertEquals(List.of(), messagesOf(115200, 8, 1, 0, true));
    assertEquals("115200", stty("speed"));

    assertEquals(List.of(), messagesOf(9600, 8, 2, 0, true));
    assertEquals("9600", stty("speed"));

    com1.port.write('o');
    com1.port.write('k');
    assertArrayEquals(new byte[] {'o', 'k'}, com1.modem.receive(2, ConnectedPort.DEADLINE));
  }

  @Test
  void aVirtualLineAcceptsEveryFramingTheCodesName() throws Exception {
    // A pseudo-terminal carries bytes, not frames: like a virtual null modem on Windows it
    // takes any framing a UART has.
    for (int dataBits = 5; dataBits <= 8; dataBits++) {
      int longStop = dataBits == 5 ? CESerialPort.STOPBITS_1_5 : CESerialPort.STOPBITS_2;
      for (int stopBits : new int[] {CESerialPort.STOPBITS_1, longStop}) {
        for (int parity = 0; parity <= 4; parity++) {
          assertEquals(List.of(), messagesOf(19200, dataBits, stopBits, parity, true));
        }
      }
    }
  }

  /**
   * The speed of the library's pseudo-terminal as the kernel holds it for both of its sides.
   * stty takes no lock, so it may look while the library holds the port.
   */
  private String stty(String setting) throws IOException, InterruptedException {
    Process p = new ProcessBuilder("stty", "-F", com1.modem.portDevice().toString(), setting)
                    .redirectErrorStream(true)
                    .start();
    assertTrue(p.waitFor(10, TimeUnit.SECONDS), "stty did not answer");
    String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8).trim();
    assertEquals(0, p.exitValue(), out);
    return out;
  }
}
