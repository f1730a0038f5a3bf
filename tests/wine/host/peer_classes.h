#pragma once

// quorin.io.comm.CESerialPort and CECommDriver as the stand-in VM runs them:
// the natives found in tarvesk.dll by name, called with references of a
// fresh frame, behind CESerialPort's own guard, step for step (its javadoc
// says what the guard does).
#include <windows.h>

#include <atomic>
#include <string>

#include "jni_natives.h"
#include "quorin_io_comm_CECommDriver.h"
#include "quorin_io_comm_CESerialPort.h"
#include "stand_in_vm.h"

namespace standin {

// Each native as the library declares it, named after its Java method.
struct Natives {
  explicit Natives(HMODULE library);  // a missing export ends the run

#define TARVESK_NATIVE_POINTER(function, method) decltype(&function) method;
  TARVESK_JNI_NATIVES(TARVESK_NATIVE_POINTER)
#undef TARVESK_NATIVE_POINTER
};

class SerialPort {
 public:
  SerialPort(Vm &vm, const Natives &natives);
  ~SerialPort();
  SerialPort(const SerialPort &) = delete;
  SerialPort &operator=(const SerialPort &) = delete;

  void open(const std::u16string &portName);
  bool isOpen();
  jlong nativeHandle() const { return self->nativeHandle; }
  bool close();
  int read(Object *bytes, int off, int len);
  // The same, called on another thread through that thread's VM.
  int read(Vm &thread, Object *bytes, int off, int len);
  // read(byte[], int, int, int): waits at most timeoutMs for the first byte.
  int read(Object *bytes, int off, int len, int timeoutMs);
  int read(Vm &thread, Object *bytes, int off, int len, int timeoutMs);
  void write(int value);
  int write(Object *bytes, int off, int len);
  int write(Vm &thread, Object *bytes, int off, int len);
  int available();
  bool setSerialPortParams(int baudRate, int dataBits, int stopBits, int parity);

 private:
  class Call;
  class Entry;

  // CESerialPort's methods of the same names.
  bool enter();
  void leave();
  bool closing() const;
  bool beginExclusive();
  void endExclusive();
  bool bound() const;
  bool nativeClose();
  void cancelIo();
  // A read or write as CESerialPort makes it: counted in, then in its turn,
  // and -1 without a call when the port is closing by then.
  template <typename Native>
  int inTurn(SRWLOCK &turn, Native native);

  static constexpr int kExclusive = 1 << 30;

  Vm &vm;
  const Natives &natives;
  Object *self;
  Object *unbound;  // CESerialPort.UNBOUND
  std::atomic<int> calls{0};
  // The permit an open or close waits for: set by the last call to leave.
  HANDLE exclusiveWake;
  SRWLOCK reading = SRWLOCK_INIT;
  SRWLOCK writing = SRWLOCK_INIT;  // CESerialPort's writing lock, but not fair
};

// CECommDriver's static natives: the vector returned, or nullptr for null.
Object *findSerialPorts(Vm &vm, const Natives &natives);
Object *findParallelPorts(Vm &vm, const Natives &natives);

}  // namespace standin
