// The load hook: binds the natives to the packaged Java class.
#include <cstdio>

#include "binding/natives.h"

namespace halvix {

const char noEnvMessage[] = "Unble to get env\n";
const char noClassMessage[] = "Unable to locate class\n";

const JNINativeMethod nativeMethods[5] = {
    {const_cast<char*>("openUsbPort"), const_cast<char*>("(Ljava/lang/String;)Z"),
     reinterpret_cast<void*>(&Java_Halvix_openUsbPort)},
    {const_cast<char*>("closeUsbPort"), const_cast<char*>("()Z"),
     reinterpret_cast<void*>(&Java_Halvix_closeUsbPort)},
    {const_cast<char*>("getPointData"), const_cast<char*>("()J"),
     reinterpret_cast<void*>(&Java_Halvix_getPointData)},
    {const_cast<char*>("putCmdString"), const_cast<char*>("([B)Z"),
     reinterpret_cast<void*>(&Java_Halvix_putCmdString)},
    {const_cast<char*>("getSerialData"), const_cast<char*>("()[B"),
     reinterpret_cast<void*>(&Java_Halvix_getSerialData)},
};

}  // namespace halvix

namespace {

constexpr const char* packagedClass = "com/kesta/vanmora/util/Halvix";

jint refuse(const char* message) {
    std::fputs(message, stdout);
    std::fflush(stdout);
    return JNI_ERR;
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void*) {
    try {
        JNIEnv* env = nullptr;
        if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_2) != JNI_OK || env == nullptr) {
            return refuse(halvix::noEnvMessage);
        }
        jclass cls = env->FindClass(packagedClass);
        if (cls == nullptr) return refuse(halvix::noClassMessage);
        env->RegisterNatives(cls, halvix::nativeMethods, 5);
        return JNI_VERSION_1_2;
    } catch (...) {
        return JNI_ERR;
    }
}
