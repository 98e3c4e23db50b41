#include "app/page/connection_pool.h"

namespace wxr::page {

void ConnectionPool::enqueue(std::function<void()> task) {
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return busy_ + tasks_.size() < size_ || unblocked_; });
    if (busy_ + tasks_.size() < size_ && !ending_) {
        tasks_.push_back(std::move(task));
        try {
            if (threads_.size() < busy_ + tasks_.size()) threads_.emplace_back(&ConnectionPool::work, this);
            lock.unlock();
            wake_.notify_one();
            return;
        } catch (const std::system_error&) {
            // No thread to be had: this one serves it.
            task = std::move(tasks_.back());
            tasks_.pop_back();
        }
    }
    lock.unlock();
    run(task);
}

void ConnectionPool::work() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [&] { return !tasks_.empty() || ending_; });
        if (tasks_.empty()) return;
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        ++busy_;
        lock.unlock();
        run(task);
        lock.lock();
        --busy_;
        freed_.notify_one();
    }
}

void ConnectionPool::unblock() {
    {
        std::lock_guard lock(mutex_);
        unblocked_ = true;
    }
    freed_.notify_all();
}

void ConnectionPool::shutdown() {
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
        unblocked_ = true;
        threads.swap(threads_);
    }
    wake_.notify_all();
    freed_.notify_all();
    for (std::thread& thread : threads) thread.join();
}

void ConnectionPool::run(const std::function<void()>& task) noexcept {
    try {
        task();
    } catch (...) {
        // A connection that failed ends alone; nothing escapes its thread.
    }
}

}  // namespace wxr::page
