// SPDX-License-Identifier: MIT
// The resampling engine: one decoded picture as packed 8-bit RGB and the
// seven ways pixloom reduces it. No GUI calls live here; the two messages the
// engine may raise go through the callback installed with setMessageCallback.
#pragma once

#include "cancel_token.h"

#include <wx/image.h>
#include <wx/string.h>

#include <atomic>
#include <functional>

// Receives the engine's user-facing messages ("縮小専用です",
// "undefined LCD type!"). It is called on the thread that runs the resize.
using MessageCallback = std::function<void(const wxString& text)>;

// channels x width x height in bytes; false when a side is negative or
// beyond an int, or the count does not fit a size_t. Every picture buffer's
// size is counted here before it is allocated.
bool pictureByteCount(long long width, long long height, int channels, std::size_t& bytes);

// Installs the message receiver; without one the messages are dropped (the
// programs install theirs at start).
void setMessageCallback(MessageCallback callback);

class Image {
public:
    // Empty image: 0 x 0, no buffer.
    Image();
    // Loads a file through the decoding stage (upright, opaque, sRGB), then
    // turns it clockwise: a quarter turn when quarterTurns > 0, a half turn
    // when it is 2. A file that cannot be decoded gives the empty image.
    // Defined with the decoding stage (picture/), which the engine itself
    // does not need.
    Image(const wxString& path, int quarterTurns);
    // Takes over a malloc'd buffer of 3 x width x height bytes; the empty
    // image (the buffer freed) when pixels is null or a side is below 1.
    Image(unsigned char* pixels, int width, int height);
    // Blank image; zero-filled when clear is true.
    Image(int width, int height, bool clear);
    Image(const Image& other);
    Image& operator=(const Image&) = delete;
    ~Image();

    // A new toolkit image holding a copy of the pixels, owned by the caller;
    // null when the image is empty, too large for the toolkit (over 2 GiB of
    // samples), or the copy cannot be allocated.
    wxImage* createImage() const;

    // Get-or-set accessors: -1 queries, anything else stores and returns.
    int lcdSetting(int type);
    int softnessSetting(int level);
    // Whether resize averages in linear light (1) or on sRGB code values (0,
    // the default); -1 queries. Nearest averages nothing and ignores it.
    int linearSetting(int on);

    // May be called from any thread; every pass then leaves the image as it
    // was before that pass.
    void cancel() { token.request(); }
    bool cancelled() const { return token.requested(); }
    // The passes ask this token from now on (a run's, say), so that whoever
    // holds it gives this image's work up too. Set it before the image is
    // shared with another thread.
    void cancelWith(const CancelToken& other) { token = other; }

    const unsigned char* pixelData() const { return pixels; }
    int getWidth() const { return width; }
    int getHeight() const { return height; }
    bool isEmpty() const { return pixels == nullptr || width < 1 || height < 1; }

    // Each returns true when it did all its work; false when it did not
    // (cancelled, out of memory, an impossible size), with every step that
    // was not done leaving the image as it was.
    bool resize(int width, int height, bool keepRatio, bool percent);
    bool resizeNearest(int width, int height, bool keepRatio, bool percent);
    bool resampleVertical(int newHeight);
    bool resampleHorizontal(int newWidth);

    // Why the last step that returned false did not do all its work.
    enum class Failure { None, Cancelled, OutOfMemory, TooLarge, InvalidSetting, Empty };
    Failure failure() const { return lastFailure; }

    bool foldSubpixelBox();
    bool foldSubpixelWeighted();
    bool foldSubpixelAdaptive();

    static double lanczos3(double x);
    static const double softnessFactors[5];

    // How many threads one pass may use (at least 1). Results are the same
    // for any count. The default is the number of cores.
    static void setThreadCount(int count);
    static int threadCount();
    // This image's passes only: get-or-set (-1 queries), 0 for the count
    // above. Lets a caller leave a core to other work.
    int threadsSetting(int count);

    // The size resize and resizeNearest reduce to for these arguments.
    struct Size {
        int width;
        int height;
    };
    Size targetSize(int width, int height, bool keepRatio, bool percent) const;

private:
    double softnessFactor() const;
    void install(unsigned char* buffer, int newWidth, int newHeight);
    template <class Fold>
    bool foldSubpixel(Fold fold);
    bool resizeLinear(Size target, int type);
    bool fail(Failure why);

    CancelToken token;
    unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    int softnessLevel = 0;
    int lcdType = 0;
    bool linear = false;
    int threads = 0;
    Failure lastFailure = Failure::None;
    int threadsForPasses() const { return threads > 0 ? threads : threadCount(); }
};
