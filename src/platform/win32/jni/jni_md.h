// The Windows half of the JNI declarations. The JDK's jni.h includes
// "jni_md.h" from its search path; the cross build puts this directory there
// instead of the build machine's include/linux, whose jint and calling
// convention do not fit a Windows JVM.
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;  // 32 bits on every Windows, as the JVM expects
typedef __int64 jlong;
typedef signed char jbyte;

#endif
