package quorin.io.comm;

import java.util.Map;
import java.util.concurrent.ConcurrentHashMap;
import org.junit.platform.engine.TestExecutionResult;
import org.junit.platform.engine.support.descriptor.MethodSource;
import org.junit.platform.launcher.TestExecutionListener;
import org.junit.platform.launcher.TestIdentifier;

/**
 * Prints a line as each test starts and ends, so that the output of a VM that never finishes
 * shows which test it was in. The console launcher finds it through META-INF/services.
 */
public final class TestProgress implements TestExecutionListener {
  private final Map<String, Long> started = new ConcurrentHashMap<>();

  @Override
  public void executionStarted(TestIdentifier test) {
    if (test.isTest()) {
      started.put(test.getUniqueId(), System.nanoTime());
      System.out.println("test started: " + name(test));
    }
  }

  @Override
  public void executionFinished(TestIdentifier test, TestExecutionResult result) {
    Long start = started.remove(test.getUniqueId());
    if (start != null) {
      System.out.printf("test ended: %s: %s after %d ms%n", name(test), result.getStatus(),
          (System.nanoTime() - start) / 1_000_000);
    }
  }

  private static String name(TestIdentifier test) {
    String owner = test.getSource()
                       .filter(MethodSource.class::isInstance)
                       .map(s -> ((MethodSource) s).getJavaClass().getSimpleName() + ".")
                       .orElse("");
    return owner + test.getDisplayName();
  }
}
