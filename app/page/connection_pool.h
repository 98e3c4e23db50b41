// The page server's threads: one per connection being served, at most
// `size`, started as needed. While all are busy, enqueue waits, so that the
// server accepts nothing more and further connections wait in the system's
// queue (or are turned away there) rather than in this process's memory.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <system_error>
#include <mutex>
#include <thread>
#include <vector>

namespace wxr::page {

class ConnectionPool {
public:
    explicit ConnectionPool(std::size_t size) : size_(size) {}
    ~ConnectionPool() { shutdown(); }
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

    // Runs the task on a thread of the pool once one is free; after
    // unblock(), on the caller's when none is.
    void enqueue(std::function<void()> task);
    // enqueue no longer waits (the server is stopping).
    void unblock();
    // Lets the tasks given end, then joins the threads.
    void shutdown();

private:
    void work();
    static void run(const std::function<void()>& task) noexcept;

    const std::size_t size_;
    std::mutex mutex_;
    std::condition_variable wake_;   // a task came, or the pool ends
    std::condition_variable freed_;  // a thread is free, or enqueue must not wait
    std::deque<std::function<void()>> tasks_;
    std::vector<std::thread> threads_;
    std::size_t busy_ = 0;
    bool unblocked_ = false;
    bool ending_ = false;
};

}  // namespace wxr::page
