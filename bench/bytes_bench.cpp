// SPDX-License-Identifier: MIT
// Bytes and time of the lossy outputs over real photos: JPEG as the toolkit
// writes it (standard Huffman tables), with tables made for each picture, and
// progressive, at qualities 75, 85 and 95; lossy WebP at quality 90 with
// libwebp's methods 2, 4 and 6 (with the PSNR of each against the picture).
// Each picture is encoded as decoded (upright, sRGB); times are medians of
// RUNS encodes, the codings taking turns.
//
// usage: bytes_bench [RUNS] FILE...
#include "picture.h"
#include "writer.h"

#include <webp/decode.h>
#include <webp/encode.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/mstream.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Tally {
    double bytes = 0;
    std::vector<double> milliseconds;  // per picture, the median of its runs
};

using Encoding = std::function<std::size_t()>;

// Each encoding's size and the median time of its runs, the encodings taking
// turns run by run.
void measure(int runs, const std::vector<Encoding>& encodings, std::vector<Tally>& tallies) {
    std::vector<std::vector<double>> times(encodings.size());
    std::vector<std::size_t> sizes(encodings.size());
    for (int run = 0; run < runs; ++run)
        for (std::size_t i = 0; i < encodings.size(); ++i) {
            const auto start = Clock::now();
            sizes[i] = encodings[i]();
            times[i].push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    for (std::size_t i = 0; i < encodings.size(); ++i) {
        std::nth_element(times[i].begin(), times[i].begin() + long(runs / 2), times[i].end());
        tallies[i].bytes += double(sizes[i]);
        tallies[i].milliseconds.push_back(times[i][std::size_t(runs / 2)]);
    }
}

std::size_t byToolkit(const DecodedPicture& picture, int quality) {
    wxImage image(picture.width, picture.height, const_cast<unsigned char*>(picture.pixels), true);
    image.SetOption(wxIMAGE_OPTION_QUALITY, quality);
    wxMemoryOutputStream stream;
    image.SaveFile(stream, wxBITMAP_TYPE_JPEG);
    return stream.GetLength();
}

std::size_t byPixloom(const DecodedPicture& picture, int quality, bool progressive) {
    EncodeOptions options;
    options.quality = quality, options.progressive = progressive;
    std::vector<char> bytes;
    encodePicture({picture.pixels, picture.width, picture.height}, FileType::JPEG, options, bytes);
    return bytes.size();
}

// PSNR of all channels of the decoded file against the picture, in dB.
double psnr(const DecodedPicture& picture, const std::uint8_t* file, std::size_t size) {
    int width = 0, height = 0;
    std::uint8_t* decoded = WebPDecodeRGB(file, size, &width, &height);
    if (!decoded) return 0;
    double error = 0;
    const std::size_t samples = 3 * std::size_t(width) * std::size_t(height);
    for (std::size_t i = 0; i < samples; ++i) {
        const double d = double(decoded[i]) - double(picture.pixels[i]);
        error += d * d;
    }
    WebPFree(decoded);
    return 10 * std::log10(255.0 * 255.0 * double(samples) / std::max(error, 1.0));
}

std::map<int, std::vector<double>> webpPsnr;  // by method, per picture

std::size_t webp(const DecodedPicture& picture, int method) {
    WebPConfig config;
    WebPConfigInit(&config);
    config.quality = 90, config.method = method;
    WebPPicture input;
    WebPPictureInit(&input);
    input.width = picture.width, input.height = picture.height;
    WebPPictureImportRGB(&input, picture.pixels, 3 * picture.width);
    WebPMemoryWriter written;
    WebPMemoryWriterInit(&written);
    input.writer = WebPMemoryWrite, input.custom_ptr = &written;
    WebPEncode(&config, &input);
    const std::size_t size = written.size;
    if (webpPsnr[method].size() < webpPsnr[0].size()) webpPsnr[method].push_back(psnr(picture, written.mem, size));
    WebPMemoryWriterClear(&written);
    WebPPictureFree(&input);
    return size;
}

double total(const std::vector<double>& values) {
    double sum = 0;
    for (double value : values) sum += value;
    return sum;
}

}  // namespace

int main(int argc, char** argv) {
    wxInitializer toolkit;
    wxInitAllImageHandlers();
    int first = 1, runs = 3;
    if (argc > 1 && std::atoi(argv[1]) > 0 && std::string(argv[1]).find('.') == std::string::npos)
        runs = std::atoi(argv[1]), first = 2;
    std::vector<DecodedPicture> pictures;
    double megapixels = 0;
    for (int i = first; i < argc; ++i) {
        DecodedPicture picture = decodePicture(wxString::FromUTF8(argv[i]));
        if (!picture.ok()) {
            std::fprintf(stderr, "%s: %s\n", argv[i], picture.error.utf8_str().data());
            continue;
        }
        megapixels += double(picture.width) * picture.height / 1e6;
        pictures.push_back(std::move(picture));
    }
    if (pictures.empty()) {
        std::fprintf(stderr, "usage: bytes_bench [RUNS] FILE...\n");
        return 2;
    }
    std::printf("%zu pictures, %.2f MP in all, median of %d runs each\n\n", pictures.size(), megapixels, runs);
    std::printf("| JPEG | standard tables | own tables | progressive | time standard / own / progressive |\n");
    std::printf("|---|---:|---:|---:|---|\n");
    for (int quality : {75, 85, 95}) {
        std::vector<Tally> t(3);
        for (const DecodedPicture& picture : pictures)
            measure(runs,
                    {[&] { return byToolkit(picture, quality); }, [&] { return byPixloom(picture, quality, false); },
                     [&] { return byPixloom(picture, quality, true); }},
                    t);
        std::printf("| q%d | %.0f B | %.4f | %.4f | %.1f / %.1f / %.1f ms |\n", quality, t[0].bytes,
                    t[1].bytes / t[0].bytes, t[2].bytes / t[0].bytes, total(t[0].milliseconds),
                    total(t[1].milliseconds), total(t[2].milliseconds));
    }
    std::printf("\n| WebP q90 | bytes | against method 4 | time | mean PSNR |\n|---|---:|---:|---:|---:|\n");
    std::vector<Tally> methods(3);
    for (const DecodedPicture& picture : pictures) {
        webpPsnr[0].push_back(0);  // one PSNR a picture for each method
        measure(runs,
                {[&] { return webp(picture, 2); }, [&] { return webp(picture, 4); }, [&] { return webp(picture, 6); }},
                methods);
    }
    for (int m = 0; m < 3; ++m)
        std::printf("| method %d | %.0f B | %.4f | %.1f ms | %.2f dB |\n", 2 + 2 * m, methods[m].bytes,
                    methods[m].bytes / methods[1].bytes, total(methods[m].milliseconds),
                    total(webpPsnr[2 + 2 * m]) / double(pictures.size()));
    return 0;
}
