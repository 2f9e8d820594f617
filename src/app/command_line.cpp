// The switches on the command line: each an argument of its own after the program's path.
#include "app/tavrol_app.h"

#include <string.h>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Past the program's path, as Windows' own argument parsing reads it: a quoted path ends at its
// closing quote, an unquoted one at the first blank. Null when the closing quote is missing.
const char* skipProgramPath(const char* line) {
    if (*line == '"') {
        const char* close = strchr(line + 1, '"');
        return close ? close + 1 : nullptr;
    }
    while (*line && !isBlank(*line))
        ++line;
    return line;
}

// Copies the next argument into `word` (at most `size` - 1 characters; a longer one is cut,
// which no switch is) and returns where the one after it starts; null after the last.
// Double quotes group blanks into the argument and are dropped.
const char* nextArgument(const char* at, char* word, size_t size) {
    while (isBlank(*at))
        ++at;
    if (!*at)
        return nullptr;
    size_t length = 0;
    bool quoted = false;
    for (; *at && (quoted || !isBlank(*at)); ++at) {
        if (*at == '"')
            quoted = !quoted;
        else if (length + 1 < size)
            word[length++] = *at;
    }
    word[length] = '\0';
    return at;
}

} // namespace

bool isStartupRun(const char* commandLine) {
    if (!commandLine)
        return false;
    const char* at = skipProgramPath(commandLine);
    char word[sizeof TAVROL_STARTUP_SWITCH + 1];
    while (at && (at = nextArgument(at, word, sizeof word)) != nullptr) {
        if (strcmp(word, TAVROL_STARTUP_SWITCH) == 0)
            return true;
    }
    return false;
}

int reportRunFile(const char* commandLine, char* file, size_t size) {
    if (!commandLine)
        return REPORT_SWITCH_ABSENT;
    const char* at = skipProgramPath(commandLine);
    char word[sizeof TAVROL_REPORT_SWITCH + 1];
    while (at && (at = nextArgument(at, word, sizeof word)) != nullptr) {
        if (strcmp(word, TAVROL_REPORT_SWITCH) != 0)
            continue;
        // The file's name is the next argument whole, blanks inside quotes included; one too
        // long for `file` is refused rather than cut to another name.
        char name[MAX_PATH + 2];
        if (!nextArgument(at, name, sizeof name) || name[0] == '\0')
            return REPORT_SWITCH_WITHOUT_FILE;
        size_t length = strlen(name);
        if (length + 1 > size || length > MAX_PATH)
            return REPORT_SWITCH_WITHOUT_FILE;
        memcpy(file, name, length + 1);
        return REPORT_SWITCH_WITH_FILE;
    }
    return REPORT_SWITCH_ABSENT;
}
