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

void DecodeAhead::start(const wxString& next) {
    if (decoder.joinable() && path == next) return;
    drop();
    long long width = 0, height = 0;
    if (!readPictureSize(next, width, height) || width * height > pixelCap) return;
    path = next;
    stamp = stampOf(next);  // before the decode: a change during it shows too
    const wxString source(next.wc_str());  // a copy of its own for the other thread
    decoder = std::thread([this, source] {
        picture = loadSource(source);
        if (picture.image) ++held;
        sourceDecoded(source, true);
    });
}

std::optional<LoadedSource> DecodeAhead::take(const wxString& source) {
    if (!decoder.joinable()) return std::nullopt;
    decoder.join();
    const bool usable = path == source && picture.image && stamp && stampOf(source) == stamp;
    std::optional<LoadedSource> taken;
    if (usable) {
        taken = std::move(picture);
        --held;
    }
    drop();
    return taken;
}

void DecodeAhead::drop() {
    if (decoder.joinable()) decoder.join();
    if (picture.image) --held;
    picture = LoadedSource();
    path.clear();
    stamp.reset();
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
