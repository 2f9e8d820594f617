// Shell commands on the Linux host, for the Wine suite and its native tests.
#pragma once

#include <string>

namespace wine {

// Runs a shell command on the host; returns its stdout and puts its exit status in *status (-1
// when it did not exit normally).
std::string host(const std::string& command, int* status = nullptr);

// `text` as one single-quoted shell word.
std::string quote(const std::string& text);

} // namespace wine
