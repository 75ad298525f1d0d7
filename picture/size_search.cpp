// SPDX-License-Identifier: MIT
#include "size_search.h"

#include <algorithm>
#include <map>

int fitJpegQuality(int limit, int maxQuality, const EncodedSize& sizeAt) {
    if (maxQuality <= 1 || limit <= 0) return maxQuality;
    int q = maxQuality;
    int step = maxQuality / 2;
    long long bestFit = -1;  // largest size seen below the limit
    int highestFit = 0;      // highest quality seen within the limit
    std::map<int, int> visits;
    for (;;) {
        const long long size = sizeAt(q);
        ++visits[q];
        if (size <= limit && q == maxQuality) return maxQuality;
        if (size == bestFit || size == limit) return q;
        if (size > limit && q == 1) return 1;
        if (size <= limit) highestFit = std::max(highestFit, q);

        int next = size < limit ? std::min(q + step, maxQuality) : std::max(q - step, 1);
        step = std::max(step / 2, 1);
        if (size < limit && size > bestFit) bestFit = size;
        // A size that grows with the quality visits no quality a third time;
        // any other would make the walk alternate for ever.
        if (visits[next] >= 2) return highestFit > 0 ? highestFit : 1;
        q = next;
    }
}

int fitQualityAtLeast(int limit, int maxQuality, int lowest, const EncodedSize& sizeAt) {
    if (lowest <= 1 || limit <= 0 || maxQuality <= 1) return fitJpegQuality(limit, maxQuality, sizeAt);
    lowest = std::min(lowest, maxQuality);
    std::map<int, long long> known;
    const EncodedSize once = [&](int q) {
        auto found = known.find(q);
        return found != known.end() ? found->second : known[q] = sizeAt(q);
    };
    // Two tries tell a size that needs a lower quality; the walk runs only where it ends at lowest or above.
    if (once(maxQuality) <= limit) return maxQuality;
    if (once(lowest) > limit) return 0;
    return std::max(fitJpegQuality(limit, maxQuality, once), lowest);
}
