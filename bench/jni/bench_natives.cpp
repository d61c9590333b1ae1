// Natives of the JVM benchmark driver, built into a variant of the library
// so that they reach the same serial ring as getSerialData.
//
// HalvixBench.stagePayload queues bytes in the ring on the caller's thread,
// exactly as the HID reader does for one input report; the driver calls it
// only while the open pad is silent, so the reader never writes the ring at
// the same time. HalvixBench.stageNothing has the same signature and does
// nothing, and HalvixBench.newSevenBytes is the reference: the least a native
// that hands Java seven new bytes can do.
#include <jni.h>

#include <cstdint>

#include "hid/hid_channel.h"

namespace {

const std::uint8_t payload[7] = {0x81, 0x02, 0x03, 0x44, 0x05, 0x06, 0x7F};

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_HalvixBench_stagePayload(JNIEnv*, jclass, jint count) {
    halvix::acceptPayload(halvix::serialRing(), payload,
                          count < 0 ? 0u : static_cast<unsigned>(count));
}

JNIEXPORT void JNICALL Java_HalvixBench_stageNothing(JNIEnv*, jclass, jint) {}

JNIEXPORT jbyteArray JNICALL Java_HalvixBench_newSevenBytes(JNIEnv* env, jclass) {
    jbyteArray array = env->NewByteArray(7);
    if (array == nullptr) return nullptr;
    env->SetByteArrayRegion(array, 0, 7, reinterpret_cast<const jbyte*>(payload));
    return array;
}

}  // extern "C"
