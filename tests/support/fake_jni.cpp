#include "support/fake_jni.h"

#include <cstring>
#include <deque>
#include <memory>

namespace halvix::testing {

struct FakeString {
    std::u16string chars;
};
struct FakeArray {
    std::vector<std::uint8_t> bytes;
};

struct EnvBox {
    JNIEnv_ env;
    FakeJni* owner;
};
struct VmBox {
    JavaVM_ vm;
    FakeJni* owner;
};

struct FakeJni::Impl {
    JNINativeInterface_ envTable{};
    JNIInvokeInterface_ vmTable{};
    EnvBox envBox{};
    VmBox vmBox{};
    std::deque<FakeString> strings;
    std::deque<FakeArray> arrays;
};

std::string modifiedUtf8(const std::u16string& chars) {
    std::string out;
    for (char16_t c : chars) {
        if (c != 0 && c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

namespace {

FakeJni& ownerOf(JNIEnv* env) { return *reinterpret_cast<EnvBox*>(env)->owner; }
FakeString& str(jstring s) { return *reinterpret_cast<FakeString*>(s); }
FakeArray& arr(jarray a) { return *reinterpret_cast<FakeArray*>(a); }

jint JNICALL getEnv(JavaVM* vm, void** penv, jint version) {
    FakeJni& self = *reinterpret_cast<VmBox*>(vm)->owner;
    self.versionAsked = version;
    if (self.failGetEnv) {
        *penv = nullptr;
        return JNI_EVERSION;
    }
    *penv = self.env();
    return JNI_OK;
}

jclass JNICALL findClass(JNIEnv* env, const char* name) {
    FakeJni& self = ownerOf(env);
    self.classesLookedUp.push_back(name);
    if (self.failFindClass) {
        self.exceptionPending = true;  // NoClassDefFoundError
        return nullptr;
    }
    return reinterpret_cast<jclass>(self.array({}));  // any distinct object
}

jint JNICALL registerNatives(JNIEnv* env, jclass, const JNINativeMethod* methods, jint count) {
    FakeJni& self = ownerOf(env);
    Registration r;
    r.className = self.classesLookedUp.empty() ? "" : self.classesLookedUp.back();
    for (jint i = 0; i < count; ++i) {
        r.names.push_back(methods[i].name);
        r.signatures.push_back(methods[i].signature);
        r.functions.push_back(methods[i].fnPtr);
    }
    self.registrations.push_back(r);
    return JNI_OK;
}

jsize JNICALL getStringLength(JNIEnv*, jstring s) { return static_cast<jsize>(str(s).chars.size()); }

jsize JNICALL getStringUTFLength(JNIEnv*, jstring s) {
    return static_cast<jsize>(modifiedUtf8(str(s).chars).size());
}

void JNICALL getStringUTFRegion(JNIEnv* env, jstring s, jsize start, jsize len, char* buf) {
    const std::u16string& chars = str(s).chars;
    if (start < 0 || len < 0 || static_cast<std::size_t>(start) + len > chars.size()) {
        ownerOf(env).exceptionPending = true;  // StringIndexOutOfBoundsException
        return;
    }
    const std::string utf = modifiedUtf8(chars.substr(start, len));
    std::memcpy(buf, utf.data(), utf.size());
    buf[utf.size()] = '\0';  // the VM terminates the copy, as HotSpot does
}

jsize JNICALL getArrayLength(JNIEnv*, jarray a) { return static_cast<jsize>(arr(a).bytes.size()); }

void JNICALL getByteArrayRegion(JNIEnv* env, jbyteArray a, jsize start, jsize len, jbyte* buf) {
    const auto& bytes = arr(a).bytes;
    if (start < 0 || len < 0 || static_cast<std::size_t>(start) + len > bytes.size()) {
        ownerOf(env).exceptionPending = true;  // ArrayIndexOutOfBoundsException
        return;
    }
    if (len > 0) std::memcpy(buf, bytes.data() + start, static_cast<std::size_t>(len));
}

jbyteArray JNICALL newByteArray(JNIEnv* env, jsize len) {
    FakeJni& self = ownerOf(env);
    if (self.failNewByteArray || len < 0) {
        self.exceptionPending = true;  // OutOfMemoryError
        return nullptr;
    }
    ++self.arraysMade;
    return self.array(std::vector<std::uint8_t>(static_cast<std::size_t>(len)));
}

void JNICALL setByteArrayRegion(JNIEnv* env, jbyteArray a, jsize start, jsize len,
                                const jbyte* buf) {
    auto& bytes = arr(a).bytes;
    if (start < 0 || len < 0 || static_cast<std::size_t>(start) + len > bytes.size()) {
        ownerOf(env).exceptionPending = true;
        return;
    }
    if (len > 0) std::memcpy(bytes.data() + start, buf, static_cast<std::size_t>(len));
}

}  // namespace

FakeJni::FakeJni() : impl_(new Impl) {
    impl_->envTable.FindClass = findClass;
    impl_->envTable.RegisterNatives = registerNatives;
    impl_->envTable.GetStringLength = getStringLength;
    impl_->envTable.GetStringUTFLength = getStringUTFLength;
    impl_->envTable.GetStringUTFRegion = getStringUTFRegion;
    impl_->envTable.GetArrayLength = getArrayLength;
    impl_->envTable.GetByteArrayRegion = getByteArrayRegion;
    impl_->envTable.NewByteArray = newByteArray;
    impl_->envTable.SetByteArrayRegion = setByteArrayRegion;
    impl_->vmTable.GetEnv = getEnv;
    impl_->envBox.env.functions = &impl_->envTable;
    impl_->envBox.owner = this;
    impl_->vmBox.vm.functions = &impl_->vmTable;
    impl_->vmBox.owner = this;
}

FakeJni::~FakeJni() { delete impl_; }

JNIEnv* FakeJni::env() { return &impl_->envBox.env; }
JavaVM* FakeJni::vm() { return &impl_->vmBox.vm; }

jstring FakeJni::string(const std::u16string& chars) {
    impl_->strings.push_back({chars});
    return reinterpret_cast<jstring>(&impl_->strings.back());
}

jstring FakeJni::string(const std::string& latin1) {
    std::u16string chars;
    for (unsigned char c : latin1) chars += static_cast<char16_t>(c);
    return string(chars);
}

jbyteArray FakeJni::array(const std::vector<std::uint8_t>& bytes) {
    impl_->arrays.push_back({bytes});
    return reinterpret_cast<jbyteArray>(&impl_->arrays.back());
}

std::vector<std::uint8_t> FakeJni::bytes(jbyteArray a) const { return arr(a).bytes; }

}  // namespace halvix::testing
