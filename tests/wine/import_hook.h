// Watching the library's system calls from a test: an ImportHook swaps one
// entry of this program's own import table for a replacement, and puts the
// original back when it goes away. The library's objects are linked into the
// test program, so their calls go through these entries too. The tests'
// replacements record each call and pass it on unchanged.
#pragma once

#include <windows.h>

#include <vector>

namespace halvix::wine {

class ImportHook {
public:
    // Replaces `function` of `dll` (as named in the import table) with
    // `replacement`; installed() says whether any entry was found.
    ImportHook(const char* dll, const char* function, void* replacement);
    ~ImportHook();
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    bool installed() const { return !entries_.empty(); }
    // The function the entries held before, for the replacement to call.
    void* original() const { return original_; }

private:
    std::vector<void**> entries_;
    void* original_ = nullptr;
};

// One recorded system call: who made it, on what, and how it came out.
struct CallRecord {
    enum Kind {
        createFile,
        createEvent,
        readFile,
        cancelIo,
        getOverlappedResult,
        closeHandle,
        getClassDevs,
        destroyDeviceInfoList,
    };
    Kind kind;
    DWORD thread;
    HANDLE handle;            // the handle acted on, or the one made
    const void* overlapped;   // the OVERLAPPED record, where there is one
    DWORD flags;              // CreateFileA's attributes; GetOverlappedResult's bWait
    BOOL result;
    DWORD error;              // GetLastError after a failed call
    ULONG_PTR statusAfter;    // the OVERLAPPED record's Internal after the call
};

// Records the calls of the kinds above, from every thread, while it lives.
// One at a time. A function the program does not import is called by no one,
// so it has no entry to replace and no calls to record.
class CallLog {
public:
    CallLog();
    ~CallLog();
    CallLog(const CallLog&) = delete;
    CallLog& operator=(const CallLog&) = delete;

    // The import table was found and the entries every test program has
    // (the test code itself opens and closes handles) were replaced.
    bool installed() const;
    // The calls made so far on `thread`, in order.
    std::vector<CallRecord> callsOn(DWORD thread) const;
    std::vector<CallRecord> all() const;
};

// While it lives, GetProcAddress answers null with ERROR_PROC_NOT_FOUND for
// CancelSynchronousIo, as Windows XP's kernel32 does; every other lookup goes
// through. One at a time.
class HiddenCancelSynchronousIo {
public:
    HiddenCancelSynchronousIo();
    bool installed() const { return hook_.installed(); }

private:
    ImportHook hook_;
};

}  // namespace halvix::wine
