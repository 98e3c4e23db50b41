// --serve as upgrade starts it: the port names read, the board made and the
// page served, before the first unit is touched.
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "app/page/bench_board.h"
#include "app/page/page_server.h"

namespace wxr::page {

class BenchPage {
public:
    // nullptr, after a message, when the names cannot be read or the address
    // cannot be served.
    static std::unique_ptr<BenchPage> start(const std::string& address, const std::optional<std::string>& port_names,
                                            const BenchImages& images, const Clock& clock, std::ostream& err);

    BenchBoard& board() { return *board_; }

private:
    std::shared_ptr<BenchBoard> board_;
    std::unique_ptr<PageServer> server_;  // ends first: its viewers get the board's last state
};

}  // namespace wxr::page
