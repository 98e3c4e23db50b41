#include "app/cli/udev_install.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <vector>

#include "app/cli/cli.h"
#include "app/cli/udev_rule.h"

extern char** environ;

namespace wxr::cli {

namespace {

// Readable by all, as udev's own rules are.
constexpr mode_t kRuleFileMode = 0644;

std::string system_error(const std::string& what) { return what + ": " + std::strerror(errno); }

bool write_all(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The rename is on disk once the folder is: best effort, the file is in place either way.
void sync_dir(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Runs the program found on PATH with `args` and waits for it.
Failure run_program(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int spawned = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    if (spawned != 0) return args[0] + " could not be started: " + std::strerror(spawned);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return system_error("waiting for " + args[0]);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return std::nullopt;
    std::string command;
    for (const auto& arg : args) command += (command.empty() ? "" : " ") + arg;
    return "'" + command + "' failed";
}

}  // namespace

Failure write_file_atomically(const std::string& dir, const std::string& name, const std::string& text) {
    // A dot name without .rules: udev never reads a leftover.
    std::string temp = dir + "/." + name + ".XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return system_error("cannot create a file in " + dir);
    Failure failure;
    if (!write_all(fd, text)) failure = system_error("cannot write " + temp);
    else if (::fchmod(fd, kRuleFileMode) != 0) failure = system_error("cannot set the mode of " + temp);
    else if (::fsync(fd) != 0) failure = system_error("cannot sync " + temp);
    if (::close(fd) != 0 && !failure) failure = system_error("cannot close " + temp);
    const std::string target = dir + "/" + name;
    if (!failure && ::rename(temp.c_str(), target.c_str()) != 0) failure = system_error("cannot replace " + target);
    if (failure) {
        ::unlink(temp.c_str());
        return failure;
    }
    sync_dir(dir);
    return std::nullopt;
}

Failure reload_udev_rules() {
    if (Failure failed = run_program({"udevadm", "control", "--reload-rules"})) return failed;
    return run_program({"udevadm", "trigger", "--subsystem-match=hidraw", "--action=change"});
}

std::optional<int> retire_old_rule(const std::string& dir, const std::string& package_name, std::ostream& out,
                                   std::ostream& err) {
    const std::string path = dir + "/" + package_name;
    std::ifstream file(path);
    if (!file) return std::nullopt;
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!is_own_old_rule(package_name, text)) {
        out << "Note: " << path << " replaces the package's rule of that name; the station service reaches"
               " the devices only if it gives them to the group wxr7305 (GROUP=\"wxr7305\", MODE=\"0660\").\n";
        return std::nullopt;
    }
    if (::unlink(path.c_str()) != 0) {
        err << "wxr7305: " << system_error("cannot remove " + path) << "; nothing was written.\n";
        return kExitOther;
    }
    sync_dir(dir);
    out << "Removed " << path << ", an earlier udev-rule --install's file: it hid the package's rule"
        << " and the station's group.\n";
    return std::nullopt;
}

int install_udev_rule(const std::string& dir, const std::string& name, const std::string& text,
                      const std::function<Failure()>& reload, std::ostream& out, std::ostream& err) {
    const std::string target = dir + "/" + name;
    if (Failure failed = write_file_atomically(dir, name, text)) {
        err << "wxr7305: " << *failed << "; " << target << " is left as it was.\n";
        return kExitOther;
    }
    out << "Wrote " << target << ".\n";
    if (Failure failed = reload()) {
        err << "wxr7305: " << *failed << ": the rule applies once the device is plugged in again.\n";
        return kExitOther;
    }
    out << "udev has read it again: attached devices are reachable now.\n";
    return kExitSuccess;
}

}  // namespace wxr::cli
