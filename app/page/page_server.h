// --serve: the bench's page, /status.json, /metrics and the page's events,
// from this process on threads of its own. It only reads the board's
// snapshots: nothing it is asked can start, stop or change a write, and no
// viewer, however slow, holds anything a run waits on.
#pragma once

#include <memory>
#include <string>

#include "app/page/bench_board.h"
#include "app/page/serve_address.h"

namespace wxr::page {

class PageServer {
public:
    // Listens at `address` at once (a port in use is known before any unit
    // is written); nullptr, with why in `error`, when it cannot.
    static std::unique_ptr<PageServer> start(const ServeAddress& address, std::shared_ptr<BenchBoard> board,
                                             std::string& error);
    // Lets the viewers have the last snapshot, then stops.
    ~PageServer();
    PageServer(const PageServer&) = delete;
    PageServer& operator=(const PageServer&) = delete;

    int port() const;

    struct Core;

private:
    explicit PageServer(std::unique_ptr<Core> core);
    std::unique_ptr<Core> core_;
};

}  // namespace wxr::page
