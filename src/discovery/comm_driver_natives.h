#pragma once

#include <jni.h>

// The native methods of quorin.io.comm.CECommDriver. Neither uses its second
// argument, so they serve static and instance declarations alike.
extern "C" {

JNIEXPORT jobject JNICALL Java_quorin_io_comm_CECommDriver_findSerialPorts(JNIEnv *env,
                                                                           jobject unused);
JNIEXPORT jobject JNICALL Java_quorin_io_comm_CECommDriver_findParallelPorts(JNIEnv *env,
                                                                             jobject unused);
}
