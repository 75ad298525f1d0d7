// SPDX-License-Identifier: MIT
// The source's EXIF carried as it is, for outputs that keep every tag.
// Maker notes hold offsets that count from the TIFF header, so a writer that
// lays the data out anew breaks them: here every value stays at its offset,
// and only the first IFD and the EXIF IFD are written anew behind the data.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Tags that described the source file's bytes, sampling or colours.
bool describesSourcePixels(unsigned tag);

// tiff (from its TIFF header on) with Orientation 1, the output's pixel
// dimensions, ColorSpace sRGB and Software set; tags that described the
// source's pixels, the interoperability IFD and the blocks that may hold a
// picture of the source (the thumbnail, Photoshop, IPTC and XMP) left out,
// their bytes zeroed. Empty when the directories cannot be read.
std::vector<unsigned char> carriedExif(const std::vector<unsigned char>& tiff, std::size_t width, std::size_t height,
                                       const std::string& software);
