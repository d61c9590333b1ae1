// The library's exports: the load hook and the five natives of the Java class.
//
// The VM calls JNI_OnLoad once at load; it registers the natives on
// "com/kesta/vanmora/util/Halvix", and the Java_Halvix_ names bind them to a
// class Halvix in the unnamed package. No native uses its second argument,
// so the Java methods may be static or instance methods. No native throws,
// and every one answers false, null or 0 on failure.
#pragma once

#include <jni.h>

namespace halvix {

// The registration table, in the order the natives are registered.
extern const JNINativeMethod nativeMethods[5];

// What JNI_OnLoad prints when the VM gives no environment or lacks the class.
extern const char noEnvMessage[];
extern const char noClassMessage[];

}  // namespace halvix

extern "C" {
JNIEXPORT jboolean JNICALL Java_Halvix_openUsbPort(JNIEnv* env, jobject self, jstring port);
JNIEXPORT jboolean JNICALL Java_Halvix_closeUsbPort(JNIEnv* env, jobject self);
JNIEXPORT jlong JNICALL Java_Halvix_getPointData(JNIEnv* env, jobject self);
JNIEXPORT jboolean JNICALL Java_Halvix_putCmdString(JNIEnv* env, jobject self, jbyteArray command);
JNIEXPORT jbyteArray JNICALL Java_Halvix_getSerialData(JNIEnv* env, jobject self);
}
