// A Windows 9x virtual device driver run on an emulated i386 (Unicorn) under a stand-in for the
// VMM: the LE image is placed and fixed up as the VMM's loader does, the control procedure gets
// the registers System_Control passes, the dynamic-link service calls (int 20h and a dword) are
// answered, and the ports of PCI configuration mechanism #1 and the physical memory that
// _MapPhysToLinear maps reach a PCI bus: the driver core's TavrolBus, over the simulated PC or a
// test's fake.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "request_core.h"
#include "sim/le_image.h"

namespace sim {

// Control messages and DIOC codes of the Windows 95/98 DDK (vmm.inc, vwin32.inc).
constexpr uint32_t kSysDynamicDeviceInit = 0x1B;
constexpr uint32_t kSysDynamicDeviceExit = 0x1C;
constexpr uint32_t kW32DeviceIoControl = 0x23;
constexpr uint32_t kDiocOpen = 0;
constexpr uint32_t kDiocCloseHandle = 0xFFFFFFFFu;

class VxdHost {
  public:
    // Where a VxD is placed unless a caller asks for another base: in the VMM's system arena.
    static constexpr uint32_t kDefaultBase = 0xC0010000u;

    explicit VxdHost(const TavrolBus& bus);
    ~VxdHost();
    VxdHost(const VxdHost&) = delete;
    VxdHost& operator=(const VxdHost&) = delete;

    // Places the objects one after another from `base` (page aligned), applies the fixups and
    // finds the device descriptor block (entry ordinal 1). False, with the reason, when the image
    // cannot be loaded so.
    bool load(const LeImage& image, uint32_t base, std::string* error);

    struct Result {
        bool completed = false; // false: the driver faulted and fault() says how
        bool carry = false;
        uint32_t eax = 0;
    };
    // Calls the control procedure as System_Control does: EAX = message, EBX = the system VM,
    // ESI = the message's parameter.
    Result control(uint32_t message, uint32_t esi = 0);
    // Sends W32_DEVICEIOCONTROL with a DIOCParams record, as DeviceIoControl does: the buffers are
    // copied into emulated memory and the output and the byte count back. A null pointer reaches
    // the driver as a null pointer.
    Result deviceIoControl(uint32_t code, const void* in, uint32_t inSize, void* out,
                           uint32_t outSize, uint32_t* bytesReturned);

    // Places the next requests' input, output and byte count at these linear addresses instead of
    // the buffers the host maps (0 keeps the host's), as a caller handing the driver pointers
    // into memory that is not its own would: a driver that touches them faults.
    void placeBuffers(uint32_t in, uint32_t out, uint32_t bytesReturned);

    // Why the last call did not complete: an access to memory nobody mapped, a service the VMM
    // stand-in does not know, a configuration access other than one dword through a configuration
    // address with its enable bit, an access to physical memory that is not one aligned dword, a
    // register the VMM expects kept, or a procedure that never returned.
    const std::string& fault() const;

    struct Mapping {
        uint32_t physical, size, flags, linear;
    };
    // Every _MapPhysToLinear call so far.
    const std::vector<Mapping>& mappings() const;
    // Makes _MapPhysToLinear answer 0FFFFFFFFh, "not addressable".
    void refuseMappings(bool refuse);

    // The configuration address port (0CF8h), which starts as another user of it left it.
    static constexpr uint32_t kForeignConfigAddress = 0x8000F840u;
    uint32_t configAddress() const;
    // A chipset without configuration mechanism #1: the address port keeps nothing written to it.
    void withoutConfigMechanism(bool absent);

    uint32_t ddbAddress() const;
    // DDB_Name, without its padding.
    std::string deviceName() const;

  private:
    struct State;
    std::unique_ptr<State> m;
};

} // namespace sim
