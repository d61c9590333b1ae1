// The DLL under test as the harness sees it: loaded by path, its functions
// found by exported name only, and the check counters every case reports to.
#pragma once

#include <windows.h>

#include <string>

#include "support/fake_jni.h"

namespace halvix::harness {

using testing::FakeJni;

constexpr jint jniVersion12 = 0x00010002;
constexpr const char* packagedClass = "com/kesta/vanmora/util/Halvix";

extern int failures;
extern int checks;

// Counts a check; a failed one is reported on standard error with `what`.
void check(bool ok, const std::string& what);

using OnLoadFn = jint(JNICALL*)(JavaVM*, void*);
using OpenFn = jboolean(JNICALL*)(JNIEnv*, jobject, jstring);
using CloseFn = jboolean(JNICALL*)(JNIEnv*, jobject);
using PointFn = jlong(JNICALL*)(JNIEnv*, jobject);
using CommandFn = jboolean(JNICALL*)(JNIEnv*, jobject, jbyteArray);
using SerialFn = jbyteArray(JNICALL*)(JNIEnv*, jobject);

// The exports under the names a VM looks them up by: stdcall-decorated on
// x86, plain on x64.
struct ExportName {
    const char* x86;
    const char* x64;
    const char* method;
    const char* signature;
};
extern const ExportName onLoadName;
extern const ExportName nativeNames[5];

const char* exportedName(const ExportName& name);

struct Library {
    HMODULE module = nullptr;
    FARPROC onLoad = nullptr;
    FARPROC natives[5] = {};

    template <typename F>
    F native(int i) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(natives[i]));
    }
};

// Loads the DLL and finds its six exports; false (with failed checks) if any is missing.
bool load(const char* path, Library& lib);

jint callOnLoad(const Library& lib, FakeJni& vm);

// A monotonic clock in milliseconds.
double nowMs();

}  // namespace halvix::harness
