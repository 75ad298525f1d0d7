#include "support.h"

#include <cstring>

std::unique_ptr<Image> toEngine(const reference::Picture& picture) {
    auto image = std::make_unique<Image>(picture.width, picture.height, false);
    // The engine offers no write access to its buffer; the buffer is its own
    // heap block, so writing through the read pointer is well defined.
    if (!picture.rgb.empty() && image->pixelData())
        std::memcpy(const_cast<unsigned char*>(image->pixelData()), picture.rgb.data(), picture.rgb.size());
    return image;
}

reference::Picture fromEngine(const Image& image) {
    reference::Picture picture(image.getWidth(), image.getHeight());
    if (image.pixelData() && !picture.rgb.empty())
        std::memcpy(picture.rgb.data(), image.pixelData(), picture.rgb.size());
    return picture;
}

reference::Picture greyRow(const std::vector<int>& levels) {
    reference::Picture picture(int(levels.size()), 1);
    for (size_t x = 0; x < levels.size(); ++x)
        for (int c = 0; c < 3; ++c) picture.at(int(x), 0, c) = static_cast<unsigned char>(levels[x]);
    return picture;
}

reference::Picture greyColumn(const std::vector<int>& levels) {
    reference::Picture picture(1, int(levels.size()));
    for (size_t y = 0; y < levels.size(); ++y)
        for (int c = 0; c < 3; ++c) picture.at(0, int(y), c) = static_cast<unsigned char>(levels[y]);
    return picture;
}

reference::Picture rgbRow(const std::vector<std::vector<int>>& columns) {
    reference::Picture picture(int(columns.size()), 1);
    for (size_t x = 0; x < columns.size(); ++x)
        for (int c = 0; c < 3; ++c) picture.at(int(x), 0, c) = static_cast<unsigned char>(columns[x][c]);
    return picture;
}

reference::Picture uniform(int width, int height, unsigned char r, unsigned char g, unsigned char b) {
    reference::Picture picture(width, height);
    for (size_t i = 0; i < picture.rgb.size(); i += 3) {
        picture.rgb[i] = r;
        picture.rgb[i + 1] = g;
        picture.rgb[i + 2] = b;
    }
    return picture;
}

MessageLog::MessageLog() : received(std::make_shared<std::vector<wxString>>()) {
    auto sink = received;
    setMessageCallback([sink](const wxString& text) { sink->push_back(text); });
}

MessageLog::~MessageLog() { setMessageCallback(nullptr); }

ThreadCount::ThreadCount(int count) : previous(Image::threadCount()) { Image::setThreadCount(count); }

ThreadCount::~ThreadCount() { Image::setThreadCount(previous); }
