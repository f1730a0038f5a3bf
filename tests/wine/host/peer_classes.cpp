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
Object *callDriver(Vm &vm, const char *name, jobject(JNICALL *native)(JNIEnv *, jobject)) {
  JNIEnv *env = vm.enter(name);
  Object *result =
      vm.returnedVector(native(env, vm.ref(vm.classNamed("quorin/io/comm/CECommDriver"))));
  vm.leave();
  return result;
}

}  // namespace

Natives::Natives(HMODULE library) {
#define TARVESK_RESOLVE(function, method) resolve(library, #function, method);
  TARVESK_JNI_NATIVES(TARVESK_RESOLVE)
#undef TARVESK_RESOLVE
}

// One native call of the port, under its lock as CESerialPort.java takes it:
// exclusive for open and close, shared for the rest.
class SerialPort::Call {
 public:
  Call(SerialPort &port, const char *name, bool exclusive, Vm *thread = nullptr)
      : port(port), vm(thread != nullptr ? *thread : port.vm), exclusive(exclusive) {
    exclusive ? AcquireSRWLockExclusive(&port.lock) : AcquireSRWLockShared(&port.lock);
    env = vm.enter(name);
    self = vm.ref(port.self);
  }
  ~Call() {
    vm.leave();
    exclusive ? ReleaseSRWLockExclusive(&port.lock) : ReleaseSRWLockShared(&port.lock);
  }
  Call(const Call &) = delete;
  Call &operator=(const Call &) = delete;

  JNIEnv *env;
  jobject self;

 private:
  SerialPort &port;
  Vm &vm;
  bool exclusive;
};

SerialPort::SerialPort(Vm &vm, const Natives &natives)
    : vm(vm), natives(natives), self(vm.make(Object::Kind::Port)) {}

// As CESerialPort.java does before it waits for the calls in progress: a read
// that waits for input ends, so that open and close do not wait for a byte.
// Under the shared lock, so no open or close frees the port meanwhile; a read
// that begins after it returns -1 at once.
void SerialPort::cancelIo() {
  Call call(*this, "nativeCancelIo", false);
  natives.nativeCancelIo(call.env, call.self);
}

void SerialPort::open(const std::u16string &portName) {
  cancelIo();
  Call call(*this, "nativeOpen", true);
  natives.nativeOpen(call.env, call.self, static_cast<jstring>(vm.ref(vm.newString(portName))));
}

bool SerialPort::isOpen() const { return self->nativeHandle != 0 && self->nativeHandle != -1; }

bool SerialPort::close() {
  cancelIo();
  Call call(*this, "nativeClose", true);
  return natives.nativeClose(call.env, call.self) != JNI_FALSE;
}

int SerialPort::read(Object *bytes, int off, int len) { return read(vm, bytes, off, len); }

int SerialPort::read(Vm &thread, Object *bytes, int off, int len) {
  Call call(*this, "nativeRead", false, &thread);
  return natives.nativeRead(call.env, call.self, static_cast<jbyteArray>(thread.ref(bytes)), off,
                            len);
}

int SerialPort::read(Object *bytes, int off, int len, int timeoutMs) {
  return read(vm, bytes, off, len, timeoutMs);
}

int SerialPort::read(Vm &thread, Object *bytes, int off, int len, int timeoutMs) {
  Call call(*this, "nativeReadWithin", false, &thread);
  return natives.nativeReadWithin(call.env, call.self, self->nativeHandle,
                                  static_cast<jbyteArray>(thread.ref(bytes)), off, len, timeoutMs);
}

void SerialPort::write(int value) {
  Call call(*this, "nativeWrite", false);
  natives.nativeWrite(call.env, call.self, value);
}

int SerialPort::write(Object *bytes, int off, int len) { return write(vm, bytes, off, len); }

int SerialPort::write(Vm &thread, Object *bytes, int off, int len) {
  Call call(*this, "nativeWriteBytes", false, &thread);
  return natives.nativeWriteBytes(call.env, call.self, self->nativeHandle,
                                  static_cast<jbyteArray>(thread.ref(bytes)), off, len);
}

int SerialPort::available() {
  Call call(*this, "nativeAvailable", false);
  return natives.nativeAvailable(call.env, call.self);
}

bool SerialPort::setSerialPortParams(int baudRate, int dataBits, int stopBits, int parity) {
  Call call(*this, "nativeSetSerialPortParams", false);
  return natives.nativeSetSerialPortParams(call.env, call.self, baudRate, dataBits, stopBits,
                                           parity) != JNI_FALSE;
}

Object *findSerialPorts(Vm &vm, const Natives &natives) {
  return callDriver(vm, "findSerialPorts", natives.findSerialPorts);
}

Object *findParallelPorts(Vm &vm, const Natives &natives) {
  return callDriver(vm, "findParallelPorts", natives.findParallelPorts);
}

}  // namespace standin
