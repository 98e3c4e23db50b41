// The named mutex on Linux: an exclusive flock on a lock file whose name is
// derived from the mutex name. The kernel drops the lock when its holder's
// process ends, however it ends. flock excludes open files, not threads, so
// each mutex also holds a process-local std::mutex that threads sharing it
// queue on first. Only this user (or root) can create the lock file, so no
// other local user can hold discovery up, and no wait is without bound.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "device/hid_platform.h"

namespace wxr::hidraw {

class FlockMutexFactory final : public NamedMutexFactory {
public:
    // A holder keeps the lock only to append one path: two seconds without it
    // mean a holder that hangs, and the caller goes on without the named lock.
    static constexpr std::chrono::milliseconds kLockWait{2000};

    // Lock files go into the first of `dirs` that is this user's alone (a
    // missing one is created so); lock() gives up after `wait`.
    explicit FlockMutexFactory(std::vector<std::string> dirs = default_lock_dirs(),
                               std::chrono::milliseconds wait = kLockWait);

    std::unique_ptr<NamedMutex> create(const std::u16string& name) override;

    // $XDG_RUNTIME_DIR (the user's session, as Windows scopes a plain mutex
    // name), then a directory of the user's own in /tmp, "/tmp/wxr7305-<uid>".
    static std::vector<std::string> default_lock_dirs();
    // "wxr7305-device_list_access_mutex-<hash>.lock" for "device list access mutex".
    static std::string lock_file_name(const std::u16string& name);

private:
    std::vector<std::string> dirs_;
    std::chrono::milliseconds wait_;
};

}  // namespace wxr::hidraw
