// Files on virtual devices: opening, synchronous and overlapped reads,
// writes, cancellation, and the HID attributes call.
#include "devices.h"

#include <algorithm>
#include <cstring>

#include "signature_figure.h"

namespace vbus {

namespace {

std::size_t pendingCloses = 0;  // guarded by the kernel lock

constexpr auto recordPeriod = std::chrono::milliseconds(5);
constexpr auto echoPaceLimit = std::chrono::milliseconds(100);

BOOL fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

std::shared_ptr<FileObject> fileOf(Kernel& k, HANDLE h) {
    return std::static_pointer_cast<FileObject>(lookup(k, h, Object::Kind::File));
}

void complete(Kernel& k, FileObject& file, DWORD status, const Report* report) {
    PendingRead& r = file.read;
    DWORD n = 0;
    if (report != nullptr) {
        n = std::min<DWORD>(r.length, static_cast<DWORD>(report->size()));
        std::memcpy(r.buffer, report->data(), n);
    }
    r.overlapped->Internal = status;
    r.overlapped->InternalHigh = n;
    static_cast<EventObject&>(*r.event).signalled = true;
    file.pending = false;
    r = PendingRead{};
    k.changed.notify_all();
}

// The next legacy record, or false while none is due yet (`due` then says when).
enum class Step { Data, Failed, Wait };

Step nextLegacyRead(Device& d, std::vector<std::uint8_t>& out, DWORD& error,
                    std::chrono::steady_clock::time_point& due) {
    auto now = std::chrono::steady_clock::now();
    if (d.streaming) {
        if (now < d.nextRecordDue) {
            due = d.nextRecordDue;
            return Step::Wait;
        }
        const auto& records = signatureRecords();
        std::uint32_t value = static_cast<std::uint32_t>(records[d.streamIndex % records.size()]);
        ++d.streamIndex;
        out = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
               static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
        d.nextRecordDue += recordPeriod;
        // A reader that fell far behind catches up at once rather than in a burst.
        if (d.nextRecordDue + std::chrono::milliseconds(50) < now) d.nextRecordDue = now;
        return Step::Data;
    }
    if (d.script.empty()) {
        due = std::chrono::steady_clock::time_point::max();
        return Step::Wait;
    }
    LegacyStep& step = d.script.front();
    if (step.delayMs != 0) {
        if (d.nextRecordDue == std::chrono::steady_clock::time_point{}) {
            d.nextRecordDue = now + std::chrono::milliseconds(step.delayMs);
        }
        if (now < d.nextRecordDue) {
            due = d.nextRecordDue;
            return Step::Wait;
        }
        d.nextRecordDue = {};
    }
    error = step.error;
    out = step.bytes;
    d.script.pop_front();
    return error != 0 ? Step::Failed : Step::Data;
}

BOOL readSynchronous(Kernel& k, std::unique_lock<std::mutex>& hold, FileObject& file,
                     std::uint8_t* buffer, DWORD length, LPDWORD read) {
    Device& d = *file.device;
    SyncRead op;
    ThreadObject* self = currentThread();
    if (self != nullptr) self->blockedIn = &op;
    struct Unregister {
        ThreadObject* self;
        ~Unregister() {
            if (self != nullptr) self->blockedIn = nullptr;
        }
    } unregister{self};

    for (;;) {
        // A driver that holds its reads answers nothing, not even a cancel,
        // until it lets go; a read cancelled meanwhile then ends as cancelled.
        if (d.readsHeld && d.plugged) {
            k.changed.wait(hold);
            continue;
        }
        if (op.cancelled) return fail(ERROR_OPERATION_ABORTED);
        if (!d.plugged) return fail(ERROR_DEVICE_NOT_CONNECTED);
        if (d.readError != 0) return fail(d.readError);
        auto due = std::chrono::steady_clock::time_point::max();
        if (d.kind == Device::Kind::Hid) {
            std::deque<Report>& input = file.input;
            if (!input.empty() && length < input.front().size()) {
                return fail(ERROR_INVALID_USER_BUFFER);
            }
            if (!input.empty()) {
                std::memcpy(buffer, input.front().data(), input.front().size());
                if (read) *read = static_cast<DWORD>(input.front().size());
                input.pop_front();
                k.changed.notify_all();  // room for a held echo
                return TRUE;
            }
        } else {
            std::vector<std::uint8_t> bytes;
            DWORD error = 0;
            Step step = nextLegacyRead(d, bytes, error, due);
            if (step == Step::Failed) return fail(error);
            if (step == Step::Data) {
                DWORD n = std::min<DWORD>(length, static_cast<DWORD>(bytes.size()));
                // An empty step has no bytes, and memcpy must not see its null data.
                if (n != 0) std::memcpy(buffer, bytes.data(), n);
                if (read) *read = n;
                return TRUE;
            }
        }
        if (due == std::chrono::steady_clock::time_point::max()) {
            k.changed.wait(hold);
        } else {
            k.changed.wait_until(hold, due);
        }
    }
}

}  // namespace

void deliver(Kernel& k, Device& device, const Report& report) {
    for (FileObject* f : device.files) {
        if (f->pending) {
            complete(k, *f, ERROR_SUCCESS, &report);
            continue;
        }
        f->input.push_back(report);
        while (f->input.size() > f->inputBuffers) {
            f->input.pop_front();
            if (f->hasRead) ++device.droppedInputs;
        }
    }
    k.changed.notify_all();
}

void closeFile(Kernel& k, Object& object) {
    auto& file = static_cast<FileObject&>(object);
    if (file.pending) {
        ++pendingCloses;
        complete(k, file, ERROR_OPERATION_ABORTED, nullptr);
    }
    auto& files = file.device->files;
    files.erase(std::remove(files.begin(), files.end(), &file), files.end());
}

std::size_t closesWithReadPending() {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    return pendingCloses;
}

}  // namespace vbus

using namespace vbus;

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flags, HANDLE) {
    if (path == nullptr || disposition != OPEN_EXISTING || access == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    std::shared_ptr<Device> device = findDevice(path);
    if (!device) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (device->openError != 0) {
        SetLastError(device->openError);
        return INVALID_HANDLE_VALUE;
    }
    auto file = std::make_shared<FileObject>();
    file->device = device;
    file->overlapped = (flags & FILE_FLAG_OVERLAPPED) != 0;
    if (device->streaming && device->files.empty()) {
        device->streamIndex = 0;
        device->nextRecordDue = std::chrono::steady_clock::now() + recordPeriod;
    }
    device->files.push_back(file.get());
    return addHandle(k, file);
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
    Kernel& k = kernel();
    std::unique_lock<std::mutex> hold(k.lock);
    if (read) *read = 0;
    auto file = fileOf(k, handle);
    if (!file) return fail(ERROR_INVALID_HANDLE);
    if (buffer == nullptr) return fail(ERROR_INVALID_USER_BUFFER);
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    ++file->device->reads;
    file->hasRead = true;
    if (!file->overlapped) return readSynchronous(k, hold, *file, bytes, toRead, read);

    Device& d = *file->device;
    if (overlapped == nullptr || d.kind != Device::Kind::Hid) return fail(ERROR_INVALID_PARAMETER);
    if (file->pending) return fail(ERROR_INVALID_PARAMETER);  // one read at a time here
    auto event = lookup(k, overlapped->hEvent, Object::Kind::Event);
    if (!event) return fail(ERROR_INVALID_PARAMETER);
    static_cast<EventObject&>(*event).signalled = false;
    if (toRead < Report{}.size()) return fail(ERROR_INVALID_USER_BUFFER);

    DWORD error = !d.plugged ? ERROR_DEVICE_NOT_CONNECTED : d.readError;
    if (error != 0) {
        overlapped->Internal = error;
        overlapped->InternalHigh = 0;
        return fail(error);
    }
    file->pending = true;
    file->read = PendingRead{overlapped, std::this_thread::get_id(), bytes, toRead, event};
    overlapped->Internal = statusPending;
    if (!file->input.empty()) {
        Report report = file->input.front();
        file->input.pop_front();
        complete(k, *file, ERROR_SUCCESS, &report);
        if (read) *read = static_cast<DWORD>(report.size());
        return TRUE;
    }
    return fail(ERROR_IO_PENDING);
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               LPOVERLAPPED overlapped) {
    Kernel& k = kernel();
    std::unique_lock<std::mutex> hold(k.lock);
    if (written) *written = 0;
    auto file = fileOf(k, handle);
    if (!file) return fail(ERROR_INVALID_HANDLE);
    Device& d = *file->device;
    if (d.kind != Device::Kind::Hid) return fail(ERROR_NOT_SUPPORTED);
    if (overlapped != nullptr) return fail(ERROR_NOT_SUPPORTED);
    Report report{};
    if (buffer == nullptr || toWrite != report.size()) return fail(ERROR_INVALID_PARAMETER);
    if (d.hid.behaviour == HidBehaviour::Echo) {
        // A real pad takes output reports at the USB's pace and answers at
        // that pace, which a reader keeps up with; the bus writes at once, so
        // it holds a write while the answer would overflow a reader's buffer.
        // Only briefly: a reader that stalls loses answers, as it would on a
        // real stack.
        auto readerFull = [&d] {
            return std::any_of(d.files.begin(), d.files.end(), [](const FileObject* f) {
                return f->hasRead && f->input.size() >= f->inputBuffers;
            });
        };
        k.changed.wait_for(hold, echoPaceLimit, [&] { return !d.plugged || !readerFull(); });
    }
    if (!d.plugged) return fail(ERROR_DEVICE_NOT_CONNECTED);
    std::memcpy(report.data(), buffer, report.size());
    d.output.push_back(report);
    if (d.hid.behaviour == HidBehaviour::Echo) {
        Report echo = report;
        echo[0] = 0;
        deliver(k, d, echo);
    }
    if (written) *written = static_cast<DWORD>(report.size());
    return TRUE;
}

BOOL GetOverlappedResult(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) {
    Kernel& k = kernel();
    std::unique_lock<std::mutex> hold(k.lock);
    if (!fileOf(k, handle) || overlapped == nullptr) return fail(ERROR_INVALID_HANDLE);
    if (overlapped->Internal == statusPending) {
        if (!wait) return fail(ERROR_IO_INCOMPLETE);
        k.changed.wait(hold, [&] { return overlapped->Internal != statusPending; });
    }
    if (transferred) *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    if (overlapped->Internal != ERROR_SUCCESS) return fail(static_cast<DWORD>(overlapped->Internal));
    return TRUE;
}

BOOL CancelIo(HANDLE handle) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    auto file = fileOf(k, handle);
    if (!file) return fail(ERROR_INVALID_HANDLE);
    if (file->pending && file->read.issuer == std::this_thread::get_id()) {
        complete(k, *file, ERROR_OPERATION_ABORTED, nullptr);
    }
    return TRUE;
}

BOOL vbus::cancelSynchronousIo(HANDLE thread) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    auto t = lookup(k, thread, Object::Kind::Thread);
    if (!t) return fail(ERROR_INVALID_HANDLE);
    auto& self = static_cast<ThreadObject&>(*t);
    if (self.blockedIn == nullptr) return fail(ERROR_NOT_FOUND);
    self.blockedIn->cancelled = true;
    k.changed.notify_all();
    return TRUE;
}

BOOLEAN HidD_SetNumInputBuffers(HANDLE handle, ULONG buffers) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    auto file = fileOf(k, handle);
    if (!file) return fail(ERROR_INVALID_HANDLE);
    Device& d = *file->device;
    if (d.kind != Device::Kind::Hid) return fail(ERROR_NOT_SUPPORTED);
    if (!d.plugged) return fail(ERROR_DEVICE_NOT_CONNECTED);
    if (buffers < minInputBuffers || buffers > maxInputBuffers) return fail(ERROR_INVALID_PARAMETER);
    file->inputBuffers = buffers;
    while (file->input.size() > file->inputBuffers) {
        file->input.pop_front();
        if (file->hasRead) ++d.droppedInputs;
    }
    return TRUE;
}

BOOL HidD_GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    auto file = fileOf(k, handle);
    if (!file || attributes == nullptr) return fail(ERROR_INVALID_HANDLE);
    Device& d = *file->device;
    if (d.kind != Device::Kind::Hid) return fail(ERROR_NOT_SUPPORTED);
    if (!d.plugged) return fail(ERROR_DEVICE_NOT_CONNECTED);
    if (d.hid.attributesFail) return fail(ERROR_GEN_FAILURE);
    attributes->Size = sizeof(HIDD_ATTRIBUTES);
    attributes->VendorID = d.hid.vendorId;
    attributes->ProductID = d.hid.productId;
    attributes->VersionNumber = 0x0100;
    return TRUE;
}
