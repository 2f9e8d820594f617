// Test-side readers of dialog templates (DLGTEMPLATE and DLGTEMPLATEEX) and version records,
// written from the format descriptions independently of the simulated PC's own readers.
#pragma once

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

namespace testpe {

struct DialogItem {
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    uint32_t id = 0;
    uint16_t classAtom = 0; // 0x0080 button, 0x0081 edit, 0x0082 static, 0x0085 combo box
    std::string className;  // when the class is given by name
    std::string text;       // ASCII rendering; empty when the text is an ordinal
    uint16_t textOrdinal = 0;
};

struct DialogTemplate {
    bool extended = false;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string caption;
    bool hasFont = false;
    int pointSize = 0;
    std::string face;
    std::vector<DialogItem> items;

    const DialogItem* item(uint32_t id) const;
};

// Reads a template; false (with `why`) when it runs past `size`.
bool readDialogTemplate(const uint8_t* data, size_t size, DialogTemplate* out, std::string* why);

struct VersionRecord {
    uint32_t signature = 0; // 0xFEEF04BD in a well-formed VS_FIXEDFILEINFO
    uint32_t fileVersionMs = 0, fileVersionLs = 0;
    uint32_t productVersionMs = 0, productVersionLs = 0;
    std::map<std::string, std::string> strings; // every VALUE of every StringTable
};

bool readVersionRecord(const uint8_t* data, size_t size, VersionRecord* out);

} // namespace testpe
