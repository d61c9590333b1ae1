// The machine-dependent part of the JNI declarations for the Windows builds
// (the JDK on the build machine ships only its own platform's). Windows keeps
// `long` at 32 bits on both word sizes, and the VM calls natives with stdcall
// on x86 (the convention is ignored on x64). The exports come from the
// module-definition files, so JNIEXPORT adds nothing.
#pragma once

#define JNIEXPORT
#define JNIIMPORT
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

static_assert(sizeof(jint) == 4, "jint is 32 bits");
static_assert(sizeof(jlong) == 8, "jlong is 64 bits");
static_assert(sizeof(jbyte) == 1, "jbyte is 8 bits");
