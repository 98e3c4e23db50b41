#include "app/page/page_guests.h"

#include <algorithm>

namespace wxr::page {

PageGuests::Guest* PageGuests::find(std::uint64_t id) {
    auto it = std::find_if(guests_.begin(), guests_.end(), [&](const Guest& g) { return g.id == id; });
    return it == guests_.end() ? nullptr : &*it;
}

std::size_t PageGuests::count(Stage stage, const std::string* address) const {
    return static_cast<std::size_t>(std::count_if(guests_.begin(), guests_.end(), [&](const Guest& g) {
        return g.stage == stage && (!address || g.address == *address);
    }));
}

std::optional<std::uint64_t> PageGuests::oldest(Stage stage, const std::string* address, bool behind_first) const {
    std::optional<std::uint64_t> first;
    for (const Guest& g : guests_) {
        if (g.stage != stage || (address && g.address != *address)) continue;
        if (!behind_first || g.behind) return g.id;
        if (!first) first = g.id;
    }
    return first;
}

std::vector<std::uint64_t> PageGuests::arrive(std::uint64_t id, const std::string& address) {
    std::vector<std::uint64_t> dropped;
    auto drop = [&](std::optional<std::uint64_t> who) {
        if (!who) return false;
        dropped.push_back(*who);
        leave(*who);
        return true;
    };
    // One being answered is let go only when none still sends its request.
    auto unfinished = [&](const std::string* from) { return count(Stage::request, from) + count(Stage::answered, from); };
    auto evict = [&](const std::string* from) {
        auto who = oldest(Stage::request, from, false);
        return drop(who ? who : oldest(Stage::answered, from, false));
    };
    while (unfinished(&address) >= limits_.requests_per_address && evict(&address)) {
    }
    while (unfinished(nullptr) >= limits_.requests && evict(nullptr)) {
    }
    guests_.push_back({id, address});
    return dropped;
}

void PageGuests::answered(std::uint64_t id) {
    if (Guest* g = find(id)) g->stage = Stage::answered;
}

std::optional<std::uint64_t> PageGuests::follow(std::uint64_t id) {
    std::optional<std::uint64_t> dropped;
    if (count(Stage::viewer, nullptr) >= limits_.viewers) {
        dropped = oldest(Stage::viewer, nullptr, true);
        if (dropped) leave(*dropped);
    }
    if (Guest* g = find(id)) g->stage = Stage::viewer;
    return dropped;
}

void PageGuests::draining(std::uint64_t id, bool behind) {
    if (Guest* g = find(id)) g->behind = behind;
}

void PageGuests::leave(std::uint64_t id) {
    guests_.remove_if([&](const Guest& g) { return g.id == id; });
}

}  // namespace wxr::page
