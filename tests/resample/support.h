// Helpers shared by the engine tests: moving pixels between the engine and
// the reference, and catching the engine's messages.
#pragma once

#include "image.h"
#include "reference.h"

#include <wx/string.h>

#include <memory>
#include <vector>

// An engine image holding exactly the given pixels.
std::unique_ptr<Image> toEngine(const reference::Picture& picture);
reference::Picture fromEngine(const Image& image);

// A one-row picture of grey levels.
reference::Picture greyRow(const std::vector<int>& levels);
// A one-column picture of grey levels, top to bottom.
reference::Picture greyColumn(const std::vector<int>& levels);
// One row of stripe columns given as {r, g, b} triples.
reference::Picture rgbRow(const std::vector<std::vector<int>>& columns);
reference::Picture uniform(int width, int height, unsigned char r, unsigned char g, unsigned char b);

// Collects the engine's messages while it lives; restores the default after.
class MessageLog {
public:
    MessageLog();
    ~MessageLog();
    const std::vector<wxString>& messages() const { return *received; }

private:
    std::shared_ptr<std::vector<wxString>> received;
};

// Sets the engine's thread count while it lives.
class ThreadCount {
public:
    explicit ThreadCount(int count);
    ~ThreadCount();

private:
    int previous;
};
