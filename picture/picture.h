// SPDX-License-Identifier: MIT
// The decoding stage: how a source file becomes the picture the engine
// reduces. Every client goes through here, so the rules live here: the
// picture is turned upright by its orientation tag, transparency is laid on
// white, an embedded colour profile other than sRGB is converted to sRGB,
// and damaged data fails the file (a JPEG's is decoded as far as it goes,
// and marked). No GUI calls; toolkit log messages raised
// while loading are caught here and never reach a log target.
#pragma once

#include "cancel_token.h"

#include <wx/string.h>

#include <vector>

// A source picture as pixloom reduces it: upright, opaque, in sRGB.
struct DecodedPicture {               // move-only; frees pixels unless released
    unsigned char* pixels = nullptr;  // malloc'd packed RGB, 3*width*height bytes, rows top to bottom
    int width = 0, height = 0;
    wxString error;                   // empty when decoded; else a short reason a user understands
    std::vector<wxString> notes;      // one-line remarks for standard error (e.g. a rejected profile), no file name
    std::vector<unsigned char> exif;  // the source's EXIF from its TIFF header on; empty when it has none
    bool damaged = false;             // decoded, but from data partly missing or corrupt: parts are made up

    DecodedPicture() = default;
    DecodedPicture(DecodedPicture&& other) noexcept;
    DecodedPicture& operator=(DecodedPicture&& other) noexcept;
    DecodedPicture(const DecodedPicture&) = delete;
    DecodedPicture& operator=(const DecodedPicture&) = delete;
    ~DecodedPicture();

    bool ok() const { return pixels != nullptr && error.empty(); }
    // Hands the buffer to the caller (free() it); the picture is left empty.
    unsigned char* release();
    // Frees the samples and records why there are none.
    void fail(const wxString& reason);
};

struct DecodeOptions {
    int threads = 0;  // for the colour conversion and the turn; 0: the engine's count
    // Requested from another thread: the decode stops soon after, with the
    // error "cancelled" (formats the toolkit decodes finish first).
    CancelToken cancel;
};

// Where one decode spent its time, in milliseconds: reading the header and
// metadata (orientation, profile), decoding the samples, and the conversion
// stage (transparency, colour profile, orientation).
struct DecodeTimes {
    double metadata = 0, samples = 0, conversion = 0;
};

// Thread-safe: may run on two threads at once.
DecodedPicture decodePicture(const wxString& path, const DecodeOptions& options = {}, DecodeTimes* times = nullptr);

// The size a file's picture will have, from its header alone (the stored
// size: before any turn). False when the header tells none.
bool readPictureSize(const wxString& path, long long& width, long long& height);

// Turns and mirrors the picture as an EXIF/TIFF orientation value says the
// stored rows are to be shown (1: as stored, 3: half turn, 6: a clockwise
// quarter turn, 8: an anticlockwise one, 2/4/5/7 the mirrored forms). Other
// values change nothing. False, with the picture unchanged, when the new
// buffer cannot be allocated.
bool orientPicture(DecodedPicture& picture, int orientation, int threads = 0);
