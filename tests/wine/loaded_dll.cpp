// The DLL under test: loading, export lookup and the check counters.
#include "loaded_dll.h"

#include <cstdio>

namespace halvix::harness {

int failures = 0;
int checks = 0;

void check(bool ok, const std::string& what) {
    ++checks;
    if (!ok) {
        ++failures;
        std::fprintf(stderr, "FAIL: %s\n", what.c_str());
        std::fflush(stderr);
    }
}

const ExportName onLoadName = {"_JNI_OnLoad@8", "JNI_OnLoad", nullptr, nullptr};
const ExportName nativeNames[5] = {
    {"_Java_Halvix_openUsbPort@12", "Java_Halvix_openUsbPort", "openUsbPort", "(Ljava/lang/String;)Z"},
    {"_Java_Halvix_closeUsbPort@8", "Java_Halvix_closeUsbPort", "closeUsbPort", "()Z"},
    {"_Java_Halvix_getPointData@8", "Java_Halvix_getPointData", "getPointData", "()J"},
    {"_Java_Halvix_putCmdString@12", "Java_Halvix_putCmdString", "putCmdString", "([B)Z"},
    {"_Java_Halvix_getSerialData@8", "Java_Halvix_getSerialData", "getSerialData", "()[B"},
};

const char* exportedName(const ExportName& name) { return sizeof(void*) == 4 ? name.x86 : name.x64; }

bool load(const char* path, Library& lib) {
    lib.module = LoadLibraryA(path);
    check(lib.module != nullptr, std::string("LoadLibraryA(") + path + ") error " +
                                     std::to_string(GetLastError()));
    if (lib.module == nullptr) return false;
    lib.onLoad = GetProcAddress(lib.module, exportedName(onLoadName));
    check(lib.onLoad != nullptr, std::string("export ") + exportedName(onLoadName));
    bool all = lib.onLoad != nullptr;
    for (int i = 0; i < 5; ++i) {
        lib.natives[i] = GetProcAddress(lib.module, exportedName(nativeNames[i]));
        check(lib.natives[i] != nullptr, std::string("export ") + exportedName(nativeNames[i]));
        all = all && lib.natives[i] != nullptr;
    }
    return all;
}

jint callOnLoad(const Library& lib, FakeJni& vm) {
    return reinterpret_cast<OnLoadFn>(reinterpret_cast<void*>(lib.onLoad))(vm.vm(), nullptr);
}

double nowMs() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace halvix::harness
