// tarvesk.dll driven as a Java program drives it, through the public methods
// of CESerialPort and CECommDriver, against Wine's serial, registry and
// message-box code. wine-far-end (../far_end.cpp) holds the far end of each
// line and answers requests on this program's standard input and output.
//
// usage: TARVESK_WINE_DLL=<path of tarvesk.dll> tarvesk-wine-host [GTEST_FLAGS | PROBE]
// The exit status is GoogleTest's (2 when no scenario matches the filter), or
// 3 when the stand-in VM ended the run (JNI misuse, a probe's expected end).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hex_text.h"
#include "message_boxes.h"
#include "peer_classes.h"
#include "stand_in_vm.h"
#include "vm_probes.h"

namespace standin {

void PrintTo(const Message &message, std::ostream *out) {
  *out << testing::PrintToString(message.caption) << ": " << testing::PrintToString(message.text);
}

}  // namespace standin

namespace {

using namespace standin;
using Bytes = std::vector<unsigned char>;
using Names = std::vector<std::u16string>;
using Messages = std::vector<Message>;

struct Host {
  Vm &vm;
  const Natives &natives;
  MessageBoxes &boxes;
};
const Host *host;  // main's, shared by every scenario as by a Java program's calls

void say(const std::string &line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// Requests to the far end.

std::string farEnd(const std::string &request) {
  say("far " + request);
  char reply[16384];
  if (std::fgets(reply, sizeof reply, stdin) == nullptr) {
    Vm::fail("the far end did not answer \"" + request + "\"");
  }
  std::string answer(reply);
  while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) {
    answer.pop_back();
  }
  return answer;
}

void farSends(const char *port, const Bytes &bytes) {
  EXPECT_EQ(farEnd(std::string("send ") + port + " " + hex(bytes)), "ok") << "the far end sends";
}

Bytes farReceives(const char *port, std::size_t count, int withinMs) {
  const std::string reply = farEnd(std::string("receive ") + port + " " + std::to_string(count) +
                                   " " + std::to_string(withinMs));
  return unhex<Bytes>(reply.substr(reply.find(' ') + 1));
}

std::string farState(const char *port) { return farEnd(std::string("state ") + port); }

testing::AssertionResult com1SettingsBeginWith(const std::string &start) {
  const std::string settings = farEnd("termios COM1");
  if (settings.rfind(start, 0) == 0) {
    return testing::AssertionSuccess();
  }
  return testing::AssertionFailure()
         << "COM1's settings: " << settings << ", expected " << start << "...";
}

// Each scenario on fresh lines; what it leaves behind fails it.
class Scenario : public testing::Test {
 protected:
  void SetUp() override { farEnd("fresh"); }
  void TearDown() override {
    EXPECT_EQ(run.boxes.take(), Messages{}) << "message boxes left over";
    EXPECT_EQ(run.vm.takeException(), nullptr) << "an exception left pending";
  }
  const Host &run = *host;
};
using OpenClose = Scenario;
using Data = Scenario;
using Discovery = Scenario;

Bytes allByteValues() {
  Bytes all;
  for (int value = 0; value < 256; ++value) {
    all.push_back(static_cast<unsigned char>(value));
  }
  return all;
}

Object *byteArray(Vm &vm, const Bytes &contents) {
  Object *array = vm.make(Object::Kind::ByteArray);
  array->bytes.assign(contents.begin(), contents.end());
  return array;
}

Bytes contents(const Object *array) { return Bytes(array->bytes.begin(), array->bytes.end()); }

// Polls what a check needs for at most limitMs, as a bound on arrival.
template <typename Condition>
bool within(DWORD limitMs, Condition condition) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > limitMs) {
      return false;
    }
    Sleep(5);
  }
  return true;
}

// Opening and closing, line params and their messages.

TEST_F(OpenClose, OpensWithAndWithoutTheColon) {
  for (const std::u16string name : {u"COM1:", u"COM1"}) {
    SCOPED_TRACE(testing::PrintToString(name));
    SerialPort port(run.vm, run.natives);
    port.open(name);
    EXPECT_TRUE(port.isOpen()) << "open() opens the port";
    EXPECT_EQ(farState("COM1"), "open") << "the device after open()";
    EXPECT_TRUE(port.close()) << "close() after open() is true";
    EXPECT_EQ(farState("COM1"), "closed") << "the device after close()";
    EXPECT_EQ(port.nativeHandle(), -1) << "nativeHandle after close()";
  }
  EXPECT_EQ(run.boxes.take(), Messages{}) << "message boxes while opening and closing";
}

TEST_F(OpenClose, TheDefaultsReachTheDevice) {
  const std::string before = farEnd("termios COM1");
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  // A new pseudo-terminal is cooked at 38400 baud: every value here changes.
  EXPECT_TRUE(before.rfind("38400/38400 cs8 -parenb -cstopb -crtscts ixon", 0) == 0)
      << "a new device starts cooked at 38400: " << before;
  EXPECT_EQ(farEnd("termios COM1"),
            "9600/9600 cs8 -parenb -cstopb -crtscts -ixon -ixoff -icrnl -istrip "
            "-icanon -echo -isig -opost")
      << "the device's settings after open: 9600 8N1, raw, no flow control";
  port.close();
  EXPECT_EQ(run.boxes.take(), Messages{}) << "message boxes while opening";
}

TEST_F(OpenClose, LineParamsAreTakenOrRefusedWithTheirMessages) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  EXPECT_TRUE(port.setSerialPortParams(115200, 8, 2, 0)) << "115200 8N2 is taken";
  EXPECT_TRUE(com1SettingsBeginWith("115200/115200 cs8 -parenb cstopb ")) << "after 115200 8N2";
  EXPECT_TRUE(port.setSerialPortParams(19200, 8, 1, 0)) << "19200 8N1 is taken";
  EXPECT_TRUE(com1SettingsBeginWith("19200/19200 cs8 -parenb -cstopb ")) << "after 19200 8N1";
  const struct {
    int dataBits, stopBits, parity;
    const char16_t *text;
  } invalid[] = {{9, 1, 0, u"Invalid number of data bits"},
                 {8, 0, 7, u"Invalid number of stop bits"},
                 {8, 3, 5, u"Invalid Parity"}};
  for (const auto &values : invalid) {
    EXPECT_FALSE(port.setSerialPortParams(9600, values.dataBits, values.stopBits, values.parity))
        << "invalid line params are refused";
    EXPECT_EQ(run.boxes.take(), (Messages{{u"Error", values.text}}))
        << "message boxes for invalid line params";
  }
  EXPECT_TRUE(com1SettingsBeginWith("19200/19200 cs8 -parenb -cstopb ")) << "after the refusals";
  port.close();
}

TEST_F(OpenClose, AfterCloseEveryNativeDoesNothing) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  EXPECT_TRUE(port.close()) << "the first close() is true";
  EXPECT_FALSE(port.close()) << "a second close() is false";
  Object *bytes = byteArray(run.vm, {9, 9});
  EXPECT_EQ(port.read(bytes, 0, 2), -1) << "read() after close()";
  EXPECT_EQ(contents(bytes), (Bytes{9, 9})) << "the array after read()";
  EXPECT_EQ(port.available(), 0) << "available() after close()";
  port.write('A');
  EXPECT_EQ(farReceives("COM1", 1, 200), Bytes{}) << "what write() after close() sent";
  EXPECT_FALSE(port.setSerialPortParams(9600, 8, 1, 0)) << "setSerialPortParams() after close()";
  EXPECT_EQ(run.boxes.take(), Messages{}) << "message boxes after close()";
  EXPECT_FALSE(port.setSerialPortParams(9600, 9, 1, 0)) << "invalid settings after close()";
  EXPECT_EQ(run.boxes.take(), (Messages{{u"Error", u"Invalid number of data bits"}}))
      << "message boxes for invalid settings";
}

TEST_F(OpenClose, OpeningAnOpenObjectClosesItsPortFirst) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  port.open(u"COM2:");
  EXPECT_TRUE(port.isOpen()) << "the second open() opens COM2:";
  EXPECT_EQ(farState("COM1"), "closed") << "COM1 after open(\"COM2:\")";
  EXPECT_EQ(farState("COM2"), "open") << "COM2 after open(\"COM2:\")";
  port.write('x');
  EXPECT_EQ(farReceives("COM2", 1, 2000), Bytes{'x'}) << "what write() sent on COM2";
  EXPECT_EQ(farReceives("COM1", 1, 100), Bytes{}) << "what write() sent on COM1";
  EXPECT_EQ(run.boxes.take(), Messages{}) << "message boxes while opening COM2:";

  port.open(u"NOPE:");
  EXPECT_EQ(run.boxes.take(), (Messages{{u"Error", u"Unable to open the port"}}))
      << "message boxes for a port that is not there";
  EXPECT_EQ(farState("COM2"), "closed") << "COM2 after open(\"NOPE:\")";
  EXPECT_EQ(port.nativeHandle(), -1) << "nativeHandle after a failed reopen";
  EXPECT_FALSE(port.close()) << "close() after a failed reopen is false";
}

TEST_F(OpenClose, APortThatIsNotThereStaysClosed) {
  SerialPort port(run.vm, run.natives);
  port.open(u"TEL1:");
  EXPECT_EQ(run.boxes.take(), (Messages{{u"Error", u"Unable to open the port"}}))
      << "message boxes for a port that is not there";
  EXPECT_EQ(port.nativeHandle(), 0) << "nativeHandle of an object never open";
  EXPECT_FALSE(port.close()) << "close() of an object never open";
}

// Data.

TEST_F(Data, AllByteValuesPassBothWays) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  const Bytes all = allByteValues();
  for (unsigned char value : all) {
    port.write(value);
  }
  EXPECT_EQ(farReceives("COM1", all.size(), 5000), all) << "what the far end received";
  Object *frame = byteArray(run.vm, Bytes(4, 9));
  frame->bytes.insert(frame->bytes.begin() + 2, all.begin(), all.end());
  EXPECT_EQ(port.write(frame, 2, 256), 256) << "write() of the 256 values as one frame";
  EXPECT_EQ(farReceives("COM1", all.size(), 5000), all) << "what the far end received of it";

  farSends("COM1", all);
  EXPECT_TRUE(within(5000, [&] { return port.available() == 256; })) << "all 256 bytes arrive";
  Object *bytes = byteArray(run.vm, Bytes(all.size()));
  EXPECT_EQ(port.read(bytes, 0, 256), 256) << "read() of 256 queued bytes";
  EXPECT_EQ(contents(bytes), all) << "the bytes read";
  port.close();
}

TEST_F(Data, AvailableCountsWhatTheFarEndSent) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  EXPECT_EQ(port.available(), 0) << "available() before anything arrived";
  farSends("COM1", {1, 2, 3, 4, 5});
  within(5000, [&] { return port.available() >= 5; });
  EXPECT_EQ(port.available(), 5) << "available() after the far end sent 5 bytes";
  port.close();
}

TEST_F(Data, AReadTakesWhatIsQueued) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  farSends("COM1", {1, 2, 3});
  within(5000, [&] { return port.available() == 3; });
  Object *bytes = byteArray(run.vm, Bytes(8, 9));
  EXPECT_EQ(port.read(bytes, 2, 5), 3) << "read() with 3 bytes queued and room for 5";
  EXPECT_EQ(contents(bytes), (Bytes{9, 9, 1, 2, 3, 9, 9, 9})) << "the array after read()";

  farSends("COM1", {4, 5, 6, 7, 8});
  within(5000, [&] { return port.available() == 5; });
  EXPECT_EQ(port.read(bytes, 0, 2), 2) << "read() with 5 bytes queued and room for 2";
  EXPECT_EQ(port.available(), 3) << "available() after reading 2 of 5";
  port.close();
}

// A read or a frame write on a thread of its own, through that thread's VM.
// One that does not return when it should ends the run: the port it uses
// could not be closed under it.
class OnItsOwnThread {
 public:
  enum class Call { Read, Write };
  // A read with a deadline where timeoutMs is 0 or more.
  OnItsOwnThread(SerialPort &port, Call call, const Bytes &contents, int timeoutMs = -1)
      : port(port), call(call), timeoutMs(timeoutMs), bytes(byteArray(vm, contents)) {
    thread = CreateThread(nullptr, 0, &OnItsOwnThread::run, this, 0, nullptr);
    if (thread == nullptr) {
      Vm::fail("no thread for the call: error " + std::to_string(GetLastError()));
    }
  }
  ~OnItsOwnThread() {
    join(10000);
    CloseHandle(thread);
  }
  OnItsOwnThread(const OnItsOwnThread &) = delete;
  OnItsOwnThread &operator=(const OnItsOwnThread &) = delete;

  bool returnedWithin(DWORD ms) const { return WaitForSingleObject(thread, ms) == WAIT_OBJECT_0; }
  void join(DWORD ms) const {
    if (!returnedWithin(ms)) {
      Vm::fail(std::string(call == Call::Read ? "read()" : "write()") +
               " on its own thread did not return within " + std::to_string(ms) + " ms");
    }
  }
  // Once it has returned:
  int result = 0;
  DWORD returnedAt = 0;
  Bytes read() const {
    return Bytes(bytes->bytes.begin(), bytes->bytes.begin() + std::max(result, 0));
  }

 private:
  static DWORD WINAPI run(LPVOID self) {
    auto &own = *static_cast<OnItsOwnThread *>(self);
    const int len = static_cast<int>(own.bytes->bytes.size());
    own.result = own.call == Call::Write ? own.port.write(own.vm, own.bytes, 0, len)
                 : own.timeoutMs < 0     ? own.port.read(own.vm, own.bytes, 0, len)
                                         : own.port.read(own.vm, own.bytes, 0, len, own.timeoutMs);
    own.returnedAt = GetTickCount();
    return 0;
  }

  SerialPort &port;
  Call call;
  int timeoutMs;
  Vm vm;
  Object *bytes;
  HANDLE thread = nullptr;
};

struct WaitingRead : OnItsOwnThread {
  WaitingRead(SerialPort &port, int len, int timeoutMs = -1)
      : OnItsOwnThread(port, Call::Read, Bytes(len), timeoutMs) {}
};

// On desktop Windows a synchronous handle would hold the calls of this thread
// until the read ends; Wine never does, so this shows that the calls work
// beside a waiting read, not that they no longer wait. The bound is generous:
// the figures are printed.
TEST_F(Data, OtherCallsRunBesideAWaitingRead) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  EXPECT_EQ(farEnd("send-after COM1 3000 a55a00"), "ok") << "the far end will send";
  const DWORD start = GetTickCount();
  WaitingRead read(port, 8);
  Sleep(500);
  EXPECT_FALSE(read.returnedWithin(0)) << "read() waits on a silent line";

  Bytes sent;
  DWORD longestWrite = 0;
  for (int i = 0; i < 64; ++i) {
    sent.push_back(static_cast<unsigned char>(i * 4 + 1));
    const DWORD before = GetTickCount();
    port.write(sent.back());
    longestWrite = std::max<DWORD>(longestWrite, GetTickCount() - before);
  }
  DWORD before = GetTickCount();
  EXPECT_EQ(port.available(), 0) << "available() beside the waiting read";
  const DWORD available = GetTickCount() - before;
  before = GetTickCount();
  EXPECT_TRUE(port.setSerialPortParams(19200, 8, 1, 0))
      << "19200 8N1 is taken beside the waiting read";
  const DWORD params = GetTickCount() - before;
  say("  beside the waiting read: the longest of 64 writes took " + std::to_string(longestWrite) +
      " ms, available() " + std::to_string(available) + " ms, setSerialPortParams() " +
      std::to_string(params) + " ms");
  EXPECT_TRUE(longestWrite < 2000 && available < 2000 && params < 2000)
      << "each call returns within 2 s";
  EXPECT_EQ(farReceives("COM1", sent.size(), 2000), sent) << "what the 64 writes sent";
  EXPECT_TRUE(com1SettingsBeginWith("19200/19200 cs8 -parenb -cstopb ")) << "after 19200 8N1";

  read.join(10000);
  EXPECT_EQ(read.read(), (Bytes{0xa5, 0x5a, 0x00})) << "what read() returned";
  const DWORD waited = read.returnedAt - start;
  EXPECT_GE(waited, 2900u) << "read() waited for the bytes";
  say("  read() returned " + std::to_string(waited) + " ms after it began to wait");
  port.close();
}

// The write time-out (10 ms a byte and 1 s) bounds a write the line holds.
TEST_F(Data, AWriteTheLineHoldsGivesUp) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  EXPECT_EQ(farEnd("hold COM1"), "ok") << "the far end holds the line";
  const DWORD start = GetTickCount();
  port.write('h');
  const DWORD took = GetTickCount() - start;
  say("  the held write returned after " + std::to_string(took) + " ms");
  EXPECT_GE(took, 900u) << "the held write gives up after about 1010 ms";
  EXPECT_LT(took, 5000u) << "the held write gives up after about 1010 ms";
  EXPECT_EQ(farEnd("release COM1"), "ok") << "the far end releases the line";
  port.write('r');
  EXPECT_EQ(farReceives("COM1", 1, 2000), Bytes{'r'}) << "what the writes sent";
  port.close();
}

// close() ends a read that waits on a silent line instead of waiting for it,
// and a read with a deadline long before its deadline.
TEST_F(Data, CloseEndsAWaitingRead) {
  for (const int timeoutMs : {-1, 20000}) {
    const std::string kind = timeoutMs < 0 ? "read()" : "a deadline read";
    SerialPort port(run.vm, run.natives);
    port.open(u"COM1:");
    WaitingRead read(port, 4, timeoutMs);
    Sleep(500);
    EXPECT_FALSE(read.returnedWithin(0)) << kind << " waits on a silent line";
    const DWORD start = GetTickCount();
    EXPECT_TRUE(port.close()) << "close() while " << kind << " waits";
    read.join(10000);
    say("  close() returned, and " + kind + " with it, " + std::to_string(read.returnedAt - start) +
        " ms after close() began");
    EXPECT_EQ(read.result, -1) << "what the waiting " << kind << " returned";
    EXPECT_EQ(farState("COM1"), "closed") << "the device after close()";
  }
}

// close() ends a frame write that a far end which stopped reading holds, with
// the count that went out, and exactly those bytes arrive.
TEST_F(Data, CloseEndsAHeldFrameWrite) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  Bytes frame(1 << 20);
  for (std::size_t i = 0; i < frame.size(); ++i) {
    frame[i] = static_cast<unsigned char>(i % 251);
  }
  OnItsOwnThread write(port, OnItsOwnThread::Call::Write, frame);
  Sleep(500);
  EXPECT_FALSE(write.returnedWithin(0))
      << "the frame's write waits while the far end does not read";
  const DWORD start = GetTickCount();
  EXPECT_TRUE(port.close()) << "close() while a frame's write is held";
  write.join(10000);
  say("  close() ended the held write " + std::to_string(write.returnedAt - start) +
      " ms after it began; the write returned " + std::to_string(write.result));
  const int count = write.result;
  EXPECT_TRUE(count > 0 && count < static_cast<int>(frame.size())) << "the count is what went out";
  Bytes arrived;
  for (Bytes part = farReceives("COM1", 8000, 2000); !part.empty();
       part = farReceives("COM1", 8000, 1000)) {
    arrived.insert(arrived.end(), part.begin(), part.end());
  }
  EXPECT_EQ(arrived.size(), static_cast<std::size_t>(std::max(count, 0)))
      << "the number of bytes that arrived";
  EXPECT_TRUE(std::equal(arrived.begin(), arrived.end(), frame.begin()))
      << "they are the frame's first";
}

TEST_F(Data, AReadEndsWhenTheDeviceIsGone) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  EXPECT_EQ(farEnd("unplug-after COM1 300"), "ok") << "the far end will be unplugged";
  Object *bytes = byteArray(run.vm, Bytes(4));
  const DWORD start = GetTickCount();
  EXPECT_EQ(port.read(bytes, 0, 4), -1) << "read() when the device goes";
  const DWORD waited = GetTickCount() - start;
  EXPECT_GE(waited, 250u) << "read() waited for the device to go";
  EXPECT_EQ(port.available(), 0) << "available() on the gone device";
  EXPECT_TRUE(port.close()) << "close() on the gone device";
}

// A read with a deadline: the driver's read time-outs wait for the first
// byte. The times are printed; only lower bounds are checked.
TEST_F(Data, ADeadlineReadReturnsWhatCameOrZeroAtItsDeadline) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  Object *bytes = byteArray(run.vm, Bytes(4, 9));
  DWORD start = GetTickCount();
  EXPECT_EQ(port.read(bytes, 0, 4, 2000), 0) << "a deadline read on a silent line";
  const DWORD silent = GetTickCount() - start;
  EXPECT_GE(silent, 1900u) << "the read waited for its deadline";
  EXPECT_EQ(farEnd("send-after COM1 500 a55a"), "ok") << "the far end will send";
  start = GetTickCount();
  EXPECT_EQ(port.read(bytes, 1, 3, 20000), 2) << "a deadline read whose bytes come first";
  const DWORD woken = GetTickCount() - start;
  EXPECT_EQ(contents(bytes), (Bytes{9, 0xa5, 0x5a, 9})) << "what it read";
  EXPECT_GE(woken, 400u) << "the read waited for the bytes";
  say("  the silent line's read returned after " + std::to_string(silent) +
      " ms (deadline 2000 ms), the one woken by bytes sent 500 ms on after " +
      std::to_string(woken) + " ms");
  // Without a wait, and nothing queued: Wine's read under the plan that
  // returns at once would wait.
  EXPECT_EQ(port.read(bytes, 0, 4, 0), 0) << "a read without a wait of nothing queued";
  port.close();
}

// Discovery, from keys under HKLM\Drivers\Active made with `wine reg`.

const std::string kActive = "HKLM\\Drivers\\Active";

void clearActiveDrivers() { farEnd("reg delete " + kActive + " /f"); }

void addActiveDriver(const std::string &subkey, const std::string &value, const std::string &data) {
  EXPECT_EQ(farEnd("reg add " + kActive + "\\" + subkey + " /v " + value + " /d " + data + " /f"),
            "status 0")
      << "wine reg add " << subkey;
}

Names names(const Object *vector) {
  Names out;
  for (const Object *element : vector->elements) {
    out.push_back(element->text);
  }
  return out;
}

Names listed(const Host &run) {
  Object *ports = findSerialPorts(run.vm, run.natives);
  EXPECT_NE(ports, nullptr) << "findSerialPorts() returns a vector";
  return ports != nullptr ? names(ports) : Names{};
}

TEST_F(Discovery, SerialPortsAreListedInRegistryOrder) {
  clearActiveDrivers();
  // Made out of order: Wine keeps subkeys in the order of their names.
  addActiveDriver("Serial2", "Name", "COM2:");
  addActiveDriver("Modem", "Name", "TEL1:");
  addActiveDriver("Serial10", "Name", "COM10:");
  addActiveDriver("Lower", "Name", "com3:");
  addActiveDriver("Serial1", "Name", "COM1:");
  EXPECT_EQ(listed(run), (Names{u"COM1:", u"COM10:", u"COM2:"})) << "the serial ports listed";
  EXPECT_EQ(run.boxes.take(), Messages{}) << "message boxes while listing";
}

TEST_F(Discovery, AnEmptyOrMissingListOfDrivers) {
  clearActiveDrivers();
  EXPECT_EQ(farEnd("reg add " + kActive + " /f"), "status 0") << "wine reg add";
  EXPECT_EQ(listed(run), Names{}) << "the serial ports of an empty list";
  EXPECT_EQ(run.boxes.take(), Messages{}) << "message boxes for an empty list";

  clearActiveDrivers();
  EXPECT_EQ(findSerialPorts(run.vm, run.natives), nullptr) << "findSerialPorts() without the key";
  EXPECT_EQ(run.boxes.take(),
            (Messages{{u"Woops.", u"Error: Unable to open key, RegOpenKey = 2, Line = 95"}}))
      << "message boxes without the key";
}

TEST_F(Discovery, AMissingOrTooLongNameIsReportedAndSkipped) {
  clearActiveDrivers();
  addActiveDriver("A", "Name", "COM1:");
  addActiveDriver("B", "Other", "COM2:");
  addActiveDriver("C", "Name", "COM45678901234567890:");  // 21 characters
  addActiveDriver("D", "Name", "COM4567890123456789:");   // 20, the most there is room for
  EXPECT_EQ(listed(run), (Names{u"COM1:", u"COM4567890123456789:"})) << "the serial ports listed";
  EXPECT_EQ(
      run.boxes.take(),
      (Messages{{u"Oops", u"Error: Unable to query value, RegQueryValueEx = 2, Line = 148"},
                {u"Oops", u"Error: Unable to query value, RegQueryValueEx = 234, Line = 148"}}))
      << "message boxes for the entries without a usable name";
}

TEST_F(Discovery, SixtyFourPortsFitTheLocalReferences) {
  clearActiveDrivers();
  // One `wine reg import` instead of 64 `wine reg add`.
  FILE *file = std::fopen("ports.reg", "wb");
  std::fputs("REGEDIT4\r\n", file);
  Names expected;
  for (int i = 1; i <= 64; ++i) {
    std::fprintf(file,
                 "\r\n[HKEY_LOCAL_MACHINE\\Drivers\\Active\\Port%02d]\r\n\"Name\"=\"COM%d:\"\r\n",
                 i, i);
    const std::string name = "COM" + std::to_string(i) + ":";
    expected.emplace_back(name.begin(), name.end());
  }
  std::fclose(file);
  EXPECT_EQ(farEnd("reg import ports.reg"), "status 0") << "wine reg import";
  EXPECT_EQ(listed(run), expected) << "the 64 serial ports listed";
}

TEST_F(Discovery, AnAddElementThatThrowsEndsTheList) {
  clearActiveDrivers();
  addActiveDriver("Serial1", "Name", "COM1:");
  addActiveDriver("Serial2", "Name", "COM2:");
  addActiveDriver("Serial3", "Name", "COM3:");
  run.vm.addElementFailsFrom = 1;
  Object *ports = findSerialPorts(run.vm, run.natives);
  run.vm.addElementFailsFrom = static_cast<std::size_t>(-1);
  const Object *thrown = run.vm.takeException();
  EXPECT_EQ(thrown != nullptr ? thrown->className : "nothing", "java/lang/OutOfMemoryError")
      << "what addElement threw reaches the caller";
  EXPECT_TRUE(ports != nullptr && names(ports) == Names{u"COM1:"})
      << "the vector holds the port added before the failure";
  EXPECT_EQ(run.boxes.take(), Messages{}) << "message boxes when addElement throws";
}

TEST_F(Discovery, ParallelPortsAreNoneAndNew) {
  Object *first = findParallelPorts(run.vm, run.natives);
  Object *second = findParallelPorts(run.vm, run.natives);
  EXPECT_TRUE(first != nullptr && second != nullptr && first != second)
      << "findParallelPorts() returns a new vector each time";
  EXPECT_TRUE(first != nullptr && first->elements.empty()) << "the vector is empty";
}

}  // namespace

int main(int argc, char **argv) {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  testing::InitGoogleTest(&argc, argv);
  if (argc > 2) {
    say("usage: tarvesk-wine-host [GTEST_FLAGS | PROBE]");
    return 2;
  }
  // The DLL under test by its Windows path, in the tree that built it.
  wchar_t dll[MAX_PATH];
  const DWORD dllLength = GetEnvironmentVariableW(L"TARVESK_WINE_DLL", dll, MAX_PATH);
  if (dllLength == 0 || dllLength >= MAX_PATH) {
    say("TARVESK_WINE_DLL must hold the Windows path of tarvesk.dll");
    return 2;
  }
  HMODULE library = LoadLibraryW(dll);
  if (library == nullptr) {
    Vm::fail(std::string("LoadLibraryW(") + std::getenv("TARVESK_WINE_DLL") +
             ") failed with error " + std::to_string(GetLastError()));
  }
  Vm vm;
  const Natives natives(library);
  MessageBoxes boxes;
  if (argc == 2) {
    runProbe(vm, argv[1]);
    say(std::string("the stand-in VM let the misuse of probe ") + argv[1] + " pass");
    return 1;
  }
  const Host running{vm, natives, boxes};
  host = &running;
  const int status = RUN_ALL_TESTS();
  if (testing::UnitTest::GetInstance()->test_to_run_count() == 0) {
    say("no scenario matches the filter");
    return 2;
  }
  return status;
}
