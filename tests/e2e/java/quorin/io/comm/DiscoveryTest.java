package quorin.io.comm;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.TimeUnit;
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

  @Test
  void everyNameListedOpens() {
    List<String> names = CECommDriver.findSerialPorts();
    assertEquals(2, names.size());
    for (String name : names) {
      CESerialPort port = new CESerialPort();
      port.open(name);
      assertTrue(port.isOpen(), name);
      assertTrue(port.close(), name);
    }
  }

  /**
   * JNI promises a native call only 16 local references; each name's must go back as soon as
   * the vector holds it. -Xcheck:jni reports an overrun with a plain "WARNING: JNI local refs"
   * line on the VM's own output, so the listing runs in a VM of its own whose output the test
   * reads.
   */
  @Test
  void twoHundredPortsAreAllListedWithinJnisLocalReferences() throws Exception {
    Path ports = Paths.get(System.getenv("TARVESK_PORTS"));
    List<Path> links = new ArrayList<>();
    List<String> expected = new ArrayList<>(List.of("COM1", "COM2"));
    try {
      for (int i = 100; i < 300; i++) {
        // /dev/null is a character device too; listing never opens it.
        links.add(Files.createSymbolicLink(ports.resolve("COM" + i), Paths.get("/dev/null")));
        expected.add("COM" + i);
      }
      Collections.sort(expected); // byte order of the entry names
      expected.replaceAll(name -> name + ":");
      assertEquals(expected, CECommDriver.findSerialPorts());

      String output = listPortsInCheckedVm();
      assertFalse(output.contains("WARNING"), output);
      assertEquals(expected.toString(), output.strip());
    } finally {
      for (Path link : links) {
        Files.deleteIfExists(link);
      }
    }
  }

  /** Prints what findSerialPorts returns; run by the test in a VM with -Xcheck:jni. */
  static final class ListPorts {
    public static void main(String[] args) { System.out.println(CECommDriver.findSerialPorts()); }
  }

  private static String listPortsInCheckedVm() throws Exception {
    String classPath =
        codeSource(CECommDriver.class) + File.pathSeparator + codeSource(ListPorts.class);
    Path output = Files.createTempFile("tarvesk-list-ports", ".log");
    try {
      Process vm =
          new ProcessBuilder(Paths.get(System.getProperty("java.home"), "bin", "java").toString(),
              "-Xcheck:jni", "-Djava.library.path=" + System.getProperty("java.library.path"),
              "-cp", classPath, ListPorts.class.getName())
              .redirectErrorStream(true)
              .redirectOutput(output.toFile())
              .start();
      if (!vm.waitFor(30, TimeUnit.SECONDS)) {
        vm.destroyForcibly().waitFor(5, TimeUnit.SECONDS);
      }
      String text = Files.readString(output);
      assertEquals(0, vm.isAlive() ? -1 : vm.exitValue(), text);
      return text;
    } finally {
      Files.delete(output);
    }
  }

  private static String codeSource(Class<?> cls) throws Exception {
    return Paths.get(cls.getProtectionDomain().getCodeSource().getLocation().toURI()).toString();
  }
}
