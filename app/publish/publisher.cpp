#include "app/publish/publisher.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <ostream>
#include <thread>
#include <vector>

#include <mosquitto.h>

#include "app/publish/publish_os.h"
#include "app/publish/record_message.h"
#include "app/publish/spool_file.h"

namespace wxr::publish {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// At least once; the records' ids make it once for their consumers.
constexpr int kQos = 1;
constexpr int kKeepAliveSeconds = 30;
// Records in flight at once: under libmosquitto's own limit of 20, so that
// nothing waits in its memory; the rest waits in the file.
constexpr std::size_t kWindow = 16;
// The network wait per turn: the longest a new record, or the station's end,
// waits to be seen.
constexpr int kLoopMs = 20;
// Between attempts to reach the broker: doubling from the first to the last.
constexpr milliseconds kRetryFirst{500};
constexpr milliseconds kRetryMax{5000};
// A connection the broker has not accepted by then is given up and tried anew.
constexpr milliseconds kConnectTimeout{10000};
// While records flow the cursor is rewritten at most this often, not flushed
// to disk (the log's own flushes come first); a crash in between only sends
// records again. It is flushed only when a rotated file is done.
constexpr milliseconds kCursorPeriod{1000};
// At the station's end: how long what is left is still sent, and how long
// the clean `offline` is given to be acknowledged.
constexpr milliseconds kDrainTime{5000};
constexpr milliseconds kOfflineTime{1000};
// How often the log's name is looked at for a new file (SIGUSR1 after a
// rotation has the station open one): records there wait at most this long.
constexpr milliseconds kFollowPeriod{1000};
// The line ends counted per turn for the unsent records: a long backlog
// is counted over a few turns rather than read at once.
constexpr std::size_t kCountPerTurn = 1 << 20;
// The broker's answers that turn the station's login away (MQTT 3.1.1 CONNACK).
constexpr int kConnackBadLogin = 4;
constexpr int kConnackNotAuthorised = 5;
// Tests only: die (as by SIGKILL) once this many records are acknowledged,
// before the cursor that counts them is written.
constexpr char kDieBeforeCursorKey[] = "WXR7305_TEST_PUBLISH_DIE_BEFORE_CURSOR";

struct Pending {
    int mid = 0;
    long long end = 0;  // the file offset past the record
    bool acked = false;
    std::optional<long long> time;  // the record's own
};

struct LibraryUse {
    LibraryUse() { mosquitto_lib_init(); }
};

class SpoolPublisher final : public Publisher {
public:
    SpoolPublisher(PublishConfig config, std::vector<std::unique_ptr<SpoolReader>> files, long long offset,
                   std::vector<std::string> notes)
        : config_(std::move(config)), files_(std::move(files)), acked_(offset), read_(offset) {
        for (auto& note : notes) say(note);
        if (const char* n = std::getenv(kDieBeforeCursorKey)) die_after_ = std::atol(n);
        thread_ = std::thread([this] { run(); });
    }

    ~SpoolPublisher() override { stop(); }

    void stop() override {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
        if (err_) flush_messages(*err_);
        err_ = nullptr;  // the stream may end before this object
    }

    void ended(const station::StationVisit&, const station::StationStatus&) override { poke(); }
    void refresh(const station::VisitTable&, const station::StationStatus&) override { poke(); }
    void notice(const std::string&) override {}
    void finished(const station::StationStatus&) override { poke(); }

    PublishLink link() const override {
        std::lock_guard lock(mutex_);
        return link_;
    }

    // The thread's messages, written on the caller's thread (the station's, or at the end).
    void flush_messages(std::ostream& err) {
        std::vector<std::string> messages;
        {
            std::lock_guard lock(mutex_);
            messages.swap(messages_);
        }
        for (const auto& text : messages) err << "wxr7305: publish: " << text << "\n";
        if (!messages.empty()) err.flush();
    }

    void set_err(std::ostream* err) { err_ = err; }

private:
    void poke() {
        wake_.notify_all();
        if (err_) flush_messages(*err_);
    }

    void say(const std::string& text) {
        std::lock_guard lock(mutex_);
        messages_.push_back(text);
    }

    bool stopping() {
        std::lock_guard lock(mutex_);
        return stop_;
    }

    void run() noexcept {
        try {
            loop();
        } catch (const std::exception& e) {
            say(std::string("stopped: ") + e.what());
        } catch (...) {
            say("stopped");
        }
        if (mosq_) mosquitto_destroy(mosq_);
        mosq_ = nullptr;
    }

    void loop() {
        while (!stopping()) turn();
        // One more try at the end when records are left, however long the wait between tries had grown.
        if (!mosq_ && !all_sent()) connect();
        const auto deadline = Clock::now() + kDrainTime;
        // Only a link that is up or being made is waited for: a broker that is down gets the rest next time.
        while (mosq_ && Clock::now() < deadline && (!connected_ || !all_sent())) turn();
        if (connected_) say_offline();
        save_cursor(false, true);
        publish_link();
    }

    void turn() {
        follow_log();
        if (!mosq_) {
            if (Clock::now() >= next_try_) connect();
            if (!mosq_) {
                save_cursor(false, false);
                publish_link();
                std::unique_lock lock(mutex_);
                wake_.wait_until(lock, next_try_, [this] { return stop_; });
                return;
            }
        }
        if (connected_) send_more();
        if (!mosq_) return;  // the publish failed and the connection was dropped
        const int rc = mosquitto_loop(mosq_, kLoopMs, 1);
        if (refused_) {
            drop(std::string(*refused_), refused_why_);
        } else if (rc != MOSQ_ERR_SUCCESS) {
            drop(error_text(rc), problem_of(rc));
        } else if (!connected_ && Clock::now() - connecting_since_ > kConnectTimeout) {
            drop("no answer from the broker", LinkProblem::Unreachable);
        }
        next_file();
        save_cursor(false, false);
        publish_link();
    }

    void connect() {
        refused_.reset();
        mosq_ = mosquitto_new(nullptr, true, this);
        if (!mosq_) return drop("cannot make an MQTT client: out of memory", LinkProblem::Unreachable);
        mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_connect_callback_set(mosq_, [](mosquitto*, void* self, int rc) {
            static_cast<SpoolPublisher*>(self)->on_connect(rc);
        });
        mosquitto_publish_callback_set(mosq_, [](mosquitto*, void* self, int mid) {
            static_cast<SpoolPublisher*>(self)->on_ack(mid);
        });
        mosquitto_log_callback_set(mosq_, [](mosquitto*, void* self, int level, const char* text) {
            if (level == MOSQ_LOG_ERR && text) static_cast<SpoolPublisher*>(self)->last_log_error_ = text;
        });
        const std::string state = config_.topic_prefix + "/state";
        int rc = mosquitto_will_set(mosq_, state.c_str(), static_cast<int>(config_.offline.size()),
                                    config_.offline.data(), kQos, true);
        if (rc == MOSQ_ERR_SUCCESS && !config_.user.empty()) {
            rc = mosquitto_username_pw_set(mosq_, config_.user.c_str(), config_.password.c_str());
        }
        if (rc == MOSQ_ERR_SUCCESS && config_.broker.tls) {
            // Without --publish-ca: the system's certificate authorities.
            const char* file = config_.ca_file ? config_.ca_file->c_str() : nullptr;
            rc = mosquitto_tls_set(mosq_, file, file ? nullptr : "/etc/ssl/certs", nullptr, nullptr, nullptr);
            // A CA file it cannot take is a TLS failure, whatever the code says.
            if (rc != MOSQ_ERR_SUCCESS) return drop(error_text(rc), LinkProblem::Tls);
        }
        if (rc == MOSQ_ERR_SUCCESS) {
            rc = mosquitto_connect_async(mosq_, config_.broker.host.c_str(), config_.broker.port, kKeepAliveSeconds);
        }
        connecting_since_ = Clock::now();
        if (rc != MOSQ_ERR_SUCCESS) drop(error_text(rc), problem_of(rc));
    }

    static LinkProblem problem_of(int rc) {
        return rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE || rc == MOSQ_ERR_OCSP ? LinkProblem::Tls
                                                                                         : LinkProblem::Unreachable;
    }

    std::string error_text(int rc) const {
        if (rc == MOSQ_ERR_ERRNO) return os::error_text(errno);
        if (rc == MOSQ_ERR_TLS && !last_log_error_.empty()) return "TLS: " + last_log_error_;
        return mosquitto_strerror(rc);
    }

    void on_connect(int rc) {
        if (rc != 0) {
            refused_ = std::string("the broker refused the connection: ") + mosquitto_connack_string(rc);
            refused_why_ = rc == kConnackBadLogin || rc == kConnackNotAuthorised ? LinkProblem::Auth
                                                                                 : LinkProblem::Refused;
            return;
        }
        connected_ = true;
        retry_ = kRetryFirst;
        if (!problem_.empty()) say("connected to " + config_.url + " again");
        problem_.clear();
        why_ = LinkProblem::None;
        const std::string state = config_.topic_prefix + "/state";
        mosquitto_publish(mosq_, nullptr, state.c_str(), static_cast<int>(config_.online.size()),
                          config_.online.data(), kQos, true);
    }

    void on_ack(int mid) {
        for (auto& pending : pending_) {
            if (pending.mid == mid) pending.acked = true;
        }
        if (mid == offline_mid_) offline_acked_ = true;
        settle();
    }

    // The cursor moves over the records acknowledged in a row from it.
    void settle() {
        while (!pending_.empty() && pending_.front().acked) {
            acked_ = pending_.front().end;
            pending_.pop_front();
            ++acked_count_;
            ++lines_acked_;
        }
    }

    void send_more() {
        SpoolReader& file = *files_.front();
        while (pending_.size() < kWindow) {
            const auto line = file.line_at(read_);
            if (!line) break;
            read_ = line->end;
            Pending pending{0, line->end, true, std::nullopt};
            if (const auto message = record_message(line->text)) {
                pending.time = message->time;
                const std::string topic = config_.topic_prefix + "/record";
                const int rc = mosquitto_publish(mosq_, &pending.mid, topic.c_str(),
                                                 static_cast<int>(message->payload.size()), message->payload.data(),
                                                 kQos, false);
                if (rc != MOSQ_ERR_SUCCESS) {
                    read_ = line->begin;  // sent again on the next connection
                    return drop(error_text(rc), problem_of(rc));
                }
                pending.acked = false;
            }
            pending_.push_back(pending);
        }
        settle();
    }

    // Every whole line is acknowledged (a last line torn by a crash never will be).
    bool at_end() { return pending_.empty() && read_ == acked_ && !files_.front()->line_at(read_); }
    bool all_sent() { return files_.size() == 1 && at_end(); }

    // The station opened a new file by the log's name: it is sent once the
    // one before, renamed and no longer written, is finished. The station
    // creates it between two records (nocreate in logrotate's configuration),
    // so every record of the one before is there by then.
    void follow_log() {
        if (Clock::now() - followed_at_ < kFollowPeriod) return;
        followed_at_ = Clock::now();
        const auto id = id_of_path(config_.log_path);
        if (!id || *id == files_.back()->id()) return;
        try {
            auto log = std::make_unique<SpoolReader>(config_.log_path);
            if (log->id() == *id) files_.push_back(std::move(log));
        } catch (const std::runtime_error&) {
            // Gone again, or not readable yet: looked at again next time.
        }
    }

    // A rotated file, read to its end and acknowledged, gives way to the log's new one.
    void next_file() {
        if (files_.size() < 2 || !at_end()) return;
        files_.erase(files_.begin());
        acked_ = read_ = counted_to_ = 0;
        lines_counted_ = lines_acked_ = 0;
        save_cursor(true, true);
    }

    void save_cursor(bool flush, bool now) {
        if (acked_ == written_ && files_.front()->id() == written_file_) return;
        if (!now && Clock::now() - saved_at_ < kCursorPeriod) return;
        if (die_after_ > 0 && acked_count_ >= die_after_) os::die_now();
        std::string error;
        const Cursor cursor{files_.front()->id(), acked_};
        if (write_cursor(cursor_path(config_.log_path), cursor, flush, error)) {
            written_ = acked_;
            written_file_ = cursor.file;
        } else if (error != cursor_error_) {
            say("the cursor cannot be written (records will be sent again): " + error);
        }
        cursor_error_ = error;
        saved_at_ = Clock::now();
    }

    void drop(std::string why, LinkProblem kind) {
        if (mosq_) mosquitto_destroy(mosq_);
        mosq_ = nullptr;
        connected_ = false;
        refused_.reset();
        pending_.clear();
        read_ = acked_;
        next_try_ = Clock::now() + retry_;
        retry_ = std::min(retry_ * 2, kRetryMax);
        const std::string text = "cannot reach " + config_.url + ": " + why;
        if (text != problem_) say(text + " (retrying; records wait in " + config_.log_path + ")");
        problem_ = text;
        why_ = kind;
    }

    void say_offline() {
        const std::string state = config_.topic_prefix + "/state";
        offline_acked_ = false;
        if (mosquitto_publish(mosq_, &offline_mid_, state.c_str(), static_cast<int>(config_.offline.size()),
                              config_.offline.data(), kQos, true) != MOSQ_ERR_SUCCESS) {
            return;
        }
        const auto deadline = Clock::now() + kOfflineTime;
        while (!offline_acked_ && Clock::now() < deadline && mosquitto_loop(mosq_, kLoopMs, 1) == MOSQ_ERR_SUCCESS) {
        }
        mosquitto_disconnect(mosq_);  // sent at once: the loop is this thread's
    }

    void publish_link() {
        long long unsent = files_.front()->size() - acked_;
        for (std::size_t i = 1; i < files_.size(); ++i) unsent += files_[i]->size();
        if (counted_to_ < acked_) counted_to_ = acked_;  // a start from the cursor
        lines_counted_ += files_.front()->count_lines(counted_to_, kCountPerTurn);
        const auto oldest = oldest_unsent();
        std::lock_guard lock(mutex_);
        link_ = {connected_, unsent, std::max(0LL, lines_counted_ - lines_acked_), problem_, why_, oldest};
    }

    // The time of the first record not acknowledged: the first in flight, else
    // read from the file, again only when that record is another one.
    std::optional<long long> oldest_unsent() {
        if (!pending_.empty()) return pending_.front().time;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            const long long offset = i == 0 ? acked_ : 0;
            if (files_[i]->id() == oldest_file_ && offset == oldest_offset_) return oldest_time_;
            if (const auto line = files_[i]->line_at(offset)) {
                oldest_file_ = files_[i]->id();
                oldest_offset_ = offset;
                oldest_time_ = record_time(line->text);
                return oldest_time_;
            }
        }
        oldest_offset_ = -1;
        return std::nullopt;
    }

    const PublishConfig config_;
    std::vector<std::unique_ptr<SpoolReader>> files_;  // the first is being sent; a rotated file before the log
    long long acked_;    // in the first file
    long long read_;     // next to send
    // In the cursor file; none yet: the first turn writes it, so that a
    // rotation before anything is sent still finds the file it names.
    long long written_ = -1;
    FileId written_file_;
    std::deque<Pending> pending_;
    long long acked_count_ = 0;
    // The unsent records, counted as the file grows: lines from the start
    // offset to counted_to_, less those acknowledged since.
    long long counted_to_ = 0;
    long long lines_counted_ = 0;
    long long lines_acked_ = 0;
    long long die_after_ = 0;
    Clock::time_point saved_at_{};
    Clock::time_point followed_at_{};

    mosquitto* mosq_ = nullptr;
    bool connected_ = false;
    std::optional<std::string> refused_;
    LinkProblem refused_why_ = LinkProblem::Refused;
    LinkProblem why_ = LinkProblem::None;
    // The record oldest_unsent() read last.
    FileId oldest_file_;
    long long oldest_offset_ = -1;
    std::optional<long long> oldest_time_;
    std::string last_log_error_;
    std::string problem_;
    std::string cursor_error_;
    int offline_mid_ = -1;
    bool offline_acked_ = false;
    Clock::time_point connecting_since_{};
    Clock::time_point next_try_{};
    milliseconds retry_ = kRetryFirst;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    PublishLink link_;
    std::vector<std::string> messages_;
    std::ostream* err_ = nullptr;
    std::thread thread_;
};

// Where publishing resumes: the cursor's file (the log, or the log renamed
// by a rotation, finished first) and offset in it.
struct Resume {
    std::vector<std::unique_ptr<SpoolReader>> files;
    long long offset = 0;
    std::vector<std::string> notes;
};

Resume resume_from_cursor(const std::string& log_path) {
    Resume resume;
    auto log = std::make_unique<SpoolReader>(log_path);
    const auto cursor = read_cursor(cursor_path(log_path));
    if (cursor && cursor->file == log->id()) {
        if (cursor->offset <= log->size()) {
            resume.offset = cursor->offset;
        } else {
            resume.notes.push_back(log_path + " is shorter than its cursor says: sending it from its start");
        }
    } else if (cursor) {
        for (const std::string& name : rotated_names(log_path)) {
            if (id_of_path(name) != cursor->file) continue;
            auto rotated = std::make_unique<SpoolReader>(name);
            if (rotated->id() != cursor->file) continue;
            resume.offset = std::min(cursor->offset, rotated->size());
            resume.files.push_back(std::move(rotated));
            break;
        }
        if (resume.files.empty()) {
            resume.notes.push_back("the file of " + cursor_path(log_path) +
                                   " is no longer beside the log: sending the log from its start");
        }
    }
    resume.files.push_back(std::move(log));
    return resume;
}

// A library built without TLS (the Windows build's) answers any TLS setting so.
bool library_has_tls() {
    mosquitto* probe = mosquitto_new(nullptr, true, nullptr);
    if (!probe) return true;  // out of memory: the connection will say more
    const bool has = mosquitto_tls_set(probe, nullptr, nullptr, nullptr, nullptr, nullptr) != MOSQ_ERR_NOT_SUPPORTED;
    mosquitto_destroy(probe);
    return has;
}

}  // namespace

std::unique_ptr<Publisher> start_publisher(PublishConfig config, std::ostream& err) {
    static LibraryUse library;
    // Refused at once: retrying could never connect.
    if ((config.broker.tls || config.ca_file) && !library_has_tls()) {
        err << "wxr7305: --publish: this build of wxr7305 has no TLS: mqtts:// and --publish-ca cannot be used\n";
        return nullptr;
    }
    try {
        Resume resume = resume_from_cursor(config.log_path);
        auto publisher = std::make_unique<SpoolPublisher>(std::move(config), std::move(resume.files), resume.offset,
                                                          std::move(resume.notes));
        publisher->set_err(&err);
        return publisher;
    } catch (const std::exception& e) {
        err << "wxr7305: --publish: " << e.what() << "\n";
        return nullptr;
    }
}

}  // namespace wxr::publish
