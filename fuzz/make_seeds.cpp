// SPDX-License-Identifier: MIT
// Writes the seed corpora into the folder given (corpus/NAME/ for each
// target): small files of each kind the targets read, with the metadata
// paths they should reach (EXIF orientation, ICC profiles, transparency,
// interlacing, progressive and CMYK JPEG, animation). Run once by hand;
// its output is kept with the sources.
#include "exif.h"
#include "fuzz_support.h"
#include "picture.h"
#include "test_pictures.h"
#include "webp.h"
#include "writer.h"

#include <wx/image.h>
#include <wx/mstream.h>
#include <wx/palette.h>
#include <wx/quantize.h>

#include <jpeglib.h>
#include <lcms2.h>
#include <png.h>
#include <tiffio.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace {

std::filesystem::path root;

void put(const std::string& target, const std::string& name, const void* data, std::size_t size) {
    std::filesystem::create_directories(root / target);
    std::ofstream(root / target / name, std::ios::binary).write(static_cast<const char*>(data), std::streamsize(size));
}
void put(const std::string& target, const std::string& name, const Bytes& bytes) {
    put(target, name, bytes.data(), bytes.size());
}
void put(const std::string& target, const std::string& name, const std::string& text) {
    put(target, name, text.data(), text.size());
}

Bytes samples(int width, int height, int channels) {
    Bytes bytes(std::size_t(width) * height * channels);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 29 + i / 7);
    return bytes;
}

Bytes rgbProfile() {
    const cmsCIExyY white = {0.3127, 0.3290, 1};
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    return savedProfile(profile);
}

Bytes greyProfile() {
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.8);
    cmsHPROFILE profile = cmsCreateGrayProfile(cmsD50_xyY(), curve);
    cmsFreeToneCurve(curve);
    return savedProfile(profile);
}

Bytes cmykProfile() {
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 2.1);
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigCmykData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage* grid = cmsStageAllocCLut16bit(nullptr, 2, 4, 3, nullptr);
    cmsStageSampleCLut16bit(
        grid,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void*) -> cmsInt32Number {
            const double k = in[3] / 65535.0, c = in[0] / 65535.0, m = in[1] / 65535.0;
            const cmsCIELab lab = {100 * (1 - k), 60 * (m - c), 0};
            cmsFloat2LabEncoded(out, &lab);
            return TRUE;
        },
        nullptr, 0);
    cmsPipelineInsertStage(lut, cmsAT_BEGIN, grid);
    cmsWriteTag(profile, cmsSigAToB0Tag, lut);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsPipelineFree(lut);
    return savedProfile(profile);
}

// EXIF with an orientation, a date and a GPS latitude reference.
Bytes exifBlock(int orientation) {
    Bytes exif = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto u16 = [&](unsigned v) { exif.push_back(v & 0xff), exif.push_back(v >> 8); };
    auto u32 = [&](unsigned v) { u16(v & 0xffff), u16(v >> 16); };
    u16(2);  // IFD0: two entries
    u16(0x112), u16(3), u32(1), u16(orientation), u16(0);
    u16(0x8825), u16(4), u32(1), u32(8 + 2 + 24 + 4);  // the GPS IFD right after
    u32(0);
    u16(1);
    u16(1), u16(2), u32(2), exif.push_back('N'), exif.push_back(0), u16(0);  // GPSLatitudeRef
    u32(0);
    return exif;
}

struct JpegOptions {
    int channels = 3;
    bool progressive = false;
    Bytes exif, profile;
};

Bytes jpeg(int width, int height, const JpegOptions& options) {
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = width, c.image_height = height, c.input_components = options.channels;
    c.in_color_space = options.channels == 1 ? JCS_GRAYSCALE : options.channels == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 50, TRUE);
    if (options.progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    if (!options.exif.empty()) {
        Bytes marker = {'E', 'x', 'i', 'f', 0, 0};
        marker.insert(marker.end(), options.exif.begin(), options.exif.end());
        jpeg_write_marker(&c, JPEG_APP0 + 1, marker.data(), unsigned(marker.size()));
    }
    if (!options.profile.empty()) jpeg_write_icc_profile(&c, options.profile.data(), unsigned(options.profile.size()));
    Bytes pixels = samples(width, height, options.channels);
    for (int y = 0; y < height; ++y) {
        JSAMPROW row = &pixels[std::size_t(y) * width * options.channels];
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes bytes(out, out + size);
    free(out);
    return bytes;
}

struct PngOptions {
    int type = PNG_COLOR_TYPE_RGB, depth = 8;
    bool interlaced = false, transparentColour = false;
    Bytes exif, profile;
};

void appendPng(png_structp png, png_bytep data, png_size_t length) {
    auto* bytes = static_cast<Bytes*>(png_get_io_ptr(png));
    bytes->insert(bytes->end(), data, data + length);
}

Bytes png(int width, int height, const PngOptions& options) {
    Bytes bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &bytes, appendPng, nullptr);
    png_set_IHDR(png, info, width, height, options.depth, options.type,
                 options.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_color palette[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    if (options.type == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette, 4);
    png_byte alphas[2] = {0, 128};
    png_color_16 colour = {0, 10, 20, 30, 40};
    if (options.transparentColour)
        png_set_tRNS(png, info, alphas, options.type == PNG_COLOR_TYPE_PALETTE ? 2 : 0, &colour);
    if (!options.profile.empty())
        png_set_iCCP(png, info, "icc", PNG_COMPRESSION_TYPE_BASE, options.profile.data(),
                     png_uint_32(options.profile.size()));
    if (!options.exif.empty())
        png_set_eXIf_1(png, info, png_uint_32(options.exif.size()), const_cast<png_bytep>(options.exif.data()));
    png_write_info(png, info);
    const int channels = png_get_channels(png, info);
    const std::size_t rowBytes = (std::size_t(width) * channels * options.depth + 7) / 8;
    Bytes pixels = samples(int(rowBytes), height, 1);
    if (options.type == PNG_COLOR_TYPE_PALETTE)
        for (unsigned char& byte : pixels) byte &= options.depth == 8 ? 3 : 0xff;
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < height; ++y) png_write_row(png, &pixels[y * rowBytes]);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return bytes;
}

struct TiffOptions {
    int channels = 3, orientation = 1, compression = COMPRESSION_NONE;
    Bytes profile;
    int bits = 8, photometric = -1;  // -1: grey or RGB by the channels
    uint32_t tile = 0;               // the side of square tiles; 0: strips of 4 rows
    bool planes = false;
    uint16_t extra = EXTRASAMPLE_ASSOCALPHA;  // of a channel beyond the colours
};

int colourChannels(int photometric) {
    return photometric == PHOTOMETRIC_SEPARATED                                 ? 4
           : photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_YCBCR ? 3
                                                                                : 1;
}

// Each strip row or tile as libtiff sizes it, 8-bit interleaved samples as
// they come, deeper or planar ones made up.
void writeTiffSamples(TIFF* t, int width, int height, const TiffOptions& options) {
    const int planes = options.planes ? options.channels : 1;
    if (options.bits == 8 && planes == 1 && !options.tile) {
        Bytes pixels = samples(width, height, options.channels);
        for (int y = 0; y < height; ++y) TIFFWriteScanline(t, &pixels[std::size_t(y) * width * options.channels], y, 0);
        return;
    }
    Bytes block = samples(int(options.tile ? TIFFTileSize(t) : TIFFScanlineSize(t)), 1, 1);
    for (int plane = 0; plane < planes; ++plane)
        for (int y = 0; y < height; y += options.tile ? int(options.tile) : 1)
            for (int x = 0; x < (options.tile ? width : 1); x += options.tile ? int(options.tile) : 1) {
                if (options.tile)
                    TIFFWriteTile(t, block.data(), x, y, 0, uint16_t(plane));
                else
                    TIFFWriteScanline(t, block.data(), y, uint16_t(plane));
            }
}

Bytes tiff(const std::string& path, int width, int height, const TiffOptions& options) {
    const int photometric = options.photometric >= 0 ? options.photometric
                            : options.channels == 1  ? PHOTOMETRIC_MINISBLACK
                                                     : PHOTOMETRIC_RGB;
    TIFF* t = TIFFOpen(path.c_str(), "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, options.channels);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, options.bits);
    TIFFSetField(t, TIFFTAG_COMPRESSION, options.compression);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
    if (options.planes) TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
    TIFFSetField(t, TIFFTAG_ORIENTATION, options.orientation);
    if (options.tile) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, options.tile);
        TIFFSetField(t, TIFFTAG_TILELENGTH, options.tile);
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, options.compression == COMPRESSION_JPEG ? 16 : 4);
    }
    TIFFSetField(t, TIFFTAG_MAKE, "pixloom");
    TIFFSetField(t, TIFFTAG_DATETIME, "2024:01:02 03:04:05");
    if (options.channels > colourChannels(photometric)) TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &options.extra);
    if (photometric == PHOTOMETRIC_YCBCR && options.compression == COMPRESSION_JPEG)
        TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    else if (photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, 1, 1);
    std::vector<uint16_t> map(3 << options.bits);
    for (std::size_t i = 0; i < map.size(); ++i) map[i] = uint16_t(i * 40503u);
    if (photometric == PHOTOMETRIC_PALETTE)
        TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data() + (1 << options.bits),
                     map.data() + (2 << options.bits));
    if (!options.profile.empty())
        TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(options.profile.size()), options.profile.data());
    writeTiffSamples(t, width, height, options);
    TIFFClose(t);
    std::ifstream in(path, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    return bytes;
}

Bytes toolkit(wxImage image, wxBitmapType type) {
    wxMemoryOutputStream stream;
    if (type == wxBITMAP_TYPE_GIF) {  // the GIF writer wants a palette
        wxImage quantized;
        wxPalette* palette = nullptr;
        wxQuantize::Quantize(image, quantized, &palette, 64, nullptr, wxQUANTIZE_FILL_DESTINATION_IMAGE);
        if (image.HasMask()) quantized.SetMaskColour(image.GetMaskRed(), image.GetMaskGreen(), image.GetMaskBlue());
        quantized.SetPalette(*palette);
        delete palette;
        image = quantized;
    }
    if (!image.SaveFile(stream, type)) fuzzing::broken("the toolkit did not write a seed");
    Bytes bytes(stream.GetLength());
    stream.CopyTo(bytes.data(), bytes.size());
    return bytes;
}

wxImage colours(int width, int height) {
    wxImage image(width, height);
    Bytes pixels = samples(width, height, 3);
    for (unsigned char& sample : pixels) sample &= 0xc0;  // few colours, for GIF
    std::copy(pixels.begin(), pixels.end(), image.GetData());
    return image;
}

Bytes webpLossless(int width, int height) {
    Bytes rgba = samples(width, height, 4);
    uint8_t* out = nullptr;
    const std::size_t size = WebPEncodeLosslessRGBA(rgba.data(), width, height, width * 4, &out);
    Bytes bytes(out, out + size);
    WebPFree(out);
    return bytes;
}

Bytes webpAnimation(int width, int height) {
    const Bytes rgba = samples(width, height, 4);
    return animation({rgba, rgba}, width, height);
}

// A literal with its NUL separators.
template <std::size_t N>
std::string withNuls(const char (&text)[N]) {
    return std::string(text, N - 1);
}

Bytes withByte(unsigned char first, Bytes rest) {
    rest.insert(rest.begin(), first);
    return rest;
}

void decoderSeeds(const std::filesystem::path& cameraFiles) {
    put("jpeg", "rgb.jpg", jpeg(16, 12, {}));
    put("jpeg", "grey-progressive.jpg", jpeg(9, 9, {1, true, {}, greyProfile()}));
    put("jpeg", "cmyk-profile.jpg", jpeg(8, 8, {4, false, {}, cmykProfile()}));
    put("jpeg", "turned-profile.jpg", jpeg(12, 7, {3, false, exifBlock(6), rgbProfile()}));
    put("jpeg", "camera.jpg", fileBytes(cameraFiles / "camera.jpg"));

    PngOptions palette{PNG_COLOR_TYPE_PALETTE, 2, false, true, {}, {}};
    put("png", "rgb.png", png(8, 6, {}));
    put("png", "palette-transparent.png", png(9, 5, palette));
    put("png", "grey16-interlaced.png", png(11, 9, {PNG_COLOR_TYPE_GRAY, 16, true, false, {}, greyProfile()}));
    put("png", "rgba-exif.png", png(7, 5, {PNG_COLOR_TYPE_RGB_ALPHA, 8, false, false, exifBlock(8), {}}));
    put("png", "rgb-profile.png", png(5, 5, {PNG_COLOR_TYPE_RGB, 8, false, true, {}, rgbProfile()}));

    const std::string scratch = fuzzing::scratchFolder("seeds") + "/seed.tif";
    put("tiff", "rgb.tif", tiff(scratch, 8, 6, {}));
    put("tiff", "grey-profile.tif", tiff(scratch, 6, 5, {1, 1, COMPRESSION_LZW, greyProfile()}));
    put("tiff", "turned-deflate.tif", tiff(scratch, 7, 9, {3, 6, COMPRESSION_ADOBE_DEFLATE, {}}));
    put("tiff", "alpha-mirrored.tif", tiff(scratch, 5, 4, {4, 7, COMPRESSION_PACKBITS, {}}));
    put("tiff", "camera.tif", fileBytes(cameraFiles / "camera.tif"));
    put("tiff", "rgba16-tiles-planes.tif",
        tiff(scratch, 19, 17, {4, 1, COMPRESSION_LZW, {}, 16, -1, 16, true, EXTRASAMPLE_UNASSALPHA}));
    put("tiff", "mask-in-planes.tif",
        tiff(scratch, 9, 7, {4, 1, COMPRESSION_NONE, {}, 8, -1, 0, true, EXTRASAMPLE_UNSPECIFIED}));
    put("tiff", "palette4.tif", tiff(scratch, 9, 5, {1, 1, COMPRESSION_PACKBITS, {}, 4, PHOTOMETRIC_PALETTE}));
    put("tiff", "grey1-tiles.tif", tiff(scratch, 20, 18, {1, 8, COMPRESSION_NONE, {}, 1, -1, 16}));
    put("tiff", "cmyk-profile.tif",
        tiff(scratch, 6, 6, {4, 1, COMPRESSION_ADOBE_DEFLATE, cmykProfile(), 8, PHOTOMETRIC_SEPARATED}));
    put("tiff", "ycbcr-jpeg.tif", tiff(scratch, 16, 16, {3, 1, COMPRESSION_JPEG, {}, 8, PHOTOMETRIC_YCBCR}));
    put("tiff", "ycbcr-plain.tif", tiff(scratch, 5, 3, {3, 1, COMPRESSION_NONE, {}, 8, PHOTOMETRIC_YCBCR}));

    wxImage masked = colours(10, 8);
    masked.SetMaskColour(0, 0, 0);
    put("gif", "still.gif", toolkit(colours(12, 9), wxBITMAP_TYPE_GIF));
    put("gif", "transparent.gif", toolkit(masked, wxBITMAP_TYPE_GIF));
    wxImage eightBits = colours(9, 7);
    eightBits.SetOption(wxIMAGE_OPTION_BMP_FORMAT, wxBMP_8BPP);
    put("bmp", "rgb.bmp", toolkit(colours(7, 5), wxBITMAP_TYPE_BMP));
    put("bmp", "palette.bmp", toolkit(eightBits, wxBITMAP_TYPE_BMP));

    std::vector<char> lossy;
    const Bytes rgb = samples(10, 8, 3);
    encodeWebp(rgb.data(), 10, 8, 40, exifBlock(3), lossy);
    put("webp", "lossy-exif.webp", lossy.data(), lossy.size());
    put("webp", "lossless-alpha.webp", webpLossless(9, 6));
    put("webp", "animation.webp", webpAnimation(8, 8));
    put("webp", "camera.webp", fileBytes(cameraFiles / "camera.webp"));
}

void metadataSeeds(const std::filesystem::path& cameraFiles) {
    put("exif", "turned-located", exifBlock(6));
    const Bytes camera = fileBytes(cameraFiles / "camera.jpg");
    const DecodedPicture decoded = decodePicture(wxString(cameraFiles.string()) + wxT("/camera.jpg"));
    put("exif", "camera", decoded.exif);
    put("exif", "camera.tif", fileBytes(cameraFiles / "camera.tif"));

    put("icc", "grey", withByte(0, greyProfile()));
    put("icc", "rgb", withByte(1, rgbProfile()));
    put("icc", "cmyk", withByte(2, cmykProfile()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    put("icc", "srgb", withByte(1, savedProfile(srgb)));
}

void textSeeds() {
    put("settings", "saved",
        "[Size]\noptSize=Other\nspnWidth=800\nspnHeight=600\nselUnits=%\nchkFixRatio=0\n"
        "[Method]\noptMethod=LCD(max)\nchkLinear=1\n[Filetype]\noptFiletype=JPEG\nspnQuality=85\ncmbLimit=200\n"
        "[Saveto]\noptDst=Other Folder\ntxtSuffix=_small\ntxtSaveDir=/tmp/out\n");
    put("settings", "damaged",
        "[Size]\noptSize = 1024x768\n[Method\noptMethod=\"Nearest\"\n[Saveto]\ntxtSuffix= \\t-x \n");
    put("settings", "empty", "");
    put("settings", "coding", "[Filetype]\noptFiletype=JPEG\ncmbLimit=200\nchkProgressive=1\nspnMinQuality=60\n");

    put("batch_options", "sized", withNuls("--size\0001920x1080\0--type\0jpeg\0--quality\00080\0photos"));
    put("batch_options", "out", withNuls("--out=/tmp\0--percent\0--fit\0--linear\0--limit\0120\0a.png\0b.tif"));
    put("batch_options", "suffix", withNuls("--suffix\0_s\0--method\0LCD(ex)\0--metadata\0all\0--\0-x.jpg"));
    put("batch_options", "lowest", withNuls("--limit\000200\0--min-quality\00060\0--progressive\0a.jpg"));
    put("batch_options", "names", withNuls("--out=\xe5\x86\x99\0\xff\xfe.png\0--help"));
    put("batch_options", "sizes", withNuls("--size\00064x64\0--size=20x10\0--suffix\0_{w}x{h}\0--only-reduce\0a.png"));
    put("batch_options", "tree", withNuls("--out\0/tmp\0--keep-tree\0--keep-dates\0--suffix\0_{size}\0photos"));

    put("output_naming", "beside",
        "\x01\n_res\n\nphotos/cat.png\ncat.png\ncat_res.png\ncat_res-2.png\nimg2.jpg\nimg10.jpg\n");
    put("output_naming", "other", "\x04\n\n/tmp/out\n/tmp/out/cat.jpg\na.bmp\na_res.bmp\nA-3.BMP\n");
    put("output_naming", "here", "\x0a\n-x\n\n../a.b.c\nx.jpg\nx_res.png\nx_res-02.png\n.png\n");
    put("output_naming", "sized",
        "\x73\n_{w}x{h}\n/tmp/out\nphotos/2024/cat.png\ncat.png\ncat_300x200.png\ncat_{w}.png\n"
        "cat_1x2-2.png\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER CAMERA_FILES_FOLDER\n", argv[0]);
        return 2;
    }
    fuzzing::startToolkit();
    root = argv[1];
    decoderSeeds(argv[2]);
    metadataSeeds(argv[2]);
    textSeeds();
    return 0;
}
