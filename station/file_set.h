// Every file a command reads (images) and writes (trace, log), known before
// any of them is opened for writing. Two that are one file (the same name,
// a hard link, a symbolic link) would destroy each other: the command is
// refused before anything is written.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace wxr::station {

class FileSet {
public:
    // what: "the image file", "the trace file", "the log file".
    void reads(const std::string& path, const std::string& what) { add(path, what, false); }
    void writes(const std::string& path, const std::string& what) { add(path, what, true); }
    void writes(const std::optional<std::string>& path, const std::string& what) {
        if (path) writes(*path, what);
    }
    // The command's own output (fd 1, 2): written too, when it is a regular file.
    void writes_descriptor(int fd, const std::string& what);

    // Why the command must be refused ("the log file x.jsonl is the image file
    // fw.bin"); nullopt when no file written is another file of the set.
    std::optional<std::string> conflict() const;

    struct Entry {
        std::string path;
        std::string what;
        bool written;
        std::string id;  // one text per file, whatever its name
    };

private:

    void add(const std::string& path, const std::string& what, bool written);

    std::vector<Entry> entries_;
};

}  // namespace wxr::station
