// SPDX-License-Identifier: MIT
#include "worker_pool.h"

#include <pthread.h>

#include <system_error>

WorkerPool::WorkerPool(std::string name, std::function<Work()> pick) : name(std::move(name)), pick(std::move(pick)) {}

bool WorkerPool::start(unsigned count) {
    {
        std::lock_guard<std::mutex> held(mutex);
        if (quit) return false;
    }
    try {
        while (threads.size() < count) threads.emplace_back([this] { serve(); });
    } catch (const std::system_error&) {  // fewer threads do the same work, only later
    }
    return !threads.empty();
}

void WorkerPool::stop() {
    {
        std::lock_guard<std::mutex> held(mutex);
        quit = true;
    }
    changed.notify_all();
    for (std::thread& thread : threads) thread.join();
    threads.clear();
}

void WorkerPool::serve() {
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());  // the kernel keeps 15 characters
    std::unique_lock<std::mutex> held(mutex);
    for (;;) {
        Work work;
        changed.wait(held, [&] {
            if (!quit) work = pick();
            return quit || work;
        });
        if (quit) return;
        held.unlock();
        work();
        work = nullptr;  // what it holds is freed outside the lock
        held.lock();
        changed.notify_all();
    }
}
