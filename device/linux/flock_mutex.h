// The named mutex on Linux: an exclusive flock on a lock file whose name is
// derived from the mutex name. The kernel drops the lock when its holder's
// process ends, however it ends. flock excludes open files, not threads, so
// each mutex also holds a process-local std::mutex that threads sharing it
// queue on first.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device/hid_platform.h"

namespace wxr::hidraw {

class FlockMutexFactory final : public NamedMutexFactory {
public:
    // Lock files go into the first of `dirs` where one can be opened.
    explicit FlockMutexFactory(std::vector<std::string> dirs = default_lock_dirs());

    std::unique_ptr<NamedMutex> create(const std::u16string& name) override;

    // $XDG_RUNTIME_DIR (the user's session, as Windows scopes a plain mutex
    // name), then /run/lock, then /tmp.
    static std::vector<std::string> default_lock_dirs();
    // "wxr7305-device_list_access_mutex-<hash>.lock" for "device list access mutex".
    static std::string lock_file_name(const std::u16string& name);

private:
    std::vector<std::string> dirs_;
};

}  // namespace wxr::hidraw
