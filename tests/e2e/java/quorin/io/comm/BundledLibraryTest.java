package quorin.io.comm;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.Set;
import java.util.Vector;
import java.util.concurrent.TimeUnit;
import java.util.regex.Pattern;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;
import org.junit.jupiter.api.io.TempDir;

/**
 * The library from tarvesk.jar alone: a VM whose java.library.path is an empty directory, so
 * neither the build's library nor an installed package's can be found, lists and opens a port
 * with the copy the jar carries; and where nothing fits, one error says what was tried.
 */
@Timeout(value = 120, threadMode = Timeout.ThreadMode.SEPARATE_THREAD)
class BundledLibraryTest {
  @TempDir Path work;

  @Test
  void everyArchitectureNameMapsToTheJarsDirectory() {
    for (String arch : List.of("amd64", "x86_64")) {
      assertEquals("linux-x86_64", TarveskLibrary.platform("Linux", arch));
      assertEquals("windows-x86_64", TarveskLibrary.platform("Windows 10", arch));
    }
    for (String arch : List.of("x86", "i386", "i686")) {
      assertEquals("windows-x86", TarveskLibrary.platform("Windows Server 2019", arch));
    }
    for (String arch : List.of("aarch64", "arm64")) {
      assertEquals("linux-aarch64", TarveskLibrary.platform("Linux", arch));
    }
    for (String arch : List.of("arm", "armhf")) {
      assertEquals("linux-armhf", TarveskLibrary.platform("Linux", arch));
    }
    assertEquals("macosx-riscv64", TarveskLibrary.platform("Mac OS X", "RISCV64"));
  }

  @Test
  void aVmWithNothingButTheJarListsAndOpensAPort() throws Exception {
    VirtualNullModem com1 = VirtualNullModem.start("COM1");
    Path tmp = Files.createDirectory(work.resolve("tmp"));
    String output;
    try {
      output = runVm("-Djava.library.path=" + emptyDirectory(), "-Djava.io.tmpdir=" + tmp);
    } finally {
      com1.close();
    }
    assertTrue(output.contains("ports: [COM1:]\nopened COM1:\nclosed\n"), output);
    // One copy for both classes, in a directory of its own, deleted once loaded.
    Set<String> mapped = Stream.of(output.split("\n"))
                             .filter(line -> line.startsWith("mapped: "))
                             .collect(Collectors.toSet());
    assertEquals(1, mapped.size(), output);
    String copy = Pattern.quote(tmp.toString()) + "/tarvesk-[^/]+/libtarvesk\\.so \\(deleted\\)";
    assertTrue(mapped.iterator().next().matches("mapped: " + copy), output);
    try (Stream<Path> left = Files.list(tmp)) {
      assertEquals(List.of(), left.collect(Collectors.toList()), "left in the temporary directory");
    }
  }

  @Test
  void whenNothingFitsOneErrorNamesThePlatformAndEveryPlaceTried() throws Exception {
    Path missing = work.resolve("missing").resolve("libtarvesk.so");
    Path empty = emptyDirectory();
    Path noTmp = work.resolve("no-tmp");
    String output = runVm("-Dtarvesk.library.path=" + missing, "-Djava.library.path=" + empty,
        "-Djava.io.tmpdir=" + noTmp);

    String platform =
        TarveskLibrary.platform(System.getProperty("os.name"), System.getProperty("os.arch"));
    String error = "java.lang.UnsatisfiedLinkError: no tarvesk library for " + platform
        + " could be loaded; tried -Dtarvesk.library.path=" + missing + " (";
    String[] lines = output.split("\n");
    assertEquals(2, lines.length, output);
    assertTrue(lines[0].startsWith("CECommDriver: " + error), output);
    assertEquals(lines[0].replace("CECommDriver", "CESerialPort"), lines[1], "a second load");
    for (String place :
        List.of("java.library.path " + empty + " (",
            "the jar's quorin/io/comm/native/" + platform + "/libtarvesk.so (", noTmp.toString())) {
      assertTrue(lines[0].contains(place), place + " not named in " + lines[0]);
    }
  }

  private Path emptyDirectory() throws Exception {
    return Files.createDirectories(work.resolve("no-libraries"));
  }

  /** Runs ListAndOpen in a VM of its own with these options; its output, once it ended well. */
  private String runVm(String... options) throws Exception {
    List<String> command = new ArrayList<>(List.of(
        Paths.get(System.getProperty("java.home"), "bin", "java").toString(), "-Xcheck:jni"));
    command.addAll(List.of(options));
    command.addAll(List.of("-cp",
        codeSource(CESerialPort.class) + File.pathSeparator + codeSource(ListAndOpen.class),
        ListAndOpen.class.getName()));
    Path output = work.resolve("vm.log");
    Process vm = new ProcessBuilder(command)
                     .redirectErrorStream(true)
                     .redirectOutput(output.toFile())
                     .start();
    if (!vm.waitFor(60, TimeUnit.SECONDS)) {
      vm.destroyForcibly().waitFor(5, TimeUnit.SECONDS);
    }
    String text = Files.readString(output);
    assertEquals(0, vm.isAlive() ? -1 : vm.exitValue(), text);
    return text;
  }

  private static String codeSource(Class<?> cls) throws Exception {
    return Paths.get(cls.getProtectionDomain().getCodeSource().getLocation().toURI()).toString();
  }

  /** In the VM under test: lists the ports, opens and closes the first, names what it mapped. */
  static final class ListAndOpen {
    public static void main(String[] args) throws Exception {
      Vector<String> ports;
      try {
        ports = CECommDriver.findSerialPorts();
      } catch (UnsatisfiedLinkError e) {
        System.out.println("CECommDriver: " + e);
        try {
          new CESerialPort();
        } catch (LinkageError again) {
          System.out.println("CESerialPort: " + again);
        }
        return;
      }
      System.out.println("ports: " + ports);
      CESerialPort port = new CESerialPort();
      port.open(ports.get(0));
      System.out.println((port.isOpen() ? "opened " : "could not open ") + ports.get(0));
      System.out.println(port.close() ? "closed" : "close failed");
      for (String line : Files.readAllLines(Paths.get("/proc/self/maps"))) {
        if (line.contains("libtarvesk")) {
          System.out.println("mapped: " + line.substring(line.indexOf('/')));
        }
      }
    }
  }
}
