// The shipped Windows images of both flavors as files: size budgets, the PE format and the
// subsystem version each flavor's oldest Windows loads, manifest and version resources, the entry,
// PE checksum and signature of the driver, every import against the reviewed lists, and the
// release archives. Nothing here runs under Wine, so every host checks both flavors.
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdlib.h>
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
const std::string kDelayImports = TAVROL_SOURCE_DIR "/tools/delay_imports.py";

// A file of the running flavor's build; a missing one fails the case, since a Wine suite that
// checked nothing has proved nothing.
#define IMAGE_REQUIRED(path, relative)                                                             \
    const std::string path = wine::winFile(relative);                                              \
    ASSERT_FALSE(path.empty()) << relative << " is not built in " << wine::env().winBuild          \
                               << " (build the windows-" << wine::flavor().name                    \
                               << " preset first)"

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
    return wine::host(std::string(wine::flavor().toolPrefix) + "-objdump -p " + wine::quote(path) +
                      " 2>&1");
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

// A data directory's file position or address and size, from objdump's "Entry N ADDR SIZE" row.
struct Directory {
    unsigned long long address = 0, size = 0;
};

Directory dataDirectory(const std::string& headers, int index) {
    std::istringstream lines(headers);
    std::string line;
    const std::string key = "Entry " + std::to_string(index) + " ";
    while (std::getline(lines, line))
        if (line.rfind(key, 0) == 0) {
            Directory directory;
            std::istringstream fields(line.substr(key.size()));
            fields >> std::hex >> directory.address >> directory.size;
            return directory;
        }
    return Directory{~0ull, ~0ull};
}

// A hexadecimal header field ("0x230e" or "00010000"); 0 when it is missing.
unsigned long long hexField(const std::string& headers, const std::string& name) {
    return strtoull(headerField(headers, name).c_str(), nullptr, 16);
}

// Subsystem and OS version of the flavor's images, as objdump prints them.
void expectWindowsVersion(const std::string& headers) {
    const std::string version = wine::flavor().osVersion;
    const std::string major = version.substr(0, version.find('.'));
    const std::string minor = version.substr(version.find('.') + 1);
    EXPECT_EQ(major, headerField(headers, "MajorSubsystemVersion"));
    EXPECT_EQ(minor, headerField(headers, "MinorSubsystemVersion"));
    EXPECT_EQ(major, headerField(headers, "MajorOSystemVersion"));
}

struct ImportCheck {
    int status = -1;
    std::string output;
};

ImportCheck checkImports(const std::string& image, const std::string& listOrFlag,
                         const std::string& dlls = "") {
    ImportCheck check;
    check.output = wine::host("OBJDUMP=" + std::string(wine::flavor().toolPrefix) + "-objdump " +
                                  "bash " + wine::quote(kCheckImports) + " " + wine::quote(image) +
                                  " " + listOrFlag + (dlls.empty() ? "" : " " + dlls) + " 2>&1",
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

// The running flavor's reviewed import lists as one file.
std::string flavorImportList() {
    const std::string file = "/tmp/tavrol-imports-" + std::string(wine::flavor().name) + "-" +
                             std::to_string(getpid()) + ".txt";
    std::ofstream out(file);
    std::istringstream names(wine::flavor().importLists);
    for (std::string name; names >> name;)
        out << readFile(TAVROL_SOURCE_DIR "/tools/" + name) << "\n";
    return file;
}

class TavrolExe : public wine::FlavorImageTest {};

TEST_P(TavrolExe, FitsItsBudgetAndIsAGuiImageOfTheFlavorsOldestWindows) {
    IMAGE_REQUIRED(exe, "src/Tavrol.exe");
    EXPECT_LE(readFile(exe).size(), 80u * 1024) << "Tavrol.exe is over its 80 KiB budget";
    const std::string headers = objdumpHeaders(exe);
    EXPECT_EQ(wine::flavor().peMagic, headerField(headers, "Magic"));
    EXPECT_EQ("00000002", headerField(headers, "Subsystem")) << "not the GUI subsystem";
    expectWindowsVersion(headers);
}

TEST_P(TavrolExe, CarriesItsManifestAndVersionResource) {
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
    // The program and the common controls it binds to are of the flavor's processor: a 64-bit
    // process given the x86 common controls shows no dialog and no message box at all.
    const std::string architecture = "processorArchitecture=\"";
    std::vector<std::string> architectures;
    for (size_t at = image.find(architecture); at != std::string::npos;
         at = image.find(architecture, at + 1)) {
        const size_t start = at + architecture.size();
        architectures.push_back(image.substr(start, image.find('"', start) - start));
    }
    EXPECT_EQ(std::vector<std::string>(2, wine::flavor().manifestArch), architectures);
    for (const char* text : {"VS_VERSION_INFO", "Tavrol.exe", "Vantorel Tavrolin", TAVROL_VERSION})
        EXPECT_NE(std::string::npos, image.find(utf16(text))) << "version resource lacks " << text;
}

TEST_P(TavrolExe, ImportsOnlyReviewedFunctions) {
    IMAGE_REQUIRED(exe, "src/Tavrol.exe");
    const std::string list = flavorImportList();
    const ImportCheck check = checkImports(exe, wine::quote(list));
    std::remove(list.c_str());
    EXPECT_EQ(0, check.status) << "imports missing from " << wine::flavor().importLists << ":\n"
                               << unlistedLines(check.output) << check.output.substr(0, 300);
    // The program reaches the driver and the service manager itself.
    for (const char* needed : {"kernel32.dll DeviceIoControl", "advapi32.dll OpenSCManagerA"})
        EXPECT_NE(std::string::npos, check.output.find(needed)) << needed;
}

// The x64 program loads the window and graphics libraries on the first call into them, not with
// the program: a log-on run reaches them only through DirectDraw, beside the driver's start. Its
// import table names neither; the delay import directory, which the import check reads too,
// names both. (binutils 2.40 cannot delay-load for i386: the i686 program imports them.) The
// common controls are in neither: they are looked up on the way to a window.
TEST_P(TavrolExe, LoadsTheWindowAndGraphicsLibrariesOnFirstUseOnX64) {
    IMAGE_REQUIRED(exe, "src/Tavrol.exe");
    const bool x64 = std::string(wine::flavor().name) == "x86_64";
    std::string loadedWithTheProgram;
    std::istringstream lines(objdumpHeaders(exe));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string dll, name, value;
        if (fields >> dll >> name >> value && dll == "DLL" && name == "Name:")
            loadedWithTheProgram += value + " ";
    }
    EXPECT_EQ(x64 ? "ADVAPI32.dll KERNEL32.dll msvcrt.dll "
                  : "ADVAPI32.dll GDI32.dll KERNEL32.dll msvcrt.dll USER32.dll ",
              loadedWithTheProgram);
    const std::string delayed = wine::host("python3 " + wine::quote(kDelayImports) + " list " +
                                           wine::quote(exe) + " 2>&1 | cut -d' ' -f1 | uniq");
    EXPECT_EQ(x64 ? "USER32.dll\nGDI32.dll\n" : "", delayed);
    const std::string imports =
        checkImports(exe, "--dlls", "advapi32.dll,kernel32.dll,msvcrt.dll").output;
    EXPECT_NE(std::string::npos, imports.find("unlisted: user32.dll MessageBoxA")) << imports;
}

// The x64 program never runs on Windows 9x: it carries neither the PCI BIOS back end nor the
// virtual device driver channel, whose device name marks it.
TEST_P(TavrolExe, CarriesTheWindows9xBackEndOnlyWhereWindows9xCanRunIt) {
    IMAGE_REQUIRED(exe, "src/Tavrol.exe");
    const bool hasVxdChannel = readFile(exe).find("\\\\.\\TAVROL.VXD") != std::string::npos;
    EXPECT_EQ(wine::flavor().has9x, hasVxdChannel);
}

WINE_FLAVORS(TavrolExe);

// The check itself, on the real i686 executable: an import taken out of the list, or listed
// without a source, must be reported.
TEST(ImportCheck, ReportsImportsThatAreNotReviewed) {
    wine::useFlavor("i686");
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

TEST(ImportCheck, DriverDllCheckReportsAForeignDll) {
    wine::useFlavor("i686");
    IMAGE_REQUIRED(sys, "driver/nt/TAVROL.sys");
    const ImportCheck check = checkImports(sys, "--dlls", "ntoskrnl.exe");
    EXPECT_EQ(1, check.status);
    EXPECT_NE(std::string::npos, unlistedLines(check.output).find("unlisted: hal.dll "))
        << check.output;
}

// A section's bytes, as the host's objcopy (which reads PE32 and PE32+ alike) extracts them.
std::string sectionBytes(const std::string& image, const std::string& section) {
    const std::string out = "/tmp/tavrol-section-" + std::to_string(getpid()) + ".bin";
    wine::host("objcopy -O binary --only-section=" + section + " " + wine::quote(image) + " " +
               wine::quote(out) + " 2>&1");
    const std::string bytes = readFile(out);
    std::remove(out.c_str());
    return bytes;
}

class TavrolTvx : public wine::FlavorImageTest {};

// A resource-only library: no entry point, no imports, nothing but the resources, in the
// flavor's format (a 64-bit process cannot load a 32-bit module).
TEST_P(TavrolTvx, IsAResourceOnlyLibraryOfTheFlavor) {
    IMAGE_REQUIRED(tvx, "src/Tavrol.tvx");
    const std::string headers = objdumpHeaders(tvx);
    EXPECT_EQ(wine::flavor().peMagic, headerField(headers, "Magic"));
    EXPECT_NE(0u, hexField(headers, "Characteristics") & 0x2000) << "not a DLL";
    EXPECT_EQ(0u, hexField(headers, "AddressOfEntryPoint"));
    EXPECT_EQ(0u, dataDirectory(headers, 1).size) << "an import directory";
    EXPECT_NE(0u, dataDirectory(headers, 2).size) << "no resource directory";
    expectWindowsVersion(headers);
}

// The i686 library is the very file the simulated PC loads; the x64 one carries the same
// resource section byte for byte.
TEST_P(TavrolTvx, HoldsTheResourcesOfTheLibraryTheSimulatedPcLoads) {
    IMAGE_REQUIRED(tvx, "src/Tavrol.tvx");
    const std::string simulated = readFile(TAVROL_NATIVE_TVX);
    ASSERT_FALSE(simulated.empty()) << "the native tree has no " << TAVROL_NATIVE_TVX;
    if (wine::flavor().has9x) {
        EXPECT_TRUE(readFile(tvx) == simulated) << tvx << " differs from " << TAVROL_NATIVE_TVX;
        return;
    }
    const std::string resources = sectionBytes(tvx, ".rsrc");
    const std::string reference = sectionBytes(TAVROL_NATIVE_TVX, ".rsrc");
    ASSERT_GT(reference.size(), 1000u);
    EXPECT_TRUE(resources == reference) << "the resource sections differ";
}

WINE_FLAVORS(TavrolTvx);

// The address the link map gives the symbol, 0 when it names none.
unsigned long long mapAddress(const std::string& mapFile, const std::string& symbol) {
    std::istringstream lines(readFile(mapFile));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, name, more;
        if (fields >> address >> name && !(fields >> more) && name == symbol &&
            address.rfind("0x", 0) == 0)
            return std::stoull(address, nullptr, 16);
    }
    return 0;
}

void expectKernelDriverImage(const std::string& path) {
    SCOPED_TRACE(path);
    const std::string image = readFile(path);
    const std::string headers = objdumpHeaders(path);
    EXPECT_EQ(wine::flavor().peMagic, headerField(headers, "Magic"));
    EXPECT_EQ("00000001", headerField(headers, "Subsystem")) << "not a native image";
    expectWindowsVersion(headers);
    // With another entry symbol the linker keeps nothing and enters an empty image.
    const unsigned long long entry = mapAddress(path + ".map", wine::flavor().driverEntry);
    EXPECT_NE(0u, entry) << "the link map names no " << wine::flavor().driverEntry;
    EXPECT_EQ(entry, hexField(headers, "ImageBase") + hexField(headers, "AddressOfEntryPoint"))
        << "the image is not entered at " << wine::flavor().driverEntry;
    ASSERT_GE(image.size(), 0x40u);
    const size_t checksumOffset = le32(image, 0x3C) + 4 + 20 + 64;
    EXPECT_EQ(peChecksum(image, checksumOffset), le32(image, checksumOffset))
        << "the loader refuses a driver whose checksum is wrong";
    const ImportCheck check = checkImports(path, "--dlls", "ntoskrnl.exe,hal.dll");
    EXPECT_EQ(0, check.status) << unlistedLines(check.output);
    EXPECT_NE(std::string::npos, image.find(utf16("TAVROL.sys"))) << "no version resource";
}

class TavrolSys : public wine::FlavorImageTest {};

TEST_P(TavrolSys, IsAChecksummedNativeImageImportingOnlyTheKernelAndHal) {
    IMAGE_REQUIRED(sys, "driver/nt/TAVROL.sys");
    EXPECT_LE(readFile(sys).size(), 16u * 1024) << "TAVROL.sys is over its 16 KiB budget";
    expectKernelDriverImage(sys);
    const std::string imports = checkImports(sys, "--dlls", "ntoskrnl.exe,hal.dll").output;
    for (const char* needed : {"hal.dll HalGetBusDataByOffset", "hal.dll HalSetBusDataByOffset",
                               "ntoskrnl.exe MmMapIoSpace", "ntoskrnl.exe MmUnmapIoSpace",
                               "ntoskrnl.exe ZwSetSecurityObject", "ntoskrnl.exe IoCreateDevice"})
        EXPECT_NE(std::string::npos, imports.find(needed)) << needed;
}

TEST_P(TavrolSys, TheWineVariantIsBuiltTheSameWayWithoutTheHal) {
    IMAGE_REQUIRED(sys, "wine/TAVROL-vm.sys");
    expectKernelDriverImage(sys);
    const std::string imports = checkImports(sys, "--dlls", "ntoskrnl.exe,hal.dll").output;
    EXPECT_EQ(std::string::npos, imports.find("HalSetBusDataByOffset"))
        << "the Wine variant must not reach the HAL: Wine's aborts the driver host";
}

// Vista x64 and 7 x64 load only signed drivers: the x64 driver carries an Authenticode
// signature, with the SHA-1 digest that their code integrity check knows, over the file as it
// ships. The i686 driver is not signed.
TEST_P(TavrolSys, IsTestSignedWhereTheFlavorNeedsASignature) {
    IMAGE_REQUIRED(sys, "driver/nt/TAVROL.sys");
    const std::string image = readFile(sys);
    const Directory security = dataDirectory(objdumpHeaders(sys), 4);
    if (!wine::flavor().signedDriver) {
        EXPECT_EQ(0u, security.size) << "a certificate table";
        return;
    }
    // The certificate table is a file position, at the end of the file: one WIN_CERTIFICATE of
    // revision 2.0 holding PKCS #7 signed data.
    ASSERT_GE(security.size, 8u);
    EXPECT_EQ(image.size(), security.address + security.size) << "data after the signature";
    ASSERT_LE(security.address + 8, image.size());
    EXPECT_EQ(security.size, le32(image, security.address)) << "dwLength";
    EXPECT_EQ(0x00020200u, le32(image, security.address + 4)) << "WIN_CERT_TYPE_PKCS_SIGNED_DATA";
    const std::string certificate = wine::env().winBuild + "/test-signing/tavrolin-test.crt";
    int status = -1;
    const std::string verified = wine::host("osslsigncode verify -in " + wine::quote(sys) +
                                                " -CAfile " + wine::quote(certificate) + " 2>&1",
                                            &status);
    EXPECT_EQ(0, status) << verified;
    EXPECT_NE(std::string::npos, verified.find("Message digest algorithm  : SHA1")) << verified;
    EXPECT_NE(std::string::npos, verified.find("Signature verification: ok")) << verified;
}

WINE_FLAVORS(TavrolSys);

// What each flavor's readme.txt must tell its users.
std::vector<std::string> readmeFacts() {
    const std::string version = TAVROL_VERSION;
    std::vector<std::string> facts = {
        "HKEY_LOCAL_MACHINE\\Software\\Vantorel Tech\\Tavrolin",
        "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
        "\"Vantorel Tavrolin\"",
        "administrator",
        "Secure Boot",
        "Save machine report...",
        "Tavrol.exe -report \"C:\\Tavrolin report.txt\"",
        "Add or Remove Programs",
        "only administrators may change",
        "tavrolin-" + version + "-setup-" + wine::flavor().distSuffix + ".exe"};
    if (wine::flavor().has9x) {
        facts.insert(facts.end(),
                     {"Windows 98 SE", "64-bit", "tavrolin-" + version + "-win64.zip"});
    } else {
        facts.insert(facts.end(), {"Windows XP Professional x64", "Windows Server 2003 x64",
                                   "Windows Vista x64", "Windows 7 x64", "test-signing mode",
                                   "bcdedit /set testsigning on", "bcdedit /set testsigning off",
                                   "Restart Windows", "tavrolin-" + version + "-win32.zip"});
    }
    return facts;
}

class Dist : public wine::FlavorImageTest {};

// The release archive, as a user unpacks it: the files of the build tree, byte for byte, and the
// flavor's readme.
TEST_P(Dist, ZipHoldsTheProgramItsLibraryTheDriversAndTheReadme) {
    const std::string name =
        std::string("dist/tavrolin-") + TAVROL_VERSION + "-" + wine::flavor().distSuffix + ".zip";
    IMAGE_REQUIRED(zip, name);
    int status = -1;
    const std::string names = wine::host("unzip -Z1 " + wine::quote(zip) + " | sort", &status);
    ASSERT_EQ(0, status) << names;
    // TAVROL.VXD is for Windows 9x: the i686 release only.
    std::string expected = "TAVROL.sys\nTavrol.exe\nTavrol.tvx\nreadme.txt\n";
    std::vector<std::pair<const char*, const char*>> shipped = {
        {"Tavrol.exe", "src/Tavrol.exe"},
        {"Tavrol.tvx", "src/Tavrol.tvx"},
        {"TAVROL.sys", "driver/nt/TAVROL.sys"},
    };
    if (wine::flavor().has9x) {
        expected = "TAVROL.VXD\n" + expected;
        shipped.push_back({"TAVROL.VXD", "driver/vxd/TAVROL.VXD"});
    }
    EXPECT_EQ(expected, names);
    for (const auto& file : shipped) {
        const std::string built = readFile(wine::winFile(file.second));
        EXPECT_FALSE(built.empty()) << file.second;
        EXPECT_TRUE(built == wine::host("unzip -p " + wine::quote(zip) + " " + file.first))
            << "the archive holds another " << file.first << " than the build";
    }

    const std::string readme = wine::host("unzip -p " + wine::quote(zip) + " readme.txt");
    EXPECT_NE(std::string::npos, readme.find(std::string("Version ") + TAVROL_VERSION + "\r\n"));
    size_t lines = 0, windowsLines = 0;
    for (size_t i = 0; i < readme.size(); ++i)
        if (readme[i] == '\n') {
            ++lines;
            windowsLines += i > 0 && readme[i - 1] == '\r';
        }
    EXPECT_GT(lines, 10u);
    EXPECT_EQ(lines, windowsLines) << "readme.txt needs Windows line ends for Notepad";
    for (const std::string& fact : readmeFacts())
        EXPECT_NE(std::string::npos, readme.find(fact)) << "readme.txt does not mention " << fact;
}

// The set-up beside the zip: the x86 stub with the ANSI functions that Windows 98 SE has for win32,
// the amd64 stub with the Unicode ones for win64.
TEST_P(Dist, SetUpSitsBesideTheZipWithTheFlavorsStub) {
    IMAGE_REQUIRED(setup, std::string("dist/tavrolin-") + TAVROL_VERSION + "-setup-" +
                              wine::flavor().distSuffix + ".exe");
    const std::string headers = objdumpHeaders(setup);
    EXPECT_EQ(wine::flavor().peMagic, headerField(headers, "Magic"));
    const std::string wanted = wine::flavor().has9x ? "MessageBoxIndirectA" : "MessageBoxIndirectW";
    const std::string other = wine::flavor().has9x ? "MessageBoxIndirectW" : "MessageBoxIndirectA";
    EXPECT_NE(std::string::npos, headers.find(wanted)) << "the stub does not import " << wanted;
    EXPECT_EQ(std::string::npos, headers.find(other)) << "the stub imports " << other;
}

WINE_FLAVORS(Dist);

} // namespace
