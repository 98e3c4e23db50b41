#include "app/cli/serve/page_server.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <httplib.h>

#include "app/cli/log_file.h"
#include "app/cli/serve/connection_pool.h"
#include "app/cli/serve/page_assets.h"

namespace wxr::cli {

namespace {

// Viewers following the page's events at once: a line's screens and then some.
constexpr int kMaxViewers = 64;
// Threads beyond the viewers' for the page, status and metrics.
constexpr std::size_t kRequestThreads = 16;
// Each read or write of a client: a stalled viewer is dropped after it.
constexpr int kIoTimeoutSeconds = 2;
// A new connection's request must start within this; every response closes
// its connection, so that no idle connection keeps a thread.
constexpr int kFirstRequestSeconds = 1;
// An event stream with nothing new says it is there this often, so that a
// viewer gone without a word is found when that write fails.
constexpr std::chrono::seconds kHeartbeat{15};
// At the end: how long the viewers may take to get the last snapshot, and
// the server's threads to end. A client that keeps a thread reading cannot
// keep the program from ending.
constexpr std::chrono::milliseconds kFinalFlush{1000};
constexpr std::chrono::milliseconds kStopWait{3000};
constexpr std::chrono::milliseconds kStartPoll{1};
// The page loads nothing from elsewhere and runs only its own script.
constexpr char kSecurityPolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

// Another program on the port is an error, not a port to share: neither
// SO_REUSEPORT (the library's choice on Linux) nor SO_REUSEADDR on Windows.
void exclusive_port(socket_t sock) {
#ifdef _WIN32
    BOOL yes = TRUE;
    setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes);
#else
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
}

std::string bind_failure() {
#ifdef _WIN32
    const int code = WSAGetLastError();
    if (code == WSAEADDRINUSE || code == WSAEACCES) return "the port is in use";
    if (code == WSAEADDRNOTAVAIL) return "that is not an address of this machine";
#else
    const int code = errno;
    if (code == EADDRINUSE) return "the port is in use";
    if (code == EADDRNOTAVAIL) return "that is not an address of this machine";
    if (code == EACCES) return "the port needs privileges (use one above 1023)";
#endif
    return "the address cannot be listened on";
}

}  // namespace

struct PageServer::Core {
    ServeAddress address;
    std::string machine;
    std::shared_ptr<BenchBoard> board;
    int port = 0;
    std::atomic<int> viewers{0};
    ConnectionPool pool{kMaxViewers + kRequestThreads};
    httplib::Server server;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;  // a viewer left, or the server ended
    bool ended = false;

    void routes();
    bool send_event(std::uint64_t& seen, httplib::DataSink& sink);
    void events(httplib::Response& res);
    void leave();  // a viewer's stream has ended
};

namespace {

class PoolQueue final : public httplib::TaskQueue {
public:
    explicit PoolQueue(ConnectionPool& pool) : pool_(pool) {}
    void enqueue(std::function<void()> fn) override { pool_.enqueue(std::move(fn)); }
    void shutdown() override { pool_.shutdown(); }

private:
    ConnectionPool& pool_;
};

void asset(httplib::Server& server, const char* path, std::string_view text, const char* type) {
    server.Get(path, [text, type](const httplib::Request&, httplib::Response& res) {
        res.set_content(text.data(), text.size(), type);
    });
}

}  // namespace

void PageServer::Core::routes() {
    using httplib::Server;
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (req.method != "GET" && req.method != "HEAD") {
            res.status = 405;
            res.set_header("Allow", "GET, HEAD");
        } else if (req.get_header_value_count("Host") != 1 ||
                   !host_allowed(req.get_header_value("Host"), address, port, machine)) {
            res.status = 403;
            res.set_content("This station answers only to its own address.\n", "text/plain");
        } else {
            return Server::HandlerResponse::Unhandled;
        }
        return Server::HandlerResponse::Handled;
    });
    asset(server, "/", kPageHtml, "text/html; charset=utf-8");
    asset(server, "/page.css", kPageCss, "text/css; charset=utf-8");
    asset(server, "/page.js", kPageJs, "text/javascript; charset=utf-8");
    server.Get("/status.json", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(board->snapshot()->as_json(), "application/json");
    });
    server.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(metrics_text(*board->snapshot()) + board->added_metrics(),
                        "text/plain; version=0.0.4; charset=utf-8");
    });
    server.Get("/events", [this](const httplib::Request&, httplib::Response& res) { events(res); });
}

void PageServer::Core::events(httplib::Response& res) {
    // The station has ended: nothing more will come (204 tells a browser not to ask again).
    if (board->closed()) {
        res.status = 204;
        return;
    }
    if (viewers.fetch_add(1) >= kMaxViewers) {
        leave();
        res.status = 503;
        res.set_header("Retry-After", "10");
        res.set_content("Too many viewers.\n", "text/plain");
        return;
    }
    auto seen = std::make_shared<std::uint64_t>(0);
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, seen](std::size_t, httplib::DataSink& sink) { return send_event(*seen, sink); },
        [this](bool) { leave(); });
}

void PageServer::Core::leave() {
    {
        std::lock_guard lock(mutex);
        viewers.fetch_sub(1);
    }
    changed.notify_all();
}

// One event per call: the newest snapshot, or a sign of life; done once the
// board is closed and its last snapshot sent.
bool PageServer::Core::send_event(std::uint64_t& seen, httplib::DataSink& sink) {
    auto snapshot = board->wait_newer(seen, kHeartbeat);
    std::string text;
    if (snapshot->version > seen) {
        text = (seen == 0 ? "retry: 2000\n" : "") + std::string("data: ") + snapshot->as_json() + "\n\n";
        seen = snapshot->version;
    } else if (board->closed()) {
        sink.done();
        return true;
    } else {
        text = ": still here\n\n";
    }
    return sink.write(text.data(), text.size());
}

std::unique_ptr<PageServer> PageServer::start(const ServeAddress& address, std::shared_ptr<BenchBoard> board,
                                              std::string& error) {
    auto core = std::make_unique<Core>();
    core->address = address;
    core->machine = host_name();
    core->board = std::move(board);
    httplib::Server& server = core->server;
    server.set_socket_options(exclusive_port);
    server.new_task_queue = [pool = &core->pool] { return new PoolQueue(*pool); };
    server.set_read_timeout(kIoTimeoutSeconds, 0);
    server.set_write_timeout(kIoTimeoutSeconds, 0);
    server.set_keep_alive_timeout(kFirstRequestSeconds);
    server.set_keep_alive_max_count(1);
    server.set_payload_max_length(0);
    server.set_default_headers({{"Cache-Control", "no-store"},
                                {"X-Content-Type-Options", "nosniff"},
                                {"X-Frame-Options", "DENY"},
                                {"Referrer-Policy", "no-referrer"},
                                {"Content-Security-Policy", kSecurityPolicy}});
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        res.status = 500;
        res.set_content("Internal error.\n", "text/plain");
    });
    core->routes();
    core->port = address.port == 0 ? server.bind_to_any_port(address.host)
                                   : (server.bind_to_port(address.host, address.port) ? address.port : -1);
    if (core->port < 0) {
        error = bind_failure();
        return nullptr;
    }
    Core* c = core.get();
    c->thread = std::thread([c] {
        try {
            c->server.listen_after_bind();
        } catch (...) {
            // The page is gone; the station goes on.
        }
        {
            std::lock_guard lock(c->mutex);
            c->ended = true;
        }
        c->changed.notify_all();
    });
    return std::unique_ptr<PageServer>(new PageServer(std::move(core)));
}

PageServer::PageServer(std::unique_ptr<Core> core) : core_(std::move(core)) {}

int PageServer::port() const { return core_->port; }

PageServer::~PageServer() {
    Core& c = *core_;
    c.board->close();
    std::unique_lock lock(c.mutex);
    c.changed.wait_for(lock, kFinalFlush, [&] { return c.viewers.load() == 0; });
    // stop() acts only once the server runs, which its thread starts at once.
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    while (!c.ended && !c.server.is_running() && std::chrono::steady_clock::now() < deadline) {
        lock.unlock();
        std::this_thread::sleep_for(kStartPoll);
        lock.lock();
    }
    c.server.stop();
    c.pool.unblock();
    if (c.changed.wait_until(lock, deadline, [&] { return c.ended; })) {
        lock.unlock();
        c.thread.join();
        return;
    }
    // A client keeps a thread reading: the process's end takes it, and what it uses stays.
    lock.unlock();
    c.thread.detach();
    (void)core_.release();
}

}  // namespace wxr::cli
