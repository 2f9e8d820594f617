// The script face's language: one action a line, checked completely before anything runs.
#include "sim/ui.h"

#include <cctype>
#include <cstdlib>

namespace sim {
namespace {

std::string trim(const std::string& s) {
    size_t begin = 0, end = s.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(s[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(s[end - 1])))
        --end;
    return s.substr(begin, end - begin);
}

// Splits off the first word; `rest` is what follows it, without the separating blanks.
std::string firstWord(std::string s, std::string* rest) {
    size_t end = 0;
    while (end < s.size() && !std::isspace(static_cast<unsigned char>(s[end])))
        ++end;
    size_t next = end;
    while (next < s.size() && std::isspace(static_cast<unsigned char>(s[next])))
        ++next;
    *rest = s.substr(next);
    return s.substr(0, end);
}

bool parseNumber(const std::string& word, int base, long max, long* out) {
    if (word.empty() || word.size() > 10)
        return false;
    std::string digits = word;
    if (base == 16 && digits.size() > 2 && digits[0] == '0' &&
        (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    for (char c : digits) {
        if (!(base == 16 ? std::isxdigit(static_cast<unsigned char>(c))
                         : std::isdigit(static_cast<unsigned char>(c))))
            return false;
    }
    long value = std::strtol(digits.c_str(), nullptr, base);
    if (value > max)
        return false;
    *out = value;
    return true;
}

struct LineParser {
    std::string verb;
    std::string rest;
    std::string* error;

    bool fail(const std::string& message) {
        *error = message;
        return false;
    }
    bool id(int* out) {
        std::string word = firstWord(rest, &rest);
        long value;
        if (word.empty())
            return fail(verb + " needs a control ID");
        if (!parseNumber(word, 10, 0xFFFF, &value))
            return fail("\"" + word + "\" is not a control ID (a decimal number up to 65535)");
        *out = static_cast<int>(value);
        return true;
    }
    bool nothingMore() {
        if (!rest.empty())
            return fail("unexpected \"" + rest + "\" after " + verb);
        return true;
    }
};

bool parseLine(const std::string& line, ScriptAction* a, std::string* error) {
    LineParser p;
    p.error = error;
    p.verb = firstWord(line, &p.rest);
    const std::string& v = p.verb;
    if (v == "select" || v == "type") {
        a->kind = v == "select" ? ScriptAction::Select : ScriptAction::Type;
        if (!p.id(&a->id))
            return false;
        a->text = p.rest;
        if (a->kind == ScriptAction::Select && a->text.empty())
            return p.fail("select needs the text of a combo box item");
        return true;
    }
    if (v == "check") {
        a->kind = ScriptAction::Check;
        if (!p.id(&a->id))
            return false;
        std::string word = firstWord(p.rest, &p.rest);
        long state;
        if (word.empty())
            return p.fail("check needs a state (0, 1 or 2)");
        if (!parseNumber(word, 10, 2, &state))
            return p.fail("\"" + word + "\" is not a check state (0, 1 or 2)");
        a->state = static_cast<int>(state);
        return p.nothingMore();
    }
    if (v == "click" || v == "answer") {
        a->kind = v == "click" ? ScriptAction::Click : ScriptAction::Answer;
        return p.id(&a->id) && p.nothingMore();
    }
    if (v == "sys") {
        a->kind = ScriptAction::Sys;
        std::string word = firstWord(p.rest, &p.rest);
        long command;
        if (word.empty())
            return p.fail("sys needs a system command in hex (F020, 10, ...)");
        if (!parseNumber(word, 16, 0xFFFF, &command))
            return p.fail("\"" + word + "\" is not a system command (hex, up to FFFF)");
        a->command = static_cast<UINT>(command);
        return p.nothingMore();
    }
    if (v == "key") {
        a->kind = ScriptAction::Key;
        std::string word = firstWord(p.rest, &p.rest);
        if (!keyFromName(word, &a->key))
            return p.fail(
                "\"" + word +
                "\" is not a key (Tab, ShiftTab, Space, Up, Down, Enter, Esc, F4, AltDown)");
        return p.nothingMore();
    }
    if (v == "show" || v == "minimize" || v == "paint") {
        a->kind = v == "show" ? ScriptAction::Show
                              : (v == "paint" ? ScriptAction::Paint : ScriptAction::Minimize);
        return p.nothingMore();
    }
    if (v == "wait") {
        a->kind = ScriptAction::Wait;
        if (firstWord(p.rest, &p.rest) != "foreground")
            return p.fail("wait needs what to wait for: wait foreground");
        return p.nothingMore();
    }
    return p.fail("unknown action \"" + v +
                  "\" (select, type, check, click, sys, answer, key, show, minimize, paint, wait)");
}

} // namespace

bool parseScript(const std::string& name, const std::string& text,
                 std::vector<ScriptAction>* actions, std::string* error) {
    std::vector<ScriptAction> out;
    size_t start = 0;
    int number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string raw = text.substr(start, end - start);
        start = end + 1;
        ++number;
        std::string line = trim(raw);
        if (line.empty() || line[0] == '#')
            continue;
        ScriptAction a;
        a.line = number;
        a.source = line;
        std::string why;
        if (!parseLine(line, &a, &why)) {
            if (error)
                *error = name + ":" + std::to_string(number) + ": " + why;
            return false;
        }
        out.push_back(a);
    }
    *actions = out;
    return true;
}

} // namespace sim
