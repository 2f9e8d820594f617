// The inputs kept in fuzz/regressions/, one folder per fuzzing harness: files that once crashed,
// corrupted or stalled the simulated PC, read by the tests that keep them harmless.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

namespace regression {

inline std::string path(const std::string& harness, const std::string& name) {
    return std::string(TAVROL_SOURCE_DIR) + "/fuzz/regressions/" + harness + "/" + name;
}

// The file's bytes; empty when it cannot be read (every kept input has some).
inline std::string contents(const std::string& harness, const std::string& name) {
    std::ifstream in(path(harness, name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace regression
