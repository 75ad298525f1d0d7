// SPDX-License-Identifier: MIT
// The preview's work, on one thread of its own for as long as the preview
// lives: the file shown is decoded once, each method is reduced from it with
// the settings of the moment by the run's own steps and kept, and the output
// each shown method would give is encoded in memory to learn its size.
// Nothing is written.
#pragma once

#include "convert_file.h"
#include "settings.h"
#include "worker_pool.h"

#include <wx/string.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class Image;

class PreviewReducer {
public:
    // A method's picture as a run would write it, or why there is none.
    struct Reduced {
        std::shared_ptr<const Image> image;  // null when it could not be reduced
        wxString error;
    };
    // The output file that picture gives for the settings' type.
    struct Figures {
        std::size_t bytes = 0;
        int quality = 0;            // lossy types: the quality written (the size search's pick under a limit)
        int width = 0, height = 0;  // the picture written: smaller than reduced when a lowest quality asks so
        wxString overLimit;         // lossy types: what the file misses when quality 1 is still over the limit
        wxString error;             // the encoding failed
    };

    // The bytes of pictures kept for methods reduced ahead of being shown.
    static constexpr std::size_t defaultBudget = 256u << 20;

    // ready is called on the worker thread whenever a result is added; it
    // must neither block nor wait for the window's thread.
    explicit PreviewReducer(std::function<void()> ready, std::size_t budget = defaultBudget);
    ~PreviewReducer();  // stop()
    PreviewReducer(const PreviewReducer&) = delete;
    PreviewReducer& operator=(const PreviewReducer&) = delete;

    // The file to preview: everything of the previous one is dropped, and
    // its work given up.
    void open(const wxString& path);
    // What the window shows: the settings of the moment (their method is not
    // looked at) and the methods on screen, the first one first. Pictures of
    // another size are dropped, and a reduction to it given up; so are the
    // figures of another output type, quality or limit. The methods not shown
    // are reduced after the shown ones, so that switching to them is instant
    // (while all the pictures kept fit the budget).
    void show(const RunSettings& settings, const std::vector<Method>& shown);

    // Results so far; any thread. Nothing while not known yet.
    std::optional<wxString> sourceError() const;
    bool sourceDamaged() const;  // decoded from damaged data
    std::optional<Reduced> reduced(const Method& method) const;
    std::optional<Figures> figures(const Method& method) const;
    // The file is being decoded, or a shown method being reduced.
    bool reducing() const;
    // How often the file opened was decoded.
    int decodes() const;

    // Gives up what is in progress; the thread is gone when it returns.
    void stop();

private:
    enum class Task { None, Decode, Reduce, Encode };
    struct Job {
        Task task = Task::None;
        std::size_t method = 0;  // index in methods()
        wxString path;           // Decode: a copy of its own for the worker
        RunSettings settings;
        unsigned fileGeneration = 0, sizeGeneration = 0, outputGeneration = 0;
        std::shared_ptr<const Image> picture;  // Encode: the reduced picture
        CancelToken cancel;                    // requested once the job is no longer wanted
    };
    WorkerPool::Work pick();  // under the lock
    Job nextJob();            // under the lock
    Job job(Task task, std::size_t method) const;
    void decode(const Job& job);
    void reduce(const Job& job);
    void encode(const Job& job);
    bool givenUp(const Job& job) const;  // no longer wanted; atomics only
    void dropStale();                    // under the lock: the running job given up if no longer wanted
    bool roomForAnother() const;         // under the lock
    void dropResults();                  // under the lock

    const std::function<void()> ready;
    const std::size_t budget;
    LoadedSource source;  // the worker's only

    std::atomic<bool> quit{false};
    std::atomic<unsigned> fileGeneration{0}, sizeGeneration{0}, outputGeneration{0}, shownMask{0};
    wxString path;
    bool told = false;  // show() was called since the file was opened
    RunSettings settings;
    std::vector<std::size_t> shown;
    bool decoded = false, damaged = false;
    int decodeCount = 0;
    std::optional<wxString> loadError;
    std::vector<std::optional<Reduced>> pictures;
    std::vector<std::optional<Figures>> outputs;
    Job running;      // the job the worker is on, if any
    WorkerPool pool;  // last: its thread is gone before the rest; its lock guards the rest
};
