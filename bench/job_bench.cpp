// SPDX-License-Identifier: MIT
// One file's whole job as the program does it: decode (the decoding stage:
// metadata, samples, orientation/transparency/profile) into an Image, resize
// with a method, hand back a toolkit image, encode to the output path's type.
// Prints the time of each stage and the total, the decoding stage's parts,
// and for comparison the same file loaded by the toolkit alone (no metadata,
// no conversion).
//
// usage: job_bench IN OUT [WIDTH HEIGHT [METHOD [JPEG_QUALITY]]]
//   defaults: 1920 1280 Lanczos3 90; METHOD is Nearest, Lanczos3, LCD(low),
//   LCD(mid), LCD(hi), LCD(ex) or LCD(max); the size is used as is (no ratio
//   fit, pixels).
#include "picture.h"
#include "writer.h"
#include "image.h"

#include <wx/file.h>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

struct Method {
    const char* name;
    int lcdType;
};

const Method methods[] = {{"Nearest", 0}, {"Lanczos3", 0}, {"LCD(low)", 1}, {"LCD(mid)", 3},
                          {"LCD(hi)", 4}, {"LCD(ex)", 5},  {"LCD(max)", 6}};

const Method* findMethod(const char* name) {
    for (const Method& method : methods)
        if (std::strcmp(method.name, name) == 0) return &method;
    return nullptr;
}

double millisecondsFor(const std::function<void()>& stage) {
    const auto start = std::chrono::steady_clock::now();
    stage();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

int usage() {
    std::fprintf(stderr, "usage: job_bench IN OUT [WIDTH HEIGHT [METHOD [JPEG_QUALITY]]]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc == 4) return usage();
    const wxString in = wxString::FromUTF8(argv[1]), out = wxString::FromUTF8(argv[2]);
    const int width = argc > 4 ? std::atoi(argv[3]) : 1920;
    const int height = argc > 4 ? std::atoi(argv[4]) : 1280;
    const Method* method = findMethod(argc > 5 ? argv[5] : "Lanczos3");
    const int quality = argc > 6 ? std::atoi(argv[6]) : 90;
    if (!method) return usage();

    wxInitializer toolkit;
    if (!toolkit.IsOk()) return 1;
    wxInitAllImageHandlers();

    std::unique_ptr<Image> image;
    bool saved = false;
    DecodeTimes parts;
    wxString error;
    std::vector<wxString> notes;
    const double decode = millisecondsFor([&] {
        DecodedPicture picture = decodePicture(in, {}, &parts);
        error = picture.error;
        notes = std::move(picture.notes);
        const int w = picture.width, h = picture.height;
        image = std::make_unique<Image>(picture.release(), w, h);
    });
    for (const wxString& note : notes)
        std::fprintf(stderr, "%s: %s\n", argv[1], static_cast<const char*>(note.utf8_str()));
    if (image->isEmpty()) {
        std::fprintf(stderr, "cannot read %s: %s\n", argv[1], static_cast<const char*>(error.utf8_str()));
        return 1;
    }
    const int sourceWidth = image->getWidth(), sourceHeight = image->getHeight();
    const double resize = millisecondsFor([&] {
        image->lcdSetting(method->lcdType);
        if (std::strcmp(method->name, "Nearest") == 0)
            image->resizeNearest(width, height, false, false);
        else
            image->resize(width, height, false, false);
    });
    const wxString extension = wxFileName(out).GetExt().Lower();
    FileType type = FileType::PNG;
    for (const FileTypeInfo& info : fileTypes())
        if (extension == wxString(info.extension + 1) || (extension == wxT("jpeg") && info.type == FileType::JPEG))
            type = info.type;
    std::vector<char> bytes;
    EncodeOptions options;
    options.quality = quality;
    const double encode = millisecondsFor([&] {
        saved =
            encodePicture({image->pixelData(), image->getWidth(), image->getHeight()}, type, options, bytes).empty();
    });
    if (!saved || !wxFile(out, wxFile::write).Write(bytes.data(), bytes.size())) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("%dx%d -> %dx%d %s, %d thread(s)\n", sourceWidth, sourceHeight, image->getWidth(), image->getHeight(),
                method->name, Image::threadCount());
    std::printf("decode %.1f ms, resize %.1f ms, encode %.1f ms, total %.1f ms\n", decode, resize, encode,
                decode + resize + encode);
    std::printf("decode: metadata %.2f ms (%.2f %%), samples %.1f ms, conversion %.1f ms\n", parts.metadata,
                100 * parts.metadata / decode, parts.samples, parts.conversion);
    const double toolkitLoad = millisecondsFor([&] {
        wxLogNull quiet;
        wxImage loaded(in);
    });
    std::printf("toolkit alone (wxImage load): %.1f ms\n", toolkitLoad);
    return 0;
}
