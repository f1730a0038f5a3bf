package cleanupprobe;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import org.junit.jupiter.api.Test;

/**
 * VMs that never finish or die abruptly while socat runs under them, as end-to-end tests can.
 * cleanup-check.sh runs each through run-e2e.sh and then looks for anything left behind.
 */
final class CleanupProbes {
  private CleanupProbes() {}

  /** Starts a socat pair the way the tests' null modems do, and waits until it runs. */
  static void startSocat() throws IOException, InterruptedException {
    Path ports = Paths.get(System.getenv("TARVESK_PORTS"));
    Path port = ports.resolve("COM1");
    new ProcessBuilder("socat", "pty,link=" + port, "pty,link=" + ports.resolveSibling("peer"))
        .redirectErrorStream(true)
        .redirectOutput(ProcessBuilder.Redirect.DISCARD)
        .start();
    long end = System.nanoTime() + 10_000_000_000L;
    while (!Files.exists(port) && System.nanoTime() < end) {
      Thread.sleep(10);
    }
  }

  static class NeverFinishes {
    @Test
    void probe() throws Exception {
      startSocat();
      Thread.sleep(Long.MAX_VALUE);
    }
  }

  static class DiesAbruptly {
    @Test
    void probe() throws Exception {
      startSocat();
      String self = Long.toString(ProcessHandle.current().pid());
      new ProcessBuilder("kill", "-KILL", self).start().waitFor();
      Thread.sleep(60_000);
    }
  }
}
