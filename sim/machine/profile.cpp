// Machine profiles: lspci dumps with #! directives, parsed into PCI function images.
#include "sim/machine.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace sim {
namespace {

struct DirectiveRule {
    int minArgs;
    int maxArgs;
    DirectiveCheck check;
};

bool isHex(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c));
    });
}

unsigned long hexValue(const std::string& text) {
    return std::stoul(text, nullptr, 16);
}

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// "BB:DD.F" with an optional domain; fills bus, device, function. Returns "" or what is wrong.
std::string parseFunctionAddress(const std::string& text, int* bus, int* device, int* function) {
    std::string rest = text;
    size_t firstColon = rest.find(':');
    if (firstColon != std::string::npos && rest.find(':', firstColon + 1) != std::string::npos) {
        if (!isHex(rest.substr(0, firstColon)) || firstColon > 4)
            return "bad PCI domain in '" + text + "'";
        rest = rest.substr(firstColon + 1);
    }
    size_t colon = rest.find(':');
    size_t dot = rest.find('.');
    if (colon == std::string::npos || dot == std::string::npos || dot < colon)
        return "bad PCI function address '" + text + "' (expected BB:DD.F)";
    std::string b = rest.substr(0, colon), d = rest.substr(colon + 1, dot - colon - 1),
                f = rest.substr(dot + 1);
    if (!isHex(b) || !isHex(d) || !isHex(f) || b.size() > 2 || d.size() > 2 || f.size() != 1)
        return "bad PCI function address '" + text + "' (expected BB:DD.F)";
    *bus = static_cast<int>(hexValue(b));
    *device = static_cast<int>(hexValue(d));
    *function = static_cast<int>(hexValue(f));
    if (*device > 31)
        return "device number " + d + " out of range (00..1f)";
    if (*function > 7)
        return "function number " + f + " out of range (0..7)";
    return "";
}

std::string checkNumber(const std::string& arg, const char* what) {
    uint32_t value;
    return parseDirectiveNumber(arg, &value) ? "" : std::string("bad ") + what + " '" + arg + "'";
}

std::string checkWindows(const std::vector<std::string>& args) {
    static const char* const versions[] = {"nt", "xp", "vista", "7", "9x"};
    if (std::find(std::begin(versions), std::end(versions), args[0]) == std::end(versions))
        return "windows takes 'nt', 'xp', 'vista', '7' or '9x', not '" + args[0] + "'";
    return "";
}

std::string checkUac(const std::vector<std::string>& args) {
    return args[0] == "on" || args[0] == "off" ? ""
                                               : "uac takes 'on' or 'off', not '" + args[0] + "'";
}

std::string checkTaskFail(const std::vector<std::string>& args) {
    static const char* const steps[] = {"LoadLibrary",   "CoInitializeEx", "CoCreateInstance",
                                        "Connect",       "GetFolder",      "NewTask",
                                        "TriggerCreate", "ActionCreate",   "RegisterTaskDefinition",
                                        "DeleteTask"};
    if (std::find(std::begin(steps), std::end(steps), args[0]) == std::end(steps))
        return "unknown Task Scheduler step '" + args[0] + "'";
    return checkNumber(args[1], "HRESULT");
}

std::string checkDdraw(const std::vector<std::string>& args) {
    std::string why = checkNumber(args[0], "HRESULT");
    if (why.empty() && args.size() > 1 && args[1] != "object" && args[1] != "null")
        why = "ddraw's second argument is 'object' or 'null', not '" + args[1] + "'";
    return why;
}

std::string checkPhys(const std::vector<std::string>& args) {
    uint32_t address;
    if (!parseDirectiveNumber(args[0], &address))
        return "bad physical address '" + args[0] + "'";
    if (address & 3)
        return "physical address " + args[0] + " is not dword-aligned";
    return checkNumber(args[1], "value");
}

std::string checkAbsentPresent(const std::vector<std::string>& args) {
    return args[0] == "absent" || args[0] == "present"
               ? ""
               : "expected 'absent' or 'present', not '" + args[0] + "'";
}

std::string checkBiosFail(const std::vector<std::string>& args) {
    static const char* const functions[] = {"B101", "B103", "B108", "B10A", "B10D"};
    std::string name = args[0];
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (std::find(std::begin(functions), std::end(functions), name) == std::end(functions))
        return "unknown PCI BIOS function '" + args[0] + "' (B101, B103, B108, B10A, B10D)";
    if (args.size() > 1 && args[1] != "any")
        return checkNumber(args[1], "register or index");
    return "";
}

std::string checkSignature(const std::vector<std::string>& args) {
    return checkNumber(args[0], "signature");
}

std::string checkOpenFail(const std::vector<std::string>& args) {
    if (args[0].compare(0, 4, "\\\\.\\") != 0)
        return "open-fail names a device such as \\\\.\\Tavrol, not '" + args[0] + "'";
    std::string why = checkNumber(args[1], "error code");
    if (why.empty() && args.size() > 2)
        why = checkNumber(args[2], "count of opens");
    if (why.empty() && args.size() > 3)
        why = checkNumber(args[3], "count of failures");
    return why;
}

std::string checkRequestFail(const std::vector<std::string>& args) {
    std::string why = checkNumber(args[0], "request code");
    if (why.empty() && args.size() > 1)
        why = checkNumber(args[1], "error code");
    int b, d, f;
    if (why.empty() && args.size() > 2 && args[2] != "any")
        why = parseFunctionAddress(args[2], &b, &d, &f);
    if (why.empty() && args.size() > 3)
        why = checkNumber(args[3], "count of requests served first");
    if (why.empty() && args.size() > 4)
        why = checkNumber(args[4], "count of failures");
    return why;
}

std::string checkScmFail(const std::vector<std::string>& args) {
    static const char* const functions[] = {"OpenSCManagerA",    "CreateServiceA", "OpenServiceA",
                                            "StartServiceA",     "ControlService", "DeleteService",
                                            "CloseServiceHandle"};
    if (std::find(std::begin(functions), std::end(functions), args[0]) == std::end(functions))
        return "unknown service-manager function '" + args[0] + "'";
    return checkNumber(args[1], "error code");
}

std::string checkStuck(const std::vector<std::string>& args) {
    int b, d, f;
    std::string why = parseFunctionAddress(args[0], &b, &d, &f);
    return why.empty() ? checkNumber(args[1], "bit mask") : why;
}

std::string checkFreeBytes(const std::vector<std::string>& args) {
    return args.empty() ? "" : checkNumber(args[0], "number of free bytes");
}

std::map<std::string, DirectiveRule>& directiveRules() {
    static std::map<std::string, DirectiveRule> rules = {
        {"windows", {1, 1, checkWindows}},
        {"64-bit", {0, 0, nullptr}},
        {"uac", {1, 1, checkUac}},
        {"task-fail", {2, 2, checkTaskFail}},
        {"version-fails", {0, 0, nullptr}},
        {"thread-fails", {0, 0, nullptr}},
        {"safe-mode", {0, 0, nullptr}},
        {"ddraw", {1, 2, checkDdraw}},
        {"phys", {2, 2, checkPhys}},
        {"vxd", {1, 1, checkAbsentPresent}},
        {"driver-file", {1, 1, checkAbsentPresent}},
        {"bios-fail", {1, 2, checkBiosFail}},
        {"no-pci-bios", {0, 0, nullptr}},
        {"bios-signature", {1, 1, checkSignature}},
        {"open-fail", {2, 4, checkOpenFail}},
        {"request-fail", {1, 5, checkRequestFail}},
        {"scm-fail", {2, 2, checkScmFail}},
        {"stuck", {2, 2, checkStuck}},
        {"link-fault", {1, 64, nullptr}},
        {"hklm-readonly", {0, 0, nullptr}},
        {"reg-write-fails", {0, 0, nullptr}},
        {"no-shutdown-privilege", {0, 0, nullptr}},
        {"disk-full", {0, 1, checkFreeBytes}},
    };
    return rules;
}

std::vector<std::string> splitWords(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    std::string word;
    while (in >> word)
        words.push_back(word);
    return words;
}

struct Parser {
    std::string source;
    Profile profile;
    PciFunctionImage* current = nullptr;
    std::vector<std::vector<bool>> rowsSeen;
    int line = 0;
    std::string error;

    bool fail(const std::string& what) {
        error = source + ":" + std::to_string(line) + ": " + what;
        return false;
    }

    bool directive(const std::string& body) {
        std::vector<std::string> words = splitWords(body);
        if (words.empty())
            return fail("empty directive");
        Directive d;
        d.name = words[0];
        d.args.assign(words.begin() + 1, words.end());
        d.line = line;
        auto rule = directiveRules().find(d.name);
        if (rule == directiveRules().end())
            return fail("unknown directive '" + d.name + "'");
        int count = static_cast<int>(d.args.size());
        if (count < rule->second.minArgs || count > rule->second.maxArgs) {
            std::string range = rule->second.minArgs == rule->second.maxArgs
                                    ? std::to_string(rule->second.minArgs)
                                    : std::to_string(rule->second.minArgs) + " to " +
                                          std::to_string(rule->second.maxArgs);
            return fail(d.name + " takes " + range + " argument(s), got " + std::to_string(count));
        }
        if (rule->second.check) {
            std::string why = rule->second.check(d.args);
            if (!why.empty())
                return fail(why);
        }
        profile.directives.push_back(d);
        return true;
    }

    bool header(const std::string& address, const std::string& description) {
        int b, d, f;
        std::string why = parseFunctionAddress(address, &b, &d, &f);
        if (!why.empty())
            return fail(why);
        for (const PciFunctionImage& image : profile.functions)
            if (image.bus == b && image.device == d && image.function == f)
                return fail("function " + address + " appears twice");
        PciFunctionImage image;
        image.bus = static_cast<uint8_t>(b);
        image.device = static_cast<uint8_t>(d);
        image.function = static_cast<uint8_t>(f);
        image.description = description;
        profile.functions.push_back(image);
        rowsSeen.push_back(std::vector<bool>(16, false));
        current = &profile.functions.back();
        return true;
    }

    bool row(const std::string& offsetText, const std::string& bytesText) {
        if (!current)
            return fail("configuration row before any function header");
        unsigned long offset = hexValue(offsetText);
        if (offset % 16 != 0)
            return fail("row offset " + offsetText + " is not a multiple of 0x10");
        std::vector<std::string> bytes = splitWords(bytesText);
        if (bytes.size() != 16)
            return fail("row " + offsetText + " has " + std::to_string(bytes.size()) +
                        " bytes, expected 16");
        for (const std::string& byte : bytes)
            if (byte.size() != 2 || !isHex(byte))
                return fail("bad hex byte '" + byte + "' in row " + offsetText);
        if (offset >= 256)
            return true; // extended configuration space of -xxxx dumps: not modelled
        std::vector<bool>& seen = rowsSeen.back();
        if (seen[offset / 16])
            return fail("row " + offsetText + " appears twice");
        seen[offset / 16] = true;
        for (size_t i = 0; i < 16; ++i)
            current->config[offset + i] = static_cast<uint8_t>(hexValue(bytes[i]));
        return true;
    }

    bool parseLine(std::string text) {
        // Every CR before the LF belongs to the line ending (a CRLF file converted once more has
        // two): kept in a description, one would be lost when the state file is written and read.
        while (!text.empty() && text.back() == '\r')
            text.pop_back();
        if (text.compare(0, 2, "#!") == 0)
            return directive(text.substr(2));
        if (text.empty() || text[0] == '#' || std::isspace(static_cast<unsigned char>(text[0])))
            return true; // comments and the indented decoding lines of lspci -v
        size_t space = text.find_first_of(" \t");
        std::string first = text.substr(0, space);
        std::string rest = space == std::string::npos ? "" : text.substr(space + 1);
        // A row: hex offset and colon, then the bytes.
        if (first.size() >= 2 && first.back() == ':' && first.find('.') == std::string::npos) {
            std::string offset = first.substr(0, first.size() - 1);
            if (!isHex(offset) || offset.size() > 3)
                return fail("bad row offset '" + offset + "'");
            return row(offset, rest);
        }
        // A function header: [DDDD:]BB:DD.F followed by the description.
        if (first.find(':') != std::string::npos && first.find('.') != std::string::npos)
            return header(first, rest);
        return true; // anything else is lspci's own decoding
    }

    bool finish() {
        for (size_t i = 0; i < profile.functions.size(); ++i) {
            const std::vector<bool>& seen = rowsSeen[i];
            if (std::find(seen.begin(), seen.end(), true) == seen.end()) {
                const PciFunctionImage& f = profile.functions[i];
                char name[16];
                std::snprintf(name, sizeof name, "%02x:%02x.%x", f.bus, f.device, f.function);
                line = 0;
                error = source + ": function " + name + " has no configuration rows";
                return false;
            }
        }
        for (const Directive& d : profile.directives) {
            if (d.name != "stuck")
                continue;
            int b, dev, f;
            parseFunctionAddress(d.args[0], &b, &dev, &f);
            auto match = std::find_if(profile.functions.begin(), profile.functions.end(),
                                      [&](const PciFunctionImage& image) {
                                          return image.bus == b && image.device == dev &&
                                                 image.function == f;
                                      });
            if (match == profile.functions.end()) {
                line = d.line;
                return fail("stuck names function " + d.args[0] + ", which the profile lacks");
            }
        }
        std::stable_sort(profile.functions.begin(), profile.functions.end(),
                         [](const PciFunctionImage& a, const PciFunctionImage& b) {
                             return std::tie(a.bus, a.device, a.function) <
                                    std::tie(b.bus, b.device, b.function);
                         });
        return true;
    }
};

} // namespace

const Directive* Profile::find(const std::string& name) const {
    const Directive* found = nullptr;
    for (const Directive& d : directives)
        if (d.name == name)
            found = &d;
    return found;
}

std::vector<const Directive*> Profile::findAll(const std::string& name) const {
    std::vector<const Directive*> found;
    for (const Directive& d : directives)
        if (d.name == name)
            found.push_back(&d);
    return found;
}

void addDirectiveName(const std::string& name, int minArgs, int maxArgs, DirectiveCheck check) {
    directiveRules()[name] = DirectiveRule{minArgs, maxArgs, check};
}

bool parsePciAddress(const std::string& text, int* bus, int* device, int* function) {
    return parseFunctionAddress(text, bus, device, function).empty();
}

bool parseDirectiveNumber(const std::string& text, uint32_t* value) {
    std::string digits = lower(text);
    int base = 10;
    if (digits.compare(0, 2, "0x") == 0) {
        digits = digits.substr(2);
        base = 16;
        if (!isHex(digits) || digits.size() > 8)
            return false;
    } else if (digits.empty() || digits.size() > 10 ||
               !std::all_of(digits.begin(), digits.end(),
                            [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        return false;
    }
    unsigned long long parsed = std::stoull(digits, nullptr, base);
    if (parsed > 0xFFFFFFFFull)
        return false;
    *value = static_cast<uint32_t>(parsed);
    return true;
}

bool parseProfile(const std::string& text, const std::string& source, Profile* profile,
                  std::string* error) {
    Parser parser;
    parser.source = source;
    parser.profile.source = source;
    std::istringstream in(text);
    std::string lineText;
    while (std::getline(in, lineText)) {
        ++parser.line;
        if (!parser.parseLine(lineText)) {
            *error = parser.error;
            return false;
        }
    }
    if (!parser.finish()) {
        *error = parser.error;
        return false;
    }
    *profile = parser.profile;
    return true;
}

bool loadProfileFile(const std::string& path, Profile* profile, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot be read";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parseProfile(text.str(), path, profile, error);
}

std::string machinesDir() {
    return TAVROL_MACHINES_DIR;
}

std::string formatLspci(const std::vector<PciFunctionImage>& functions) {
    std::string out;
    char buffer[64];
    for (const PciFunctionImage& f : functions) {
        std::snprintf(buffer, sizeof buffer, "%02x:%02x.%x", f.bus, f.device, f.function);
        out += buffer;
        if (!f.description.empty())
            out += " " + f.description;
        out += "\n";
        for (int row = 0; row < 256; row += 16) {
            std::snprintf(buffer, sizeof buffer, "%02x:", row);
            out += buffer;
            for (int i = 0; i < 16; ++i) {
                std::snprintf(buffer, sizeof buffer, " %02x", f.config[row + i]);
                out += buffer;
            }
            out += "\n";
        }
        out += "\n";
    }
    return out;
}

std::string formatProfile(const Profile& profile) {
    std::string out;
    for (const Directive& d : profile.directives) {
        out += "#! " + d.name;
        for (const std::string& arg : d.args)
            out += " " + arg;
        out += "\n";
    }
    if (!profile.directives.empty())
        out += "\n";
    return out + formatLspci(profile.functions);
}

} // namespace sim
