// The machine report: every PCI function the channel reaches, in the form `lspci -xxx` writes,
// after comment lines that say which program, which Windows and which AGP pair it comes from.
// A report replays on the simulated PC as a machine profile.
#pragma once

#include "agpcfg/agpcfg.h"

enum ReportResult {
    REPORT_SAVED = 0,
    REPORT_NO_FUNCTIONS = 1, // the channel reached no PCI function: nothing was written
    REPORT_WRITE_FAILED = 2, // the file could not be written; the Windows error says why
    REPORT_NO_SAVE_AS = 3,   // the Save As dialog could not open; its error says why
};

// Writes the report of the machine the controller's channel reaches to `path`, through a
// temporary file beside it that takes the name only once it is complete: `path` holds either
// its old contents or the whole report, never a part. On REPORT_WRITE_FAILED `error` is the
// Windows error.
int writeMachineReport(CAgpConfig* config, const char* path, DWORD* error);

// `file` taken relative to `directory` unless it is absolute ("C:\x", "\\server\x") or starts at
// a drive's root ("\x"). False when the result does not fit `size` bytes.
bool reportPathIn(const char* directory, const char* file, char* out, size_t size);

// Text of a report, built a line at a time in a bounded buffer.
struct ReportText {
    char text[1024];
    size_t length;
    bool overflow; // something did not fit and was left out

    void clear();
    void add(const char* s);
    void addHex(DWORD value, int digits);
    void addDecimal(DWORD value, int width = 1); // leading zeros up to `width` digits
    void addAddress(PciAddress address);         // "BB:DD.F"
};

// The `#` lines before the functions: program, Windows, date, and the AGP pair as discovery
// found it. Each call appends one line to `out` (cleared first) and returns 0 after the last.
int reportHeaderLine(CAgpConfig* config, int index, ReportText* out);
// One function as `lspci -nxxx` shows it: "BB:DD.F CCCC: VVVV:DDDD (rev RR)", sixteen rows of
// sixteen bytes, and a blank line.
void formatFunctionDump(PciAddress address, const BYTE* config, ReportText* out);
