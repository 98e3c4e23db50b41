// A DialogWindow that records what the dialog asks of it. Calls from another
// thread behave as the real front-ends make them: a worker's message box is
// handed to the dialog thread and waits there until run_pending_calls runs it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/dialog_window.h"
#include "device/channel.h"

namespace wxr::testing {

using app::MessageAnswer;
using app::MessageButtons;
using app::MessageIcon;

struct RecordedBox {
    std::string text;
    std::string caption;
    MessageIcon icon;
    MessageButtons buttons;
    bool from_dialog_thread;
    std::size_t log_position;  // index of its line in the log
};

class FakeWindow final : public app::DialogWindow {
public:
    // A worker's box never waits longer than this for the dialog thread: a
    // test that forgets to run pending calls fails instead of hanging.
    static constexpr auto kHandOverBound = std::chrono::seconds(10);

    FakeWindow() : dialog_thread_(std::this_thread::get_id()) {}

    // What the next boxes answer: YesNo boxes take from `yes_no_answers`
    // (No when it is empty); `on_box` runs on the dialog thread as a box shows.
    std::deque<MessageAnswer> yes_no_answers;
    std::function<void(const RecordedBox&)> on_box;
    // What the file-open dialog returns, and whether it was asked.
    std::optional<std::u16string> file_to_choose;
    bool raw_input_refused = false;

    void set_control_text(int id, const std::u16string& text) override {
        std::lock_guard lock(mutex_);
        texts_[id] = text;
        log_locked("text " + std::to_string(id) + " " + to_utf8(text));
    }
    void enable_control(int id, bool enabled) override {
        std::lock_guard lock(mutex_);
        enabled_[id] = enabled;
        log_locked("enable " + std::to_string(id) + (enabled ? " on" : " off"));
    }
    void set_progress_range(std::int32_t low, std::int32_t high) override {
        log("range " + std::to_string(low) + " " + std::to_string(high));
    }
    void set_progress_position(std::int32_t position) override {
        std::lock_guard lock(mutex_);
        position_ = position;
        log_locked("pos " + std::to_string(position));
    }
    MessageAnswer message_box(const std::u16string& text, const std::u16string& caption,
                              MessageIcon icon, MessageButtons buttons) override {
        if (std::this_thread::get_id() == dialog_thread_) return show_box(text, caption, icon, buttons, true);
        return hand_over(text, caption, icon, buttons);
    }
    std::optional<app::ChosenFile> choose_open_file(const std::u16string& filter_name,
                                               const std::u16string& pattern) override {
        log("choose file " + to_utf8(filter_name) + " (" + to_utf8(pattern) + ")");
        if (!file_to_choose) return std::nullopt;
        return app::ChosenFile{*file_to_choose, std::filesystem::path(*file_to_choose)};
    }
    void start_timer(std::uintptr_t id, std::uint32_t period_ms) override {
        log("timer " + std::to_string(id) + " " + std::to_string(period_ms));
    }
    void set_caption(const std::u16string& text) override { log("caption " + to_utf8(text)); }
    void set_application_icon() override { log("icon"); }
    void add_about_entry(std::uint32_t command, const std::u16string& text) override {
        log("about entry " + std::to_string(command) + " " + to_utf8(text));
    }
    bool register_raw_mouse_input() override {
        log("raw input");
        return !raw_input_refused;
    }
    void show_about_box() override { log("about box"); }
    void end_dialog(std::intptr_t result) override {
        std::lock_guard lock(mutex_);
        ended_ = true;
        log_locked("end " + std::to_string(result));
    }
    void run_pending_calls() override {
        std::deque<std::function<void()>> calls;
        {
            std::lock_guard lock(mutex_);
            calls.swap(pending_);
        }
        for (auto& call : calls) call();
    }

    // Queries.
    std::vector<std::string> log_lines() const {
        std::lock_guard lock(mutex_);
        return log_;
    }
    std::vector<RecordedBox> boxes() const {
        std::lock_guard lock(mutex_);
        return boxes_;
    }
    std::u16string text_of(int id) const {
        std::lock_guard lock(mutex_);
        const auto found = texts_.find(id);
        return found == texts_.end() ? std::u16string() : found->second;
    }
    // Controls never touched keep their template state, given here.
    bool enabled(int id, bool initially) const {
        std::lock_guard lock(mutex_);
        const auto found = enabled_.find(id);
        return found == enabled_.end() ? initially : found->second;
    }
    std::int32_t position() const {
        std::lock_guard lock(mutex_);
        return position_;
    }
    bool ended() const {
        std::lock_guard lock(mutex_);
        return ended_;
    }
    bool has_pending_calls() const {
        std::lock_guard lock(mutex_);
        return !pending_.empty();
    }
    bool hand_over_timed_out() const {
        std::lock_guard lock(mutex_);
        return hand_over_timed_out_;
    }
    std::size_t count(const std::string& prefix) const {
        std::size_t n = 0;
        for (const auto& line : log_lines()) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

private:
    MessageAnswer show_box(const std::u16string& text, const std::u16string& caption, MessageIcon icon,
                           MessageButtons buttons, bool on_dialog_thread) {
        RecordedBox box{to_utf8(text), to_utf8(caption), icon, buttons, on_dialog_thread, 0};
        MessageAnswer answer = MessageAnswer::Ok;
        {
            std::lock_guard lock(mutex_);
            box.log_position = log_.size();
            log_locked("box " + box.text);
            boxes_.push_back(box);
            if (buttons == MessageButtons::YesNo) {
                answer = MessageAnswer::No;
                if (!yes_no_answers.empty()) {
                    answer = yes_no_answers.front();
                    yes_no_answers.pop_front();
                }
            }
        }
        if (on_box) on_box(box);
        return answer;
    }

    MessageAnswer hand_over(const std::u16string& text, const std::u16string& caption, MessageIcon icon,
                            MessageButtons buttons) {
        struct Call {
            std::mutex mutex;
            std::condition_variable done;
            bool finished = false;
            MessageAnswer answer = MessageAnswer::Ok;
        };
        auto call = std::make_shared<Call>();
        {
            std::lock_guard lock(mutex_);
            pending_.push_back([=, this] {
                const MessageAnswer answer = show_box(text, caption, icon, buttons, false);
                std::lock_guard call_lock(call->mutex);
                call->answer = answer;
                call->finished = true;
                call->done.notify_all();
            });
        }
        std::unique_lock call_lock(call->mutex);
        if (!call->done.wait_for(call_lock, kHandOverBound, [&] { return call->finished; })) {
            std::lock_guard lock(mutex_);
            hand_over_timed_out_ = true;
        }
        return call->answer;
    }

    void log(const std::string& line) {
        std::lock_guard lock(mutex_);
        log_locked(line);
    }
    void log_locked(const std::string& line) { log_.push_back(line); }

    const std::thread::id dialog_thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> log_;
    std::vector<RecordedBox> boxes_;
    std::map<int, std::u16string> texts_;
    std::map<int, bool> enabled_;
    std::int32_t position_ = 0;
    bool ended_ = false;
    bool hand_over_timed_out_ = false;
    std::deque<std::function<void()>> pending_;
};

}  // namespace wxr::testing
