// SPDX-License-Identifier: MIT
// Threads that do their owner's work as the owner's state calls for it. The
// owner keeps that state under the pool's lock; a thread free for work asks
// pick (under the lock) what to do next and does it without the lock. After
// changing the state the owner calls wake(), so that idle threads ask again.
// Work that is no longer wanted is the owner's to give up: its state carries
// the generations or flags the work looks at.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class WorkerPool {
public:
    using Work = std::function<void()>;

    // pick: under the lock, the work to do next; an empty Work to wait for a
    // change. name: as thread lists and debuggers show the threads.
    WorkerPool(std::string name, std::function<Work()> pick);
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    ~WorkerPool() { stop(); }

    // The owner's thread, without the lock: starts threads until there are
    // count of them; false when none runs (or the pool was stopped).
    bool start(unsigned count);
    std::unique_lock<std::mutex> lock() const { return std::unique_lock<std::mutex>(mutex); }
    // The state changed: idle threads ask pick again, waiters look again.
    void wake() { changed.notify_all(); }
    // With lock held: waits until done() holds, looked at again after every
    // work and every wake().
    template <class Done>
    void wait(std::unique_lock<std::mutex>& held, Done done) {
        changed.wait(held, done);
    }
    // The owner's thread, without the lock: no work is picked any more, for
    // good, and the threads are gone when it returns (the owner gives up the
    // work in progress first).
    void stop();

private:
    void serve();

    const std::string name;
    const std::function<Work()> pick;
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::thread> threads;
    bool quit = false;
};
