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
  resolve(library, "Java_quorin_io_comm_CESerialPort_nativeOpen", open);
  resolve(library, "Java_quorin_io_comm_CESerialPort_nativeClose", close);
  resolve(library, "Java_quorin_io_comm_CESerialPort_nativeRead", read);
  resolve(library, "Java_quorin_io_comm_CESerialPort_nativeWrite", write);
  resolve(library, "Java_quorin_io_comm_CESerialPort_nativeAvailable", available);
  resolve(library, "Java_quorin_io_comm_CESerialPort_nativeSetSerialPortParams",
          setSerialPortParams);
  resolve(library, "Java_quorin_io_comm_CECommDriver_findSerialPorts", findSerialPorts);
  resolve(library, "Java_quorin_io_comm_CECommDriver_findParallelPorts", findParallelPorts);
}

// One native call of the port, under its lock as CESerialPort.java takes it:
// exclusive for open and close, shared for the rest.
class SerialPort::Call {
 public:
  Call(SerialPort &port, const char *name, bool exclusive) : port(port), exclusive(exclusive) {
    exclusive ? AcquireSRWLockExclusive(&port.lock) : AcquireSRWLockShared(&port.lock);
    env = port.vm.enter(name);
    self = port.vm.ref(port.self);
  }
  ~Call() {
    port.vm.leave();
    exclusive ? ReleaseSRWLockExclusive(&port.lock) : ReleaseSRWLockShared(&port.lock);
  }
  Call(const Call &) = delete;
  Call &operator=(const Call &) = delete;

  JNIEnv *env;
  jobject self;

 private:
  SerialPort &port;
  bool exclusive;
};

SerialPort::SerialPort(Vm &vm, const Natives &natives)
    : vm(vm), natives(natives), self(vm.make(Object::Kind::Port)) {}

void SerialPort::open(const std::u16string &portName) {
  Call call(*this, "nativeOpen", true);
  natives.open(call.env, call.self, static_cast<jstring>(vm.ref(vm.newString(portName))));
}

bool SerialPort::isOpen() const { return self->nativeHandle != 0 && self->nativeHandle != -1; }

bool SerialPort::close() {
  Call call(*this, "nativeClose", true);
  return natives.close(call.env, call.self) != JNI_FALSE;
}

int SerialPort::read(Object *bytes, int off, int len) {
  Call call(*this, "nativeRead", false);
  return natives.read(call.env, call.self, static_cast<jbyteArray>(vm.ref(bytes)), off, len);
}

void SerialPort::write(int value) {
  Call call(*this, "nativeWrite", false);
  natives.write(call.env, call.self, value);
}

int SerialPort::available() {
  Call call(*this, "nativeAvailable", false);
  return natives.available(call.env, call.self);
}

bool SerialPort::setSerialPortParams(int baudRate, int dataBits, int stopBits, int parity) {
  Call call(*this, "nativeSetSerialPortParams", false);
  return natives.setSerialPortParams(call.env, call.self, baudRate, dataBits, stopBits, parity) !=
         JNI_FALSE;
}

Object *findSerialPorts(Vm &vm, const Natives &natives) {
  return callDriver(vm, "findSerialPorts", natives.findSerialPorts);
}

Object *findParallelPorts(Vm &vm, const Natives &natives) {
  return callDriver(vm, "findParallelPorts", natives.findParallelPorts);
}

}  // namespace standin
