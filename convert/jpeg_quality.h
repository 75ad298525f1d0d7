// The JPEG quality that keeps a file within a size limit.
#pragma once

#include <wx/image.h>
#include <wx/string.h>

#include <functional>

// The encoded size in bytes of the image at a quality.
using EncodedSize = std::function<long long(int quality)>;

// The highest quality not above maxQuality whose encoded size is at most
// limit bytes, found by a walk that halves its step after each try; 1 when
// even quality 1 is too large. No search when limit <= 0 or maxQuality <= 1.
// Ends also when the size does not grow with the quality: at the third visit
// to a quality it returns the highest fitting quality seen.
int fitJpegQuality(int limit, int maxQuality, const EncodedSize& sizeAt);

// The same walk over real encodings of image; leaves the image's "quality"
// option at the last quality tried.
int fitJpegQuality(wxImage* image, int limit, int maxQuality);

// The size of image encoded as JPEG at quality; 0 when encoding fails.
long long jpegSize(wxImage& image, int quality);

// The size limit in bytes for the text of the limit field, in KB: its
// leading decimal number (wxString::ToLong, base 10). 0 means no limit:
// no number, zero, a negative number, or more bytes than an int holds.
int limitBytes(const wxString& kilobytesText);
