// The REGEDIT4 text form of the simulated registry: writing it, and reading it back line by line.
#include <stdio.h>
#include <string.h>

#include "sim/registry_internal.h"
#include "sim/registry.h"
#include "sim_advapi32.h"

namespace sim {
namespace {

const size_t kHexLineWidth = 76;

std::string quoted(const char* text, size_t length) {
    std::string out = "\"";
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == '\\' || text[i] == '"')
            out += '\\';
        out += text[i];
    }
    return out + "\"";
}

std::string quoted(const std::string& text) {
    return quoted(text.data(), text.size());
}

bool printable(const std::vector<uint8_t>& data, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (data[i] < 0x20 || data[i] == 0x7f)
            return false;
    return true;
}

size_t textLength(const std::vector<uint8_t>& data) {
    if (data.empty())
        return 0;
    const void* nul = memchr(data.data(), 0, data.size());
    return nul ? static_cast<const uint8_t*>(nul) - data.data() : data.size();
}

// A REG_SZ value is written as a plain string only when reading that string back gives exactly
// the same bytes: printable text and a single terminator at the end.
bool fitsStringForm(const RegValue& value) {
    size_t length = textLength(value.data);
    return length + 1 == value.data.size() && printable(value.data, length);
}

// Explains a REG_SZ value written as hex(1), so a person still sees the text.
std::string stringComment(const RegValue& value) {
    size_t length = textLength(value.data);
    if (!printable(value.data, length))
        return "";
    std::string text = quoted(reinterpret_cast<const char*>(value.data.data()), length);
    if (length == value.data.size())
        return "; the text " + text + " without a terminator\n";
    size_t rest = value.data.size() - length - 1;
    bool zeros = true;
    for (size_t i = length + 1; i < value.data.size(); ++i)
        zeros = zeros && value.data[i] == 0;
    return "; the text " + text + " and its terminator, then " + std::to_string(rest) +
           (zeros ? " zero bytes\n" : " more bytes\n");
}

std::string hexForm(const std::string& head, const RegValue& value) {
    char prefix[32];
    if (value.type == REG_BINARY)
        snprintf(prefix, sizeof prefix, "hex:");
    else
        snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
    std::string out = head + prefix;
    size_t lineStart = 0;
    for (size_t i = 0; i < value.data.size(); ++i) {
        char byte[4];
        snprintf(byte, sizeof byte, "%02x", value.data[i]);
        out += byte;
        if (i + 1 == value.data.size())
            break;
        out += ',';
        if (out.size() - lineStart >= kHexLineWidth) {
            out += "\\\n  ";
            lineStart = out.size() - 2;
        }
    }
    return out + "\n";
}

std::string valueLines(const RegValue& value) {
    std::string head = (value.name.empty() ? std::string("@") : quoted(value.name)) + "=";
    if (value.type == REG_DWORD && value.data.size() == 4) {
        char word[16];
        DWORD v = value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                  static_cast<DWORD>(value.data[3]) << 24;
        snprintf(word, sizeof word, "dword:%08x", static_cast<unsigned>(v));
        return head + word + "\n";
    }
    if (value.type == REG_SZ && fitsStringForm(value))
        return head +
               quoted(reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1) +
               "\n";
    std::string comment = value.type == REG_SZ ? stringComment(value) : "";
    return comment + hexForm(head, value);
}

// Reading ------------------------------------------------------------------------------------

struct Reader {
    const std::string& fileName;
    std::string* error;
    int line;

    bool fail(const std::string& reason) {
        *error = fileName + ":" + std::to_string(line) + ": " + reason;
        return false;
    }
};

std::string trimmed(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return "";
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

bool equalsNoCase(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a quoted string starting at text[*pos] == '"'; leaves *pos after the closing quote.
bool readQuoted(Reader& reader, const std::string& text, size_t* pos, std::string* out) {
    out->clear();
    for (size_t i = *pos + 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            *pos = i + 1;
            return true;
        }
        if (c == '\\') {
            if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"'))
                return reader.fail("only \\\\ and \\\" may follow a backslash in a string");
            c = text[++i];
        }
        *out += c;
    }
    return reader.fail("string without its closing quote");
}

bool parseKeyLine(Reader& reader, const std::string& text, std::string* path) {
    if (text.back() != ']')
        return reader.fail("key line without its closing ']'");
    std::string inside = text.substr(1, text.size() - 2);
    if (!inside.empty() && inside[0] == '-')
        return reader.fail("deleting a key ('[-...]') has no meaning in the registry file");
    size_t slash = inside.find('\\');
    std::string root = inside.substr(0, slash);
    if (!equalsNoCase(root, "HKEY_LOCAL_MACHINE") && !equalsNoCase(root, "HKEY_CURRENT_USER"))
        return reader.fail("unknown root key '" + root +
                           "' (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER)");
    if (slash != std::string::npos) {
        // The store takes the path by the rule of the registry functions; a trailing backslash,
        // which they forgive, would name the key twice in the file.
        std::string rest = inside.substr(slash + 1);
        std::vector<std::string> names;
        LONG refused = regdb::splitPath(rest.c_str(), &names);
        if (refused == ERROR_BAD_PATHNAME || rest.empty() || rest.back() == '\\')
            return reader.fail("empty key name in '" + inside + "'");
        if (refused != ERROR_SUCCESS)
            return reader.fail("key name longer than 255 characters");
    }
    *path = equalsNoCase(root, "HKEY_LOCAL_MACHINE") ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
    if (slash != std::string::npos)
        *path += inside.substr(slash);
    return true;
}

// Reads comma-separated hex bytes of one physical line. *more is set when the line ends in a
// backslash, so the data goes on in the next line.
bool parseHexBytes(Reader& reader, const std::string& text, std::vector<uint8_t>* data,
                   bool* more) {
    std::string rest = trimmed(text);
    *more = !rest.empty() && rest.back() == '\\';
    if (*more)
        rest = trimmed(rest.substr(0, rest.size() - 1));
    if (rest.empty())
        return true;
    size_t start = 0;
    for (;;) {
        size_t comma = rest.find(',', start);
        std::string item = trimmed(
            rest.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (item.empty() && comma == std::string::npos) {
            if (*more)
                break; // "xx,\" : the line ends with the comma before the continuation
            return reader.fail("hex data ends with a comma");
        }
        if (item.empty() || item.size() > 2 || hexDigit(item[0]) < 0 ||
            (item.size() == 2 && hexDigit(item[1]) < 0))
            return reader.fail("'" + item + "' is not a hex byte");
        data->push_back(static_cast<uint8_t>(
            item.size() == 2 ? hexDigit(item[0]) * 16 + hexDigit(item[1]) : hexDigit(item[0])));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return true;
}

// Parses the data after '='. *more is set for hex data continued on the next line.
bool parseData(Reader& reader, const std::string& text, RegValue* value, bool* more) {
    *more = false;
    value->data.clear();
    if (text.empty())
        return reader.fail("value without data after '='");
    if (text == "-")
        return reader.fail("deleting a value ('=-') has no meaning in the registry file");
    if (text[0] == '"') {
        size_t pos = 0;
        std::string content;
        if (!readQuoted(reader, text, &pos, &content))
            return false;
        if (!trimmed(text.substr(pos)).empty())
            return reader.fail("text after the closing quote of the data");
        value->type = REG_SZ;
        value->data.assign(content.begin(), content.end());
        value->data.push_back(0);
        return true;
    }
    if (text.compare(0, 6, "dword:") == 0) {
        std::string digits = trimmed(text.substr(6));
        if (digits.empty() || digits.size() > 8)
            return reader.fail("dword data needs 1 to 8 hex digits, got '" + digits + "'");
        DWORD v = 0;
        for (char c : digits) {
            if (hexDigit(c) < 0)
                return reader.fail("'" + digits + "' is not a hex dword");
            v = v * 16 + hexDigit(c);
        }
        value->type = REG_DWORD;
        for (int i = 0; i < 4; ++i)
            value->data.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return true;
    }
    size_t colon = text.find(':');
    std::string form = text.substr(0, colon);
    if (colon == std::string::npos || form.compare(0, 3, "hex") != 0)
        return reader.fail("unknown data '" + text +
                           "' (a \"string\", dword:xxxxxxxx, hex: or hex(type):)");
    if (form == "hex") {
        value->type = REG_BINARY;
    } else {
        if (form.size() < 6 || form[3] != '(' || form.back() != ')' || form.size() > 13)
            return reader.fail("bad hex type '" + form + "' (hex(1) ... hex(ffffffff))");
        DWORD type = 0;
        for (size_t i = 4; i + 1 < form.size(); ++i) {
            if (hexDigit(form[i]) < 0)
                return reader.fail("bad hex type '" + form + "' (hex(1) ... hex(ffffffff))");
            type = type * 16 + hexDigit(form[i]);
        }
        value->type = type;
    }
    return parseHexBytes(reader, text.substr(colon + 1), &value->data, more);
}

bool parseValueLine(Reader& reader, const std::string& text, RegValue* value, bool* more) {
    size_t pos = 0;
    if (text[0] == '@') {
        value->name.clear();
        pos = 1;
    } else if (!readQuoted(reader, text, &pos, &value->name)) {
        return false;
    }
    std::string rest = trimmed(text.substr(pos));
    if (rest.empty() || rest[0] != '=')
        return reader.fail("expected '=' after the value name");
    return parseData(reader, trimmed(rest.substr(1)), value, more);
}

// Lines end as regedit ends them: at CR LF, at LF, or at a CR alone, as an old Mac editor writes
// them. A CR is never part of a line, so none can slip into a key or value name.
std::string nextLine(const std::string& text, size_t* start) {
    size_t end = text.find_first_of("\r\n", *start);
    std::string line =
        text.substr(*start, end == std::string::npos ? std::string::npos : end - *start);
    if (end == std::string::npos)
        *start = text.size();
    else if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
        *start = end + 2;
    else
        *start = end + 1;
    return line;
}

RegFileKey* findKey(std::vector<RegFileKey>* keys, const std::string& path) {
    for (RegFileKey& key : *keys)
        if (equalsNoCase(key.path, path))
            return &key;
    return nullptr;
}

} // namespace

std::string formatRegFile(const std::vector<RegFileKey>& keys) {
    std::string out = "REGEDIT4\n";
    for (const RegFileKey& key : keys) {
        out += "\n[" + key.path + "]\n";
        for (const RegValue& value : key.values)
            out += valueLines(value);
    }
    return out;
}

bool parseRegFile(const std::string& text, const std::string& fileName,
                  std::vector<RegFileKey>* keys, std::string* error) {
    std::vector<RegFileKey> parsed;
    Reader reader{fileName, error, 0};
    RegFileKey* current = nullptr; // set again after every push_back into `parsed`
    RegValue pending;
    bool more = false;
    size_t start = 0;
    while (start < text.size()) {
        std::string raw = nextLine(text, &start);
        ++reader.line;
        if (more) {
            if (!parseHexBytes(reader, raw, &pending.data, &more))
                return false;
            if (!more)
                current->values.push_back(pending);
            continue;
        }
        std::string line = trimmed(raw);
        if (reader.line == 1) {
            if (line != "REGEDIT4")
                return reader.fail("the file must begin with the line REGEDIT4");
            continue;
        }
        if (line.empty() || line[0] == ';')
            continue;
        // Names are C strings to the registry functions: a NUL would cut one short.
        if (line.find('\0') != std::string::npos)
            return reader.fail("a NUL character in the line (the file is not text)");
        if (line[0] == '[') {
            std::string path;
            if (!parseKeyLine(reader, line, &path))
                return false;
            current = findKey(&parsed, path);
            if (!current) {
                parsed.push_back(RegFileKey{path, {}});
                current = &parsed.back();
            }
            continue;
        }
        if (line[0] != '"' && line[0] != '@')
            return reader.fail("expected a [key], a \"value\"=data line or a ; comment");
        if (!current)
            return reader.fail("value before the first [key] line");
        if (current->path.find('\\') == std::string::npos)
            return reader.fail("a root key holds no values; name a key below it");
        if (!parseValueLine(reader, line, &pending, &more))
            return false;
        for (const RegValue& seen : current->values)
            if (equalsNoCase(seen.name, pending.name))
                return reader.fail("value " + quoted(pending.name) + " given twice in [" +
                                   current->path + "]");
        if (!more)
            current->values.push_back(pending);
    }
    if (reader.line == 0) {
        reader.line = 1;
        return reader.fail("the file is empty; it must begin with the line REGEDIT4");
    }
    if (more)
        return reader.fail("hex data continued past the end of the file");
    *keys = std::move(parsed);
    return true;
}

} // namespace sim
