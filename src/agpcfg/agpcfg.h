// The AGP configuration library: the hardware access channel, the driver service and the AGP
// controller. Results are plain integers; nothing throws.
#pragma once

#include "platform/platform.h"

// PCI function in the PCI BIOS's register form: bus in bits 15..8, device in 7..3, function 2..0.
typedef WORD PciAddress;

// Set once by the controller's construction: non-zero selects the NT back end of the channel.
extern BYTE isNt;

// Conversions between a PciAddress and the (bus, PciSlotWord) pair of the driver's requests.
DWORD pciBusOf(PciAddress address);
DWORD pciSlotWordOf(PciAddress address);
PciAddress pciAddressOf(DWORD bus, DWORD slotWord);

// PCI class codes searched for the two ends of the AGP link.
enum : DWORD {
    PCI_CLASS_HOST_BRIDGE = 0x060000,
    PCI_CLASS_VGA = 0x030000,
};

// Hardware access channel. 1/0 results unless stated.
int detectPciBios();
int findPciClass(DWORD classCode, DWORD index, PciAddress* address);
int readConfigSpace(PciAddress address, BYTE* buffer /* 256 bytes */);
int readConfigDword(PciAddress address, WORD offset, DWORD* value);
int writeConfigDword(PciAddress address, WORD offset, DWORD value);
// 0 success, 1 the device cannot be opened (last error kept), 2 the request failed.
int readPhysDword(DWORD bus, DWORD address, DWORD* value);
int writePhysDword(DWORD bus, DWORD address, DWORD value);

// A batch: the channel operations between its begin and its end share one open of the kernel
// driver's device, made by the first request, instead of an open and a close each; the end closes
// it. The controller wraps its discovery and each mode cycle in one, so that no handle outlives
// an operation of the controller. A failed open is tried again by the next request, which then
// fails as it would alone. Batches nest; the outermost end closes. Windows 9x is left as it is:
// its virtual device driver loads with each open.
void beginRequestBatch();
void endRequestBatch();
class CRequestBatch {
  public:
    CRequestBatch() { beginRequestBatch(); }
    ~CRequestBatch() { endRequestBatch(); }
    CRequestBatch(const CRequestBatch&) = delete;
    CRequestBatch& operator=(const CRequestBatch&) = delete;
};

// Walk over every PCI function the channel reaches, bus by bus, device by device: start from
// PCI_SCAN_START; each call gives the next function present, 0 after the last.
struct PciScan {
    DWORD bus;
    DWORD device;
    DWORD function;
    DWORD functions; // functions to try on this device: 8 once function 0 says it has more
};
const PciScan PCI_SCAN_START = {0, 0, 0, 1};
int nextPciFunction(PciScan* scan, PciAddress* address);

// Driver service of the NT platform. installDriver: 0 ready, 1..10 the step that failed.
// The service's name and the driver file beside the program; removal reads these too.
#define DRIVER_SERVICE_NAME "TAVROL"
#define DRIVER_FILE_NAME "TAVROL.sys"
// Work that needs nothing of the driver may begin while the service manager starts it, which keeps
// this thread waiting for as long as the driver takes to load: installDriver calls the companion,
// when one is given, just before it asks for the start. The companion must return at once.
typedef void (*DriverStartCompanion)(void* context);
int installDriver(DriverStartCompanion companion = NULL, void* context = NULL);
void removeDriver();
// The machine-wide name of one of the objects the runs that use the driver share, for a Windows
// of that major version.
enum : DWORD { DRIVER_OBJECT_NAME_SIZE = 64 };
void driverObjectName(const char* name, DWORD majorVersion, char out[DRIVER_OBJECT_NAME_SIZE]);

// Offset of the AGP capability in a 256-byte configuration image, 0 when there is none.
int findAgpCapability(const BYTE* image);

// A chipset erratum that limits what the AGP command register may be given: a host bridge (a
// revision range, and optionally only with a graphics device of one vendor) and what it forbids.
struct AgpQuirk {
    WORD bridgeVendor;
    WORD bridgeDevice;
    BYTE firstRevision;
    BYTE lastRevision;
    WORD graphicsVendor; // 0: with any graphics device
    BYTE rates;          // the rate field values the link may run at (a mask of 1, 2 and 4)
    BYTE noSideband;
    BYTE noFastWrite;
    BYTE bridgeDelayMs; // wait after writing the bridge before the graphics device is written
};
// The table of known errata, in order; `count` receives the number of rows.
const AgpQuirk* agpQuirks(int* count);
// The row that applies to a host bridge (its ID dword and revision) and a graphics device (its
// ID dword), or null.
const AgpQuirk* findAgpQuirk(DWORD bridgeId, BYTE bridgeRevision, DWORD graphicsId);

// AGP register layout (AGP Interface Specification 2.0, and 3.0 where it differs).
enum : DWORD {
    AGP_CAPABILITY_ID = 2,
    AGP_STATUS_OFFSET = 4,
    AGP_COMMAND_OFFSET = 8,
    AGP_RATE_MASK = 0x7,
    // Status only: the device runs in AGP 3.0 mode. When both ends do, rate bit 0 means 4X,
    // bit 1 means 8X and bit 2 is reserved, and sideband addressing is always in use.
    AGP_STATUS_AGP3 = 1u << 3,
    AGP3_RATE_MASK = 0x3,
    AGP_FAST_WRITE = 1u << 4,
    AGP_ENABLE = 1u << 8,
    AGP_SIDEBAND = 1u << 9,
};

// Mode states of sideband addressing and fast writes.
enum : int {
    AGP_MODE_OFF = 0,
    AGP_MODE_ON = 1,
    AGP_MODE_UNSUPPORTED = 2,
};

// AgpError: result of discovery; 0 means the AGP pair is usable.
typedef int AgpError;
enum : AgpError {
    AGP_OK = 0,
    AGP_ERR_NO_AGP = 1,
    AGP_ERR_NO_PCI_BIOS = 2,
    // The link does not run: AGP enable off, no single valid rate, or ends in different modes.
    AGP_ERR_RATE_ZERO = 3,
    AGP_ERR_DRIVER_UNKNOWN = 8,
    AGP_ERR_DRIVER_BASE = 8, // installDriver result r (1..11) gives r + 8
    AGP_ERR_VERSION = 20,
    AGP_ERR_DDRAW_OUT_OF_MEMORY = 21,
    AGP_ERR_DDRAW_INVALID_GUID = 22,
    AGP_ERR_DDRAW_INVALID_ARG = 23,
    AGP_ERR_DDRAW_NO_HARDWARE = 24,
    AGP_ERR_DDRAW_OTHER = 26,
    AGP_ERR_PHYS_NOT_FOUND = 27,
    AGP_ERR_PHYS_NOT_SUPPORTED = 28,
    AGP_ERR_PHYS_REQUEST = 29,
    AGP_ERR_PHYS_OTHER = 30,
    AGP_ERR_BRIDGE_STATUS = 31,
    AGP_ERR_GRAPHICS_STATUS = 32,
};

// The AGP controller: construction is the whole discovery of the host bridge and the AGP
// graphics device; the destructor removes the driver service on the NT platform.
class CAgpConfig {
  public:
    CAgpConfig();
    ~CAgpConfig();
    CAgpConfig(const CAgpConfig&) = delete;
    CAgpConfig& operator=(const CAgpConfig&) = delete;

    int getInitError();
    int getDataRate();
    int getSupportedRates();
    int getSideband();
    int getFastWrite();
    // 1 when discovery succeeded and both ends report AGP 3.0 mode: the rate values 1 and 2 are
    // then 4X and 8X, and sideband addressing is on and cannot be switched off.
    int isAgp3();
    // The host bridge and the graphics device found by discovery: 0 when it got no further.
    int getBridge(PciAddress* address, DWORD* id, WORD* cap);
    int getGraphics(PciAddress* address, DWORD* id, WORD* cap);

    int setDataRate(int rate);
    int setSideband(int on);
    int setFastWrite(int on);

  private:
    void discover();
    // The rate of a link this program may take over (both ends enabled, the graphics device at
    // exactly one rate valid in the link's mode), or 0.
    int runningRate();
    void applyQuirk(const AgpQuirk* quirk);
    AgpError applyNvidiaFixup();
    // 1/0; the command is written only on success.
    int readGraphicsCommand(DWORD* command);
    int readBothCommands(DWORD* bridge, DWORD* graphics);
    // The four writes of a cycle in their order: take-down on the graphics device and then the
    // bridge, the new values on the bridge and then the graphics device. With stopOnFailure the
    // writes end at the first that fails; false when any failed.
    bool writeLink(DWORD bridgeDown, DWORD graphicsDown, DWORD bridgeUp, DWORD graphicsUp,
                   bool stopOnFailure);
    // Whether both command registers read back holding the modes of the given values.
    bool linkHolds(DWORD bridge, DWORD graphics);
    // Writes the take-down value (the read value AND takeDownMask) and then the mode (modeMask
    // replaced by modeBits) to both ends of the link, and reads both back. True when both ends
    // hold the new mode; otherwise both get back the values read at the start.
    bool modeCycle(DWORD takeDownMask, DWORD modeMask, DWORD modeBits);
    void markModesUnconfirmed();

    DWORD m_bridgeId;
    DWORD m_graphicsId;
    PciAddress m_bridgeAddress;
    WORD m_bridgeCap;
    PciAddress m_graphicsAddress;
    WORD m_graphicsCap;
    DWORD m_graphicsBar0;
    DWORD m_graphicsBar1;
    int m_rate;
    int m_sideband;
    int m_fastWrite;
    WORD m_supportedRates;
    int m_initError;
    DWORD m_graphicsStatus;
    DWORD m_bridgeStatus;
    // Set when the two ends may not both hold the cached mode: a getter found the graphics device
    // in another mode than the cache held, or a cycle could not put both ends back. Setting the
    // cached mode then still programs both ends, and a getter whose read fails cannot answer
    // with the cache.
    bool m_rateUnconfirmed;
    bool m_sidebandUnconfirmed;
    bool m_fastWriteUnconfirmed;
    // Wait after the bridge's command write before the graphics device's, for chipsets that
    // need it; 0 for the others.
    DWORD m_bridgeDelayMs;
};
