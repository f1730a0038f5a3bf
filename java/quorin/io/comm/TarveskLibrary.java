package quorin.io.comm;

import java.io.FileNotFoundException;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.Map;

/**
 * Loads the native library tarvesk, once for every class that needs it. The first that works of:
 * the file the system property tarvesk.library.path names; System.loadLibrary("tarvesk"), so an
 * installed package or -Djava.library.path wins over the jar; the library this jar carries for
 * the OS and architecture it runs on, under quorin/io/comm/native/&lt;os&gt;-&lt;arch&gt;/.
 */
final class TarveskLibrary {
  static final String PATH_PROPERTY = "tarvesk.library.path";

  /** os.arch as JVMs spell it, to the names of the jar's directories. */
  private static final Map<String, String> ARCHITECTURES =
      Map.of("amd64", "x86_64", "x86_64", "x86_64", "aarch64", "aarch64", "arm64", "aarch64", "arm",
          "armhf", "armhf", "armhf", "x86", "x86", "i386", "x86", "i686", "x86");

  /** Why nothing loaded, or null once the library is in. */
  private static final String FAILURE = load();

  private TarveskLibrary() {}

  /** Throws UnsatisfiedLinkError, naming the platform and every place tried, when none worked. */
  static void ensureLoaded() {
    if (FAILURE != null) {
      throw new UnsatisfiedLinkError(FAILURE);
    }
  }

  /** The jar's directory name for a platform: linux-x86_64, windows-x86 and so on. */
  static String platform(String osName, String osArch) {
    String os = osName.startsWith("Windows")
        ? "windows"
        : osName.toLowerCase(Locale.ROOT).replaceAll("[^a-z0-9]", "");
    String arch = osArch.toLowerCase(Locale.ROOT);
    return os + "-" + ARCHITECTURES.getOrDefault(arch, arch);
  }

  private static String load() {
    List<String> tried = new ArrayList<>();
    String path = System.getProperty(PATH_PROPERTY);
    if (path != null) {
      try {
        System.load(Paths.get(path).toAbsolutePath().toString());
        return null;
      } catch (UnsatisfiedLinkError e) {
        tried.add("-D" + PATH_PROPERTY + "=" + path + " (" + e.getMessage() + ")");
      }
    }
    try {
      System.loadLibrary("tarvesk");
      return null;
    } catch (UnsatisfiedLinkError e) {
      tried.add("java.library.path " + System.getProperty("java.library.path") + " ("
          + e.getMessage() + ")");
    }
    String platform = platform(System.getProperty("os.name"), System.getProperty("os.arch"));
    String resource = "native/" + platform + "/" + System.mapLibraryName("tarvesk");
    try {
      loadFromJar(resource);
      return null;
    } catch (IOException | UnsatisfiedLinkError e) {
      tried.add("the jar's quorin/io/comm/" + resource + " (" + e + ")");
    }
    return "no tarvesk library for " + platform + " could be loaded; tried "
        + String.join("; ", tried);
  }

  /**
   * Copies the resource into a new directory of its own and loads it from there. The directory is
   * made by Files.createTempDirectory, which gives only this user access on POSIX systems, so
   * nobody else can put a library of theirs in its place.
   */
  private static void loadFromJar(String resource) throws IOException {
    try (InputStream in = TarveskLibrary.class.getResourceAsStream(resource)) {
      if (in == null) {
        throw new FileNotFoundException("not in the jar");
      }
      Path dir = Files.createTempDirectory("tarvesk-");
      Path library = dir.resolve(System.mapLibraryName("tarvesk"));
      try {
        Files.copy(in, library);
        System.load(library.toString());
      } finally {
        // Linux needs the file no more once it is mapped; Windows holds a loaded DLL open.
        try {
          Files.deleteIfExists(library);
          Files.delete(dir);
        } catch (IOException inUse) {
          dir.toFile().deleteOnExit();
          library.toFile().deleteOnExit();
        }
      }
    }
  }
}
