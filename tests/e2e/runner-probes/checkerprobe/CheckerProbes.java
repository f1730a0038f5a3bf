package checkerprobe;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.nio.file.Path;
import java.nio.file.Paths;
import org.junit.jupiter.api.Test;

/**
 * One deliberate JNI misuse per nested class. run-e2e.sh runs each class like an end-to-end
 * test; the JUnit tests themselves pass, so the run fails only if the runner catches what
 * -Xcheck:jni prints. CTest expects exactly that failure.
 */
final class CheckerProbes {
  static {
    try {
      Path jar = Paths.get(CheckerProbes.class.getProtectionDomain().getCodeSource().getLocation()
                               .toURI());
      System.load(jar.resolveSibling("libtarvesk_jni_checker_probes.so").toString());
    } catch (java.net.URISyntaxException e) {
      throw new ExceptionInInitializerError(e);
    }
  }

  private CheckerProbes() {}

  static void quietly() {}

  static native void exceptionLeftUnchecked();

  static native void tooManyLocalReferences();

  static native int callInsideCriticalRegion(byte[] array);

  static native void replaceSignalHandler();

  static class ExceptionLeftUnchecked {
    @Test
    void probe() {
      exceptionLeftUnchecked();
    }
  }

  static class TooManyLocalReferences {
    @Test
    void probe() {
      tooManyLocalReferences();
    }
  }

  static class CallInsideCriticalRegion {
    @Test
    void probe() {
      assertEquals(3, callInsideCriticalRegion(new byte[3]));
    }
  }

  static class ReplacedSignalHandler {
    @Test
    void probe() throws InterruptedException {
      replaceSignalHandler();
      // The checker looks at the VM's signal handlers periodically, not at once;
      // on a busy machine its thread may wait a long while for its turn.
      Thread.sleep(3000);
    }
  }
}
