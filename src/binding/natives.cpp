// The natives: marshalling between Java values and the channels. Each one
// catches everything, so no C++ exception reaches the VM.
#include "binding/natives.h"

#include <memory>
#include <new>

#include "binding/port_state.h"
#include "hid/hid_channel.h"
#include "legacy/legacy_channel.h"

using namespace halvix;

namespace {

constexpr DWORD emptyRingPauseMs = 20;

}  // namespace

extern "C" {

JNIEXPORT jboolean JNICALL Java_Halvix_openUsbPort(JNIEnv* env, jobject, jstring port) {
    try {
        if (port == nullptr) return JNI_FALSE;
        // The copy is sized by the modified-UTF-8 length, while the region
        // call counts characters: the two differ for names beyond ASCII.
        const jsize bytes = env->GetStringUTFLength(port);
        const jsize chars = env->GetStringLength(port);
        if (bytes < 0 || chars < 0) return JNI_FALSE;
        std::unique_ptr<char[]> name(new (std::nothrow) char[static_cast<std::size_t>(bytes) + 1]());
        if (!name) return JNI_FALSE;
        env->GetStringUTFRegion(port, 0, chars, name.get());
        name[static_cast<std::size_t>(bytes)] = '\0';
        return openPort(name.get()) ? JNI_TRUE : JNI_FALSE;
    } catch (...) {
        return JNI_FALSE;
    }
}

JNIEXPORT jboolean JNICALL Java_Halvix_closeUsbPort(JNIEnv*, jobject) {
    try {
        closePort();
    } catch (...) {
    }
    return JNI_TRUE;
}

JNIEXPORT jlong JNICALL Java_Halvix_getPointData(JNIEnv*, jobject) {
    try {
        return static_cast<jlong>(nextPoint());
    } catch (...) {
        return 0;
    }
}

JNIEXPORT jboolean JNICALL Java_Halvix_putCmdString(JNIEnv* env, jobject, jbyteArray command) {
    try {
        if (portState.hidMode.load() != 1 || command == nullptr) return JNI_FALSE;
        const jsize length = env->GetArrayLength(command);
        if (length < 0) return JNI_FALSE;
        std::unique_ptr<jbyte[]> bytes(new (std::nothrow) jbyte[length == 0 ? 1 : length]);
        if (!bytes) return JNI_FALSE;
        env->GetByteArrayRegion(command, 0, length, bytes.get());
        sendCommand(reinterpret_cast<const std::uint8_t*>(bytes.get()), length);
        return JNI_TRUE;
    } catch (...) {
        return JNI_FALSE;
    }
}

JNIEXPORT jbyteArray JNICALL Java_Halvix_getSerialData(JNIEnv* env, jobject) {
    try {
        if (portState.hidMode.load() != 1) return nullptr;
        SerialRing& ring = serialRing();
        if (queuedBytes(ring) == 0) Sleep(emptyRingPauseMs);
        const std::uint32_t count = queuedBytes(ring);
        if (count == 0) return nullptr;
        std::unique_ptr<jbyte[]> bytes(new (std::nothrow) jbyte[count]);
        if (!bytes) return nullptr;
        // The array comes first: if the VM cannot make it, the bytes stay
        // queued for the next call instead of being lost.
        jbyteArray array = env->NewByteArray(static_cast<jsize>(count));
        if (array == nullptr) return nullptr;
        takeBytes(ring, reinterpret_cast<std::uint8_t*>(bytes.get()), count);
        env->SetByteArrayRegion(array, 0, static_cast<jsize>(count), bytes.get());
        return array;
    } catch (...) {
        return nullptr;
    }
}

}  // extern "C"
