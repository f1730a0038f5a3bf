package quorin.io.comm;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;

/** A test class each of whose tests gets COM1: of a fresh virtual null modem as com1. */
abstract class OnConnectedPort {
  ConnectedPort com1;

  @BeforeEach
  void connect() throws Exception {
    com1 = ConnectedPort.open();
  }

  @AfterEach
  void disconnect() throws Exception {
    com1.close();
  }
}
