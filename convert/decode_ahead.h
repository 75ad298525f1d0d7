// SPDX-License-Identifier: MIT
// The file a run will take next, decoded on a thread of its own while the
// current one is reduced and written: decoding is single-threaded, so on two
// cores it would otherwise leave one idle for most of each file.
#pragma once

#include "convert_file.h"

#include <wx/string.h>

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class DecodeAhead {
public:
    // Pictures above this many pixels are not decoded ahead. A picture ahead
    // holds 3 bytes a pixel (300 MB at most); formats the toolkit decodes
    // hold up to 7 while they are decoded (700 MB).
    static constexpr long long pixelCap = 100'000'000;

    DecodeAhead() = default;
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;
    ~DecodeAhead() { stop(); }

    // Decodes a source as a run does: ahead on one core, else on all.
    static LoadedSource decode(const wxString& path, bool ahead, const std::atomic<bool>* cancel = nullptr);

    // Starts decoding path, unless it is the one ahead already; any other
    // picture ahead is dropped.
    void start(const wxString& path);
    // What was decoded for path (the picture, or why it could not be) if the
    // file is still the one that was decoded (device, inode, size and
    // modification time); else nothing, and path is to be decoded again.
    // Either way nothing is left ahead.
    std::optional<LoadedSource> take(const wxString& path);
    // Nothing is wanted ahead any more: a picture held is freed at once, a
    // decode in progress is given up.
    void cancel();
    // cancel(), and the decoding thread is gone when it returns.
    void stop();
    // Whether a file is being decoded or held ahead.
    bool busy() const;

private:
    struct Stamp {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        long long modified = 0;  // nanoseconds
        bool operator==(const Stamp& other) const {
            return device == other.device && inode == other.inode && size == other.size && modified == other.modified;
        }
    };
    static std::optional<Stamp> stampOf(const wxString& path);
    void serve();  // the decoding thread: one per run, so that per-thread state does not pile up
    void drop();   // under the lock: the job and what it holds are forgotten

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::thread decoder;
    bool quit = false;
    unsigned job = 0;       // the picture wanted ahead; 0 for none
    unsigned counter = 0;
    bool queued = false;    // wanted, not started yet
    unsigned decoding = 0;  // the job being decoded
    std::shared_ptr<std::atomic<bool>> givenUp;  // the job being decoded is no longer wanted
    unsigned ready = 0;     // the job whose result is held
    wxString path;
    std::optional<Stamp> stamp;
    LoadedSource result;
};
