#include "network/CoAddressChangeWatch.h"

#include <winsock2.h>
#include <iphlpapi.h>
#include <windows.h>

#include "tcp/CoOsError.h"

namespace Vantrel {

// One outstanding address-change request at a time: its OVERLAPPED event is set when any IPv4
// or IPv6 address of the host changes; wake() sets the other event.
struct CoAddressChangeWatch::Handles {
    HANDLE wakeEvent = nullptr;
    HANDLE request = nullptr;
    OVERLAPPED change{};
    bool pending = false;
};

namespace {

void closeIfOpen(HANDLE& handle) {
    if (handle != nullptr) CloseHandle(handle);
    handle = nullptr;
}

std::string lastErrorText() { return coOsErrorText(static_cast<int>(GetLastError())); }

}  // namespace

bool CoAddressChangeWatch::containsInterfaceChange(const char*, std::size_t) { return false; }

CoAddressChangeWatch::CoAddressChangeWatch() : handles_(new Handles) {}

CoAddressChangeWatch::~CoAddressChangeWatch() {
    if (handles_->pending) CancelIPChangeNotify(&handles_->change);
    closeIfOpen(handles_->change.hEvent);
    closeIfOpen(handles_->wakeEvent);
}

bool CoAddressChangeWatch::open(std::string& error) {
    // Manual reset: once woken, every later wait answers WOKEN.
    handles_->wakeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (handles_->wakeEvent != nullptr)
        handles_->change.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (handles_->change.hEvent != nullptr) return true;
    error = lastErrorText();
    closeIfOpen(handles_->wakeEvent);
    return false;
}

CoAddressChangeWatch::Result CoAddressChangeWatch::wait(std::string& error) {
    if (!handles_->pending) {
        const DWORD result = NotifyAddrChange(&handles_->request, &handles_->change);
        if (result != ERROR_IO_PENDING && result != NO_ERROR) {
            error = coOsErrorText(static_cast<int>(result));
            return FAILED;
        }
        handles_->pending = true;
    }
    const HANDLE events[2] = {handles_->wakeEvent, handles_->change.hEvent};
    const DWORD woke = WaitForMultipleObjects(2, events, FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0) return WOKEN;
    if (woke == WAIT_OBJECT_0 + 1) {
        handles_->pending = false;
        return CHANGED;
    }
    error = lastErrorText();
    return FAILED;
}

void CoAddressChangeWatch::wake() {
    if (handles_->wakeEvent != nullptr) SetEvent(handles_->wakeEvent);
}

}  // namespace Vantrel
