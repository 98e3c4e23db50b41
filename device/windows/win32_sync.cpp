// The named lock and the Shift key on Windows.
#include <windows.h>

#include <string>

#include "device/windows/win32_platform.h"

namespace wxr {

namespace {

// A kernel mutex: shared by name with other processes, and released by the
// system when its owner dies (the next wait then reports it abandoned, which
// still grants ownership).
class Win32NamedMutex final : public NamedMutex {
public:
    explicit Win32NamedMutex(HANDLE handle) : handle_(handle) {}
    ~Win32NamedMutex() override { CloseHandle(handle_); }
    Win32NamedMutex(const Win32NamedMutex&) = delete;
    Win32NamedMutex& operator=(const Win32NamedMutex&) = delete;

    bool lock() override {
        const DWORD result = WaitForSingleObject(handle_, INFINITE);
        return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    }
    void unlock() override { ReleaseMutex(handle_); }

private:
    HANDLE handle_;
};

}  // namespace

std::unique_ptr<NamedMutex> Win32NamedMutexFactory::create(const std::u16string& name) {
    const std::wstring wide(name.begin(), name.end());
    const HANDLE handle = CreateMutexW(nullptr, FALSE, wide.c_str());
    if (handle == nullptr) return nullptr;
    return std::make_unique<Win32NamedMutex>(handle);
}

bool Win32ShiftKeyState::pressed_since_last_query() {
    // Bit 0: pressed since the previous query; the held-down bit is not wanted.
    return (GetAsyncKeyState(VK_SHIFT) & 1) != 0;
}

}  // namespace wxr
