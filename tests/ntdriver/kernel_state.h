// The inside of the emulated NT kernel, shared by the kernel proper (nt_kernel.cpp) and the table
// of services the driver imports (nt_services.cpp).
#pragma once

#include <unicorn/unicorn.h>

#include "ntdriver/nt_kernel.h"

namespace ntdriver {

// Field offsets of the DDK's structures for one flavor (as mingw-w64's ntddk.h lays them out).
struct Layout {
    uint32_t pointer;
    uint32_t drvDeviceObject, drvDriverStart, drvDriverSize, drvDriverExtension, drvDriverUnload,
        drvMajorFunction, drvSize;
    uint32_t devDriverObject, devNextDevice, devFlags, devCharacteristics, devDeviceExtension,
        devDeviceType, devStackSize, devSize;
    uint32_t irpSystemBuffer, irpStatus, irpInformation, irpRequestorMode, irpStackCount,
        irpCurrentLocation, irpCurrentStackLocation, irpSize;
    uint32_t stkOutputLength, stkInputLength, stkCode, stkDeviceObject, stkFileObject, stkSize;
    uint32_t fileDeviceObject, fileRelated, fileName, fileSize;
    uint32_t usBuffer, usSize;
    uint32_t sdOwner, sdGroup, sdSacl, sdDacl;
};

// The region of the system buffers of buffered requests.
const uint32_t kSystemBufferSize = 0x10000;

struct NtKernel::State {
    explicit State(HalModel& model) : hal(model) {}
    HalModel& hal;
    Flavor flavor = Flavor::I686;
    const Layout* layout = nullptr;
    uc_engine* uc = nullptr;
    PeFile pe;
    uint64_t base = 0;
    std::string fault;

    uint64_t heapNext = 0;
    uint64_t systemBuffer = 0;
    uint64_t windowNext = 0;
    uint64_t driver = 0, registryPath = 0, defaultDispatch = 0;
    std::vector<DeviceRecord> devices;
    std::map<std::string, std::string> links;
    std::vector<Mapping> mappings;
    std::map<uint64_t, uint64_t> handles; // open handle -> object
    uint64_t nextHandle = 0x80000124;
    std::map<std::string, uint32_t> failures;
    struct Completion {
        uint64_t irp;
        uint8_t boost;
        uint32_t status;
        uint64_t information;
    };
    std::vector<Completion> completions;
    // The physical page behind each mapped window, where the memory callbacks find it.
    std::vector<std::unique_ptr<std::pair<State*, uint64_t>>> windows;

    bool x64() const { return flavor == Flavor::X86_64; }
    void stop(const std::string& why);
    uint64_t reg(int id);
    void setReg(int id, uint64_t value);
    uint64_t read(uint64_t address, int size);
    void write(uint64_t address, uint64_t value, int size);
    uint64_t readPointer(uint64_t address) { return read(address, layout->pointer); }
    void writePointer(uint64_t address, uint64_t value) { write(address, value, layout->pointer); }
    std::vector<uint8_t> readBytes(uint64_t address, size_t size);
    void writeBytes(uint64_t address, const std::vector<uint8_t>& bytes);
    uint64_t allocate(uint32_t size); // zeroed, 16-byte aligned kernel memory
    std::string readUnicodeString(uint64_t unicodeString);
    uint64_t makeUnicodeString(const std::u16string& text);
    // The argument `index` of the service being answered (on x86, in stack dwords).
    uint64_t arg(int index, bool fastcall = false);
    uint64_t call(uint64_t function, const std::vector<uint64_t>& args, bool* completed);
    DeviceRecord* device(uint64_t object);
};

// One service of ntoskrnl.exe or HAL.dll: how many stack dwords it takes on x86 (stdcall, or
// fastcall with two register arguments), and what it does.
struct Service {
    const char* dll;
    const char* name;
    int x86StackDwords;
    bool fastcall;
    uint64_t (*answer)(NtKernel::State& kernel);
};
const std::vector<Service>& services();
// Where the I/O manager's default dispatch routine lies in the table: not importable.
size_t defaultDispatchService();

} // namespace ntdriver
