// A small stand-in for the Java VM, for the host suites and the Windows
// harness alike: a JavaVM and a JNIEnv whose function tables hold only the
// calls the library is known to make, over plain string and byte-array
// objects. Every other slot is a trap that reports the slot and ends the
// process, so a call the library should not make cannot pass quietly.
#pragma once

#include <jni.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace halvix::testing {

struct Registration {
    std::string className;
    std::vector<std::string> names;
    std::vector<std::string> signatures;
    std::vector<void*> functions;
};

class FakeJni {
public:
    FakeJni();
    FakeJni(const FakeJni&) = delete;
    FakeJni& operator=(const FakeJni&) = delete;

    JavaVM* vm() { return &vmBox_.vm; }
    JNIEnv* env() { return &envBox_.env; }

    // Java strings from UTF-16 code units, and byte arrays. They live as long
    // as the VM.
    jstring string(const std::u16string& chars);
    jstring string(const std::string& latin1);
    jbyteArray array(const std::vector<std::uint8_t>& bytes);
    const std::vector<std::uint8_t>& bytes(jbyteArray array) const;

    // Switches that make the VM refuse as a real one can.
    bool failGetEnv = false;
    bool failFindClass = false;
    bool failNewByteArray = false;

    // What the library asked for.
    jint versionAsked = 0;
    std::vector<std::string> classesLookedUp;
    std::vector<Registration> registrations;
    bool exceptionPending = false;
    int arraysMade = 0;  // by NewByteArray

    struct EnvBox {
        JNIEnv_ env;
        FakeJni* owner;
    };
    struct VmBox {
        JavaVM_ vm;
        FakeJni* owner;
    };

private:
    JNINativeInterface_ envTable_;
    JNIInvokeInterface_ vmTable_;
    EnvBox envBox_;
    VmBox vmBox_;
    std::deque<std::u16string> strings_;
    std::deque<std::vector<std::uint8_t>> arrays_;
};

// The modified UTF-8 form of `chars`, as the VM encodes strings.
std::string modifiedUtf8(const std::u16string& chars);

}  // namespace halvix::testing
