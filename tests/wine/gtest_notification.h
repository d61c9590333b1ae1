// GoogleTest's Notification (it makes a new thread wait until it is told to
// start) over a Win32 event. GoogleTest's own is built on std::mutex, which
// the win32 thread model of the MinGW compilers lacks; this header is
// included ahead of every GoogleTest source, with GTEST_HAS_NOTIFICATION_
// telling GoogleTest that it is there.
#pragma once

#include <windows.h>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() {
        if (event_ != nullptr) CloseHandle(event_);
    }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace internal
}  // namespace testing
