package quorin.io.comm;

import static java.util.stream.Collectors.toList;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;
import org.junit.jupiter.api.io.TempDir;

/**
 * The library from tarvesk.jar alone, in VMs whose java.library.path is an empty directory, so
 * that neither the build's library nor an installed package's can be found.
 */
@Timeout(value = 120, threadMode = Timeout.ThreadMode.SEPARATE_THREAD)
class BundledLibraryTest {
  @TempDir Path work;

  @Test
  void everyArchitectureNameMapsToTheJarsDirectory() {
    String[][] platforms = {{"Linux", "amd64", "linux-x86_64"}, {"Linux", "x86_64", "linux-x86_64"},
        {"Linux", "aarch64", "linux-aarch64"}, {"Linux", "arm64", "linux-aarch64"},
        {"Linux", "arm", "linux-armhf"}, {"Linux", "armhf", "linux-armhf"},
        {"Windows 10", "amd64", "windows-x86_64"}, {"Windows 11", "x86", "windows-x86"},
        {"Windows 7", "i386", "windows-x86"}, {"Windows XP", "i686", "windows-x86"},
        {"Mac OS X", "RISCV64", "macosx-riscv64"}};
    for (String[] platform : platforms) {
      assertEquals(platform[2], TarveskLibrary.platform(platform[0], platform[1]), platform[1]);
    }
  }

  @Test
  void theLibraryOnTheVmsPathWinsOverTheJars() throws Exception {
    TarveskLibrary.ensureLoaded();
    File onPath = new File(System.getProperty("java.library.path"), "libtarvesk.so");
    assertEquals(List.of(onPath.getCanonicalPath()), ListAndOpen.mappedLibraries());
  }

  @Test
  void aVmWithNothingButTheJarListsAndOpensAPort() throws Exception {
    Path tmp = Files.createDirectory(work.resolve("tmp"));
    VirtualNullModem com1 = VirtualNullModem.start("COM1");
    String output;
    try {
      output = runVm("-Djava.io.tmpdir=" + tmp);
    } finally {
      com1.close();
    }
    // Both classes, one copy: in a directory of its own, deleted once loaded.
    String copy = Pattern.quote(tmp.toString()) + "/tarvesk-[^/]+/libtarvesk\\.so \\(deleted\\)";
    assertTrue(
        output.matches("ports: \\[COM1:\\]\nopened COM1:\nclosed\n\\[" + copy + "\\]\n"), output);
    assertEquals(0, tmp.toFile().list().length, "left in the temporary directory");
  }

  @Test
  void whenNothingFitsOneErrorNamesThePlatformAndEveryPlaceTried() throws Exception {
    Path missing = work.resolve("missing.so");
    Path noTmp = work.resolve("no-tmp");
    String output = runVm("-Dtarvesk.library.path=" + missing, "-Djava.io.tmpdir=" + noTmp);
    String platform =
        TarveskLibrary.platform(System.getProperty("os.name"), System.getProperty("os.arch"));
    assertTrue(output.startsWith("java.lang.UnsatisfiedLinkError: no tarvesk library for "
                   + platform + " could be loaded; tried -Dtarvesk.library.path=" + missing + " ("),
        output);
    for (String place : List.of("; java.library.path " + work.resolve("empty") + " (",
             "; the jar's quorin/io/comm/native/" + platform + "/libtarvesk.so (", noTmp + "/",
             ")\n[]\n")) {
      assertTrue(output.contains(place), place);
    }
  }

  /** ListAndOpen's output in a VM with these options and an empty library path. */
  private String runVm(String... options) throws Exception {
    List<String> command = new ArrayList<>(
        List.of(Paths.get(System.getProperty("java.home"), "bin", "java").toString(), "-Xcheck:jni",
            "-Djava.library.path=" + Files.createDirectories(work.resolve("empty"))));
    command.addAll(List.of(options));
    command.addAll(List.of("-cp",
        codeSource(CESerialPort.class) + File.pathSeparator + codeSource(ListAndOpen.class),
        ListAndOpen.class.getName()));
    Process vm = new ProcessBuilder(command).redirectErrorStream(true).start();
    String output = new String(vm.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
    assertEquals(0, vm.waitFor(), output);
    return output;
  }

  private static String codeSource(Class<?> cls) throws Exception {
    return Paths.get(cls.getProtectionDomain().getCodeSource().getLocation().toURI()).toString();
  }

  /** Lists the ports, opens and closes the first, then names the libraries mapped. */
  static final class ListAndOpen {
    public static void main(String[] args) throws Exception {
      try {
        List<String> ports = CECommDriver.findSerialPorts();
        System.out.println("ports: " + ports);
        CESerialPort port = new CESerialPort();
        port.open(ports.get(0));
        System.out.println((port.isOpen() ? "opened " : "not opened ") + ports.get(0));
        System.out.println(port.close() ? "closed" : "not closed");
      } catch (UnsatisfiedLinkError e) {
        System.out.println(e);
      }
      System.out.println(mappedLibraries());
    }

    /** The libtarvesk files this process has mapped, each once. */
    static List<String> mappedLibraries() throws Exception {
      return Files.readAllLines(Paths.get("/proc/self/maps"))
          .stream()
          .filter(line -> line.contains("libtarvesk"))
          .map(line -> line.substring(line.indexOf('/')))
          .distinct()
          .collect(toList());
    }
  }
}
