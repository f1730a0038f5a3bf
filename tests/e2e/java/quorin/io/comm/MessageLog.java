package quorin.io.comm;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Arrays;
import java.util.List;

/**
 * The file named by TARVESK_MESSAGE_LOG, where the library appends its messages (one line
 * "tarvesk: caption: text" each) instead of printing them. A mark taken before an action lets
 * the test see exactly the lines that action wrote.
 */
final class MessageLog {
  private final Path path;
  private final long start;

  private MessageLog(Path path, long start) {
    this.path = path;
    this.start = start;
  }

  static MessageLog mark() throws IOException {
    String file = System.getenv("TARVESK_MESSAGE_LOG");
    if (file == null) {
      throw new IllegalStateException(
          "TARVESK_MESSAGE_LOG is not set: run the tests through run-e2e.sh");
    }
    Path path = Paths.get(file);
    return new MessageLog(path, Files.exists(path) ? Files.size(path) : 0);
  }

  /** The lines appended since the mark. */
  List<String> newLines() throws IOException {
    if (!Files.exists(path)) {
      return List.of();
    }
    byte[] all = Files.readAllBytes(path);
    String text = new String(all, (int) start, all.length - (int) start, StandardCharsets.UTF_8);
    return text.isEmpty() ? List.of() : Arrays.asList(text.split("\n"));
  }
}
