// The shipped Windows images as files: size budgets, subsystem versions that Windows 98 SE and NT
// 4.0 load, manifest and version resources, the PE checksum of the driver, and every import
// against the reviewed list.
#include <gtest/gtest.h>

#include <stdint.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "wine_env.h"

namespace {

const std::string kCheckImports = TAVROL_SOURCE_DIR "/tools/check_imports.sh";
const std::string kImportList = TAVROL_SOURCE_DIR "/tools/win32-imports.txt";

#define IMAGE_REQUIRED(path, relative)                                                             \
    const std::string path = wine::winFile(relative);                                              \
    if (path.empty())                                                                              \
        GTEST_SKIP() << relative << " is not built in " << wine::env().winBuild;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string utf16(const std::string& ascii) {
    std::string wide;
    for (char c : ascii) {
        wide += c;
        wide += '\0';
    }
    return wide;
}

uint32_t le32(const std::string& bytes, size_t offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<uint8_t>(bytes.at(offset + i));
    return value;
}

// The PE checksum as the NT loader computes it: a 16-bit folded sum of the file with the
// checksum field taken as zero, plus the file length.
uint32_t peChecksum(const std::string& image, size_t checksumOffset) {
    uint64_t sum = 0;
    for (size_t i = 0; i < image.size(); i += 2) {
        if (i >= checksumOffset && i < checksumOffset + 4)
            continue;
        uint32_t word = static_cast<uint8_t>(image[i]);
        if (i + 1 < image.size())
            word |= static_cast<uint8_t>(image[i + 1]) << 8;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + image.size());
}

std::string objdumpHeaders(const std::string& path) {
    return wine::host("i686-w64-mingw32-objdump -p '" + path + "' 2>&1");
}

std::string headerField(const std::string& headers, const std::string& name) {
    std::istringstream lines(headers);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string key, value;
        if (fields >> key >> value && key == name)
            return value;
    }
    return "<no " + name + ">";
}

struct ImportCheck {
    int status = -1;
    std::string output;
};

ImportCheck checkImports(const std::string& image, const std::string& listOrFlag,
                         const std::string& dlls = "") {
    ImportCheck check;
    check.output = wine::host("bash '" + kCheckImports + "' '" + image + "' " + listOrFlag +
                                  (dlls.empty() ? "" : " " + dlls) + " 2>&1",
                              &check.status);
    return check;
}

std::string unlistedLines(const std::string& output) {
    std::istringstream lines(output);
    std::string line, unlisted;
    while (std::getline(lines, line))
        if (line.rfind("unlisted:", 0) == 0)
            unlisted += line + "\n";
    return unlisted;
}

TEST(TavrolExe, FitsItsBudgetAndDeclaresGuiSubsystem4) {
    IMAGE_REQUIRED(exe, "src/Tavrol.exe");
    EXPECT_LE(readFile(exe).size(), 64u * 1024) << "Tavrol.exe is over its 64 KiB budget";
    const std::string headers = objdumpHeaders(exe);
    EXPECT_EQ("00000002", headerField(headers, "Subsystem")) << "not the GUI subsystem";
    EXPECT_EQ("4", headerField(headers, "MajorSubsystemVersion"));
    EXPECT_EQ("0", headerField(headers, "MinorSubsystemVersion"));
    EXPECT_EQ("4", headerField(headers, "MajorOSystemVersion"));
}

TEST(TavrolExe, CarriesItsManifestAndVersionResource) {
    IMAGE_REQUIRED(exe, "src/Tavrol.exe");
    const std::string image = readFile(exe);
    const char* manifestFacts[] = {
        "<requestedExecutionLevel level=\"requireAdministrator\"",
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>", // Vista
        "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>", // 7
    };
    for (const char* fact : manifestFacts)
        EXPECT_NE(std::string::npos, image.find(fact)) << "manifest lacks " << fact;
    for (const char* text : {"VS_VERSION_INFO", "Tavrol.exe", "Vantorel Tavrolin", TAVROL_VERSION})
        EXPECT_NE(std::string::npos, image.find(utf16(text))) << "version resource lacks " << text;
}

TEST(TavrolExe, ImportsOnlyReviewedFunctions) {
    IMAGE_REQUIRED(exe, "src/Tavrol.exe");
    const ImportCheck check = checkImports(exe, "'" + kImportList + "'");
    EXPECT_EQ(0, check.status) << "imports missing from tools/win32-imports.txt:\n"
                               << unlistedLines(check.output) << check.output.substr(0, 300);
    // The program reaches the driver and the service manager itself.
    for (const char* needed : {"kernel32.dll DeviceIoControl", "advapi32.dll OpenSCManagerA"})
        EXPECT_NE(std::string::npos, check.output.find(needed)) << needed;
}

// The check itself, on the real executable: an import taken out of the list, or listed without
// a source, must be reported.
TEST(ImportCheck, ReportsImportsThatAreNotReviewed) {
    IMAGE_REQUIRED(exe, "src/Tavrol.exe");
    const std::string list = readFile(kImportList);
    ASSERT_NE(std::string::npos, list.find("\nkernel32.dll  DeviceIoControl"));
    std::string withoutEntry, withoutSource;
    std::istringstream lines(list);
    std::string line;
    while (std::getline(lines, line)) {
        const bool entry = line.rfind("kernel32.dll  DeviceIoControl", 0) == 0;
        withoutEntry += entry ? "" : line + "\n";
        withoutSource += (entry ? "kernel32.dll DeviceIoControl" : line) + "\n";
    }
    // Whatever else is unreviewed today stays reported; the doctored entry joins it.
    const std::string baseline = unlistedLines(checkImports(exe, "'" + kImportList + "'").output);
    std::string expected = baseline + "unlisted: kernel32.dll DeviceIoControl\n";
    std::vector<std::string> sorted;
    std::istringstream expectedLines(expected);
    while (std::getline(expectedLines, line))
        sorted.push_back(line + "\n");
    std::sort(sorted.begin(), sorted.end());
    expected.clear();
    for (const std::string& entry : sorted)
        expected += entry;
    for (const std::string& doctored : {withoutEntry, withoutSource}) {
        const std::string file = "/tmp/tavrol-imports-" + std::to_string(getpid()) + ".txt";
        std::ofstream(file) << doctored;
        const ImportCheck check = checkImports(exe, "'" + file + "'");
        EXPECT_EQ(1, check.status);
        EXPECT_EQ(expected, unlistedLines(check.output));
        std::remove(file.c_str());
    }
    EXPECT_EQ(2, checkImports(exe, "/nonexistent/list").status) << "a missing list passed";
}

void expectKernelDriverImage(const std::string& path) {
    SCOPED_TRACE(path);
    const std::string image = readFile(path);
    const std::string headers = objdumpHeaders(path);
    EXPECT_EQ("00000001", headerField(headers, "Subsystem")) << "not a native image";
    ASSERT_GE(image.size(), 0x40u);
    const size_t checksumOffset = le32(image, 0x3C) + 4 + 20 + 64;
    EXPECT_EQ(peChecksum(image, checksumOffset), le32(image, checksumOffset))
        << "the loader refuses a driver whose checksum is wrong";
    const ImportCheck check = checkImports(path, "--dlls", "ntoskrnl.exe,hal.dll");
    EXPECT_EQ(0, check.status) << unlistedLines(check.output);
    EXPECT_NE(std::string::npos, image.find(utf16("TAVROL.sys"))) << "no version resource";
}

TEST(TavrolSys, IsAChecksummedNativeImageImportingOnlyTheKernelAndHal) {
    IMAGE_REQUIRED(sys, "driver/nt/TAVROL.sys");
    EXPECT_LE(readFile(sys).size(), 16u * 1024) << "TAVROL.sys is over its 16 KiB budget";
    expectKernelDriverImage(sys);
    const std::string imports = checkImports(sys, "--dlls", "ntoskrnl.exe,hal.dll").output;
    for (const char* needed : {"hal.dll HalGetBusDataByOffset", "hal.dll HalSetBusDataByOffset",
                               "ntoskrnl.exe MmMapIoSpace", "ntoskrnl.exe MmUnmapIoSpace",
                               "ntoskrnl.exe ZwSetSecurityObject", "ntoskrnl.exe IoCreateDevice"})
        EXPECT_NE(std::string::npos, imports.find(needed)) << needed;
}

TEST(TavrolSys, TheWineVariantIsBuiltTheSameWayWithoutTheHal) {
    IMAGE_REQUIRED(sys, "wine/TAVROL-vm.sys");
    expectKernelDriverImage(sys);
    const std::string imports = checkImports(sys, "--dlls", "ntoskrnl.exe,hal.dll").output;
    EXPECT_EQ(std::string::npos, imports.find("HalSetBusDataByOffset"))
        << "the Wine variant must not reach the HAL: Wine's aborts the driver host";
}

TEST(ImportCheck, DriverDllCheckReportsAForeignDll) {
    IMAGE_REQUIRED(sys, "driver/nt/TAVROL.sys");
    const ImportCheck check = checkImports(sys, "--dlls", "ntoskrnl.exe");
    EXPECT_EQ(1, check.status);
    EXPECT_NE(std::string::npos, unlistedLines(check.output).find("unlisted: hal.dll "))
        << check.output;
}

// The release archive, as a user unpacks it.
TEST(Dist, ZipHoldsTheProgramItsLibraryTheDriversAndTheReadme) {
    const std::string name = std::string("dist/tavrolin-") + TAVROL_VERSION + "-win32.zip";
    IMAGE_REQUIRED(zip, name);
    int status = -1;
    const std::string names = wine::host("unzip -Z1 '" + zip + "' | sort", &status);
    ASSERT_EQ(0, status) << names;
    EXPECT_EQ("TAVROL.VXD\nTAVROL.sys\nTavrol.exe\nTavrol.tvx\nreadme.txt\n", names);
    for (const char* file : {"src/Tavrol.exe", "driver/vxd/TAVROL.VXD"}) {
        const std::string built = readFile(wine::winFile(file));
        EXPECT_FALSE(built.empty()) << file;
        const char* inZip = std::strrchr(file, '/') + 1;
        EXPECT_EQ(built, wine::host("unzip -p '" + zip + "' " + inZip))
            << "the archive holds another " << file << " than the build";
    }

    const std::string readme = wine::host("unzip -p '" + zip + "' readme.txt");
    EXPECT_NE(std::string::npos, readme.find(std::string("Version ") + TAVROL_VERSION + "\r\n"));
    size_t lines = 0, windowsLines = 0;
    for (size_t i = 0; i < readme.size(); ++i)
        if (readme[i] == '\n') {
            ++lines;
            windowsLines += i > 0 && readme[i - 1] == '\r';
        }
    EXPECT_GT(lines, 10u);
    EXPECT_EQ(lines, windowsLines) << "readme.txt needs Windows line ends for Notepad";
    for (const char* fact :
         {"HKEY_LOCAL_MACHINE\\Software\\Vantorel Tech\\Tavrolin",
          "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
          "\"Vantorel Tavrolin\"", "administrator", "64-bit", "Secure Boot", "Windows 98 SE"})
        EXPECT_NE(std::string::npos, readme.find(fact)) << "readme.txt does not mention " << fact;
}

} // namespace
