#include "app/page/page_server.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "app/page/interface_addresses.h"
#include "app/page/page_assets.h"
#include "app/page/page_guests.h"
#include "device/host.h"

namespace wxr::page {

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using boost::system::error_code;

// The request line and headers together, in one fixed buffer per connection:
// a browser's request is under 2 KiB; past this the answer is 431.
constexpr std::size_t kRequestBytes = 8192;
// Connections not done with, in all and from one address; past these the
// oldest is let go, so that a newcomer always gets in.
constexpr std::size_t kMaxRequests = 64;
constexpr std::size_t kMaxRequestsPerAddress = 48;
// Viewers following the page's events at once: a line's screens and then some.
constexpr std::size_t kMaxViewers = 64;
// From connecting to the last header: a whole request, however it trickles in.
constexpr std::chrono::seconds kRequestDeadline{5};
// An answer or one event must be taken by the client within this, or it is dropped.
constexpr std::chrono::seconds kDrainDeadline{5};
// An event stream with nothing new says it is there this often, so that a
// viewer gone without a word is found when that write fails.
constexpr std::chrono::seconds kHeartbeat{15};
// At the end: how long the viewers may take to get the last snapshot.
constexpr std::chrono::milliseconds kFinalFlush{1000};
// At the end of a --watch station scraped at a steady pace: how long it waits
// at most for one more scrape, enough for the 5 s interval of the README's job.
constexpr std::chrono::seconds kLastScrape{6};
// ... past the scraper's own pace: its round trip and its jitter.
constexpr std::chrono::seconds kScrapeSlack{1};
// The machine's addresses are read again for an unknown one at most this often.
constexpr std::chrono::seconds kAddressesFresh{10};
// Backlog of connections the system holds before the server takes them.
constexpr int kBacklog = 128;
// Where the path ends and the query begins.
constexpr char kQuery = '?';
// The page loads nothing from elsewhere and runs only its own script.
constexpr char kSecurityPolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
constexpr char kRetry[] = "retry: 2000\n";
constexpr char kStillHere[] = ": still here\n\n";

std::string bind_failure(const error_code& ec) {
    if (ec == net::error::address_in_use || ec == net::error::access_denied) {
#ifdef _WIN32
        return "the port is in use";
#else
        if (ec == net::error::address_in_use) return "the port is in use";
        return "the port needs privileges (use one above 1023)";
#endif
    }
    if (ec == boost::system::errc::address_not_available) return "that is not an address of this machine";
    return "the address cannot be listened on";
}

template <class Message>
void common_headers(Message& m) {
    m.set(http::field::cache_control, "no-store");
    m.set("X-Content-Type-Options", "nosniff");
    m.set("X-Frame-Options", "DENY");
    m.set("Referrer-Policy", "no-referrer");
    m.set("Content-Security-Policy", kSecurityPolicy);
    m.keep_alive(false);
}

struct Answer {
    http::status status = http::status::ok;
    std::string type = "text/plain";
    std::string body;
    bool last_scrape = false;  // /metrics after the station ended
};

}  // namespace

class Connection;

struct PageServer::Core {
    ServeAddress address;
    MachineNames machine;
    std::chrono::steady_clock::time_point machine_read;
    std::shared_ptr<BenchBoard> board;
    int port = 0;

    net::io_context io{1};
    tcp::acceptor acceptor{io};
    std::thread thread, watcher;
    std::uint64_t next_id = 0;
    PageGuests guests{{kMaxRequests, kMaxRequestsPerAddress, kMaxViewers}};
    std::map<std::uint64_t, std::shared_ptr<Connection>> connections;
    // The newest event, shared by every viewer (io thread only).
    std::shared_ptr<const std::string> event;
    std::uint64_t event_version = 0;
    bool board_closed = false;

    std::mutex mutex;
    std::condition_variable changed;  // a viewer left, or the last scrape was taken
    std::atomic<std::size_t> viewers{0};
    // Under mutex: the last two times /metrics was asked for while the station
    // ran, and whether it was taken after it ended.
    std::chrono::steady_clock::time_point scraped, scraped_before;
    bool last_scraped = false;

    void accept();
    void drop(std::uint64_t id);
    void watch();
    void publish(std::shared_ptr<const BenchSnapshot> snapshot, bool closed);
    Answer answer(const http::request<http::empty_body>& req, bool& follow);
    bool host_ok(std::string_view host);
    void took_last_scrape();
};

// One client, from its request to its answer, or a viewer's event stream.
// Lives on the server's one thread; the server's map holds it, and every
// pending operation keeps it alive until that ends.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(PageServer::Core& core, tcp::socket socket, std::uint64_t id)
        : core_(core), socket_(std::move(socket)), timer_(core.io), id_(id) {}

    void start() {
        parser_.header_limit(kRequestBytes);
        parser_.body_limit(0);
        arm(kRequestDeadline);
        http::async_read_header(socket_, buffer_, parser_,
                                [self = shared_from_this()](error_code ec, std::size_t) { self->read(ec); });
    }

    // Ends it now; nothing more is sent.
    void close() {
        closed_ = true;
        error_code ignored;
        timer_.cancel();
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
    }

    // A viewer: the newest event, or a sign of life; the last one closes it.
    void send(std::shared_ptr<const std::string> event, std::uint64_t version, bool last) {
        if (!viewer_) return;
        if (version > seen_) {
            pending_ = std::move(event);
            seen_ = version;
        } else if (!pending_ && !last) {
            pending_ = std::make_shared<const std::string>(kStillHere);
        }
        last_ = last_ || last;
        flush();
    }

    bool viewer() const { return viewer_; }

private:
    void arm(std::chrono::seconds bound) {
        if (closed_) return;  // a handler that completed before the close runs after it
        timer_.expires_after(bound);
        timer_.async_wait([self = shared_from_this()](error_code ec) {
            if (!ec) self->core_.drop(self->id_);  // past its deadline
        });
    }

    void read(error_code ec) {
        if (closed_) return;
        if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
            return reply({http::status::request_header_fields_too_large, "text/plain", "Request too large.\n"}, false);
        }
        const bool malformed = ec.category() == http::make_error_code(http::error::bad_target).category();
        if (malformed && ec != http::error::end_of_stream && ec != http::error::partial_message) {
            return reply({http::status::bad_request, "text/plain", "Bad request.\n"}, false);
        }
        if (ec) return core_.drop(id_);
        const bool head = parser_.get().method() == http::verb::head;
        bool follow = false;
        Answer answer = core_.answer(parser_.get(), follow);
        if (follow && !head) return start_stream();
        reply(std::move(answer), head);
    }

    void reply(Answer answer, bool head) {
        core_.guests.answered(id_);
        auto res = std::make_shared<http::response<http::string_body>>(answer.status, 11);
        common_headers(*res);
        res->set(http::field::content_type, answer.type);
        if (answer.status == http::status::method_not_allowed) res->set(http::field::allow, "GET, HEAD");
        if (answer.status == http::status::service_unavailable) res->set(http::field::retry_after, "10");
        res->content_length(answer.body.size());
        if (!head) res->body() = std::move(answer.body);
        const bool last_scrape = answer.last_scrape && !head;
        arm(kDrainDeadline);
        http::async_write(socket_, *res, [self = shared_from_this(), res, last_scrape](error_code ec, std::size_t) {
            if (last_scrape && !ec) self->core_.took_last_scrape();
            self->core_.drop(self->id_);
        });
    }

    void start_stream() {
        if (auto dropped = core_.guests.follow(id_)) core_.drop(*dropped);
        viewer_ = true;
        ++core_.viewers;
        http::response<http::empty_body> res{http::status::ok, 11};
        common_headers(res);
        res.set(http::field::content_type, "text/event-stream");
        std::ostringstream head;
        head << res.base();
        head_ = head.str() + kRetry;
        timer_.cancel();
        send(core_.event, core_.event_version, core_.board_closed);
    }

    void flush() {
        if (closed_) return;
        if (writing_ || (!pending_ && head_.empty())) {
            if (!writing_ && last_) core_.drop(id_);
            return;
        }
        writing_ = true;
        core_.guests.draining(id_, true);
        std::vector<net::const_buffer> out;
        if (!head_.empty()) out.push_back(net::buffer(head_));
        if (pending_) out.push_back(net::buffer(*pending_));
        auto sent = std::move(pending_);
        arm(kDrainDeadline);
        net::async_write(socket_, out, [self = shared_from_this(), sent](error_code ec, std::size_t) {
            self->writing_ = false;
            self->head_.clear();
            if (ec) return self->core_.drop(self->id_);
            self->timer_.cancel();
            self->core_.guests.draining(self->id_, false);
            self->flush();
        });
    }

    PageServer::Core& core_;
    tcp::socket socket_;
    net::steady_timer timer_;
    std::uint64_t id_;
    beast::flat_static_buffer<kRequestBytes> buffer_;
    http::request_parser<http::empty_body> parser_;
    bool viewer_ = false, writing_ = false, last_ = false, closed_ = false;
    std::uint64_t seen_ = 0;
    std::string head_;  // the stream's header and retry line, until sent
    std::shared_ptr<const std::string> pending_;
};

namespace {

std::string_view path_of(std::string_view target) { return target.substr(0, target.find(kQuery)); }

}  // namespace

Answer PageServer::Core::answer(const http::request<http::empty_body>& req, bool& follow) {
    if (req.method() != http::verb::get && req.method() != http::verb::head) {
        return {http::status::method_not_allowed, "text/plain", "Only GET and HEAD.\n"};
    }
    if (req.count(http::field::host) != 1 || !host_ok(req[http::field::host])) {
        return {http::status::forbidden, "text/plain", "This station answers only to its own address.\n"};
    }
    const std::string_view path = path_of(req.target());
    if (path == "/") return {http::status::ok, "text/html; charset=utf-8", std::string(kPageHtml)};
    if (path == "/page.css") return {http::status::ok, "text/css; charset=utf-8", std::string(kPageCss)};
    if (path == "/page.js") return {http::status::ok, "text/javascript; charset=utf-8", std::string(kPageJs)};
    if (path == "/status.json") return {http::status::ok, "application/json", board->snapshot()->as_json()};
    if (path == "/metrics") {
        const auto snapshot = board->snapshot();
        const bool ended = snapshot->ended || board->closed();
        if (!ended) {
            std::lock_guard lock(mutex);
            scraped_before = std::exchange(scraped, std::chrono::steady_clock::now());
        }
        return {http::status::ok, "text/plain; version=0.0.4; charset=utf-8",
                metrics_text(*snapshot) + board->added_metrics(), ended};
    }
    if (path == "/events") {
        // The station has ended: nothing more will come (204 tells a browser not to ask again).
        if (board_closed) return {http::status::no_content, "text/plain", ""};
        follow = true;
        return {http::status::ok, "text/event-stream", ""};
    }
    return {http::status::not_found, "text/plain", "Not found.\n"};
}

// An address the machine took since it was last read (a new lease, a cable
// plugged in) is found by reading them again, at most every so often.
bool PageServer::Core::host_ok(std::string_view host) {
    if (host_allowed(host, address, port, machine)) return true;
    const auto now = std::chrono::steady_clock::now();
    if (!is_wildcard(address) || now - machine_read < kAddressesFresh) return false;
    machine.addresses = interface_addresses();
    machine_read = now;
    return host_allowed(host, address, port, machine);
}

void PageServer::Core::took_last_scrape() {
    {
        std::lock_guard lock(mutex);
        last_scraped = true;
    }
    changed.notify_all();
}

void PageServer::Core::accept() {
    acceptor.async_accept([this](error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || !acceptor.is_open()) return;
        if (!ec) {
            error_code peer_ec;
            const tcp::endpoint peer = socket.remote_endpoint(peer_ec);
            const std::string from = peer_ec ? std::string() : peer.address().to_string();
            const std::uint64_t id = ++next_id;
            for (std::uint64_t old : guests.arrive(id, from)) drop(old);
            auto connection = std::make_shared<Connection>(*this, std::move(socket), id);
            connections.emplace(id, connection);
            connection->start();
        }
        accept();
    });
}

void PageServer::Core::drop(std::uint64_t id) {
    auto it = connections.find(id);
    if (it == connections.end()) return;
    std::shared_ptr<Connection> connection = std::move(it->second);
    connections.erase(it);
    guests.leave(id);
    connection->close();
    if (connection->viewer()) {
        {
            std::lock_guard lock(mutex);
            --viewers;
        }
        changed.notify_all();
    }
}

// Runs on a thread of its own: waits for the board, and hands each snapshot
// to the server's thread as one event text shared by all viewers.
void PageServer::Core::watch() {
    std::uint64_t seen = 0;
    while (true) {
        auto snapshot = board->wait_newer(seen, kHeartbeat);
        const bool closed = board->closed();
        seen = snapshot->version;
        net::post(io, [this, snapshot, closed] { publish(snapshot, closed); });
        if (closed) return;
    }
}

void PageServer::Core::publish(std::shared_ptr<const BenchSnapshot> snapshot, bool closed) {
    if (snapshot->version > event_version) {
        event = std::make_shared<const std::string>("data: " + snapshot->as_json() + "\n\n");
        event_version = snapshot->version;
    }
    board_closed = closed;
    std::vector<std::shared_ptr<Connection>> viewers_now;
    for (auto& [id, connection] : connections) {
        if (connection->viewer()) viewers_now.push_back(connection);
    }
    for (auto& connection : viewers_now) connection->send(event, event_version, closed);
}

std::unique_ptr<PageServer> PageServer::start(const ServeAddress& address, std::shared_ptr<BenchBoard> board,
                                              std::string& error) {
    auto core = std::make_unique<Core>();
    core->address = address;
    core->machine = {host_name(), is_wildcard(address) ? interface_addresses() : std::vector<std::string>{}};
    core->machine_read = std::chrono::steady_clock::now();
    core->board = std::move(board);
    error_code ec;
    const net::ip::address ip = net::ip::make_address(address.host, ec);
    const tcp::endpoint endpoint(ip, static_cast<unsigned short>(address.port));
    tcp::acceptor& acceptor = core->acceptor;
    if (!ec) acceptor.open(endpoint.protocol(), ec);
#ifdef _WIN32
    // Another program on the port is an error, not a port to share.
    using exclusive = net::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
    if (!ec) acceptor.set_option(exclusive(true), ec);
#else
    if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
#endif
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(kBacklog, ec);
    if (ec) {
        error = bind_failure(ec);
        return nullptr;
    }
    core->port = acceptor.local_endpoint().port();
    Core* c = core.get();
    c->accept();
    c->thread = std::thread([c] {
        try {
            c->io.run();
        } catch (...) {
            // The page is gone; the station goes on.
        }
    });
    c->watcher = std::thread([c] {
        try {
            c->watch();
        } catch (...) {
            // No more events; the page's requests still work.
        }
    });
    return std::unique_ptr<PageServer>(new PageServer(std::move(core)));
}

PageServer::PageServer(std::unique_ptr<Core> core) : core_(std::move(core)) {}

int PageServer::port() const { return core_->port; }

PageServer::~PageServer() {
    Core& c = *core_;
    const auto ended = std::chrono::steady_clock::now();
    c.board->close();
    c.watcher.join();  // it posts the last snapshot, with the board closed
    {
        std::unique_lock lock(c.mutex);
        c.changed.wait_for(lock, kFinalFlush, [&] { return c.viewers.load() == 0; });
        // A watching station's scraper sees how it ended (a failed log at the
        // last moment): its next scrape is waited for when it is due soon.
        if (c.board->watched() && c.scraped_before != std::chrono::steady_clock::time_point{}) {
            const auto due = c.scraped + (c.scraped - c.scraped_before) + kScrapeSlack;
            c.changed.wait_until(lock, std::min(due, ended + kLastScrape), [&] { return c.last_scraped; });
        }
    }
    net::post(c.io, [&c] {
        error_code ignored;
        c.acceptor.close(ignored);
        while (!c.connections.empty()) c.drop(c.connections.begin()->first);
    });
    c.thread.join();
}

}  // namespace wxr::page
