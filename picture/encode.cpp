#include "writer.h"

#include "formats.h"

const std::vector<FileTypeInfo>& fileTypes() {
    static const std::vector<FileTypeInfo> types = {
        {FileType::BMP, L"BMP", L"bmp", L".bmp", false},
        {FileType::PNG, L"PNG", L"png", L".png", false},
        {FileType::JPEG, L"JPEG", L"jpeg", L".jpg", true},
    };
    return types;
}

const FileTypeInfo& infoOf(FileType type) {
    for (const FileTypeInfo& info : fileTypes())
        if (info.type == type) return info;
    return fileTypes().front();
}

wxString encodePicture(const RgbPicture& picture, FileType type, const EncodeOptions& options,
                       std::vector<char>& out) {
    out.clear();
    if (!picture.pixels || picture.width < 1 || picture.height < 1) return wxT("there is no picture to write");
    switch (type) {
    case FileType::JPEG:
        return formats::encodeJpeg(picture, options, out);
    case FileType::PNG:
        return formats::encodeWithToolkit(picture, wxT("png"), out);
    case FileType::BMP:
    default:
        return formats::encodeWithToolkit(picture, wxT("bmp"), out);
    }
}
