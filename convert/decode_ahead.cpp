// SPDX-License-Identifier: MIT
#include "decode_ahead.h"

#include "image.h"
#include "safe_write.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace {
// What a picture ahead holds: its pixels, 3 bytes each.
constexpr std::size_t bytesPerPixel = 3;
}  // namespace

DecodeAhead::DecodeAhead(unsigned decoders, std::size_t budget)
    : count(std::max(1u, decoders)), budget(budget), pool("pixloom-ahead", [this] { return pick(); }) {}

unsigned DecodeAhead::defaultDecoders() { return static_cast<unsigned>(std::max(1, Image::threadCount())); }

std::size_t DecodeAhead::defaultBudget() {
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return std::size_t(300) << 20;
    const std::size_t total = static_cast<std::size_t>(pages) / 4;
    const std::size_t page = static_cast<std::size_t>(pageSize);
    return total > SIZE_MAX / page ? SIZE_MAX / 4 : total * page;
}

LoadedSource DecodeAhead::decode(const wxString& path, bool ahead, const CancelToken& cancel) {
    DecodeOptions options;
    options.threads = ahead ? 1 : 0;  // the reduction has the other cores meanwhile
    options.cancel = cancel;
    return loadSource(path, options);
}

std::optional<DecodeAhead::Stamp> DecodeAhead::stampOf(const wxString& path) {
    struct stat status;
    if (stat(nativePath(path).c_str(), &status) != 0) return std::nullopt;
    return Stamp{status.st_dev, status.st_ino, status.st_size,
                 status.st_mtim.tv_sec * 1'000'000'000LL + status.st_mtim.tv_nsec};
}

// Nothing for a picture whose size is unknown or does not fit in a byte count.
std::optional<std::size_t> DecodeAhead::bytesOf(const wxString& path) {
    long long width = 0, height = 0;
    if (!readPictureSize(path, width, height) || width <= 0 || height <= 0) return std::nullopt;
    const unsigned long long w = static_cast<unsigned long long>(width), h = static_cast<unsigned long long>(height);
    if (w > SIZE_MAX / bytesPerPixel / h) return std::nullopt;
    return static_cast<std::size_t>(w * h * bytesPerPixel);
}

void DecodeAhead::want(const std::vector<wxString>& files) {
    std::vector<std::optional<std::size_t>> sizes;  // the files' headers are read outside the lock
    std::vector<std::optional<Stamp>> stamps;
    for (const wxString& file : files) {
        stamps.push_back(stampOf(file));  // before the decode: a change during it shows too
        sizes.push_back(bytesOf(file));
    }
    Slots dropped;  // freed outside the lock
    {
        auto lock = pool.lock();
        if (stopped) return;
        Slots kept;
        for (const auto& slot : slots) {
            if (std::find(files.begin(), files.end(), slot->path) != files.end()) {
                kept.push_back(slot);
            } else {
                slot->givenUp.request();
                dropped.push_back(slot);
            }
        }
        std::size_t held = 0;
        for (const auto& slot : kept) held += slot->bytes;
        for (std::size_t i = 0; i < files.size() && kept.size() < count; ++i) {
            const bool ahead =
                std::any_of(kept.begin(), kept.end(), [&](const auto& slot) { return slot->path == files[i]; });
            if (ahead || !sizes[i] || *sizes[i] > budget - held) continue;
            auto slot = std::make_shared<Slot>();
            slot->path = wxString(files[i].wc_str());
            slot->stamp = stamps[i];
            slot->bytes = *sizes[i];
            held += slot->bytes;
            kept.push_back(slot);
        }
        slots = std::move(kept);
    }
    pool.wake();
    pool.start(count);
}

WorkerPool::Work DecodeAhead::pick() {
    for (const auto& slot : slots)
        if (slot->state == Slot::Queued) {
            slot->state = Slot::Decoding;
            return [this, slot] { decodeInto(slot); };
        }
    return {};
}

void DecodeAhead::decodeInto(const std::shared_ptr<Slot>& slot) {
    LoadedSource decoded = decode(slot->path, true, slot->givenUp);
    auto lock = pool.lock();
    slot->state = Slot::Done;
    if (!slot->givenUp.requested()) slot->result = std::move(decoded);
    if (slot->givenUp.requested()) {  // dropped meanwhile: freed outside the lock
        lock.unlock();
        decoded = LoadedSource();
    }
}

DecodeAhead::Slots::iterator DecodeAhead::find(const wxString& path) {
    return std::find_if(slots.begin(), slots.end(), [&](const auto& slot) { return slot->path == path; });
}

std::optional<LoadedSource> DecodeAhead::take(const wxString& path) {
    std::shared_ptr<Slot> slot;
    std::optional<LoadedSource> taken;
    {
        auto lock = pool.lock();
        auto found = find(path);
        if (found == slots.end()) return std::nullopt;
        slot = *found;
        // Until its decode is over, or it is dropped meanwhile (a cancel). One
        // not started yet waits too: the files before it are taken already, so
        // a decoder is about to start it.
        pool.wait(lock, [&] { return slot->state == Slot::Done || find(path) == slots.end(); });
        found = find(path);
        if (found == slots.end()) return std::nullopt;
        slots.erase(found);
        if (slot->stamp && stampOf(path) == slot->stamp) taken = std::move(slot->result);
    }
    return taken;  // anything else slot holds is freed outside the lock
}

void DecodeAhead::cancel() {
    Slots dropped;  // freed outside the lock
    {
        auto lock = pool.lock();
        for (const auto& slot : slots) slot->givenUp.request();
        dropped.swap(slots);
    }
    pool.wake();
}

void DecodeAhead::stop() {
    {
        auto lock = pool.lock();
        stopped = true;
    }
    cancel();
    pool.stop();
}

unsigned DecodeAhead::busy() const {
    auto lock = pool.lock();
    return static_cast<unsigned>(
        std::count_if(slots.begin(), slots.end(), [](const auto& slot) { return slot->state != Slot::Done; }));
}
