// SPDX-License-Identifier: MIT
// The engine's image made from a file, through the decoding stage.
#include "image.h"
#include "picture.h"

Image::Image(const wxString& path, int quarterTurns) {
    DecodedPicture picture = decodePicture(path);
    if (quarterTurns > 0 && !orientPicture(picture, quarterTurns == 2 ? 3 : 6)) return;
    if (!picture.ok()) return;
    width = picture.width;
    height = picture.height;
    pixels = picture.release();
}
