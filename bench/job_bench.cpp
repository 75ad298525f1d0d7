// One file's whole job as the program does it: decode through the toolkit into
// an Image, resize with a method, hand back a toolkit image, encode to the
// output path's type. Prints the time of each stage and the total.
//
// usage: job_bench IN OUT [WIDTH HEIGHT [METHOD [JPEG_QUALITY]]]
//   defaults: 1920 1280 Lanczos3 90; METHOD is Nearest, Lanczos3, LCD(low),
//   LCD(mid), LCD(hi), LCD(ex) or LCD(max); the size is used as is (no ratio
//   fit, pixels).
#include "image.h"

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
    std::unique_ptr<wxImage> result;
    bool saved = false;
    const double decode = millisecondsFor([&] { image = std::make_unique<Image>(in, 0, wxBITMAP_TYPE_ANY, -1); });
    if (image->isEmpty()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const int sourceWidth = image->getWidth(), sourceHeight = image->getHeight();
    const double resize = millisecondsFor([&] {
        image->lcdSetting(method->lcdType);
        if (std::strcmp(method->name, "Nearest") == 0) image->resizeNearest(width, height, false, false);
        else image->resize(width, height, false, false);
    });
    const double handBack = millisecondsFor([&] { result.reset(image->createImage()); });
    if (!result) return 1;
    const double encode = millisecondsFor([&] {
        const wxString extension = wxFileName(out).GetExt().Lower();
        if (extension == wxT("jpg") || extension == wxT("jpeg")) result->SetOption(wxIMAGE_OPTION_QUALITY, quality);
        saved = result->SaveFile(out);
    });
    if (!saved) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("%dx%d -> %dx%d %s, %d thread(s)\n", sourceWidth, sourceHeight, image->getWidth(), image->getHeight(),
                method->name, Image::threadCount());
    std::printf("decode %.1f ms, resize %.1f ms, createImage %.1f ms, encode %.1f ms, total %.1f ms\n", decode, resize,
                handBack, encode, decode + resize + handBack + encode);
    return 0;
}
