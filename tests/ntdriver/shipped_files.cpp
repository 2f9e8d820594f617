#include "ntdriver/shipped_files.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "agpcfg/driver_digest.h"

namespace ntdriver {

std::string windowsBuild(Flavor flavor) {
    const char* builds = std::getenv("TAVROL_WIN_BUILDS");
    const std::string root = builds && *builds ? builds : TAVROL_SOURCE_DIR "/build";
    return root + "/windows-" + flavorName(flavor);
}

std::string releaseZip(Flavor flavor) {
    return windowsBuild(flavor) + "/dist/tavrolin-" TAVROL_VERSION "-" +
           (flavor == Flavor::X86_64 ? "win64" : "win32") + ".zip";
}

bool readFile(const std::string& path, std::vector<uint8_t>* bytes) {
    std::ifstream in(path, std::ios::binary);
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.good() || in.eof() ? !bytes->empty() : false;
}

bool zipMember(const std::string& zip, const std::string& member, std::vector<uint8_t>* bytes) {
    bytes->clear();
    const std::string command = "unzip -p '" + zip + "' '" + member + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return false;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + got);
    return pclose(pipe) == 0 && !bytes->empty();
}

std::string sha256Hex(const std::vector<uint8_t>& bytes) {
    Sha256 hash;
    BYTE digest[SHA256_DIGEST_SIZE];
    sha256Start(&hash);
    sha256Add(&hash, bytes.data(), static_cast<DWORD>(bytes.size()));
    sha256Finish(&hash, digest);
    std::string text;
    char pair[3];
    for (BYTE b : digest) {
        std::snprintf(pair, sizeof pair, "%02x", b);
        text += pair;
    }
    return text;
}

DriverFile driverFile(Flavor flavor) {
    DriverFile file;
    const char* shipped = std::getenv("TAVROL_SHIPPED_SYS");
    file.overridden = shipped && *shipped;
    file.path = file.overridden ? shipped : windowsBuild(flavor) + "/driver/nt/TAVROL.sys";
    std::vector<uint8_t> bytes;
    if (!readFile(file.path, &bytes)) {
        file.error = "no driver at " + file.path +
                     (file.overridden ? ""
                                      : " (build the windows-" + std::string(flavorName(flavor)) +
                                            " preset first)");
        return file;
    }
    PeFile pe;
    std::string why;
    const bool x64 = parsePe(bytes, &pe, &why) && pe.pe32Plus;
    if (file.overridden && x64 != (flavor == Flavor::X86_64)) {
        file.skip = "TAVROL_SHIPPED_SYS names a driver of the other flavor";
        return file;
    }
    file.bytes = bytes;
    return file;
}

} // namespace ntdriver
