// Win32Hid's claims: a kernel mutex named after the unit, in the Global
// namespace so that a service (session 0) and a desktop user share it, with
// a security descriptor that lets every user take it. The system releases a
// mutex whose owner dies (the next taker sees it abandoned, and owns it).
#include <windows.h>
// windows.h first: sddl.h relies on its types.
#include <sddl.h>

#include <future>
#include <thread>

#include "device/windows/win32_devnode.h"
#include "device/windows/win32_platform.h"

namespace wxr {

namespace {

// SYSTEM and administrators may do anything; everyone may wait on the mutex
// and release it (SYNCHRONIZE | MUTEX_MODIFY_STATE).
constexpr wchar_t kUnitMutexSddl[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;WD)";
constexpr wchar_t kUnitMutexPrefix[] = L"Global\\wxr7305-unit-";
// Kernel object names stop at MAX_PATH characters; instance ids are far shorter.
constexpr std::size_t kMaxNameChars = 200;

// One mutex per unit: named after the unit (all its interfaces share it),
// else after the path itself.
std::wstring unit_mutex_name(const DevicePath& path) {
    std::wstring id = unit_instance_id(path);
    if (id.empty()) id.assign(path.begin(), path.end());
    // A backslash would name a namespace.
    for (wchar_t& c : id) {
        if (c == L'\\') c = L'#';
    }
    return kUnitMutexPrefix + id.substr(0, kMaxNameChars);
}

// nullptr when no mutex can be had.
HANDLE open_unit_mutex(const std::wstring& name) {
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
    ConvertStringSecurityDescriptorToSecurityDescriptorW(kUnitMutexSddl, SDDL_REVISION_1,
                                                         &security.lpSecurityDescriptor, nullptr);
    HANDLE mutex = CreateMutexW(security.lpSecurityDescriptor ? &security : nullptr, FALSE, name.c_str());
    if (security.lpSecurityDescriptor) LocalFree(security.lpSecurityDescriptor);
    // One made by a program with a narrower descriptor: open it for what a claim needs.
    if (!mutex && GetLastError() == ERROR_ACCESS_DENIED) {
        mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str());
    }
    return mutex;
}

enum class Taken { Owned, HeldElsewhere, NoLock };

}  // namespace

// A mutex belongs to the thread that took it, while a run's claim may end
// on another thread than it began (the dialog's worker): the holder takes it
// on a thread of its own, which gives it back when the holder ends.
class Win32Hid::UnitHolder {
public:
    static std::pair<Taken, std::unique_ptr<UnitHolder>> take(const std::wstring& name) {
        std::unique_ptr<UnitHolder> holder(new UnitHolder);
        std::promise<Taken> promise;
        std::future<Taken> taken = promise.get_future();
        HANDLE release = holder->release_;
        holder->thread_ = std::thread([name, release, promise = std::move(promise)]() mutable {
            HANDLE mutex = open_unit_mutex(name);
            const DWORD waited = mutex ? WaitForSingleObject(mutex, 0) : WAIT_FAILED;
            const bool owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
            promise.set_value(!mutex ? Taken::NoLock : owned ? Taken::Owned : Taken::HeldElsewhere);
            // Until the holder ends, which always sets the event.
            if (owned) {
                WaitForSingleObject(release, INFINITE);
                ReleaseMutex(mutex);
            }
            if (mutex) CloseHandle(mutex);
        });
        const Taken result = taken.get();
        if (result != Taken::Owned) holder.reset();
        return {result, std::move(holder)};
    }

    ~UnitHolder() {
        SetEvent(release_);
        if (thread_.joinable()) thread_.join();
        CloseHandle(release_);
    }
    UnitHolder(const UnitHolder&) = delete;
    UnitHolder& operator=(const UnitHolder&) = delete;

private:
    UnitHolder() : release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

    HANDLE release_;
    std::thread thread_;
};

Win32Hid::Win32Hid() = default;
Win32Hid::~Win32Hid() = default;

std::wstring Win32Hid::mutex_name(const DevicePath& path) {
    {
        std::lock_guard lock(mutex_);
        if (auto known = mutex_names_.find(path); known != mutex_names_.end()) return known->second;
    }
    std::wstring name = unit_mutex_name(path);
    std::lock_guard lock(mutex_);
    return mutex_names_.try_emplace(path, std::move(name)).first->second;
}

bool Win32Hid::claim(const DevicePath& path) {
    {
        std::lock_guard lock(mutex_);
        if (claims_.contains(path)) return false;  // one run per unit in this process too
    }
    auto [taken, holder] = UnitHolder::take(mutex_name(path));
    if (taken == Taken::HeldElsewhere) return false;
    // NoLock: nothing to exclude with; the run goes on.
    std::lock_guard lock(mutex_);
    return claims_.try_emplace(path, std::move(holder)).second;
}

void Win32Hid::unclaim(const DevicePath& path) {
    std::unique_ptr<UnitHolder> holder;
    {
        std::lock_guard lock(mutex_);
        auto it = claims_.find(path);
        if (it == claims_.end()) return;
        holder = std::move(it->second);
        claims_.erase(it);
    }
}

// A probe's test: a unit another program has claimed is not opened. Taken
// and given back on this thread at once.
bool Win32Hid::in_use_elsewhere(const DevicePath& path) {
    {
        std::lock_guard lock(mutex_);
        if (claims_.contains(path)) return false;
    }
    HANDLE mutex = open_unit_mutex(mutex_name(path));
    if (!mutex) return false;
    const DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ReleaseMutex(mutex);
    CloseHandle(mutex);
    if (waited != WAIT_TIMEOUT) return false;
    std::lock_guard lock(mutex_);
    in_use_.insert(path);
    return true;
}

std::size_t Win32Hid::interfaces_in_use() const {
    std::lock_guard lock(mutex_);
    return in_use_.size();
}

}  // namespace wxr
