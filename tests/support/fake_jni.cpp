#include "support/fake_jni.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace halvix::testing {

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

// A trap never returns, so it needs no particular signature: whatever the
// slot's arguments, the process ends before the callee would clean them up.
template <const char* Table, std::size_t Slot>
void JNICALL trap() {
    std::fprintf(stderr, "FAIL: the library called %s slot %u, which the VM does not offer\n",
                 Table, static_cast<unsigned>(Slot));
    std::fflush(stderr);
    std::_Exit(70);
}

constexpr char envTableName[] = "JNIEnv function table";
constexpr char vmTableName[] = "JavaVM invocation table";

using TrapFn = void(JNICALL*)();

template <const char* Table, std::size_t... Slots>
std::array<TrapFn, sizeof...(Slots)> trapTable(std::index_sequence<Slots...>) {
    return {{&trap<Table, Slots>...}};
}

// Fills every slot of a table of function pointers with its own trap.
template <const char* Table, typename T>
void fillWithTraps(T& table) {
    static_assert(sizeof(T) % sizeof(TrapFn) == 0, "a table of pointers");
    const auto traps = trapTable<Table>(std::make_index_sequence<sizeof(T) / sizeof(TrapFn)>());
    std::memcpy(&table, traps.data(), sizeof(T));
}

FakeJni& ownerOf(JNIEnv* env) { return *reinterpret_cast<FakeJni::EnvBox*>(env)->owner; }
std::u16string& str(jstring s) { return *reinterpret_cast<std::u16string*>(s); }
std::vector<std::uint8_t>& arr(jarray a) { return *reinterpret_cast<std::vector<std::uint8_t>*>(a); }

bool outOfRange(std::size_t size, jsize start, jsize len) {
    return start < 0 || len < 0 || static_cast<std::size_t>(start) + static_cast<std::size_t>(len) > size;
}

jint JNICALL getEnv(JavaVM* vm, void** penv, jint version) {
    FakeJni& self = *reinterpret_cast<FakeJni::VmBox*>(vm)->owner;
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

jsize JNICALL getStringLength(JNIEnv*, jstring s) { return static_cast<jsize>(str(s).size()); }

jsize JNICALL getStringUTFLength(JNIEnv*, jstring s) {
    return static_cast<jsize>(modifiedUtf8(str(s)).size());
}

void JNICALL getStringUTFRegion(JNIEnv* env, jstring s, jsize start, jsize len, char* buf) {
    const std::u16string& chars = str(s);
    if (outOfRange(chars.size(), start, len)) {
        ownerOf(env).exceptionPending = true;  // StringIndexOutOfBoundsException
        return;
    }
    const std::string utf = modifiedUtf8(chars.substr(static_cast<std::size_t>(start),
                                                      static_cast<std::size_t>(len)));
    std::memcpy(buf, utf.data(), utf.size());
    buf[utf.size()] = '\0';  // the VM terminates the copy, as HotSpot does
}

jsize JNICALL getArrayLength(JNIEnv*, jarray a) { return static_cast<jsize>(arr(a).size()); }

void JNICALL getByteArrayRegion(JNIEnv* env, jbyteArray a, jsize start, jsize len, jbyte* buf) {
    const auto& bytes = arr(a);
    if (outOfRange(bytes.size(), start, len)) {
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
    auto& bytes = arr(a);
    if (outOfRange(bytes.size(), start, len)) {
        ownerOf(env).exceptionPending = true;
        return;
    }
    if (len > 0) std::memcpy(bytes.data() + start, buf, static_cast<std::size_t>(len));
}

}  // namespace

FakeJni::FakeJni() {
    fillWithTraps<envTableName>(envTable_);
    fillWithTraps<vmTableName>(vmTable_);
    envTable_.FindClass = findClass;
    envTable_.RegisterNatives = registerNatives;
    envTable_.GetStringLength = getStringLength;
    envTable_.GetStringUTFLength = getStringUTFLength;
    envTable_.GetStringUTFRegion = getStringUTFRegion;
    envTable_.GetArrayLength = getArrayLength;
    envTable_.GetByteArrayRegion = getByteArrayRegion;
    envTable_.NewByteArray = newByteArray;
    envTable_.SetByteArrayRegion = setByteArrayRegion;
    vmTable_.GetEnv = getEnv;
    envBox_.env.functions = &envTable_;
    envBox_.owner = this;
    vmBox_.vm.functions = &vmTable_;
    vmBox_.owner = this;
}

jstring FakeJni::string(const std::u16string& chars) {
    strings_.push_back(chars);
    return reinterpret_cast<jstring>(&strings_.back());
}

jstring FakeJni::string(const std::string& latin1) {
    std::u16string chars;
    for (unsigned char ch : latin1) chars += static_cast<char16_t>(ch);
    return string(chars);
}

jbyteArray FakeJni::array(const std::vector<std::uint8_t>& bytes) {
    arrays_.push_back(bytes);
    return reinterpret_cast<jbyteArray>(&arrays_.back());
}

const std::vector<std::uint8_t>& FakeJni::bytes(jbyteArray a) const { return arr(a); }

}  // namespace halvix::testing
