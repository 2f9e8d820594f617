// An emulated NT kernel for TAVROL.sys, on Unicorn's x86 and x86-64 CPUs: the shipped driver file
// is loaded at a base other than its preferred one, its imports from ntoskrnl.exe and HAL.dll go
// to one table of services the test answers (nt_services.cpp), and the I/O manager's part is
// played here: the driver object and registry path for DriverEntry, IRPs with buffered I/O for
// create, close and device control, and the unload routine. The kernel records what the driver
// did to it; a driver that touches memory nobody gave it, calls a service wrongly or breaks its
// calling convention stops the call with a fault.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ntdriver/hal_model.h"
#include "ntdriver/pe_file.h"

namespace ntdriver {

enum class Flavor { I686, X86_64 };
const char* flavorName(Flavor flavor);

// NTSTATUS values and I/O manager constants of the DDK.
enum : uint32_t {
    STATUS_SUCCESS = 0,
    STATUS_UNSUCCESSFUL = 0xC0000001,
    STATUS_INVALID_DEVICE_REQUEST = 0xC0000010,
    STATUS_INVALID_PARAMETER = 0xC000000D,
    STATUS_ACCESS_DENIED = 0xC0000022,
    STATUS_BUFFER_TOO_SMALL = 0xC0000023,
    STATUS_INSUFFICIENT_RESOURCES = 0xC000009A,
    STATUS_OBJECT_NAME_COLLISION = 0xC0000035,
    IRP_MJ_CREATE = 0,
    IRP_MJ_CLOSE = 2,
    IRP_MJ_DEVICE_CONTROL = 14,
    IRP_MJ_COUNT = 28,
    DO_BUFFERED_IO = 0x4,
    DO_EXCLUSIVE = 0x8,
    DO_DEVICE_INITIALIZING = 0x80,
    FILE_DEVICE_SECURE_OPEN = 0x100,
};

struct Ace {
    uint8_t type, flags;
    uint32_t mask;   // as the driver wrote it
    uint32_t rights; // after the file object's generic mapping, as the kernel stores it
    std::string sid; // "S-1-5-18"
};

struct DeviceRecord {
    uint64_t object = 0;
    std::string name;
    uint32_t type = 0, characteristics = 0, extensionSize = 0;
    bool exclusive = false, deleted = false;
    // The device's security as ZwSetSecurityObject set it, and whether that happened while the
    // device was still initialising and before any link pointed to it.
    bool secured = false, securedEarly = false;
    uint32_t securityInformation = 0, descriptorControl = 0;
    bool ownerOrGroupOrSacl = false;
    std::vector<Ace> dacl;
};

struct Mapping {
    uint64_t physical, size, address;
    uint32_t cacheType;
    bool unmapped;
};

struct IrpOutcome {
    bool completed = false; // false: the call faulted, and fault() says how
    uint32_t returned = 0;  // the dispatch routine's result
    uint32_t status = 0;    // IoStatus at completion
    uint64_t information = 0;
    int completions = 0; // IofCompleteRequest calls for this IRP
    uint8_t boost = 0xFF;
    std::vector<uint8_t> output;       // the caller's output buffer after the I/O manager's copy
    std::vector<uint8_t> systemBuffer; // the whole system buffer after the call
};

class NtKernel {
  public:
    explicit NtKernel(HalModel& hal);
    ~NtKernel();
    NtKernel(const NtKernel&) = delete;
    NtKernel& operator=(const NtKernel&) = delete;

    // Loads the driver at `base` (0: the flavor's usual kernel address); false with the reason.
    bool load(const std::vector<uint8_t>& file, uint64_t base, std::string* error);
    uint64_t imageBase() const;
    uint32_t imageSize() const;

    uint32_t driverEntry(bool* completed);
    IrpOutcome create(const std::u16string& fileName, bool relatedFile);
    IrpOutcome close();
    IrpOutcome deviceControl(uint32_t code, const std::vector<uint8_t>& input,
                             uint32_t outputLength);
    bool unload();

    const std::string& fault() const;

    // What the driver did to the kernel.
    uint64_t majorFunction(int index) const;
    uint64_t defaultDispatch() const; // what MajorFunction held before DriverEntry
    uint64_t unloadRoutine() const;
    uint32_t deviceFlags() const;
    const std::vector<DeviceRecord>& devices() const;
    const std::map<std::string, std::string>& links() const; // link name -> device name
    const std::vector<Mapping>& mappings() const;
    int openHandles() const;

    // Makes the next call of a service answer `status` without doing anything.
    void failService(const std::string& name, uint32_t status);

    struct State;

  private:
    std::unique_ptr<State> m;
};

} // namespace ntdriver
