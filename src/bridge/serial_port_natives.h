#pragma once

#include <jni.h>

// The native methods of quorin.io.comm.CESerialPort.
extern "C" {

JNIEXPORT void JNICALL Java_quorin_io_comm_CESerialPort_nativeOpen(JNIEnv *env, jobject self,
                                                                   jstring portName);
JNIEXPORT jboolean JNICALL Java_quorin_io_comm_CESerialPort_nativeClose(JNIEnv *env, jobject self);
JNIEXPORT jint JNICALL Java_quorin_io_comm_CESerialPort_nativeRead(JNIEnv *env, jobject self,
                                                                   jbyteArray b, jint off,
                                                                   jint len);
JNIEXPORT void JNICALL Java_quorin_io_comm_CESerialPort_nativeWrite(JNIEnv *env, jobject self,
                                                                    jint value);
JNIEXPORT jint JNICALL Java_quorin_io_comm_CESerialPort_nativeAvailable(JNIEnv *env, jobject self);
JNIEXPORT jboolean JNICALL Java_quorin_io_comm_CESerialPort_nativeSetSerialPortParams(
    JNIEnv *env, jobject self, jint baudRate, jint dataBits, jint stopBits, jint parity);
// Beyond the six above: ends a read that waits for input and a write that
// waits for room before a close. Called while other natives of the object
// may be in progress, but never beside nativeOpen or nativeClose.
JNIEXPORT void JNICALL Java_quorin_io_comm_CESerialPort_nativeCancelIo(JNIEnv *env, jobject self);
// Beyond them too: sends len bytes of b from off on in one write of the
// driver; the number sent, or -1. handle is the value of nativeHandle, read
// by the caller while no open or close can change it.
JNIEXPORT jint JNICALL Java_quorin_io_comm_CESerialPort_nativeWriteBytes(JNIEnv *env, jobject self,
                                                                         jlong handle, jbyteArray b,
                                                                         jint off, jint len);
// And: reads into b as nativeRead does, but waits at most timeoutMs for the
// first byte; 0 when none came in time. handle as for nativeWriteBytes.
JNIEXPORT jint JNICALL Java_quorin_io_comm_CESerialPort_nativeReadWithin(JNIEnv *env, jobject self,
                                                                         jlong handle, jbyteArray b,
                                                                         jint off, jint len,
                                                                         jint timeoutMs);
}
