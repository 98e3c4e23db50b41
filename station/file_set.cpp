#include "station/file_set.h"

#include <filesystem>
#include <system_error>

#include "device/output_file.h"
#include "image/image_store.h"

namespace wxr::station {

namespace {

// More links in a row than any system follows.
constexpr int kMaxLinks = 40;

// A link to a file still to be made: the name that file will have.
std::filesystem::path through_links(std::filesystem::path path) {
    std::error_code ec;
    for (int hop = 0; hop < kMaxLinks && std::filesystem::is_symlink(path, ec); ++hop) {
        std::filesystem::path target = std::filesystem::read_symlink(path, ec);
        if (ec) break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path;
}

// A file that exists is known by what it is; one still to be made by the
// name it will have once the links on the way to it are followed.
std::string identify(const std::string& path) {
    if (std::optional<std::string> id = output_file::file_id(path)) return *id;
    std::error_code ec;
    std::filesystem::path full = std::filesystem::weakly_canonical(through_links(file_path_from_utf8(path)), ec);
    if (ec) full = std::filesystem::absolute(file_path_from_utf8(path), ec).lexically_normal();
    std::u8string name = full.generic_u8string();
    return "new:" + std::string(name.begin(), name.end());
}

// "the log file x.jsonl"; the command's own output has no name.
std::string named(const FileSet::Entry& entry) {
    return entry.path.empty() ? entry.what : entry.what + " " + entry.path;
}

}  // namespace

void FileSet::add(const std::string& path, const std::string& what, bool written) {
    entries_.push_back({path, what, written, identify(path)});
}

void FileSet::writes_descriptor(int fd, const std::string& what) {
    if (std::optional<std::string> id = output_file::descriptor_id(fd)) entries_.push_back({"", what, true, *id});
}

std::optional<std::string> FileSet::conflict() const {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        for (std::size_t j = i + 1; j < entries_.size(); ++j) {
            const Entry& a = entries_[i];
            const Entry& b = entries_[j];
            // The command's output and error output are often one file (`> out 2>&1`): that is theirs to share.
            const bool both_streams = a.path.empty() && b.path.empty();
            if ((a.written || b.written) && a.id == b.id && !both_streams) {
                const Entry& out = b.written ? b : a;
                const Entry& other = b.written ? a : b;
                return named(out) + " is " + named(other) + ": nothing was written, each is left as it is";
            }
        }
    }
    return std::nullopt;
}

}  // namespace wxr::station
