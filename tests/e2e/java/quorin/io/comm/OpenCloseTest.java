package quorin.io.comm;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.GroupPrincipal;
import java.nio.file.attribute.PosixFileAttributeView;
import java.nio.file.attribute.PosixFilePermissions;
import java.nio.file.attribute.UserPrincipalNotFoundException;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.stream.Collectors;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;
import org.opentest4j.TestAbortedException;

/** Opening and closing COM1: on a virtual null modem, through System.loadLibrary. */
@Timeout(value = 60, threadMode = Timeout.ThreadMode.SEPARATE_THREAD)
class OpenCloseTest {
  private static final String UNABLE_TO_OPEN = "tarvesk: Error: Unable to open the port";

  private VirtualNullModem modem;
  private final CESerialPort port = new CESerialPort();

  @BeforeEach
  void plugIn() throws Exception {
    modem = VirtualNullModem.start("COM1");
  }

  @AfterEach
  void unplug() throws Exception {
    if (port.isOpen()) {
      port.close();
    }
    modem.close();
  }

  private static void assertAddress(long portAddress) {
    assertNotEquals(0L, portAddress, "nativeHandle after open");
    assertNotEquals(-1L, portAddress, "nativeHandle after open");
  }

  @Test
  void openCloseAndOpenAgain() {
    port.open("COM1:");
    assertAddress(port.nativeHandle);

    assertTrue(port.close(), "first close");
    assertEquals(-1L, port.nativeHandle);
    assertFalse(port.close(), "second close finds the port closed");
    assertEquals(-1L, port.nativeHandle);

    port.open("COM1:");
    assertAddress(port.nativeHandle);
  }

  @Test
  void closeOfANeverOpenedPortIsFalse() throws Exception {
    MessageLog log = MessageLog.mark();
    assertFalse(port.close());
    assertEquals(0L, port.nativeHandle);
    assertEquals(List.of(), log.newLines(), "closing nothing is not an error to report");
  }

  @Test
  void unknownNameLeavesTheFieldAndReportsIt() throws Exception {
    MessageLog log = MessageLog.mark();
    port.open("COM9:");
    assertEquals(0L, port.nativeHandle);
    assertEquals(List.of("tarvesk: no port is named COM9:", UNABLE_TO_OPEN), log.newLines());

    // Also after a close: the field keeps -1.
    port.open("COM1:");
    assertTrue(port.close());
    log = MessageLog.mark();
    port.open("NOSUCH:");
    assertEquals(-1L, port.nativeHandle);
    assertEquals(List.of("tarvesk: no port is named NOSUCH:", UNABLE_TO_OPEN), log.newLines());

    // A device that is gone: not plugged in.
    modem.unplug();
    log = MessageLog.mark();
    port.open(modem.portLink().toString());
    assertEquals(
        List.of("tarvesk: " + modem.portLink() + ": no such device (not plugged in?)",
            UNABLE_TO_OPEN),
        log.newLines());
  }

  @Test
  void theColonIsOptionalAndAnAbsolutePathOpensAsItIs() throws Exception {
    port.open("COM1");
    assertAddress(port.nativeHandle);
    assertTrue(port.close());

    port.open(modem.portDevice().toString());
    assertAddress(port.nativeHandle);
  }

  @Test
  void aSecondOpenOfTheSameDeviceFailsAndLeavesTheFirstAlone() throws Exception {
    port.open("COM1:");
    assertAddress(port.nativeHandle);

    CESerialPort second = new CESerialPort();
    MessageLog log = MessageLog.mark();
    second.open("COM1:");
    assertEquals(0L, second.nativeHandle);
    assertEquals(
        List.of("tarvesk: COM1: (" + modem.portLink() + "): busy: in use by this program",
            UNABLE_TO_OPEN),
        log.newLines());

    // The owner still has a working line.
    port.write('k');
    assertEquals('k', modem.receive(1, ConnectedPort.DEADLINE)[0]);
  }

  /** The port given up is free for others at once, also when the new one does not open. */
  @Test
  void openOnAnOpenObjectReleasesItsPortFirst() throws Exception {
    VirtualNullModem com2 = VirtualNullModem.start("COM2");
    CESerialPort other = new CESerialPort();
    try {
      port.open("COM1:");
      port.open("COM2:");
      assertTrue(port.isOpen(), "COM2: did not open");
      other.open("COM1:");
      assertTrue(other.close(), "COM1: was not released");
      port.write('2');
      assertEquals('2', com2.receive(1, ConnectedPort.DEADLINE)[0]);

      MessageLog log = MessageLog.mark();
      port.open("NOSUCH:");
      assertEquals(List.of("tarvesk: no port is named NOSUCH:", UNABLE_TO_OPEN), log.newLines());
      assertEquals(-1L, port.nativeHandle, "a failed open leaves the object closed");
      other.open("COM2:");
      assertTrue(other.close(), "COM2: was not released");
    } finally {
      other.close();
      com2.close();
    }
  }

  @Test
  void aPortWhoseOwnerEndedWithoutCloseOpensAgainButNotWhileTheOwnerLives() throws Exception {
    Path said = Files.createTempFile("tarvesk-hold-port", ".log");
    try {
      for (boolean killed : new boolean[] {false, true}) {
        Process owner =
            ChildVm.running(HoldPort.class, "COM1:").redirectOutput(said.toFile()).start();
        try {
          awaitOpenIn(owner, said);
          MessageLog log = MessageLog.mark();
          port.open("COM1:");
          assertFalse(port.isOpen(), "COM1: opened while another VM held it");
          assertEquals(List.of("tarvesk: COM1: (" + modem.portLink() + "): busy: in use by process "
                           + owner.pid() + " (java)",
                           UNABLE_TO_OPEN),
              log.newLines());

          if (killed) {
            owner.destroyForcibly();
          } else {
            owner.getOutputStream().close(); // the other VM exits without closing the port
          }
          assertTrue(owner.waitFor(30, TimeUnit.SECONDS), "the other VM did not end");
          port.open("COM1:");
          assertTrue(port.isOpen(),
              "the port of a VM that " + (killed ? "was killed" : "exited")
                  + " without close() did not open again");
          assertTrue(port.close());
        } finally {
          owner.destroyForcibly().waitFor(5, TimeUnit.SECONDS);
          System.out.print(Files.readString(said)); // for run-e2e.sh's JNI checks
        }
      }
    } finally {
      Files.delete(said);
    }
  }

  /**
   * A device the user may not open: a VM run as nobody, outside the group the device is given
   * to. The tests run as root, which opens any device, so the VM runs through setpriv.
   */
  @Test
  void aForbiddenDeviceNamesItsGroupAndTheFix() throws Exception {
    Path device = modem.portDevice();
    assumeTrue(Files.getAttribute(Path.of("/proc/self"), "unix:uid").equals(0),
        "run as root, to give the device away and drop to nobody");
    assumeTrue(Files.isExecutable(Path.of("/usr/bin/setpriv")), "setpriv is not installed");
    GroupPrincipal dialout;
    try {
      dialout = device.getFileSystem().getUserPrincipalLookupService().lookupPrincipalByGroupName(
          "dialout");
    } catch (UserPrincipalNotFoundException noGroup) {
      throw new TestAbortedException("there is no group dialout", noGroup);
    }
    Files.getFileAttributeView(device, PosixFileAttributeView.class).setGroup(dialout);
    Files.setPosixFilePermissions(device, PosixFilePermissions.fromString("rw-rw----"));
    ProcessBuilder child = ChildVm.running(HoldPort.class, device.toString());
    child.command().addAll(0, List.of("/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup",
                                  "--clear-groups", "--"));
    child.environment().remove("TARVESK_MESSAGE_LOG"); // the messages come on its output
    Process vm = child.start();
    vm.getOutputStream().close();
    assertTrue(vm.waitFor(ConnectedPort.DEADLINE.toMillis(), TimeUnit.MILLISECONDS),
        "the VM that could not open the device did not end");
    String said = new String(vm.getInputStream().readAllBytes());
    System.out.print(said); // for run-e2e.sh's JNI checks
    assertEquals(List.of("tarvesk: " + device + ": permission denied: the device belongs to group "
                     + "dialout, and user nobody is not in it; add the user to that group (sudo "
                     + "usermod -aG dialout nobody) and log in again",
                     UNABLE_TO_OPEN, "not open"),
        said.lines().filter(line -> !line.startsWith("WARNING")).collect(Collectors.toList()));
  }

  /**
   * The usual clean-up on Ctrl-C or SIGTERM: a shutdown hook closes the port a read waits on and
   * a frame the line holds is being written to.
   */
  @Test
  void aShutdownHooksCloseEndsAWaitingReadSoThatTheVmExits() throws Exception {
    Path said = Files.createTempFile("tarvesk-read-until-shutdown", ".log");
    modem.stopReading(); // the frame fills the line and is held
    Process vm =
        ChildVm.running(ReadUntilShutdown.class, "COM1:").redirectOutput(said.toFile()).start();
    try {
      awaitOpenIn(vm, said);
      Thread.sleep(ConnectedPort.STILL_WAITING.toMillis()); // for the read to begin its wait
      vm.destroy(); // SIGTERM
      assertTrue(vm.waitFor(ConnectedPort.DEADLINE.toMillis(), TimeUnit.MILLISECONDS),
          "the VM was still running after SIGTERM");
    } finally {
      vm.destroyForcibly().waitFor(5, TimeUnit.SECONDS);
      System.out.print(Files.readString(said)); // for run-e2e.sh's JNI checks
      Files.delete(said);
    }
  }

  private static void awaitOpenIn(Process owner, Path said) throws Exception {
    long end = System.nanoTime() + ConnectedPort.DEADLINE.toNanos();
    for (List<String> lines = Files.readAllLines(said); !lines.contains("open");
         lines = Files.readAllLines(said)) {
      assertTrue(owner.isAlive() && !lines.contains("not open") && System.nanoTime() < end,
          "the other VM did not open COM1: " + lines);
      Thread.sleep(20);
    }
  }

  /**
   * Opens the port named by args[0], says so, and writes a 1 MiB frame to it while it reads it,
   * until a shutdown hook closes it.
   */
  static final class ReadUntilShutdown {
    public static void main(String[] args) {
      CESerialPort port = new CESerialPort();
      port.open(args[0]);
      Runtime.getRuntime().addShutdownHook(new Thread(port::close));
      System.out.println(port.isOpen() ? "open" : "not open");
      new Thread(() -> port.write(new byte[1 << 20], 0, 1 << 20), "frame").start();
      port.read(new byte[16], 0, 16);
    }
  }

  /**
   * Opens the port named by args[0], says "open" or "not open", and holds it until its input
   * ends or it is killed: either way it ends without closing the port.
   */
  static final class HoldPort {
    public static void main(String[] args) throws IOException {
      CESerialPort port = new CESerialPort();
      port.open(args[0]);
      System.out.println(port.isOpen() ? "open" : "not open");
      while (System.in.read() >= 0) {
        // nothing comes: the test only ever closes this VM's input
      }
    }
  }
}
