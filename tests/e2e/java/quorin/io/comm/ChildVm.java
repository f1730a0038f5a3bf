package quorin.io.comm;

import java.io.File;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;

/** Another Java VM, under -Xcheck:jni, that runs a main class of these tests on the library. */
final class ChildVm {
  private ChildVm() {}

  static ProcessBuilder running(Class<?> main, String... args) throws Exception {
    return running(List.of(), main, args);
  }

  static ProcessBuilder running(List<String> options, Class<?> main, String... args)
      throws Exception {
    List<String> command = new ArrayList<>(List.of(
        Paths.get(System.getProperty("java.home"), "bin", "java").toString(), "-Xcheck:jni",
        "-Djava.library.path=" + System.getProperty("java.library.path")));
    command.addAll(options);
    command.addAll(List.of("-cp",
        codeSource(CESerialPort.class) + File.pathSeparator + codeSource(main), main.getName()));
    command.addAll(List.of(args));
    return new ProcessBuilder(command).redirectErrorStream(true);
  }

  private static String codeSource(Class<?> cls) throws Exception {
    return Paths.get(cls.getProtectionDomain().getCodeSource().getLocation().toURI()).toString();
  }
}
