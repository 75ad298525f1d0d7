// Small helpers for tests that make and inspect files.
#pragma once

#include <wx/image.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testfiles {

// A w x h image with a pattern that JPEG can't squeeze to nothing.
inline wxImage pattern(int w, int h, unsigned seed = 1) {
    wxImage image(w, h, false);
    unsigned char* data = image.GetData();
    unsigned state = seed;
    for (int i = 0; i < w * h * 3; ++i) {
        state = state * 1103515245u + 12345u;
        data[i] = static_cast<unsigned char>((i / 3 % w) * 255 / w / 2 + (state >> 24) / 2);
    }
    return image;
}

inline void save(const wxImage& image, const std::string& path, wxBitmapType type) {
    if (!image.SaveFile(wxString::FromUTF8(path.c_str()), type)) throw std::runtime_error("cannot write " + path);
}

inline std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

inline std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh empty folder, removed with everything in it.
class Folder {
public:
    Folder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "pixloom-convert-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        dir = pattern;
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    const std::string& path() const { return dir; }
    std::string operator/(const std::string& name) const { return dir + "/" + name; }
    wxString wx(const std::string& name = "") const {
        return wxString::FromUTF8((name.empty() ? dir : dir + "/" + name).c_str());
    }

private:
    std::string dir;
};

}  // namespace testfiles
