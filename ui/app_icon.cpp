// SPDX-License-Identifier: MIT
#include "app_icon.h"

#include <wx/bitmap.h>
#include <wx/icon.h>

#include <cstddef>

// Written at build time from data/icons by data/icons/embed.cmake.
extern const unsigned char* const pixloomIconPngData[];
extern const std::size_t pixloomIconPngSizes[];
extern const std::size_t pixloomIconPngCount;

wxIconBundle pixloomIcons() {
    wxIconBundle icons;
    for (std::size_t i = 0; i < pixloomIconPngCount; ++i) {
        const wxBitmap bitmap = wxBitmap::NewFromPNGData(pixloomIconPngData[i], pixloomIconPngSizes[i]);
        if (!bitmap.IsOk()) continue;  // a window without one size is still a window
        wxIcon icon;
        icon.CopyFromBitmap(bitmap);
        icons.AddIcon(icon);
    }
    return icons;
}
