#include "peer_classes.h"

namespace standin {

namespace {

template <typename Function>
void resolve(HMODULE library, const char *name, Function &function) {
  FARPROC address = GetProcAddress(library, name);
  if (address == nullptr) {
    Vm::fail(std::string("tarvesk.dll does not export ") + name);
  }
  function = reinterpret_cast<Function>(reinterpret_cast<void *>(address));
}

// A static native of CECommDriver.
Object *callDriver(Vm &vm, const char *name, jobject(JNICALL *native)(JNIEnv *, jclass)) {
  JNIEnv *env = vm.enter(name);
  Object *result = vm.returnedVector(
      native(env, static_cast<jclass>(vm.ref(vm.classNamed("quorin/io/comm/CECommDriver")))));
  vm.leave();
  return result;
}

}  // namespace

Natives::Natives(HMODULE library) {
#define TARVESK_RESOLVE(function, method) resolve(library, #function, method);
  TARVESK_JNI_NATIVES(TARVESK_RESOLVE)
#undef TARVESK_RESOLVE
}

// One native call on the object, in a frame of the calling thread's VM.
class SerialPort::Call {
 public:
  Call(Vm &vm, const char *name, Object *object) : vm(vm) {
    env = vm.enter(name);
    self = vm.ref(object);
  }
  ~Call() { vm.leave(); }
  Call(const Call &) = delete;
  Call &operator=(const Call &) = delete;

  JNIEnv *env;
  jobject self;

 private:
  Vm &vm;
};

// enter() ... leave(), when enter() let the call in.
class SerialPort::Entry {
 public:
  explicit Entry(SerialPort &port) : port(port), entered(port.enter()) {}
  ~Entry() {
    if (entered) {
      port.leave();
    }
  }
  Entry(const Entry &) = delete;
  Entry &operator=(const Entry &) = delete;
  explicit operator bool() const { return entered; }

 private:
  SerialPort &port;
  bool entered;
};

SerialPort::SerialPort(Vm &vm, const Natives &natives)
    : vm(vm),
      natives(natives),
      self(vm.make(Object::Kind::Port)),
      unbound(vm.make(Object::Kind::Port)),
      exclusiveWake(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  if (exclusiveWake == nullptr) {
    Vm::fail("no event for the port's guard: error " + std::to_string(GetLastError()));
  }
}

SerialPort::~SerialPort() { CloseHandle(exclusiveWake); }

void SerialPort::open(const std::u16string &portName) {
  if (!beginExclusive()) {
    return;
  }
  if (!bound() || nativeClose()) {
    Call call(vm, "nativeOpen", self);
    natives.nativeOpen(call.env, call.self, static_cast<jstring>(vm.ref(vm.newString(portName))));
  }
  endExclusive();
}

bool SerialPort::isOpen() {
  Entry entry(*this);
  return entry && bound();
}

bool SerialPort::close() {
  if (!beginExclusive()) {
    return false;
  }
  const bool closed = nativeClose();
  endExclusive();
  return closed;
}

template <typename Native>
int SerialPort::inTurn(SRWLOCK &turn, Native native) {
  Entry entry(*this);
  if (!entry) {
    return -1;
  }
  AcquireSRWLockExclusive(&turn);
  const int result = closing() ? -1 : native();
  ReleaseSRWLockExclusive(&turn);
  return result;
}

int SerialPort::read(Object *bytes, int off, int len) { return read(vm, bytes, off, len); }

int SerialPort::read(Vm &thread, Object *bytes, int off, int len) {
  return inTurn(reading, [&] {
    Call call(thread, "nativeRead", self);
    return natives.nativeRead(call.env, call.self, static_cast<jbyteArray>(thread.ref(bytes)), off,
                              len);
  });
}

int SerialPort::read(Object *bytes, int off, int len, int timeoutMs) {
  return read(vm, bytes, off, len, timeoutMs);
}

// The scenarios pass only valid arguments and len above 0: the checks and
// the turn-free len 0 of CESerialPort are left out; the deadline counts from
// the call.
int SerialPort::read(Vm &thread, Object *bytes, int off, int len, int timeoutMs) {
  const DWORD start = GetTickCount();
  return inTurn(reading, [&] {
    const DWORD waited = GetTickCount() - start;
    const int left =
        waited >= static_cast<DWORD>(timeoutMs) ? 0 : timeoutMs - static_cast<int>(waited);
    Call call(thread, "nativeReadWithin", self);
    return natives.nativeReadWithin(call.env, call.self, self->nativeHandle,
                                    static_cast<jbyteArray>(thread.ref(bytes)), off, len, left);
  });
}

void SerialPort::write(int value) {
  inTurn(writing, [&] {
    Call call(vm, "nativeWrite", self);
    natives.nativeWrite(call.env, call.self, value);
    return 0;
  });
}

int SerialPort::write(Object *bytes, int off, int len) { return write(vm, bytes, off, len); }

int SerialPort::write(Vm &thread, Object *bytes, int off, int len) {
  return inTurn(writing, [&] {
    Call call(thread, "nativeWriteBytes", self);
    return natives.nativeWriteBytes(call.env, call.self, self->nativeHandle,
                                    static_cast<jbyteArray>(thread.ref(bytes)), off, len);
  });
}

int SerialPort::available() {
  Entry entry(*this);
  if (!entry) {
    return 0;
  }
  Call call(vm, "nativeAvailable", self);
  return natives.nativeAvailable(call.env, call.self);
}

bool SerialPort::setSerialPortParams(int baudRate, int dataBits, int stopBits, int parity) {
  Entry entry(*this);
  Call call(vm, "nativeSetSerialPortParams", entry ? self : unbound);
  return natives.nativeSetSerialPortParams(call.env, call.self, baudRate, dataBits, stopBits,
                                           parity) != JNI_FALSE;
}

bool SerialPort::enter() {
  int current = calls.load();
  do {
    if ((current & kExclusive) != 0) {
      return false;
    }
  } while (!calls.compare_exchange_weak(current, current + 1));
  return true;
}

void SerialPort::leave() {
  if (--calls == kExclusive) {
    SetEvent(exclusiveWake);
  }
}

bool SerialPort::closing() const { return (calls.load() & kExclusive) != 0; }

// Where CESerialPort waits without a limit, a wait that outlasts every call
// of the scenarios ends the run, naming what it waited for.
bool SerialPort::beginExclusive() {
  int current = calls.load();
  do {
    if ((current & kExclusive) != 0) {
      return false;
    }
  } while (!calls.compare_exchange_weak(current, current | kExclusive));
  cancelIo();
  const DWORD start = GetTickCount();
  while (calls.load() != kExclusive) {
    if (GetTickCount() - start > 20000) {
      Vm::fail("an open or close waited 20 s for " + std::to_string(calls.load() - kExclusive) +
               " calls in progress");
    }
    WaitForSingleObject(exclusiveWake, 50);
    if (calls.load() != kExclusive) {
      cancelIo();
    }
  }
  return true;
}

void SerialPort::cancelIo() {
  Call call(vm, "nativeCancelIo", self);
  natives.nativeCancelIo(call.env, call.self);
}

void SerialPort::endExclusive() { calls -= kExclusive; }

bool SerialPort::bound() const { return self->nativeHandle != 0 && self->nativeHandle != -1; }

bool SerialPort::nativeClose() {
  Call call(vm, "nativeClose", self);
  return natives.nativeClose(call.env, call.self) != JNI_FALSE;
}

Object *findSerialPorts(Vm &vm, const Natives &natives) {
  return callDriver(vm, "findSerialPorts", natives.findSerialPorts);
}

Object *findParallelPorts(Vm &vm, const Natives &natives) {
  return callDriver(vm, "findParallelPorts", natives.findParallelPorts);
}

}  // namespace standin
