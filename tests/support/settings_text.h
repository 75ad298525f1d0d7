// SPDX-License-Identifier: MIT
// A run's settings as one line of text, for comparing them in tests.
#pragma once

#include "settings.h"

#include <string>

inline std::string describe(const RunSettings& s) {
    const auto text = [](const wxString& t) { return std::string(t.utf8_str()); };
    return text(labelOf(s.method)) + " " + text(infoOf(s.type).label) + " " + std::to_string(s.width) + "x" +
           std::to_string(s.height) + (s.percent ? "%" : "px") + (s.keepRatio ? " fit" : " stretch") + (s.linear ? " linear" : "") + " q" +
           std::to_string(s.quality) + " limit " + std::to_string(s.limitBytes) +
           (s.minQuality != 1 ? " min q" + std::to_string(s.minQuality) : "") + (s.progressive ? " progressive" : "") +
           (s.sameFolder ? " same " : " other ") + text(s.suffix) + "|" + text(s.saveDir) +
           (s.keepTree ? " tree" : "") + (s.keepDates ? " dates" : "") + (s.onlyReduce ? " reduce" : "");
}
