// SPDX-License-Identifier: MIT
// Writing a reduced picture: the output types, and encoding in memory as a
// type says (written to its file by safe_write.h).
#pragma once

#include "cancel_token.h"

#include <wx/string.h>

#include <functional>
#include <vector>

enum class FileType { BMP, PNG, JPEG, WebP };

// One output type, described once for every reader: the window's label (also
// the settings file's value), the command line's name, the extension.
struct FileTypeInfo {
    FileType type;
    const wchar_t* label;
    const wchar_t* name;       // pixloom-batch --type
    const wchar_t* extension;  // with its dot
    bool lossy;                // takes a quality and a size limit
};
// In the window's order.
const std::vector<FileTypeInfo>& fileTypes();
const FileTypeInfo& infoOf(FileType type);

// Packed 8-bit RGB, rows top to bottom, as the engine holds a picture.
struct RgbPicture {
    const unsigned char* pixels;
    int width, height;
};

// What an encoding is asked for beyond the picture.
struct EncodeOptions {
    int quality = 90;                 // lossy types
    std::vector<unsigned char> exif;  // from the TIFF header on; written where the type carries it
    CancelToken cancel;               // asked while encoding: requested gives the encoding up
    int threads = 0;                  // cores the encoder may use; 0: the engine's count
    bool progressive = false;         // JPEG: progressive scans instead of one baseline scan
};

// Encodes the picture into out. Returns an empty string on success, else
// the reason ("abandoned" when it was given up).
wxString encodePicture(const RgbPicture& picture, FileType type, const EncodeOptions& options, std::vector<char>& out);
