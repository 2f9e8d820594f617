// tavrol-driver.exe: its "key=value" output and the hex both sides use.
#include "helper.h"

#include <stdio.h>
#include <stdlib.h>

// Values are printed on one line: backslashes, line breaks and tabs are escaped.
void print(const char* key, const std::string& value) {
    std::string escaped;
    for (char c : value) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else if (c == '\t')
            escaped += "\\t";
        else
            escaped += c;
    }
    printf("%s=%s\n", key, escaped.c_str());
    fflush(stdout);
}

void printNumber(const char* key, unsigned long value) {
    printf("%s=%lu\n", key, value);
    fflush(stdout);
}

std::string hex(const unsigned char* bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

bool parseHex(const std::string& text, std::vector<unsigned char>* bytes) {
    if (text.size() % 2)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        char* end = nullptr;
        const unsigned long value = strtoul(pair, &end, 16);
        if (*end)
            return false;
        bytes->push_back(static_cast<unsigned char>(value));
    }
    return true;
}

int fail(const std::string& what) {
    print("error", what);
    return 2;
}
