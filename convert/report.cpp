// SPDX-License-Identifier: MIT
#include "report.h"

#include "image.h"
#include "safe_write.h"

#include <wx/debug.h>
#include <wx/log.h>

#include <cstdio>
#include <mutex>

namespace {

std::mutex linesMutex;
std::string program = "pixloom";

// The length of the UTF-8 sequence at i, or 0 when it is not one.
std::size_t sequenceLength(const std::string& bytes, std::size_t i) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = lead > 0xF4 ? 0 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || i + length > bytes.size()) return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return 0;
    const unsigned char second = static_cast<unsigned char>(bytes[i + 1]);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second > 0x8F))
        return 0;  // over-long forms, surrogates, beyond U+10FFFF
    return length;
}

void escapeByte(unsigned char byte, std::string& out) {
    static const char digits[] = "0123456789abcdef";
    switch (byte) {
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    case '\\':
        out += "\\\\";
        return;
    default:
        out += "\\x";
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
}

class StandardErrorLog : public wxLog {
protected:
    void DoLogRecord(wxLogLevel level, const wxString& message, const wxLogRecordInfo&) override {
        if (level <= wxLOG_Info) report(message);  // not the toolkit's debug and trace chatter
    }
};

void reportFailedCheck(const wxString& file, int line, const wxString& function, const wxString& condition,
                       const wxString& message) {
    report(
        wxString::Format(wxT("internal check failed in %s (%s:%d): %s %s"), function, file, line, condition, message));
}

}  // namespace

std::string escapedBytes(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const unsigned char byte = static_cast<unsigned char>(bytes[i]);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            out += static_cast<char>(byte);
            ++i;
        } else if (const std::size_t length = byte >= 0x80 ? sequenceLength(bytes, i) : 0) {
            out.append(bytes, i, length);
            i += length;
        } else {
            escapeByte(byte, out);
            ++i;
        }
    }
    return out;
}

std::string reportText(const wxString& file, const wxString& message) {
    // Through the file-name conversion, names (also inside the message)
    // come back as the bytes the file system has.
    const std::string text = escapedBytes(nativePath(message));
    return file.empty() ? text : escapedBytes(nativePath(file)) + ": " + text;
}

void report(const wxString& file, const wxString& message) {
    const std::string line = program + ": " + reportText(file, message) + "\n";
    std::lock_guard<std::mutex> lock(linesMutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void report(const wxString& message) { report(wxString(), message); }

void reportToStandardError(const char* programName) {
    program = programName;
    delete wxLog::SetActiveTarget(new StandardErrorLog);
    wxSetAssertHandler(reportFailedCheck);
    setMessageCallback([](const wxString& text) { report(text); });
}
