// SPDX-License-Identifier: MIT
#include "decode_ahead.h"

#include "image.h"
#include "safe_write.h"

#include <pthread.h>
#include <sys/stat.h>

// A seam for test programs, which may define it to watch every source a run
// decodes; the programs themselves leave it undefined.
void runDecodedSource(const wxString& source, bool ahead) __attribute__((weak));

LoadedSource DecodeAhead::decode(const wxString& path, bool ahead, const std::atomic<bool>* cancel) {
    DecodeOptions options;
    options.threads = ahead ? 1 : 0;  // the reduction has the other cores meanwhile
    options.cancel = cancel;
    LoadedSource loaded = loadSource(path, options);
    if (runDecodedSource) runDecodedSource(path, ahead);
    return loaded;
}

std::optional<DecodeAhead::Stamp> DecodeAhead::stampOf(const wxString& path) {
    struct stat status;
    if (stat(nativePath(path).c_str(), &status) != 0) return std::nullopt;
    return Stamp{status.st_dev, status.st_ino, status.st_size,
                 status.st_mtim.tv_sec * 1'000'000'000LL + status.st_mtim.tv_nsec};
}

void DecodeAhead::start(const wxString& next) {
    long long width = 0, height = 0;
    const bool small = readPictureSize(next, width, height) && width > 0 && height > 0 && width <= pixelCap / height;
    std::lock_guard<std::mutex> lock(mutex);
    if (job != 0 && path == next) return;
    drop();
    if (!small || quit) return;
    job = ++counter;
    path = wxString(next.wc_str());  // a copy of its own for the other thread
    stamp = stampOf(next);           // before the decode: a change during it shows too
    queued = true;
    if (!decoder.joinable())
        decoder = std::thread([this] {
            pthread_setname_np(pthread_self(), "pixloom-ahead");  // as the tests and a debugger tell it
            serve();
        });
    changed.notify_all();
}

void DecodeAhead::serve() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return quit || queued; });
        if (quit) return;
        const unsigned id = decoding = job;
        const wxString source(path.wc_str());
        auto stop = givenUp = std::make_shared<std::atomic<bool>>(false);
        queued = false;
        lock.unlock();
        LoadedSource decoded = decode(source, true, stop.get());
        lock.lock();
        decoding = 0;
        if (id == job && !*stop) {
            result = std::move(decoded);
            ready = id;
        }
        changed.notify_all();
        if (id != job) {  // dropped meanwhile: freed outside the lock
            lock.unlock();
            decoded = LoadedSource();
            lock.lock();
        }
    }
}

std::optional<LoadedSource> DecodeAhead::take(const wxString& source) {
    std::unique_lock<std::mutex> lock(mutex);
    const unsigned wanted = job;
    if (wanted == 0) return std::nullopt;
    // Until its decode is over, or it is dropped meanwhile (a cancel).
    changed.wait(lock, [&] { return job != wanted || (!queued && decoding != wanted); });
    std::optional<LoadedSource> taken;
    if (job == wanted && ready == wanted && path == source && stamp && stampOf(source) == stamp) {
        taken = std::move(result);
        ready = 0;
    }
    drop();
    return taken;
}

void DecodeAhead::cancel() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        drop();
    }
    changed.notify_all();
}

void DecodeAhead::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        quit = true;
        drop();
    }
    changed.notify_all();
    if (decoder.joinable()) decoder.join();
}

bool DecodeAhead::busy() const {
    std::lock_guard<std::mutex> lock(mutex);
    return job != 0;
}

void DecodeAhead::drop() {
    if (givenUp && decoding != 0) *givenUp = true;
    job = 0;
    queued = false;
    ready = 0;
    result = LoadedSource();
}
