// Owns one kernel handle (device, thread or event) and closes it when it goes
// out of scope. Null and INVALID_HANDLE_VALUE both mean "nothing held".
#pragma once

#include "platform/platform.h"

namespace halvix {

class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE h = nullptr) : h_(h) {}
    ~ScopedHandle() {
        if (valid()) CloseHandle(h_);
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE get() const { return h_; }
    bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }

    // Gives the handle up without closing it.
    HANDLE release() {
        HANDLE h = h_;
        h_ = nullptr;
        return h;
    }

private:
    HANDLE h_;
};

}  // namespace halvix
