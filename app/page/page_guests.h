// Who the page server holds, and whom it lets go so that a newcomer gets in:
// the server's memory is at most a fixed amount per connection times these
// limits, whatever its clients do. Pure bookkeeping, in the order of arrival;
// the server asks it on its one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <vector>

namespace wxr::page {

struct GuestLimits {
    std::size_t requests;              // connections not done with, in all (viewers apart)
    std::size_t requests_per_address;  // ... from one address
    std::size_t viewers;               // event streams
};

class PageGuests {
public:
    explicit PageGuests(GuestLimits limits) : limits_(limits) {}

    // A new connection, still to send its request. The ones to drop for it:
    // the oldest unanswered from its address, else the oldest of all.
    std::vector<std::uint64_t> arrive(std::uint64_t id, const std::string& address);
    // The request is read; its answer is on the way. Such a connection is
    // dropped for a newcomer only when none is still sending its request.
    void answered(std::uint64_t id);
    // It follows the events. The viewer to drop for it, when all slots are
    // taken: the oldest whose stream is not draining, else the oldest.
    std::optional<std::uint64_t> follow(std::uint64_t id);
    // Whether a viewer's stream has data the client has not taken yet.
    void draining(std::uint64_t id, bool behind);
    void leave(std::uint64_t id);

    std::size_t size() const { return guests_.size(); }

private:
    enum class Stage { request, answered, viewer };
    struct Guest {
        std::uint64_t id;
        std::string address;
        Stage stage = Stage::request;
        bool behind = false;
    };
    Guest* find(std::uint64_t id);
    std::size_t count(Stage stage, const std::string* address) const;
    std::optional<std::uint64_t> oldest(Stage stage, const std::string* address, bool behind_first) const;

    GuestLimits limits_;
    std::list<Guest> guests_;  // oldest first
};

}  // namespace wxr::page
