// SPDX-License-Identifier: MIT
#include "run_seams.h"

#include "convert_file.h"
#include "writer.h"

#include <pthread.h>

#include <cstring>
#include <mutex>

namespace {
std::mutex mutex;
std::function<void(const wxString&)> fileTaken;
std::function<void(const wxString&, bool)> sourceDecoded;
std::function<void(const Image&, const RunSettings&, bool)> previewReduction;
std::function<void(int, int)> encoding;

template <class F>
F current(const F& watcher) {
    std::lock_guard<std::mutex> lock(mutex);
    return watcher;
}

template <class F>
void set(F& watcher, F to) {
    std::lock_guard<std::mutex> lock(mutex);
    watcher = std::move(to);
}

bool onThread(const char* name) {
    char thread[16] = {};
    return pthread_getname_np(pthread_self(), thread, sizeof thread) == 0 && std::strcmp(thread, name) == 0;
}
}  // namespace

namespace seams {
void onFileTaken(std::function<void(const wxString&)> watcher) { set(fileTaken, std::move(watcher)); }
void onSourceDecoded(std::function<void(const wxString&, bool)> watcher) { set(sourceDecoded, std::move(watcher)); }
void onPreviewReduction(std::function<void(const Image&, const RunSettings&, bool)> watcher) {
    set(previewReduction, std::move(watcher));
}
void onEncode(std::function<void(int, int)> watcher) { set(encoding, std::move(watcher)); }
}  // namespace seams

// The linker sends the product's calls of these steps here (--wrap), and
// __real_ names the step itself.
extern "C" {
FileOutcome __real__Z11convertFileRK8wxStringRK11RunSettingsRK11FileContext(const wxString&, const RunSettings&,
                                                                            const FileContext&);
LoadedSource __real__Z10loadSourceRK8wxStringRK13DecodeOptions(const wxString&, const DecodeOptions&);
wxString __real__Z11reduceImageR5ImageRK11RunSettings(Image&, const RunSettings&);
wxString __real__Z13encodePictureRK10RgbPicture8FileTypeRK13EncodeOptionsRSt6vectorIcSaIcEE(
    const RgbPicture&, FileType, const EncodeOptions&, std::vector<char>&);

FileOutcome __wrap__Z11convertFileRK8wxStringRK11RunSettingsRK11FileContext(const wxString& source,
                                                                            const RunSettings& settings,
                                                                            const FileContext& context) {
    if (auto watcher = current(fileTaken)) watcher(source);
    return __real__Z11convertFileRK8wxStringRK11RunSettingsRK11FileContext(source, settings, context);
}

LoadedSource __wrap__Z10loadSourceRK8wxStringRK13DecodeOptions(const wxString& path, const DecodeOptions& options) {
    LoadedSource loaded = __real__Z10loadSourceRK8wxStringRK13DecodeOptions(path, options);
    if (auto watcher = current(sourceDecoded)) watcher(path, onThread("pixloom-ahead"));
    return loaded;
}

wxString __wrap__Z11reduceImageR5ImageRK11RunSettings(Image& image, const RunSettings& settings) {
    const auto watcher = onThread("pixloom-preview") ? current(previewReduction) : nullptr;
    if (watcher) watcher(image, settings, false);
    wxString error = __real__Z11reduceImageR5ImageRK11RunSettings(image, settings);
    if (watcher) watcher(image, settings, true);
    return error;
}

wxString __wrap__Z13encodePictureRK10RgbPicture8FileTypeRK13EncodeOptionsRSt6vectorIcSaIcEE(
    const RgbPicture& picture, FileType type, const EncodeOptions& options, std::vector<char>& out) {
    if (auto watcher = current(encoding)) watcher(picture.width, picture.height);
    return __real__Z13encodePictureRK10RgbPicture8FileTypeRK13EncodeOptionsRSt6vectorIcSaIcEE(picture, type, options,
                                                                                                out);
}
}
