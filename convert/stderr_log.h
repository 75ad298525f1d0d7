// The toolkit's log messages and failed internal checks as lines on standard
// error, for the whole program: no toolkit log box is ever shown. What users
// are meant to see is shown by the program itself.
#pragma once

// Lines read "NAME: message". Call once, before the toolkit starts.
void logToStandardError(const char* programName);
