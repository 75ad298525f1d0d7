#include "decode_ahead.h"

#include "decode.h"
#include "image.h"
#include "output_path.h"

#include <sys/stat.h>

#include <mutex>

namespace {
std::mutex hookMutex;
std::function<void(const wxString&, bool)> decodeHook;
std::atomic<int> held{0};
}  // namespace

std::optional<DecodeAhead::Stamp> DecodeAhead::stampOf(const wxString& path) {
    struct stat status;
    if (stat(nativePath(path).c_str(), &status) != 0) return std::nullopt;
    return Stamp{status.st_dev, status.st_ino, status.st_size,
                 status.st_mtim.tv_sec * 1'000'000'000LL + status.st_mtim.tv_nsec};
}

DecodeAhead::~DecodeAhead() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        quit = true;
        job = 0;
        release();
    }
    changed.notify_all();
    if (decoder.joinable()) decoder.join();
}

void DecodeAhead::start(const wxString& next) {
    long long width = 0, height = 0;
    const bool small = readPictureSize(next, width, height) && width > 0 && height > 0 && width <= pixelCap / height;
    std::lock_guard<std::mutex> lock(mutex);
    if (job != 0 && path == next) return;
    release();
    job = 0;
    queued = false;
    if (!small) return;
    job = ++counter;
    path = wxString(next.wc_str());  // a copy of its own for the other thread
    stamp = stampOf(next);  // before the decode: a change during it shows too
    queued = true;
    if (!decoder.joinable()) decoder = std::thread([this] { serve(); });
    changed.notify_all();
}

void DecodeAhead::serve() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return quit || queued; });
        if (quit) return;
        const unsigned id = decoding = job;
        const wxString source(path.wc_str());
        queued = false;
        lock.unlock();
        LoadedSource result = loadSource(source);
        sourceDecoded(source, true);
        lock.lock();
        decoding = 0;
        if (id == job && result.image) {
            picture = std::move(result);
            ready = id;
            ++held;
        }
        changed.notify_all();
        if (id != job) {  // dropped meanwhile: freed outside the lock
            lock.unlock();
            result = LoadedSource();
            lock.lock();
        }
    }
}

std::optional<LoadedSource> DecodeAhead::take(const wxString& source) {
    std::unique_lock<std::mutex> lock(mutex);
    if (job == 0) return std::nullopt;
    changed.wait(lock, [this] { return !queued && decoding != job; });
    std::optional<LoadedSource> taken;
    if (ready == job && path == source && stamp && stampOf(source) == stamp) {
        taken = std::move(picture);
        picture = LoadedSource();
        ready = 0;
        --held;
    }
    release();
    job = 0;
    return taken;
}

void DecodeAhead::drop() {
    std::lock_guard<std::mutex> lock(mutex);
    release();
    job = 0;
    queued = false;
}

bool DecodeAhead::busy() const {
    std::lock_guard<std::mutex> lock(mutex);
    return job != 0;
}

void DecodeAhead::release() {
    if (ready != 0) --held;
    ready = 0;
    picture = LoadedSource();
}

void setDecodeHook(std::function<void(const wxString& source, bool ahead)> hook) {
    std::lock_guard<std::mutex> lock(hookMutex);
    decodeHook = std::move(hook);
}

void sourceDecoded(const wxString& source, bool ahead) {
    std::function<void(const wxString&, bool)> hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex);
        hook = decodeHook;
    }
    if (hook) hook(source, ahead);
}

int picturesAhead() { return held; }
