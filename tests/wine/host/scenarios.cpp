// tarvesk.dll driven as a Java program drives it, through the public methods
// of CESerialPort and CECommDriver, against Wine's serial, registry and
// message-box code. wine-far-end (../far_end.cpp) holds the far end of each
// line and answers requests on this program's standard input and output.
//
// usage: TARVESK_WINE_DLL=<path of tarvesk.dll> tarvesk-wine-host GROUP
// Exit status 0 when every scenario of the group passed, 1 when one failed,
// 3 when the stand-in VM ended the run (JNI misuse, a probe's expected end).
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "hex_text.h"
#include "message_boxes.h"
#include "peer_classes.h"
#include "stand_in_vm.h"
#include "vm_probes.h"

namespace {

using namespace standin;
using Bytes = std::vector<unsigned char>;
using Names = std::vector<std::u16string>;
using Messages = std::vector<Message>;

struct Run {
  Vm &vm;
  const Natives &natives;
  MessageBoxes &boxes;
};

void say(const std::string &line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// Checks: a failed one is reported at once and fails the scenario.
int failures = 0;

bool expect(bool ok, const std::string &what) {
  if (!ok) {
    ++failures;
    say("  FAILED: " + what);
  }
  return ok;
}

template <typename Number>
std::enable_if_t<std::is_arithmetic_v<Number>, std::string> describe(Number value) {
  return std::to_string(+value);  // a byte as a number
}
std::string describe(const std::string &text) { return "\"" + text + "\""; }
std::string describe(const std::u16string &text) {
  std::string out;
  for (char16_t unit : text) {
    out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  }
  return describe(out);
}
std::string describe(const Message &message) {
  return describe(message.caption) + ": " + describe(message.text);
}
template <typename T>
std::string describe(const std::vector<T> &items) {
  std::string out = "[";
  for (const T &item : items) {
    out += (out.size() > 1 ? ", " : "") + describe(item);
  }
  return out + "]";
}

// The expected value takes the type of the actual one ("ok" is a string).
template <typename T>
struct Expected {
  using Type = T;
};

template <typename T>
bool expectEqual(const T &actual, const typename Expected<T>::Type &expected,
                 const std::string &what) {
  return expect(actual == expected,
                what + ": got " + describe(actual) + ", expected " + describe(expected));
}

void expectMessages(Run &run, const Messages &expected, const std::string &when) {
  expectEqual(run.boxes.take(), expected, "message boxes " + when);
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
  expectEqual(farEnd(std::string("send ") + port + " " + hex(bytes)), "ok", "the far end sends");
}

Bytes farReceives(const char *port, std::size_t count, int withinMs) {
  const std::string reply = farEnd(std::string("receive ") + port + " " + std::to_string(count) +
                                   " " + std::to_string(withinMs));
  return unhex<Bytes>(reply.substr(reply.find(' ') + 1));
}

std::string farState(const char *port) { return farEnd(std::string("state ") + port); }

void expectSettings(const std::string &start, const std::string &when) {
  const std::string settings = farEnd("termios COM1");
  expect(settings.rfind(start, 0) == 0,
         "COM1's settings " + when + ": " + settings + ", expected " + start + "...");
}

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

void opensWithAndWithoutTheColon(Run &run) {
  for (const std::u16string name : {u"COM1:", u"COM1"}) {
    SerialPort port(run.vm, run.natives);
    port.open(name);
    expect(port.isOpen(), "open(" + describe(name) + ") opens the port");
    expectEqual(farState("COM1"), "open", "the device after open(" + describe(name) + ")");
    expect(port.close(), "close() after open(" + describe(name) + ") is true");
    expectEqual(farState("COM1"), "closed", "the device after close()");
    expectEqual(port.nativeHandle(), -1, "nativeHandle after close()");
  }
  expectMessages(run, {}, "while opening and closing");
}

void theDefaultsReachTheDevice(Run &run) {
  const std::string before = farEnd("termios COM1");
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  // A new pseudo-terminal is cooked at 38400 baud: every value here changes.
  expect(before.rfind("38400/38400 cs8 -parenb -cstopb -crtscts ixon", 0) == 0,
         "a new device starts cooked at 38400: " + before);
  expectEqual(farEnd("termios COM1"),
              std::string("9600/9600 cs8 -parenb -cstopb -crtscts -ixon -ixoff -icrnl -istrip "
                          "-icanon -echo -isig -opost"),
              "the device's settings after open: 9600 8N1, raw, no flow control");
  port.close();
  expectMessages(run, {}, "while opening");
}

void lineParamsAreTakenOrRefusedWithTheirMessages(Run &run) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  expect(port.setSerialPortParams(115200, 8, 2, 0), "115200 8N2 is taken");
  expectSettings("115200/115200 cs8 -parenb cstopb ", "after 115200 8N2");
  expect(port.setSerialPortParams(19200, 8, 1, 0), "19200 8N1 is taken");
  expectSettings("19200/19200 cs8 -parenb -cstopb ", "after 19200 8N1");
  const struct {
    int dataBits, stopBits, parity;
    const char16_t *text;
  } invalid[] = {{9, 1, 0, u"Invalid number of data bits"},
                 {8, 0, 7, u"Invalid number of stop bits"},
                 {8, 3, 5, u"Invalid Parity"}};
  for (const auto &values : invalid) {
    expect(!port.setSerialPortParams(9600, values.dataBits, values.stopBits, values.parity),
           "invalid line params are refused");
    expectMessages(run, {{u"Error", values.text}}, "for invalid line params");
  }
  expectSettings("19200/19200 cs8 -parenb -cstopb ", "after the refusals");
  port.close();
}

void afterCloseEveryNativeDoesNothing(Run &run) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  expect(port.close(), "the first close() is true");
  expect(!port.close(), "a second close() is false");
  Object *bytes = byteArray(run.vm, {9, 9});
  expectEqual(port.read(bytes, 0, 2), -1, "read() after close()");
  expectEqual(contents(bytes), Bytes{9, 9}, "the array after read()");
  expectEqual(port.available(), 0, "available() after close()");
  port.write('A');
  expectEqual(farReceives("COM1", 1, 200), Bytes{}, "what write() after close() sent");
  expect(!port.setSerialPortParams(9600, 8, 1, 0), "setSerialPortParams() after close()");
  expectMessages(run, {}, "after close()");
  expect(!port.setSerialPortParams(9600, 9, 1, 0), "invalid settings after close()");
  expectMessages(run, {{u"Error", u"Invalid number of data bits"}}, "for invalid settings");
}

void openingAnOpenObjectClosesItsPortFirst(Run &run) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  port.open(u"COM2:");
  expect(port.isOpen(), "the second open() opens COM2:");
  expectEqual(farState("COM1"), "closed", "COM1 after open(\"COM2:\")");
  expectEqual(farState("COM2"), "open", "COM2 after open(\"COM2:\")");
  port.write('x');
  expectEqual(farReceives("COM2", 1, 2000), Bytes{'x'}, "what write() sent on COM2");
  expectEqual(farReceives("COM1", 1, 100), Bytes{}, "what write() sent on COM1");
  expectMessages(run, {}, "while opening COM2:");

  port.open(u"NOPE:");
  expectMessages(run, {{u"Error", u"Unable to open the port"}}, "for a port that is not there");
  expectEqual(farState("COM2"), "closed", "COM2 after open(\"NOPE:\")");
  expectEqual(port.nativeHandle(), -1, "nativeHandle after a failed reopen");
  expect(!port.close(), "close() after a failed reopen is false");
}

void aPortThatIsNotThereStaysClosed(Run &run) {
  SerialPort port(run.vm, run.natives);
  port.open(u"TEL1:");
  expectMessages(run, {{u"Error", u"Unable to open the port"}}, "for a port that is not there");
  expectEqual(port.nativeHandle(), 0, "nativeHandle of an object never open");
  expect(!port.close(), "close() of an object never open");
}

// Data.

void allByteValuesPassBothWays(Run &run) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  const Bytes all = allByteValues();
  for (unsigned char value : all) {
    port.write(value);
  }
  expectEqual(farReceives("COM1", all.size(), 5000), all, "what the far end received");
  Object *frame = byteArray(run.vm, Bytes(4, 9));
  frame->bytes.insert(frame->bytes.begin() + 2, all.begin(), all.end());
  expectEqual(port.write(frame, 2, 256), 256, "write() of the 256 values as one frame");
  expectEqual(farReceives("COM1", all.size(), 5000), all, "what the far end received of it");

  farSends("COM1", all);
  expect(within(5000, [&] { return port.available() == 256; }), "all 256 bytes arrive");
  Object *bytes = byteArray(run.vm, Bytes(all.size()));
  expectEqual(port.read(bytes, 0, 256), 256, "read() of 256 queued bytes");
  expectEqual(contents(bytes), all, "the bytes read");
  port.close();
}

void availableCountsWhatTheFarEndSent(Run &run) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  expectEqual(port.available(), 0, "available() before anything arrived");
  farSends("COM1", {1, 2, 3, 4, 5});
  within(5000, [&] { return port.available() >= 5; });
  expectEqual(port.available(), 5, "available() after the far end sent 5 bytes");
  port.close();
}

void aReadTakesWhatIsQueued(Run &run) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  farSends("COM1", {1, 2, 3});
  within(5000, [&] { return port.available() == 3; });
  Object *bytes = byteArray(run.vm, Bytes(8, 9));
  expectEqual(port.read(bytes, 2, 5), 3, "read() with 3 bytes queued and room for 5");
  expectEqual(contents(bytes), Bytes{9, 9, 1, 2, 3, 9, 9, 9}, "the array after read()");

  farSends("COM1", {4, 5, 6, 7, 8});
  within(5000, [&] { return port.available() == 5; });
  expectEqual(port.read(bytes, 0, 2), 2, "read() with 5 bytes queued and room for 2");
  expectEqual(port.available(), 3, "available() after reading 2 of 5");
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
void otherCallsRunBesideAWaitingRead(Run &run) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  expectEqual(farEnd("send-after COM1 3000 a55a00"), "ok", "the far end will send");
  const DWORD start = GetTickCount();
  WaitingRead read(port, 8);
  Sleep(500);
  expect(!read.returnedWithin(0), "read() waits on a silent line");

  Bytes sent;
  DWORD longestWrite = 0;
  for (int i = 0; i < 64; ++i) {
    sent.push_back(static_cast<unsigned char>(i * 4 + 1));
    const DWORD before = GetTickCount();
    port.write(sent.back());
    longestWrite = std::max<DWORD>(longestWrite, GetTickCount() - before);
  }
  DWORD before = GetTickCount();
  expectEqual(port.available(), 0, "available() beside the waiting read");
  const DWORD available = GetTickCount() - before;
  before = GetTickCount();
  expect(port.setSerialPortParams(19200, 8, 1, 0), "19200 8N1 is taken beside the waiting read");
  const DWORD params = GetTickCount() - before;
  say("  beside the waiting read: the longest of 64 writes took " + std::to_string(longestWrite) +
      " ms, available() " + std::to_string(available) + " ms, setSerialPortParams() " +
      std::to_string(params) + " ms");
  expect(longestWrite < 2000 && available < 2000 && params < 2000, "each call returns within 2 s");
  expectEqual(farReceives("COM1", sent.size(), 2000), sent, "what the 64 writes sent");
  expectSettings("19200/19200 cs8 -parenb -cstopb ", "after 19200 8N1");

  read.join(10000);
  expectEqual(read.read(), Bytes{0xa5, 0x5a, 0x00}, "what read() returned");
  const DWORD waited = read.returnedAt - start;
  expect(waited >= 2900, "read() waited for the bytes, not " + std::to_string(waited) + " ms");
  say("  read() returned " + std::to_string(waited) + " ms after it began to wait");
  port.close();
}

// The write time-out (10 ms a byte and 1 s) bounds a write the line holds.
void aWriteTheLineHoldsGivesUp(Run &run) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  expectEqual(farEnd("hold COM1"), "ok", "the far end holds the line");
  const DWORD start = GetTickCount();
  port.write('h');
  const DWORD took = GetTickCount() - start;
  say("  the held write returned after " + std::to_string(took) + " ms");
  expect(took >= 900 && took < 5000, "the held write gives up after about 1010 ms");
  expectEqual(farEnd("release COM1"), "ok", "the far end releases the line");
  port.write('r');
  expectEqual(farReceives("COM1", 1, 2000), Bytes{'r'}, "what the writes sent");
  port.close();
}

// close() ends a read that waits on a silent line instead of waiting for it,
// and a read with a deadline long before its deadline.
void closeEndsAWaitingRead(Run &run) {
  for (const int timeoutMs : {-1, 20000}) {
    const std::string kind = timeoutMs < 0 ? "read()" : "a deadline read";
    SerialPort port(run.vm, run.natives);
    port.open(u"COM1:");
    WaitingRead read(port, 4, timeoutMs);
    Sleep(500);
    expect(!read.returnedWithin(0), kind + " waits on a silent line");
    const DWORD start = GetTickCount();
    expect(port.close(), "close() while " + kind + " waits");
    read.join(10000);
    say("  close() returned, and " + kind + " with it, " + std::to_string(read.returnedAt - start) +
        " ms after close() began");
    expectEqual(read.result, -1, "what the waiting " + kind + " returned");
    expectEqual(farState("COM1"), "closed", "the device after close()");
  }
}

// close() ends a frame write that a far end which stopped reading holds, with
// the count that went out, and exactly those bytes arrive.
void closeEndsAHeldFrameWrite(Run &run) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  Bytes frame(1 << 20);
  for (std::size_t i = 0; i < frame.size(); ++i) {
    frame[i] = static_cast<unsigned char>(i % 251);
  }
  OnItsOwnThread write(port, OnItsOwnThread::Call::Write, frame);
  Sleep(500);
  expect(!write.returnedWithin(0), "the frame's write waits while the far end does not read");
  const DWORD start = GetTickCount();
  expect(port.close(), "close() while a frame's write is held");
  write.join(10000);
  say("  close() ended the held write " + std::to_string(write.returnedAt - start) +
      " ms after it began; the write returned " + std::to_string(write.result));
  const int count = write.result;
  expect(count > 0 && count < static_cast<int>(frame.size()), "the count is what went out");
  Bytes arrived;
  for (Bytes part = farReceives("COM1", 8000, 2000); !part.empty();
       part = farReceives("COM1", 8000, 1000)) {
    arrived.insert(arrived.end(), part.begin(), part.end());
  }
  expectEqual(arrived.size(), static_cast<std::size_t>(std::max(count, 0)),
              "the number of bytes that arrived");
  expect(std::equal(arrived.begin(), arrived.end(), frame.begin()), "they are the frame's first");
}

void aReadEndsWhenTheDeviceIsGone(Run &run) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  expectEqual(farEnd("unplug-after COM1 300"), "ok", "the far end will be unplugged");
  Object *bytes = byteArray(run.vm, Bytes(4));
  const DWORD start = GetTickCount();
  expectEqual(port.read(bytes, 0, 4), -1, "read() when the device goes");
  const DWORD waited = GetTickCount() - start;
  expect(waited >= 250,
         "read() waited for the device to go, not " + std::to_string(waited) + " ms");
  expectEqual(port.available(), 0, "available() on the gone device");
  expect(port.close(), "close() on the gone device");
}

// A read with a deadline: the driver's read time-outs wait for the first
// byte. The times are printed; only lower bounds are checked.
void aDeadlineReadReturnsWhatCameOrZeroAtItsDeadline(Run &run) {
  SerialPort port(run.vm, run.natives);
  port.open(u"COM1:");
  Object *bytes = byteArray(run.vm, Bytes(4, 9));
  DWORD start = GetTickCount();
  expectEqual(port.read(bytes, 0, 4, 2000), 0, "a deadline read on a silent line");
  const DWORD silent = GetTickCount() - start;
  expect(silent >= 1900, "the read waited for its deadline, not " + std::to_string(silent) + " ms");
  expectEqual(farEnd("send-after COM1 500 a55a"), "ok", "the far end will send");
  start = GetTickCount();
  expectEqual(port.read(bytes, 1, 3, 20000), 2, "a deadline read whose bytes come first");
  const DWORD woken = GetTickCount() - start;
  expectEqual(contents(bytes), Bytes{9, 0xa5, 0x5a, 9}, "what it read");
  expect(woken >= 400, "the read waited for the bytes, not " + std::to_string(woken) + " ms");
  say("  the silent line's read returned after " + std::to_string(silent) +
      " ms (deadline 2000 ms), the one woken by bytes sent 500 ms on after " +
      std::to_string(woken) + " ms");
  // Without a wait, and nothing queued: Wine's read under the plan that
  // returns at once would wait.
  expectEqual(port.read(bytes, 0, 4, 0), 0, "a read without a wait of nothing queued");
  port.close();
}

// Discovery, from keys under HKLM\Drivers\Active made with `wine reg`.

const std::string kActive = "HKLM\\Drivers\\Active";

void clearActiveDrivers() { farEnd("reg delete " + kActive + " /f"); }

void addActiveDriver(const std::string &subkey, const std::string &value, const std::string &data) {
  expectEqual(farEnd("reg add " + kActive + "\\" + subkey + " /v " + value + " /d " + data + " /f"),
              "status 0", "wine reg add " + subkey);
}

Names names(const Object *vector) {
  Names out;
  for (const Object *element : vector->elements) {
    out.push_back(element->text);
  }
  return out;
}

Names listed(Run &run) {
  Object *ports = findSerialPorts(run.vm, run.natives);
  if (!expect(ports != nullptr, "findSerialPorts() returns a vector")) {
    return {};
  }
  return names(ports);
}

void serialPortsAreListedInRegistryOrder(Run &run) {
  clearActiveDrivers();
  // Made out of order: Wine keeps subkeys in the order of their names.
  addActiveDriver("Serial2", "Name", "COM2:");
  addActiveDriver("Modem", "Name", "TEL1:");
  addActiveDriver("Serial10", "Name", "COM10:");
  addActiveDriver("Lower", "Name", "com3:");
  addActiveDriver("Serial1", "Name", "COM1:");
  expectEqual(listed(run), Names{u"COM1:", u"COM10:", u"COM2:"}, "the serial ports listed");
  expectMessages(run, {}, "while listing");
}

void anEmptyOrMissingListOfDrivers(Run &run) {
  clearActiveDrivers();
  expectEqual(farEnd("reg add " + kActive + " /f"), "status 0", "wine reg add");
  expectEqual(listed(run), Names{}, "the serial ports of an empty list");
  expectMessages(run, {}, "for an empty list");

  clearActiveDrivers();
  expect(findSerialPorts(run.vm, run.natives) == nullptr, "findSerialPorts() without the key");
  expectMessages(run, {{u"Woops.", u"Error: Unable to open key, RegOpenKey = 2, Line = 95"}},
                 "without the key");
}

void aMissingOrTooLongNameIsReportedAndSkipped(Run &run) {
  clearActiveDrivers();
  addActiveDriver("A", "Name", "COM1:");
  addActiveDriver("B", "Other", "COM2:");
  addActiveDriver("C", "Name", "COM45678901234567890:");  // 21 characters
  addActiveDriver("D", "Name", "COM4567890123456789:");   // 20, the most there is room for
  expectEqual(listed(run), Names{u"COM1:", u"COM4567890123456789:"}, "the serial ports listed");
  expectMessages(run,
                 {{u"Oops", u"Error: Unable to query value, RegQueryValueEx = 2, Line = 148"},
                  {u"Oops", u"Error: Unable to query value, RegQueryValueEx = 234, Line = 148"}},
                 "for the entries without a usable name");
}

void sixtyFourPortsFitTheLocalReferences(Run &run) {
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
  expectEqual(farEnd("reg import ports.reg"), "status 0", "wine reg import");
  expectEqual(listed(run), expected, "the 64 serial ports listed");
}

void anAddElementThatThrowsEndsTheList(Run &run) {
  clearActiveDrivers();
  addActiveDriver("Serial1", "Name", "COM1:");
  addActiveDriver("Serial2", "Name", "COM2:");
  addActiveDriver("Serial3", "Name", "COM3:");
  run.vm.addElementFailsFrom = 1;
  Object *ports = findSerialPorts(run.vm, run.natives);
  run.vm.addElementFailsFrom = static_cast<std::size_t>(-1);
  const Object *thrown = run.vm.takeException();
  expect(thrown != nullptr && thrown->className == "java/lang/OutOfMemoryError",
         "the OutOfMemoryError of addElement reaches the caller");
  expect(ports != nullptr && names(ports) == Names{u"COM1:"},
         "the vector holds the port added before the failure");
  expectMessages(run, {}, "when addElement throws");
}

void parallelPortsAreNoneAndNew(Run &run) {
  Object *first = findParallelPorts(run.vm, run.natives);
  Object *second = findParallelPorts(run.vm, run.natives);
  expect(first != nullptr && second != nullptr && first != second,
         "findParallelPorts() returns a new vector each time");
  expect(first != nullptr && first->elements.empty(), "the vector is empty");
}

struct Scenario {
  const char *group;
  const char *name;
  void (*run)(Run &);
};

const Scenario kScenarios[] = {
    {"open_close", "COM1: and COM1 both open the port", opensWithAndWithoutTheColon},
    {"open_close", "the defaults reach the device", theDefaultsReachTheDevice},
    {"open_close", "line params are taken or refused with their messages",
     lineParamsAreTakenOrRefusedWithTheirMessages},
    {"open_close", "after close every native does nothing", afterCloseEveryNativeDoesNothing},
    {"open_close", "opening an open object closes its port first",
     openingAnOpenObjectClosesItsPortFirst},
    {"open_close", "a port that is not there stays closed", aPortThatIsNotThereStaysClosed},
    {"data", "all 256 byte values pass both ways", allByteValuesPassBothWays},
    {"data", "available counts what the far end sent", availableCountsWhatTheFarEndSent},
    {"data", "a read takes what is queued", aReadTakesWhatIsQueued},
    {"data", "other calls run beside a waiting read, which wakes when bytes arrive",
     otherCallsRunBesideAWaitingRead},
    {"data", "a write the line holds gives up", aWriteTheLineHoldsGivesUp},
    {"data", "close ends a waiting read", closeEndsAWaitingRead},
    {"data", "close ends a held frame write with the count that went out",
     closeEndsAHeldFrameWrite},
    {"data", "a read ends when the device is gone", aReadEndsWhenTheDeviceIsGone},
    {"data", "a deadline read returns what came, or 0 at its deadline",
     aDeadlineReadReturnsWhatCameOrZeroAtItsDeadline},
    {"discovery", "serial ports are listed in registry order", serialPortsAreListedInRegistryOrder},
    {"discovery", "an empty or missing list of drivers", anEmptyOrMissingListOfDrivers},
    {"discovery", "a missing or too long name is reported and skipped",
     aMissingOrTooLongNameIsReportedAndSkipped},
    {"discovery", "64 ports fit the local references", sixtyFourPortsFitTheLocalReferences},
    {"discovery", "an addElement that throws ends the list", anAddElementThatThrowsEndsTheList},
    {"discovery", "parallel ports are none, in a new vector", parallelPortsAreNoneAndNew},
};

}  // namespace

int main(int argc, char **argv) {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc != 2) {
    say("usage: tarvesk-wine-host GROUP");
    return 2;
  }
  const std::string group = argv[1];
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
  Run run{vm, natives, boxes};
  if (group.rfind("probe.", 0) == 0) {
    runProbe(vm, group.substr(6));
    say("the stand-in VM let the misuse of " + group + " pass");
    return 1;
  }

  int scenarios = 0, failed = 0;
  for (const Scenario &scenario : kScenarios) {
    if (group != scenario.group) {
      continue;
    }
    ++scenarios;
    say(std::string("scenario: ") + scenario.name);
    const DWORD began = GetTickCount();
    farEnd("fresh");
    failures = 0;
    scenario.run(run);
    expectMessages(run, {}, "left over");
    expect(vm.takeException() == nullptr, "no exception left pending");
    say(std::string(failures == 0 ? "scenario ok: " : "scenario FAILED: ") + scenario.name + " (" +
        std::to_string(GetTickCount() - began) + " ms)");
    failed += failures > 0;
  }
  if (scenarios == 0) {
    say("no scenarios in group " + group);
    return 2;
  }
  say(std::to_string(scenarios - failed) + " of " + std::to_string(scenarios) +
      " scenarios passed");
  return failed == 0 ? 0 : 1;
}
