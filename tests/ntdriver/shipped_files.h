// The files the tests run: the TAVROL.sys and Tavrol.exe of each flavor's Windows build (the
// folder TAVROL_WIN_BUILDS names, or build/ of the source tree), the release zips they go into,
// and the driver file TAVROL_SHIPPED_SYS names instead, when it names one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ntdriver/nt_kernel.h"

namespace ntdriver {

// build/windows-i686 or build/windows-x86_64, or the same below TAVROL_WIN_BUILDS.
std::string windowsBuild(Flavor flavor);
std::string releaseZip(Flavor flavor);

bool readFile(const std::string& path, std::vector<uint8_t>* bytes);
// One member of a zip, through unzip; false when it is missing.
bool zipMember(const std::string& zip, const std::string& member, std::vector<uint8_t>* bytes);
std::string sha256Hex(const std::vector<uint8_t>& bytes);

// The driver file the tests of `flavor` run. Empty bytes and `skip` set when TAVROL_SHIPPED_SYS
// names a driver of the other flavor; empty bytes and `error` set when the file is missing.
struct DriverFile {
    std::string path;
    std::vector<uint8_t> bytes;
    bool overridden = false; // TAVROL_SHIPPED_SYS named it
    std::string skip, error;
};
DriverFile driverFile(Flavor flavor);

} // namespace ntdriver
