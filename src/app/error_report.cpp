// Turns AgpError codes into message boxes with the resource library's texts.
#include "app/tavrol_app.h"

#include <string.h>

namespace {

const char kUnknownError[] = "Oops! Something went wrong but I've NO idea what it is.";
const int kMessageBufferSize = 300;

struct ErrorMessage {
    int code;
    UINT stringId;
};

// Which string explains which discovery result; codes without a row get the fallback text.
const ErrorMessage kErrorMessages[] = {
    {1, 111},  {2, 112},  {24, 113}, {7, 114},  {8, 115},  {18, 115}, {26, 115}, {27, 115},
    {30, 115}, {9, 116},  {13, 116}, {10, 117}, {19, 118}, {20, 119}, {21, 120}, {3, 121},
    {25, 121}, {28, 121}, {29, 121}, {11, 122}, {14, 122}, {15, 122}, {16, 122}, {17, 122},
    {22, 122}, {23, 122}, {12, 123}, {4, 124},  {31, 124}, {32, 124},
};

UINT messageIdOf(int code) {
    for (const ErrorMessage& entry : kErrorMessages) {
        if (entry.code == code)
            return entry.stringId;
    }
    return 0;
}

// Writes " (0x1b)" for code 27: lower-case hexadecimal of the code as an unsigned dword.
size_t formatCodeSuffix(char* out, int code) {
    static const char kHex[] = "0123456789abcdef";
    DWORD value = static_cast<DWORD>(code);
    char digits[8];
    size_t count = 0;
    do {
        digits[count++] = kHex[value & 0xF];
        value >>= 4;
    } while (value != 0);
    size_t length = 0;
    out[length++] = ' ';
    out[length++] = '(';
    out[length++] = '0';
    out[length++] = 'x';
    while (count > 0)
        out[length++] = digits[--count];
    out[length++] = ')';
    out[length] = '\0';
    return length;
}

} // namespace

// "<text> (0x<code>)" in a buffer of `size` bytes. A text too long to leave room for the code
// is shortened: the code is what support needs, so it is never cut.
void formatAgpMessage(char* out, size_t size, const char* text, int code) {
    char suffix[16];
    size_t suffixLength = formatCodeSuffix(suffix, code);
    if (size <= suffixLength) {
        // Not even the code fits: an empty message rather than a cut code.
        if (size > 0)
            out[0] = '\0';
        return;
    }
    size_t room = size - 1 - suffixLength;
    size_t textLength = strlen(text);
    if (textLength > room)
        textLength = room;
    memcpy(out, text, textLength);
    memcpy(out + textLength, suffix, suffixLength + 1);
}

void CTavrolApp::reportAgpError(int code) {
    UINT stringId = messageIdOf(code);
    if (stringId == 0) {
        AfxShowMessageBox(nullptr, kUnknownError, TAVROL_TITLE, MB_ICONERROR);
        return;
    }
    showResourceMessage(stringId, code);
}

void CTavrolApp::showResourceMessage(UINT stringId, int code) {
    char text[kMessageBufferSize] = {};
    char message[kMessageBufferSize] = {};
    if (LoadStringA(AfxGetResourceHandle(), stringId, text, kMessageBufferSize) <= 0)
        text[0] = '\0';
    formatAgpMessage(message, sizeof message, text, code);
    AfxShowMessageBox(nullptr, message, TAVROL_TITLE, MB_ICONINFORMATION);
}
