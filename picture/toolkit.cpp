// SPDX-License-Identifier: MIT
// GIF and BMP: decoded by the toolkit, its log messages caught (a
// window's log target would show them in a box).
#include "formats.h"
#include "image.h"
#include "log_capture.h"
#include "transparency.h"

#include <wx/image.h>
#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/stream.h>

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace formats {
namespace {

// The toolkit reads through this stream: its own would close the file. A
// GIF can be shown to it as version 87a, which has it decode the first image
// only (it reads the blocks the same way in both versions).
class FileStream : public wxInputStream {
public:
    FileStream(std::FILE* file, bool asGif87a) : file(file), asGif87a(asGif87a) {}
    wxFileOffset GetLength() const override {
        struct stat status;
        return fstat(fileno(file), &status) == 0 ? status.st_size : wxInvalidOffset;
    }
    bool IsSeekable() const override { return true; }

protected:
    size_t OnSysRead(void* buffer, size_t size) override {
        const off_t start = ftello(file);
        const size_t read = std::fread(buffer, 1, size, file);
        if (read < size) m_lasterror = std::ferror(file) ? wxSTREAM_READ_ERROR : wxSTREAM_EOF;
        if (asGif87a) patchVersion(static_cast<unsigned char*>(buffer), start, read);
        return read;
    }
    wxFileOffset OnSysSeek(wxFileOffset position, wxSeekMode mode) override {
        const int whence = mode == wxFromStart ? SEEK_SET : mode == wxFromCurrent ? SEEK_CUR : SEEK_END;
        return fseeko(file, position, whence) == 0 ? ftello(file) : wxInvalidOffset;
    }
    wxFileOffset OnSysTell() const override { return ftello(file); }

private:
    void patchVersion(unsigned char* bytes, off_t start, size_t count) const {
        static const char version[] = "87a";  // at offsets 3 to 5
        for (off_t at = std::max<off_t>(start, 3); start >= 0 && at < 6 && at < start + off_t(count); ++at)
            bytes[at - start] = static_cast<unsigned char>(version[at - 3]);
    }

    std::FILE* file;
    bool asGif87a;
};

// The first thing the toolkit said about a file it could not load, as a
// short phrase.
wxString loadFailure(const LogCapture& log) {
    wxString reason = log.first();
    reason.Trim().Trim(false);
    while (reason.EndsWith(wxT("."))) reason.RemoveLast();
    if (reason.length() > 1 && wxIslower(reason[1])) reason[0] = wxTolower(reason[0]);
    return reason.empty() ? wxString(wxT("not a readable image")) : reason;
}

// Some loaders report missing data (a truncated GIF) and still give
// a picture, the rest made up: that is a failure too.
bool loadImage(std::FILE* file, bool gif, wxImage& image, wxString& reason) {
    LogCapture log;
    FileStream stream(file, gif);
    if (image.LoadFile(stream, wxBITMAP_TYPE_ANY, -1) && image.IsOk() && !log.sawError()) return true;
    reason = loadFailure(log);
    return false;
}

// The toolkit image's samples, opaque: masked pixels become white, the
// others are laid on white by their opacity.
void takeSamples(wxImage& image, unsigned char* pixels) {
    const std::size_t count = std::size_t(image.GetWidth()) * std::size_t(image.GetHeight());
    std::memcpy(pixels, image.GetData(), 3 * count);
    if (image.HasAlpha()) layOnWhite(pixels, image.GetAlpha(), count);
    if (!image.HasMask()) return;
    const unsigned char mask[3] = {image.GetMaskRed(), image.GetMaskGreen(), image.GetMaskBlue()};
    const unsigned char* data = image.GetData();
    for (std::size_t i = 0; i < count; ++i)
        if (std::memcmp(data + 3 * i, mask, 3) == 0) std::memset(pixels + 3 * i, 255, 3);
}

bool isGif(std::FILE* file) {
    char head[4] = {};
    const bool gif = std::fread(head, 1, sizeof head, file) == sizeof head && std::memcmp(head, "GIF8", 4) == 0;
    std::rewind(file);
    return gif;
}

// A GIF whose first image the toolkit can decode safely: else the reason.
// It allocates the image before reading its data, so a size the file
// cannot hold is refused too.
wxString gifDamage(std::FILE* file) {
    GifImage image;
    const bool found = findFirstGifImage(file, image);
    struct stat status;
    const long long bytes = fstat(fileno(file), &status) == 0 ? status.st_size : 0;
    std::rewind(file);
    if (!found) return wxString();
    // A side of 0 pixels: the toolkit writes a row into a buffer of none.
    if (image.width == 0 || image.height == 0)
        return wxString::Format(wxT("damaged GIF data (a %lldx%lld picture)"), image.width, image.height);
    if (image.width * image.height > maxGifPixelsPerByte * bytes)
        return wxString::Format(wxT("damaged GIF data (a %lldx%lld picture in %lld bytes)"), image.width, image.height,
                                bytes);
    if (image.codeSize > maxGifCodeSize)
        return wxString::Format(wxT("damaged GIF data (LZW code size %d)"), image.codeSize);
    if (image.codeSize >= 0 && !image.dataComplete) return wxT("damaged GIF data (cut short)");
    return wxString();
}

// A BMP the toolkit can decode safely: else the reason. Its run-length
// decoding writes runs past the end of a row, and of the picture.
wxString bmpRefusal(std::FILE* file) {
    unsigned char head[34];
    const bool read = std::fread(head, 1, sizeof head, file) == sizeof head;
    std::rewind(file);
    if (!read || head[0] != 'B' || head[1] != 'M') return wxString();
    const unsigned compression = head[30] | head[31] << 8 | head[32] << 16 | unsigned(head[33]) << 24;
    if (compression == 1 || compression == 2) return wxT("unsupported BMP (run-length encoded)");
    return wxString();
}

}  // namespace

void decodeWithToolkit(const Source& source, DecodedPicture& picture, DecodeTimes& times) {
    const Clock::time_point start = Clock::now();
    const bool gif = isGif(source.file);
    const wxString refusal = gif ? gifDamage(source.file) : bmpRefusal(source.file);
    if (!refusal.empty()) return picture.fail(refusal);
    wxImage image;
    wxString reason;
    if (!loadImage(source.file, gif, image, reason)) return picture.fail(reason);
    const long long width = image.GetWidth(), height = image.GetHeight();
    picture.pixels = allocate(picture, width, height, 3);
    if (!picture.pixels) return;
    picture.width = static_cast<int>(width);
    picture.height = static_cast<int>(height);
    takeSamples(image, picture.pixels);
    times.samples = millisecondsSince(start);
}

wxString encodeWithToolkit(const RgbPicture& picture, const wxString& extension, std::vector<char>& out) {
    std::size_t bytes;
    if (!pictureByteCount(picture.width, picture.height, 3, bytes) || bytes > std::size_t(INT_MAX))
        return wxString::Format(wxT("%dx%d is too large to write as %s"), picture.width, picture.height,
                                extension.Upper());
    wxImageHandler* handler = wxImage::FindHandler(extension, wxBITMAP_TYPE_ANY);
    if (!handler) return wxT("no image writer for \"") + extension + wxT("\"");
    // The toolkit image only lends the samples: it neither copies nor frees them.
    const wxImage image(picture.width, picture.height, const_cast<unsigned char*>(picture.pixels), true);
    wxLogNull quiet;  // a failure is reported with the file's name by the caller
    wxMemoryOutputStream stream;
    if (!image.SaveFile(stream, handler->GetType()) || stream.GetLength() == 0)
        return wxT("the picture could not be encoded");
    out.resize(static_cast<std::size_t>(stream.GetLength()));
    stream.CopyTo(out.data(), out.size());
    return wxString();
}

}  // namespace formats
