// Modules of the simulated process: PE images parsed for real, their resource trees, and icons.
//
// LoadLibraryA reads a PE file from the virtual drive, checks every header and offset, and keeps
// the file's bytes and a flat list of its resources for as long as the module is loaded. The
// Win32 functions (FindResourceA, LoadStringA, LoadIconA, ...) are built on the calls below, which
// the rest of the simulated PC (the window manager reading dialog templates, the terminal face
// drawing icons) uses directly.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "sim_win32.h"

namespace sim {

// ---- Parsing a PE file --------------------------------------------------------------------

// A resource type or name: an integer ID, or a string (stored upper case, as resource
// compilers write names and FindResourceA compares them).
struct ResourceKey {
    WORD id = 0;      // valid when name is empty
    std::string name; // ASCII upper case; empty for an integer ID
    bool isId() const { return name.empty(); }
};

struct PeResource {
    ResourceKey type;
    ResourceKey name;
    WORD language = 0;
    DWORD rva = 0;        // where the data lies in the loaded image
    DWORD fileOffset = 0; // where it lies in the file (already checked against the file size)
    DWORD size = 0;
    DWORD codePage = 0;
};

struct PeSection {
    std::string name;
    DWORD virtualAddress = 0;
    DWORD virtualSize = 0;
    DWORD rawOffset = 0;
    DWORD rawSize = 0;
    DWORD characteristics = 0;
};

enum { kDataDirectoryCount = 16, kDirImport = 1, kDirResource = 2 };

struct PeImage {
    WORD machine = 0;         // 0x014c for i386
    WORD characteristics = 0; // IMAGE_FILE_* of the COFF header; 0x2000 = DLL
    DWORD entryPoint = 0;     // RVA; 0 for a library without code
    DWORD imageBase = 0;
    DWORD sizeOfImage = 0;
    WORD subsystem = 0;
    WORD dllCharacteristics = 0;
    DWORD dataDirectoryCount = 0; // NumberOfRvaAndSizes, capped at 16
    DWORD dataDirectoryRva[kDataDirectoryCount] = {};
    DWORD dataDirectorySize[kDataDirectoryCount] = {};
    std::vector<PeSection> sections;
    std::vector<PeResource> resources; // in the order of the resource tree
};

// Parses a 32-bit PE file (PE32 optional header) held in memory. Every offset is checked against
// the file; a resource tree whose directories are shared, overlap or loop is refused, and so is a
// resource name longer than 256 characters. Returns false for anything malformed, with `why` (if
// given) set to a short English reason.
bool parsePeImage(const uint8_t* data, size_t size, PeImage* image, std::string* why = nullptr);

// Finds a resource of a parsed image by type and name as FindResourceA takes them: an integer
// resource (MAKEINTRESOURCEA), "#123" or a case-insensitive name. Prefers the neutral language,
// then US English, then the first language present. Null when absent, with `error` (if given) set
// to ERROR_RESOURCE_TYPE_NOT_FOUND or ERROR_RESOURCE_NAME_NOT_FOUND.
const PeResource* findResource(const PeImage& image, LPCSTR type, LPCSTR name,
                               DWORD* error = nullptr);

// ---- Loaded modules ---------------------------------------------------------------------

// The bytes of a resource of a loaded module (the executable's module too), or null with the last
// error set (ERROR_RESOURCE_TYPE_NOT_FOUND, ERROR_RESOURCE_NAME_NOT_FOUND, ERROR_INVALID_HANDLE).
// The bytes stay valid until the module is freed. `size` may be null.
const uint8_t* resourceData(HMODULE module, LPCSTR type, LPCSTR name, DWORD* size);

// The parsed image of a loaded module; null for an unknown handle or the executable without
// installed resources.
const PeImage* moduleImage(HMODULE module);

// The module handle of the executable: GetModuleHandleA(NULL).
HMODULE executableModule();

// The executable of the simulated process carries no resources of its own. A test that needs
// some installs a PE image here (returns false, changing nothing, when the image is malformed);
// an empty vector removes them again.
bool setExecutableResources(const std::vector<uint8_t>& peFile);

// Load count of a module (0 when it is not loaded) and the Windows path it was loaded from.
int moduleLoadCount(HMODULE module);
std::string moduleWindowsPath(HMODULE module);
// Libraries of the process, loaded as code or mapped as data files, that are not freed yet.
int loadedLibraryCount();
// Whether a handle names a library mapped as a data file (LoadLibraryExA's
// LOAD_LIBRARY_AS_DATAFILE) rather than one loaded as code.
bool isDatafileModule(HMODULE module);

// Forgets every loaded module, the executable's installed resources and every icon handle: the
// state of a process that has just started. Called when a fresh virtual PC boots.
void resetModules();

// ---- Icons ------------------------------------------------------------------------------

// A decoded icon image: what LoadIconA's handle stands for.
struct IconImage {
    int width = 0;
    int height = 0;
    int bitCount = 0;             // bits per pixel of the chosen RT_ICON image
    WORD iconId = 0;              // ID of that RT_ICON resource
    std::vector<uint32_t> pixels; // width * height, rows top-down, 0xAARRGGBB
    uint32_t pixel(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

// Decodes one RT_ICON resource (a BITMAPINFOHEADER image with its AND mask; 1, 4, 8, 24 or 32
// bits per pixel). PNG-compressed images and anything malformed give false.
bool decodeIconImage(const uint8_t* data, size_t size, IconImage* image);

// What LoadIconA returns: the shared icon of an RT_GROUP_ICON resource, the image whose size is
// closest to SM_CXICON x SM_CYICON (the deepest colours among equals). Loading the same group of
// the same loaded module again gives the same handle. Null with the last error set when the group
// or its image is missing or malformed.
HICON loadSharedIcon(HMODULE module, LPCSTR name);

// The image behind an HICON returned by LoadIconA, or null for anything else. Icons stay valid
// until the next boot, like shared icons that are never destroyed.
const IconImage* iconImage(HICON icon);

// Reads a host file whole, as the loaders of modules and drivers do; false for a file that
// cannot be read or is over 64 MiB.
bool readHostFile(const std::string& hostPath, std::vector<uint8_t>* bytes);

// ---- The built resource library ---------------------------------------------------------

// Host path of the Tavrol.tvx produced by this build (what an installer copies beside the
// program on the virtual drive).
const char* builtResourceLibraryPath();

// Copies the built Tavrol.tvx into the program directory of the virtual drive (beside
// Tavrol.exe). False when the build has no such file or the copy fails.
bool installResourceLibrary();

} // namespace sim
