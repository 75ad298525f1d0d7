// SPDX-License-Identifier: MIT
#include "writer.h"

#include "formats.h"
#include "image.h"
#include "png_writer.h"
#include "webp.h"

const std::vector<FileTypeInfo>& fileTypes() {
    static const std::vector<FileTypeInfo> types = {
        {FileType::BMP, L"BMP", L"bmp", L".bmp", false},
        {FileType::PNG, L"PNG", L"png", L".png", false},
        {FileType::JPEG, L"JPEG", L"jpeg", L".jpg", true},
        {FileType::WebP, L"WebP", L"webp", L".webp", true},
    };
    return types;
}

const FileTypeInfo& infoOf(FileType type) {
    for (const FileTypeInfo& info : fileTypes())
        if (info.type == type) return info;
    return fileTypes().front();
}

wxString encodePicture(const RgbPicture& picture, FileType type, const EncodeOptions& options, std::vector<char>& out) {
    out.clear();
    if (!picture.pixels || picture.width < 1 || picture.height < 1) return wxT("there is no picture to write");
    const auto width = static_cast<std::size_t>(picture.width), height = static_cast<std::size_t>(picture.height);
    switch (type) {
    case FileType::JPEG:
        return formats::encodeJpeg(picture, options, out);
    case FileType::PNG: {
        // Every core the run leaves: even while the next file is decoded on one, two threads finish sooner.
        const int threads = options.threads > 0 ? options.threads : Image::threadCount();
        return encodePng(picture.pixels, width, height, options.exif, out, options.cancel, threads);
    }
    case FileType::WebP:
        return encodeWebp(picture.pixels, width, height, options.quality, options.exif, out, options.cancel);
    case FileType::BMP:
    default:
        return formats::encodeWithToolkit(picture, wxT("bmp"), out);  // BMP carries no metadata
    }
}
