// SPDX-License-Identifier: MIT
// The files a run will take next, decoded on threads of their own while the
// current one is reduced and written: decoding is single-threaded and the
// longer part of a file, so with one file at a time most cores would wait.
#pragma once

#include "convert_file.h"
#include "worker_pool.h"

#include <wx/string.h>

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

class DecodeAhead {
public:
    // decoders: files decoded at once, and held ahead at most. budget: the
    // bytes the pictures ahead may take together; a picture that does not
    // fit is left to the run, which decodes it alone.
    explicit DecodeAhead(unsigned decoders = defaultDecoders(), std::size_t budget = defaultBudget());
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;
    ~DecodeAhead() { stop(); }

    // One a core: the run's reduction and encoding take what decoding leaves.
    static unsigned defaultDecoders();
    // A quarter of the physical memory.
    static std::size_t defaultBudget();
    unsigned decoders() const { return count; }

    // Decodes a source as a run does: ahead on one core, else on all.
    static LoadedSource decode(const wxString& path, bool ahead, const CancelToken& cancel = {});

    // The files wanted ahead, in the order the run will take them: the
    // pictures of any other file are dropped (their decodes given up), and
    // those new start decoding in this order while the decoders and the
    // budget allow.
    void want(const std::vector<wxString>& files);
    // What was decoded for path (the picture, or why it could not be) if the
    // file is still the one that was decoded (device, inode, size and
    // modification time); else nothing, and path is to be decoded again.
    // Either way path is no longer ahead.
    std::optional<LoadedSource> take(const wxString& path);
    // Nothing is wanted ahead any more: pictures held are freed at once,
    // decodes in progress given up.
    void cancel();
    // cancel(), for good, and the decoding threads are gone when it returns.
    void stop();
    // Files wanted ahead and not decoded yet: the cores they keep busy.
    unsigned busy() const;

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
    struct Slot {
        enum State { Queued, Decoding, Done } state = Queued;
        wxString path;               // a copy of its own for the decoding thread
        std::optional<Stamp> stamp;  // taken before the decode: a change during it shows too
        std::size_t bytes = 0;       // against the budget
        CancelToken givenUp;
        LoadedSource result;
    };
    using Slots = std::vector<std::shared_ptr<Slot>>;
    static std::optional<Stamp> stampOf(const wxString& path);
    static std::optional<std::size_t> bytesOf(const wxString& path);
    WorkerPool::Work pick();  // under the lock
    void decodeInto(const std::shared_ptr<Slot>& slot);
    Slots::iterator find(const wxString& path);  // under the lock

    const unsigned count;
    const std::size_t budget;
    Slots slots;  // under the pool's lock, in the order the run takes them
    bool stopped = false;
    WorkerPool pool;  // last: its threads are gone before the rest
};
