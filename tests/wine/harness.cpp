// Plays the Java VM for a built Halvix.dll: loads it with LoadLibraryA, finds
// its functions by their exported names only, and checks what a VM sees at
// load and from the natives with no pad present. The load-failure cases run
// in child processes of this program so that their standard output, which is
// where the library prints its two messages, can be captured exactly.
//
// Usage: wine_harness DLL            runs every case, exit code 0 when all pass
//        wine_harness DLL CASE       one case (noenv, noclass, natives) in this
//                                    process; the parent runs these itself.
//        wine_harness DLL kernel SHARE   the cases against the pad emulator's
//        wine_harness DLL gadget SHARE   uhid pads or gadget pad, in the VM of
//                                    tests/kernel (see kernel_pads.h).
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kernel_pads.h"
#include "loaded_dll.h"

namespace {

using namespace halvix::harness;

// --- cases run in a child process -----------------------------------------

int runNoEnv(const Library& lib) {
    FakeJni vm;
    vm.failGetEnv = true;
    check(callOnLoad(lib, vm) == JNI_ERR, "JNI_OnLoad without an environment answers -1");
    check(vm.versionAsked == jniVersion12, "GetEnv is asked for version 0x00010002");
    check(vm.classesLookedUp.empty(), "no class is looked up without an environment");
    check(vm.registrations.empty(), "nothing is registered without an environment");
    return 0;
}

int runNoClass(const Library& lib) {
    FakeJni vm;
    vm.failFindClass = true;
    check(callOnLoad(lib, vm) == JNI_ERR, "JNI_OnLoad without the class answers -1");
    check(vm.classesLookedUp == std::vector<std::string>{packagedClass},
          "FindClass is asked once for the packaged class");
    check(vm.registrations.empty(), "nothing is registered without the class");
    return 0;
}

void checkRegistration(const Library& lib) {
    FakeJni vm;
    check(callOnLoad(lib, vm) == jniVersion12, "JNI_OnLoad answers 0x00010002");
    check(vm.versionAsked == jniVersion12, "GetEnv is asked for version 0x00010002");
    check(vm.classesLookedUp == std::vector<std::string>{packagedClass},
          "FindClass is asked once for the packaged class");
    check(vm.registrations.size() == 1, "RegisterNatives is called once");
    if (vm.registrations.size() != 1) return;
    const auto& r = vm.registrations[0];
    check(r.className == packagedClass, "the natives are registered on the packaged class");
    check(r.names.size() == 5, "five natives are registered");
    if (r.names.size() != 5) return;
    for (int i = 0; i < 5; ++i) {
        const ExportName& want = nativeNames[i];
        const std::string row = "registration row " + std::to_string(i + 1) + " (" + want.method + ")";
        check(r.names[i] == want.method, row + ": name " + r.names[i]);
        check(r.signatures[i] == want.signature, row + ": signature " + r.signatures[i]);
        check(r.functions[i] == reinterpret_cast<void*>(lib.natives[i]),
              row + ": the function is the export " + exportedName(want));
    }
}

int runNatives(const Library& lib) {
    checkRegistration(lib);

    FakeJni vm;
    JNIEnv* env = vm.env();
    const auto open = lib.native<OpenFn>(0);
    const auto close = lib.native<CloseFn>(1);
    const auto point = lib.native<PointFn>(2);
    const auto command = lib.native<CommandFn>(3);
    const auto serial = lib.native<SerialFn>(4);

    check(close(env, nullptr) == JNI_TRUE, "closeUsbPort before any open answers true");

    // No pad is present: both channels fail, and promptly (the generous
    // bound leaves room for a slow machine walking other vendors' devices).
    for (const char* name : {"HID1", "USB1"}) {
        const double start = nowMs();
        const jboolean opened = open(env, nullptr, vm.string(std::u16string(name, name + 4)));
        const double took = nowMs() - start;
        check(opened == JNI_FALSE, std::string("openUsbPort(") + name + ") without a pad fails");
        check(took < 5000, std::string("openUsbPort(") + name + ") fails promptly, took " +
                               std::to_string(took) + " ms");
        check(close(env, nullptr) == JNI_TRUE,
              std::string("closeUsbPort after the failed ") + name + " answers true");
    }

    // The legacy channel is selected now (USB1 was tried last): no serial
    // stream and no commands, answered without the empty-ring pause.
    {
        const int calls = 20;
        bool allNull = true;
        const double start = nowMs();
        for (int i = 0; i < calls; ++i) allNull = allNull && serial(env, nullptr) == nullptr;
        const double took = nowMs() - start;
        check(allNull, "getSerialData answers null while the legacy channel is selected");
        check(took < calls * 15.0, "getSerialData answers at once on the legacy channel: " +
                                       std::to_string(calls) + " calls took " + std::to_string(took) +
                                       " ms");
        check(command(env, nullptr, vm.array({1, 2, 3})) == JNI_FALSE,
              "putCmdString answers false while the legacy channel is selected");
    }

    // An empty point queue: 0 after the 10 ms pause.
    for (int i = 0; i < 5; ++i) {
        const double start = nowMs();
        const jlong value = point(env, nullptr);
        const double took = nowMs() - start;
        check(value == 0, "getPointData on an empty queue answers 0");
        check(took >= 9.0 && took < 1000, "getPointData pauses about 10 ms, took " +
                                              std::to_string(took) + " ms");
    }

    // The HID channel selected, with no pad: null after the 20 ms pause.
    check(open(env, nullptr, vm.string(u"HID1")) == JNI_FALSE, "openUsbPort(HID1) fails again");
    for (int i = 0; i < 5; ++i) {
        const double start = nowMs();
        const jbyteArray bytes = serial(env, nullptr);
        const double took = nowMs() - start;
        check(bytes == nullptr, "getSerialData on an empty ring in HID mode answers null");
        check(took >= 19.0 && took < 1000, "getSerialData pauses about 20 ms in HID mode, took " +
                                               std::to_string(took) + " ms");
    }
    check(command(env, nullptr, nullptr) == JNI_FALSE, "putCmdString(null) answers false in HID mode");

    // Names no pad answers to; none may crash or open anything.
    struct BadName {
        const char* label;
        jstring name;
    };
    const BadName badNames[] = {
        {"null", nullptr},
        {"5000 characters", vm.string(u"HID1" + std::u16string(4996, u'7'))},
        {"5000 characters, legacy", vm.string(u"USB1" + std::u16string(4996, u'7'))},
        {"Latin-1 letter", vm.string(u"H\u00cfD1")},
        {"Latin-1 suffix, legacy", vm.string(u"USB\u00e91")},
        {"CJK and a euro sign", vm.string(u"\u4e2d\u6587\u20ac1")},
        {"NUL character", vm.string(std::u16string(u"HID\0" u"1", 5))},
        {"number past 32 bits", vm.string(u"HID2147483648")},
        {"number past 32 bits, legacy", vm.string(u"USB4294967297")},
        {"negative, legacy", vm.string(u"USB-5")},
        {"zero", vm.string(u"HID0")},
    };
    for (const BadName& bad : badNames) {
        const double start = nowMs();
        const jboolean opened = open(env, nullptr, bad.name);
        const double took = nowMs() - start;
        check(opened == JNI_FALSE, std::string("openUsbPort(") + bad.label + ") answers false");
        check(took < 5000, std::string("openUsbPort(") + bad.label + ") answers promptly");
        check(close(env, nullptr) == JNI_TRUE, std::string("closeUsbPort after ") + bad.label);
    }
    check(!vm.exceptionPending, "no VM call was made out of range");
    return 0;
}

// --- the parent ------------------------------------------------------------

// Runs this program on one case and collects what it wrote on standard
// output; its standard error is ours.
bool runChild(const std::string& self, const char* dll, const char* which, std::string& out,
              DWORD& exitCode) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string commandLine = "\"" + self + "\" \"" + dll + "\" " + which;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessA(self.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return false;
    }
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
    CloseHandle(readEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

std::string shown(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void checkChild(const std::string& self, const char* dll, const char* which,
                const std::string& expectedOut) {
    std::string out;
    DWORD exitCode = 1;
    const bool ran = runChild(self, dll, which, out, exitCode);
    check(ran, std::string("case ") + which + " starts, error " + std::to_string(GetLastError()));
    if (!ran) return;
    check(exitCode == 0, std::string("case ") + which + " passes (exit code " +
                             std::to_string(exitCode) + ")");
    check(out == expectedOut, std::string("case ") + which + " writes " + shown(expectedOut) +
                                  " on standard output, wrote " + shown(out));
}

void checkVersionRecord(const char* dll) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(dll, &ignored);
    check(size > 0, "the DLL has a version record");
    if (size == 0) return;
    std::vector<char> record(size);
    check(GetFileVersionInfoA(dll, 0, size, record.data()) != 0, "GetFileVersionInfoA reads it");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    const BOOL found = VerQueryValueA(record.data(), "\\", reinterpret_cast<void**>(&fixed), &length);
    check(found && fixed != nullptr && length >= sizeof(VS_FIXEDFILEINFO),
          "VerQueryValueA finds the fixed part");
    if (!found || fixed == nullptr) return;
    char text[96];
    std::snprintf(text, sizeof text, "file version %lu.%lu.%lu.%lu, product version %lu.%lu.%lu.%lu",
                  fixed->dwFileVersionMS >> 16, fixed->dwFileVersionMS & 0xFFFF,
                  fixed->dwFileVersionLS >> 16, fixed->dwFileVersionLS & 0xFFFF,
                  fixed->dwProductVersionMS >> 16, fixed->dwProductVersionMS & 0xFFFF,
                  fixed->dwProductVersionLS >> 16, fixed->dwProductVersionLS & 0xFFFF);
    check(fixed->dwFileVersionMS == 0x00010006 && fixed->dwFileVersionLS == 0 &&
              fixed->dwProductVersionMS == 0x00010006 && fixed->dwProductVersionLS == 0,
          std::string("version 1.6.0.0 expected, the record has ") + text);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DLL [noenv|noclass|natives | kernel SHARE | gadget SHARE]\n", argv[0]);
        return 2;
    }
    const char* dll = argv[1];
    if (argc >= 4 && (std::strcmp(argv[2], "kernel") == 0 || std::strcmp(argv[2], "gadget") == 0)) {
        Library lib;
        if (load(dll, lib)) runKernelCases(lib, argv[3], std::strcmp(argv[2], "gadget") == 0);
        std::printf("harness %s %s cases on %s: %s (%d checks, %d failed)\n", sizeof(void*) == 4 ? "x86" : "x64",
                    argv[2], dll, failures == 0 ? "passed" : "FAILED", checks, failures);
        return failures == 0 ? 0 : 1;
    }
    if (argc >= 3) {
        // The library's text goes out unchanged: no CR is added before LF,
        // so what was written is what is compared.
        _setmode(_fileno(stdout), _O_BINARY);
        Library lib;
        if (load(dll, lib)) {
            const std::string which = argv[2];
            if (which == "noenv") {
                runNoEnv(lib);
            } else if (which == "noclass") {
                runNoClass(lib);
            } else if (which == "natives") {
                runNatives(lib);
            } else {
                check(false, "unknown case " + which);
            }
        }
        std::fprintf(stderr, "  case %s: %d checks, %d failed\n", argv[2], checks, failures);
        return failures == 0 ? 0 : 1;
    }

    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const char* word = sizeof(void*) == 4 ? "x86" : "x64";
    checkVersionRecord(dll);
    checkChild(self, dll, "noenv", "Unble to get env\n");
    checkChild(self, dll, "noclass", "Unable to locate class\n");
    checkChild(self, dll, "natives", "");  // the library writes nothing else
    std::printf("harness %s on %s: %s (%d checks here, %d failed; cases noenv, noclass, natives)\n",
                word, dll, failures == 0 ? "passed" : "FAILED", checks, failures);
    return failures == 0 ? 0 : 1;
}
