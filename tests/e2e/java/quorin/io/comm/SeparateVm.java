package quorin.io.comm;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.File;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;

/**
 * Runs a main class in a VM of its own, under -Xcheck:jni, with the class path made of the jars
 * the given classes came from; for what only a fresh VM shows (its own output, its own way to the
 * library). Fails unless the VM ends with status 0 within 60 s.
 */
final class SeparateVm {
  private SeparateVm() {}

  static String run(List<String> options, Class<?> main, Class<?>... classPath) throws Exception {
    List<String> command = new ArrayList<>();
    command.add(Paths.get(System.getProperty("java.home"), "bin", "java").toString());
    command.add("-Xcheck:jni");
    command.addAll(options);
    List<String> jars = new ArrayList<>();
    for (Class<?> cls : classPath) {
      jars.add(codeSource(cls));
    }
    command.addAll(List.of("-cp", String.join(File.pathSeparator, jars), main.getName()));
    Path output = Files.createTempFile("tarvesk-vm", ".log");
    try {
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
    } finally {
      Files.delete(output);
    }
  }

  private static String codeSource(Class<?> cls) throws Exception {
    return Paths.get(cls.getProtectionDomain().getCodeSource().getLocation().toURI()).toString();
  }
}
