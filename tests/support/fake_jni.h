// A small stand-in for the Java VM: a JavaVM and a JNIEnv whose tables hold
// only the calls the library makes, over plain string and byte-array objects.
// Switches make GetEnv, FindClass or NewByteArray fail as a VM can.
#pragma once

#include <jni.h>

#include <cstdint>
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
    ~FakeJni();
    FakeJni(const FakeJni&) = delete;
    FakeJni& operator=(const FakeJni&) = delete;

    JNIEnv* env();
    JavaVM* vm();

    // Java strings, from UTF-16 code units or from ASCII/Latin-1 text.
    jstring string(const std::u16string& chars);
    jstring string(const std::string& latin1);
    jbyteArray array(const std::vector<std::uint8_t>& bytes);
    std::vector<std::uint8_t> bytes(jbyteArray array) const;

    bool failGetEnv = false;
    bool failFindClass = false;
    bool failNewByteArray = false;

    jint versionAsked = 0;
    std::vector<std::string> classesLookedUp;
    std::vector<Registration> registrations;
    int arraysMade = 0;
    bool exceptionPending = false;

    struct Impl;

private:
    Impl* impl_;
};

// The modified UTF-8 form of `chars`, as the VM encodes strings.
std::string modifiedUtf8(const std::u16string& chars);

}  // namespace halvix::testing
