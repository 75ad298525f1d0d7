// SPDX-License-Identifier: MIT
// Every line pixloom writes to standard error goes through here, in one
// form: "PROGRAM: FILE: message" or "PROGRAM: message". A file's name shows
// its real bytes, escaped where they would break the line or are not text,
// so that one report is one line.
#pragma once

#include <wx/string.h>

#include <string>

// The line for a report about a file (empty: about no file), without the
// program's name and the line's end.
std::string reportText(const wxString& file, const wxString& message);

// Writes "PROGRAM: " + reportText(...) and a line end to standard error;
// any thread.
void report(const wxString& file, const wxString& message);
void report(const wxString& message);

// A name as reports show it: a backslash, a control character and a byte
// that is not UTF-8 are escaped (\\, \n, \x1b, \xff); the rest is the name's
// UTF-8. The result is ASCII-safe for one line.
std::string escapedBytes(const std::string& bytes);

// For the whole program, before the toolkit starts: the program's name for
// every line, and the toolkit's log messages, its failed internal checks and
// the engine's messages as reports. No toolkit log box is ever shown: what
// users are meant to see is shown by the program itself.
void reportToStandardError(const char* programName);
