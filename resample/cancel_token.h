// SPDX-License-Identifier: MIT
// The one way work is given up, at every layer: decoders, the engine's passes,
// encoders, safe writing and the run all ask a token. A token is a cheap
// copyable handle to a shared flag; any copy may request, from any thread,
// and every copy then reports it. Whoever holds work that may be dropped on
// its own (one file ahead, one preview job) makes a token for it; the run
// hands its own to every step of the file in progress.
#pragma once

#include <atomic>
#include <memory>

class CancelToken {
public:
    // A fresh token, not requested.
    CancelToken() : flag(std::make_shared<std::atomic<bool>>(false)) {}
    // Copied, never moved: a moved-from token would share no flag.
    CancelToken(const CancelToken&) = default;
    CancelToken& operator=(const CancelToken&) = default;

    void request() const { *flag = true; }
    bool requested() const { return *flag; }

private:
    std::shared_ptr<std::atomic<bool>> flag;
};
