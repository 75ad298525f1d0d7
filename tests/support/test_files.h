// SPDX-License-Identifier: MIT
// Small helpers for tests that make and inspect image files.
#pragma once

#include "picture.h"

#include <wx/image.h>
#include <wx/mstream.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

inline wxString wx(const std::string& path) { return wxString::FromUTF8(path.c_str()); }

// A w x h image with noise that JPEG can't squeeze to nothing.
inline wxImage pattern(int w, int h, unsigned seed = 1) {
    wxImage image(w, h, false);
    unsigned state = seed;
    for (int i = 0; i < w * h * 3; ++i) {
        state = state * 1103515245u + 12345u;
        image.GetData()[i] = static_cast<unsigned char>((i / 3 % w) * 255 / w / 2 + (state >> 24) / 2);
    }
    return image;
}

// The size of the picture a file holds, as pixloom decodes it (WebP too); -1 x -1 when it decodes none.
inline wxSize sizeOf(const std::string& path) {
    const DecodedPicture picture = decodePicture(wx(path));
    return picture.ok() ? wxSize(picture.width, picture.height) : wxSize(-1, -1);
}

// The file the toolkit's own writer makes of the image (a JPEG at the quality).
inline std::vector<char> toolkitFile(wxImage image, wxBitmapType type, int quality) {
    image.SetOption(wxIMAGE_OPTION_QUALITY, quality);
    wxMemoryOutputStream stream;
    std::vector<char> bytes(image.SaveFile(stream, type) ? stream.GetLength() : 0);
    stream.CopyTo(bytes.data(), bytes.size());
    return bytes;
}

// A JPEG file's segments of a marker in order, each the bytes after its length; entropy-coded data is skipped.
inline std::vector<std::string> jpegSegments(const std::vector<char>& bytes, int marker) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    std::vector<std::string> found;
    for (std::size_t i = 2; i + 4 <= bytes.size() && at(i) == 0xFF && at(i + 1) != 0xD9;) {
        const int kind = at(i + 1);
        const std::size_t end = std::min(bytes.size(), i + 2 + (at(i + 2) << 8 | at(i + 3)));
        if (kind == marker) found.emplace_back(bytes.begin() + long(i) + 4, bytes.begin() + long(end));
        for (i = end; kind == 0xDA && i + 1 < bytes.size(); ++i)  // to the next marker that is no restart
            if (at(i) == 0xFF && at(i + 1) != 0 && (at(i + 1) < 0xD0 || at(i + 1) > 0xD7)) break;
    }
    return found;
}
inline void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

inline std::vector<std::string> namesIn(const std::string& folder) {  // sorted, files in sub-folders as "sub/name"
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (!entry.is_directory()) names.push_back(entry.path().lexically_relative(folder));
    std::sort(names.begin(), names.end());
    return names;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Whether a thread of this process has the name.
inline bool threadRunning(const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        if (readFile(task.path() / "comm") == name + "\n") return true;
    return false;
}

// A fresh empty folder, removed with everything in it.
struct Folder {
    std::string dir = (std::filesystem::temp_directory_path() / "pixloom-test-XXXXXX").string();
    Folder() { if (!mkdtemp(dir.data())) throw std::runtime_error("mkdtemp failed"); }
    Folder(const Folder&) = delete;
    ~Folder() { std::error_code ignored; std::filesystem::remove_all(dir, ignored); }
    std::string operator/(const std::string& name) const { return dir + "/" + name; }
    std::string made(const std::string& name) const {  // the path, its folders made
        std::filesystem::create_directories(std::filesystem::path(*this / name).parent_path());
        return *this / name;
    }
};

// $HOME at a fresh folder while it lives, so that nothing touches the real ~/.pixloom.
struct TempHome : Folder {
    std::string saved = std::getenv("HOME") ? std::getenv("HOME") : "";
    TempHome() { setenv("HOME", dir.c_str(), 1); }
    ~TempHome() { saved.empty() ? unsetenv("HOME") : setenv("HOME", saved.c_str(), 1); }
};
