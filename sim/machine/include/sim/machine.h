// The simulated PC's hardware half: machine profiles, PCI functions and physical memory, the PCI
// BIOS, the devices of the two drivers, the service manager, the DirectDraw probe, and the trace.
//
// Booting a virtual PC (sim/boot.h) in a test takes one call. The returned object owns a fresh
// temporary root (its C: drive holds a fresh install of the program) and removes it when it goes
// away:
//
//     sim::TestPc pc = sim::bootForTest(profileText);       // lspci -xxx text plus #! directives
//     sim::TestPc pc = sim::bootMachineForTest("default");  // machines/default.lspci
//     ASSERT_TRUE(pc.ok()) << pc.error();
//
// Afterwards every Win32 function of the sim acts on that PC, and `sim::machine()`,
// `sim::process()` (process.h) and `sim::drive()` give tests the state behind it. Only one PC
// exists at a time; booting another replaces it, and each boot first runs every reset hook, so
// the components of other files (registry, shell, windows) start clean too.
//
// Profiles are plain `lspci -xxx` dumps (also -x, -vvxxx, -xxxx, with or without a domain) with
// `#!` directive lines for what a dump cannot say; machines/README.md documents the syntax.
#pragma once

#include <cstdint>
#include <memory>
#include <map>
#include <string>
#include <vector>

#include "request_core.h"
#include "sim_win32.h"

namespace sim {

// ---------------------------------------------------------------------------------------------
// Profiles

struct Directive {
    std::string name;
    std::vector<std::string> args;
    int line = 0; // line number in the profile text, 0 for a directive added in code
};

struct PciFunctionImage {
    uint8_t bus = 0;
    uint8_t device = 0;
    uint8_t function = 0;
    std::string description; // the rest of the lspci header line, e.g. "Host bridge: Intel ..."
    uint8_t config[256] = {};
};

struct Profile {
    std::string source;                      // file name used in messages
    std::vector<PciFunctionImage> functions; // ascending bus, device, function
    std::vector<Directive> directives;       // in file order, every known name

    const Directive* find(const std::string& name) const; // the last one of that name, or null
    std::vector<const Directive*> findAll(const std::string& name) const;
    bool has(const std::string& name) const { return find(name) != nullptr; }
};

// Checks the arguments of a directive; returns "" when they are fine, else what is wrong with
// them (it becomes the error message after "file:line: ").
typedef std::string (*DirectiveCheck)(const std::vector<std::string>& args);

// Adds a directive name to the table of known names, for components outside the hardware
// (registry, shell). A directive with an unknown name makes a profile malformed. Adding a name
// twice replaces its entry.
void addDirectiveName(const std::string& name, int minArgs, int maxArgs,
                      DirectiveCheck check = nullptr);

// Parses profile text. On failure returns false, leaves `profile` untouched and puts
// "source:line: what" into `error`.
bool parseProfile(const std::string& text, const std::string& source, Profile* profile,
                  std::string* error);
bool loadProfileFile(const std::string& path, Profile* profile, std::string* error);

// "BB:DD.F" with an optional domain ("0000:BB:DD.F"). Returns false for anything else.
bool parsePciAddress(const std::string& text, int* bus, int* device, int* function);

// Numbers in directives: 0x-prefixed hex or decimal, 32 bits. Returns false for anything else.
bool parseDirectiveNumber(const std::string& text, uint32_t* value);

// The folder of the shipped profiles (machines/ of the source tree).
std::string machinesDir();

// lspci -xxx text of the functions: one header line and sixteen rows each.
std::string formatLspci(const std::vector<PciFunctionImage>& functions);
// A whole profile: directives first, then the functions. parseProfile gives it back unchanged.
std::string formatProfile(const Profile& profile);

// ---------------------------------------------------------------------------------------------
// Trace of everything the program did to the machine

enum class TraceKind {
    DeviceOpen,       // name = device, ok/error
    DeviceClose,      // name = device
    DeviceRequest,    // name = device, code, input, ok/error
    BiosCall,         // biosIn/biosOut registers, carry
    ConfigRead,       // bus/device/function, offset, length, value (first dword read)
    ConfigWrite,      // bus/device/function, offset, value (as written by the caller)
    PhysRead,         // address, value
    PhysWrite,        // address, value
    ServiceCall,      // name = function, detail = service name, ok/error
    DirectDrawCreate, // error = the HRESULT returned
    Sleep,            // value = milliseconds
};

struct BiosRegisters {
    uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0, esi = 0, edi = 0;
};

struct TraceEntry {
    TraceKind kind = TraceKind::DeviceOpen;
    std::string name;
    std::string detail;
    bool ok = true;
    uint32_t error = 0;
    uint32_t code = 0;
    std::vector<uint8_t> input;
    BiosRegisters biosIn;
    BiosRegisters biosOut;
    bool carry = false;
    uint8_t bus = 0, device = 0, function = 0;
    uint32_t offset = 0, length = 0, value = 0;
    uint64_t address = 0;

    std::string toString() const;
};

const char* traceKindName(TraceKind kind);

// ---------------------------------------------------------------------------------------------
// Service control manager

struct Service {
    std::string name;
    std::string displayName;
    DWORD type = 0;
    DWORD startType = 0;
    DWORD errorControl = 0;
    std::string binaryPath;
    DWORD state = SERVICE_STOPPED;
    bool markedForDelete = false;
    // What the kernel loaded at the last start: the driver built for the simulated PC, or any
    // other file, a foreign driver that runs but serves none of our devices. Set while running.
    bool loadedTavrolDriver = false;
};

// The database lives in the process; attached to a state directory it is kept in
// <stateDir>/services.txt and shared by every process attached there, as Windows' one service
// manager is: each service call holds an flock on services.lock, reloads the file when another
// process changed it and writes its own change back.
class ServiceManager {
  public:
    // Lookup is case-insensitive as on Windows; null when no such service exists.
    const Service* find(const std::string& name) const;
    const std::vector<Service>& services() const { return m_services; }
    // Puts a service into the database directly, as an earlier run would have left it.
    void add(const Service& service);
    // Open manager and service handles of the process, and of those the manager sessions.
    int openHandleCount() const { return static_cast<int>(m_handles.size()); }
    int openManagerCount() const {
        int managers = 0;
        for (const auto& open : m_handles)
            managers += open.second.isManager ? 1 : 0;
        return managers;
    }

    // One line per service; loadText refuses malformed text and keeps the current services.
    std::string saveText() const;
    bool loadText(const std::string& text, std::string* error);

    // Empties the database and detaches it.
    void reset();

    // An existing file is loaded (a malformed one is refused with "<path>: <reason>" and nothing
    // changes); a missing one is written from the database as it is.
    bool attach(const std::string& stateDir, std::string* error);
    void detach();
    // A restart: every driver is stopped and services marked for deletion are gone.
    void powerCycle();

    // Brackets one service call: the shared file is reloaded at the start and written at the end.
    class Sync {
      public:
        explicit Sync(ServiceManager& manager);
        ~Sync();
        Sync(const Sync&) = delete;
        Sync& operator=(const Sync&) = delete;

      private:
        ServiceManager& m_manager;
        int m_lock;
    };

    // Used by the advapi32 functions of the sim.
    struct Handle {
        bool isManager = false;
        std::string serviceName;
    };
    Service* findMutable(const std::string& name);
    SC_HANDLE openHandle(const Handle& handle);
    Handle* handle(SC_HANDLE handle);
    void closeHandle(SC_HANDLE handle);
    // Removes a service marked for deletion once it is stopped and no handle refers to it.
    void collect(const std::string& name);

  private:
    bool parseText(const std::string& text, std::vector<Service>* services,
                   std::string* error) const;

    std::vector<Service> m_services;
    std::map<uintptr_t, Handle> m_handles;
    uintptr_t m_nextHandle = 0x5C000;
    std::string m_stateDir; // "" while detached
    std::string m_savedText;
};

// ---------------------------------------------------------------------------------------------
// The machine

enum class WindowsFamily { Nt, Win9x };
// `#! windows 9x|xp|vista|7` (`nt` is XP): Windows 98 SE 4.10.2222, XP SP3 5.1.2600, Vista SP2
// 6.0.6002, 7 SP1 6.1.7601.
enum class WindowsVersion { Win98Se, Xp, Vista, Seven };

// Bits of an AGP command register that a write can change on the graphics device in AGP 2.0
// mode; agpCommandWritable gives the whole mask of a function.
constexpr uint32_t kAgpCommandWritable = 0xFF000000u | (1u << 9) | (1u << 8) | (1u << 4) | 0x7u;
// The writable bits of an AGP command register by the AGP Interface Specification: the request
// depth (31..24) only on the master, the graphics device; 4G (bit 5) where the status offers it;
// in AGP 3.0 mode also ARQSZ (15..13) and the calibration period (12..10), and GART64B (bit 7)
// on a target whose status offers it.
uint32_t agpCommandWritable(uint32_t status, bool target);
// AGP status bit 3: the device runs in AGP 3.0 mode, where the command register's rate field
// takes only 001 (4X) and 010 (8X), or 000 before a rate is programmed, and its sideband bit
// must stay set.
constexpr uint32_t kAgpStatusAgp3 = 1u << 3;
// NVIDIA's straps register, relative to BAR 0, and the bits that disable 4X, sideband and fast
// writes.
constexpr uint32_t kNvidiaStrapsOffset = 0x101000u;
constexpr uint32_t kNvidiaStrapsDisable4x = 1u << 9;
constexpr uint32_t kNvidiaStrapsDisableSideband = 1u << 10;
constexpr uint32_t kNvidiaStrapsDisableFastWrite = 1u << 11;
constexpr uint32_t kNvidiaStrapsOverride = 1u << 31;

class Machine {
  public:
    Machine();
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // Replaces the hardware, directives and fault settings with the profile's, and forgets open
    // devices, DirectDraw objects and the trace. Services are kept (see ServiceManager::reset).
    void load(const Profile& profile);
    const Profile& profile() const { return m_profile; }

    WindowsFamily family() const { return m_family; }
    bool isNt() const { return m_family == WindowsFamily::Nt; }
    WindowsVersion version() const { return m_version; }
    // Vista and later: the Task Scheduler 2.0 and User Account Control.
    bool isVistaOrLater() const { return m_version >= WindowsVersion::Vista; }
    // `#! 64-bit`: an x64 edition of an NT Windows, where the program runs under WOW64.
    bool is64Bit() const { return isNt() && m_profile.has("64-bit"); }
    // User Account Control, on by default from Vista on (`#! uac off` turns it off): a program
    // whose manifest asks for administrator rights does not start from a Run key at log-on.
    bool uacOn() const {
        const Directive* uac = m_profile.find("uac");
        return isVistaOrLater() && !(uac && uac->args[0] == "off");
    }
    bool safeMode() const { return m_profile.has("safe-mode"); }

    // PCI functions at the hardware level. Reads and writes are traced; reads of a function that
    // does not exist fail. Writes follow the register rules: only the AGP command register of a
    // function with an AGP capability takes bits, and only kAgpCommandWritable minus stuck bits.
    const PciFunctionImage* function(int bus, int device, int function) const;
    const std::vector<PciFunctionImage>& functions() const { return m_functions; }
    bool readConfig(int bus, int device, int function, uint32_t offset, void* buffer,
                    uint32_t length);
    bool writeConfigDword(int bus, int device, int function, uint32_t offset, uint32_t value);
    // Untraced view of a register as the program would read it (NVIDIA status follows straps).
    uint32_t configDword(int bus, int device, int function, uint32_t offset) const;
    // Sets a register directly, bypassing the write rules (test set-up).
    void pokeConfigDword(int bus, int device, int function, uint32_t offset, uint32_t value);
    // Writes to the AGP command register of a device in AGP 3.0 mode that the AGP 3.0
    // specification does not allow (a reserved rate, the sideband bit cleared), in order. The
    // device keeps such a value as written, as its register bits are read/write; a real link
    // would stop working. Emptied by load, not by clearTrace.
    const std::vector<TraceEntry>& reservedAgpWrites() const { return m_reservedAgpWrites; }
    // Offset of the function's AGP capability, 0 when it has none.
    int agpCapability(int bus, int device, int function) const;
    // States of the AGP link that the AGP standard or a chipset's errata forbid, one short text
    // each, in the order first seen, since the virtual PC was built. The link is the first host
    // bridge and the first VGA-compatible function with an AGP capability; once both command
    // registers have been written, every command write that leaves the graphics device enabled
    // is checked (ends that disagree on rate or AGP 3.0 mode, a target not enabled, enable with
    // no rate or several rate bits, a reserved AGP 3.0 rate, sideband off in AGP 3.0 mode, fast
    // writes at 1X, a mode one end lacks, an erratum-forbidden mode), and so is every write to
    // the graphics device sooner after the bridge's than its chipset allows. Kept in the state
    // as `#! link-fault TEXT` lines.
    const std::vector<std::string>& linkFaults() const { return m_linkFaults; }
    void addLinkFault(const std::string& fault);
    // Sleep of the program: traced, and the machine's clock of slept milliseconds moves on.
    void noteSleep(uint32_t milliseconds);

    // Physical memory: a sparse map of dwords; words never written read 0. Traced.
    bool readPhys(uint64_t address, uint32_t* value);
    bool writePhys(uint64_t address, uint32_t value);
    uint32_t physWord(uint64_t address) const;
    void pokePhysWord(uint64_t address, uint32_t value);

    // The bus of the kernel driver's request core over this machine.
    TavrolBus driverBus();

    // Devices of the two drivers; used by kernel32 of the sim.
    int openDeviceCount(const std::string& device) const;
    // Successful opens of the device since the machine was loaded.
    int deviceOpenTotal(const std::string& device) const;
    void noteDeviceOpen(const std::string& device, int delta);
    // How many opens or requests a fault directive of the profile has counted since the machine
    // was loaded (see open-fail and request-fail).
    uint32_t directiveMatches(const Directive* directive) const;
    void noteDirectiveMatch(const Directive* directive);

    // DirectDraw objects handed out and released.
    int directDrawCreated() const { return m_ddrawCreated; }
    int directDrawReleased() const { return m_ddrawReleased; }
    // Counts an object DirectDrawCreate hands out and keeps it until the machine goes.
    IDirectDraw* keepDirectDraw(std::shared_ptr<IDirectDraw> object) {
        m_ddrawObjects.push_back(object);
        ++m_ddrawCreated;
        return object.get();
    }
    void noteDirectDrawRelease() { ++m_ddrawReleased; }

    ServiceManager& services() { return m_services; }

    // The configuration spaces as `lspci -xxx` would print them now, registers as the program
    // reads them (an NVIDIA card's AGP status follows its straps).
    std::string lspciText() const;
    // The current state as profile text (functions, physical memory, directives): loading it
    // again gives the same machine.
    std::string hardwareText() const;

    const std::vector<TraceEntry>& trace() const { return m_trace; }
    std::vector<TraceEntry> traceOf(TraceKind kind) const;
    std::string traceText() const;
    void clearTrace() { m_trace.clear(); }
    void record(const TraceEntry& entry) { m_trace.push_back(entry); }

  private:
    PciFunctionImage* findFunction(int bus, int device, int function);
    uint32_t effectiveStatus(const PciFunctionImage& image, uint32_t stored) const;
    uint32_t stuckBits(const PciFunctionImage& image) const;
    uint32_t nvidiaStrapsAddress(const PciFunctionImage& image, bool* isNvidia) const;
    void checkLink(const PciFunctionImage& written);

    Profile m_profile;
    WindowsFamily m_family = WindowsFamily::Nt;
    WindowsVersion m_version = WindowsVersion::Xp;
    std::vector<PciFunctionImage> m_functions;
    std::map<uint64_t, uint32_t> m_phys;
    std::map<std::string, int> m_openDevices;
    std::map<std::string, int> m_deviceOpenTotals;
    std::map<const Directive*, uint32_t> m_directiveMatches;
    std::vector<TraceEntry> m_reservedAgpWrites;
    std::vector<std::string> m_linkFaults;
    bool m_bridgeCommandWritten = false;
    bool m_graphicsCommandWritten = false;
    uint64_t m_sleptMs = 0;
    uint64_t m_bridgeCommandWrittenAt = 0;
    std::vector<std::shared_ptr<void>> m_ddrawObjects; // freed with the machine, never by Release
    int m_ddrawCreated = 0;
    int m_ddrawReleased = 0;
    ServiceManager m_services;
    std::vector<TraceEntry> m_trace;
};

Machine& machine();

} // namespace sim
