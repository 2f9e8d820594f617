// The emulated kernel: address space, calls into the driver, service dispatch and the I/O manager.
#include "ntdriver/kernel_state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ntdriver {
namespace {

// clang-format off
const Layout kLayout32 = {
    4,                              // pointer
    4, 12, 16, 24, 52, 56, 168,     // DRIVER_OBJECT: DeviceObject, DriverStart, DriverSize,
                                    //   DriverExtension, DriverUnload, MajorFunction, size
    8, 12, 28, 32, 40, 44, 48, 184, // DEVICE_OBJECT: DriverObject, NextDevice, Flags,
                                    //   Characteristics, DeviceExtension, DeviceType, StackSize, size
    12, 24, 28, 32, 34, 35, 96, 112, // IRP: SystemBuffer, IoStatus.Status, .Information,
                                    //   RequestorMode, StackCount, CurrentLocation,
                                    //   CurrentStackLocation, size
    4, 8, 12, 20, 24, 36,           // IO_STACK_LOCATION: OutputBufferLength, InputBufferLength,
                                    //   IoControlCode, DeviceObject, FileObject, size
    4, 32, 48, 128,                 // FILE_OBJECT: DeviceObject, RelatedFileObject, FileName, size
    4, 8,                           // UNICODE_STRING: Buffer, size
    4, 8, 12, 16,                   // SECURITY_DESCRIPTOR: Owner, Group, Sacl, Dacl
};
const Layout kLayout64 = {
    8,
    8, 24, 32, 48, 104, 112, 336,
    8, 16, 48, 52, 64, 72, 76, 328,
    24, 48, 56, 64, 66, 67, 184, 208,
    8, 16, 24, 40, 48, 72,
    8, 64, 88, 216,
    8, 16,
    8, 16, 24, 32,
};
// clang-format on

// Where things lie in each flavor's kernel address space.
struct AddressSpace {
    uint64_t image, stubs, heap, stack, stackSize, returnPage, systemBuffer, windows;
};
const AddressSpace kSpace32 = {0xF8A40000, 0x80A00000, 0x81000000, 0x82000000,
                               0x3000,     0xFFFFF000, 0x83000000, 0x84000000};
const AddressSpace kSpace64 = {0xFFFFF88004A40000,
                               0xFFFFF80001A00000,
                               0xFFFFFA8001000000,
                               0xFFFFF88002000000,
                               0x6000, // kernel stacks: 12 KiB, 24 KiB on x64
                               0xFFFFF80000FFF000,
                               0xFFFFFA8003000000,
                               0xFFFFF88010000000};
const uint64_t kHeapSize = 0x100000, kPage = 0x1000;
const uint32_t kStubSize = 16;
const uint8_t kStubInterrupt = 0x2E;
const uint64_t kInstructionLimit = 50000000;
const uint64_t kJunk = 0xCCCCCCCCCCCCCCCCull;

const AddressSpace& space(Flavor flavor) {
    return flavor == Flavor::X86_64 ? kSpace64 : kSpace32;
}

std::string hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

uint64_t pageAlign(uint64_t size) {
    return (size + kPage - 1) & ~(kPage - 1);
}

void onInterrupt(uc_engine*, uint32_t number, void* user) {
    NtKernel::State& k = *static_cast<NtKernel::State*>(user);
    const uint64_t pc = k.reg(k.x64() ? UC_X86_REG_RIP : UC_X86_REG_EIP);
    const uint64_t stubs = space(k.flavor).stubs;
    const uint64_t index = (pc - 2 - stubs) / kStubSize;
    if (number != kStubInterrupt || pc < stubs + 2 || (pc - 2 - stubs) % kStubSize ||
        index >= services().size())
        return k.stop("interrupt " + hex(number) + " at " + hex(pc));
    const Service& service = services()[index];
    const int sp = k.x64() ? UC_X86_REG_RSP : UC_X86_REG_ESP;
    const uint64_t stack = k.reg(sp);
    const uint64_t returnTo = k.readPointer(stack);
    uint64_t result;
    auto failure = k.failures.find(service.name);
    if (failure != k.failures.end()) {
        result = failure->second;
        k.failures.erase(failure);
    } else {
        result = service.answer(k);
    }
    // The caller may rely on nothing the convention leaves volatile.
    const int volatiles32[] = {UC_X86_REG_ECX, UC_X86_REG_EDX};
    const int volatiles64[] = {UC_X86_REG_RCX, UC_X86_REG_RDX, UC_X86_REG_R8,
                               UC_X86_REG_R9,  UC_X86_REG_R10, UC_X86_REG_R11};
    if (k.x64())
        for (int r : volatiles64)
            k.setReg(r, kJunk);
    else
        for (int r : volatiles32)
            k.setReg(r, static_cast<uint32_t>(kJunk));
    k.setReg(k.x64() ? UC_X86_REG_RAX : UC_X86_REG_EAX, k.x64() ? result : uint32_t(result));
    const uint64_t popped = k.x64() || service.fastcall ? 0 : 4u * service.x86StackDwords;
    k.setReg(sp, stack + k.layout->pointer + popped);
    k.setReg(k.x64() ? UC_X86_REG_RIP : UC_X86_REG_EIP, returnTo);
}

bool onUnmapped(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t, void* user) {
    NtKernel::State& k = *static_cast<NtKernel::State*>(user);
    const char* what = type == UC_MEM_FETCH_UNMAPPED   ? "ran code at"
                       : type == UC_MEM_WRITE_UNMAPPED ? "wrote"
                       : type == UC_MEM_WRITE_PROT     ? "wrote read-only memory at"
                                                       : "touched";
    k.stop(std::string("the driver ") + what + " " + hex(address) + " (" + std::to_string(size) +
           " bytes) at " + hex(k.reg(k.x64() ? UC_X86_REG_RIP : UC_X86_REG_EIP)));
    return false;
}

} // namespace

const char* flavorName(Flavor flavor) {
    return flavor == Flavor::X86_64 ? "x86_64" : "i686";
}

void NtKernel::State::stop(const std::string& why) {
    if (fault.empty())
        fault = why;
    uc_emu_stop(uc);
}

uint64_t NtKernel::State::reg(int id) {
    uint64_t value = 0;
    uc_reg_read(uc, id, &value);
    return x64() ? value : uint32_t(value);
}

void NtKernel::State::setReg(int id, uint64_t value) {
    uc_reg_write(uc, id, &value);
}

uint64_t NtKernel::State::read(uint64_t address, int size) {
    uint64_t value = 0;
    if (uc_mem_read(uc, address, &value, size) != UC_ERR_OK)
        stop("a service read " + hex(address) + ", which is not mapped");
    return value;
}

void NtKernel::State::write(uint64_t address, uint64_t value, int size) {
    if (uc_mem_write(uc, address, &value, size) != UC_ERR_OK)
        stop("a service wrote " + hex(address) + ", which is not mapped");
}

std::vector<uint8_t> NtKernel::State::readBytes(uint64_t address, size_t size) {
    std::vector<uint8_t> bytes(size);
    if (size && uc_mem_read(uc, address, bytes.data(), size) != UC_ERR_OK)
        stop("a service read " + hex(address) + ", which is not mapped");
    return bytes;
}

void NtKernel::State::writeBytes(uint64_t address, const std::vector<uint8_t>& bytes) {
    if (!bytes.empty() && uc_mem_write(uc, address, bytes.data(), bytes.size()) != UC_ERR_OK)
        stop("a service wrote " + hex(address) + ", which is not mapped");
}

uint64_t NtKernel::State::allocate(uint32_t size) {
    const uint64_t address = heapNext;
    heapNext += (size + 15) & ~15u;
    if (heapNext > space(flavor).heap + kHeapSize) {
        stop("the kernel heap is exhausted");
        return 0;
    }
    return address;
}

std::string NtKernel::State::readUnicodeString(uint64_t string) {
    const uint32_t length = static_cast<uint32_t>(read(string, 2));
    const std::vector<uint8_t> bytes = readBytes(readPointer(string + layout->usBuffer), length);
    std::string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += bytes[i + 1] || bytes[i] > 0x7E ? '?' : static_cast<char>(bytes[i]);
    return text;
}

uint64_t NtKernel::State::makeUnicodeString(const std::u16string& text) {
    const uint32_t length = static_cast<uint32_t>(2 * text.size());
    const uint64_t string = allocate(layout->usSize + length + 2);
    write(string, length, 2);
    write(string + 2, length + 2, 2);
    writePointer(string + layout->usBuffer, string + layout->usSize);
    for (size_t i = 0; i < text.size(); ++i)
        write(string + layout->usSize + 2 * i, text[i], 2);
    return string;
}

uint64_t NtKernel::State::arg(int index, bool fastcall) {
    if (x64()) {
        const int registers[] = {UC_X86_REG_RCX, UC_X86_REG_RDX, UC_X86_REG_R8, UC_X86_REG_R9};
        return index < 4 ? reg(registers[index])
                         : read(reg(UC_X86_REG_RSP) + 0x28 + 8 * (index - 4), 8);
    }
    if (fastcall && index < 2)
        return reg(index == 0 ? UC_X86_REG_ECX : UC_X86_REG_EDX);
    return read(reg(UC_X86_REG_ESP) + 4 + 4 * index, 4);
}

// Calls a routine of the driver as the kernel does (stdcall on x86, the x64 convention otherwise)
// and checks that it kept the stack and the registers the convention says it must keep.
uint64_t NtKernel::State::call(uint64_t function, const std::vector<uint64_t>& args,
                               bool* completed) {
    fault.clear();
    const AddressSpace& s = space(flavor);
    const uint64_t top = s.stack + s.stackSize - 0x40;
    const int sp = x64() ? UC_X86_REG_RSP : UC_X86_REG_ESP;
    const std::vector<int> kept =
        x64() ? std::vector<int>{UC_X86_REG_RBX, UC_X86_REG_RBP, UC_X86_REG_RDI, UC_X86_REG_RSI,
                                 UC_X86_REG_R12, UC_X86_REG_R13, UC_X86_REG_R14, UC_X86_REG_R15}
              : std::vector<int>{UC_X86_REG_EBX, UC_X86_REG_EBP, UC_X86_REG_EDI, UC_X86_REG_ESI};
    uint64_t entrySp;
    if (x64()) {
        entrySp = (top & ~0xFull) - 0x60 - 8; // aligned before the call pushed its return address
        const int registers[] = {UC_X86_REG_RCX, UC_X86_REG_RDX, UC_X86_REG_R8, UC_X86_REG_R9};
        for (size_t i = 0; i < args.size(); ++i)
            if (i < 4)
                setReg(registers[i], args[i]);
            else
                write(entrySp + 0x28 + 8 * (i - 4), args[i], 8);
    } else {
        entrySp = top - 4 * args.size() - 4;
        for (size_t i = 0; i < args.size(); ++i)
            write(entrySp + 4 + 4 * i, args[i], 4);
    }
    writePointer(entrySp, s.returnPage);
    for (size_t i = 0; i < kept.size(); ++i)
        setReg(kept[i], (x64() ? 0x5EED000000000000ull : 0x5EED0000u) + i);
    setReg(sp, entrySp);
    setReg(UC_X86_REG_EFLAGS, 0x202);
    const uc_err error = uc_emu_start(uc, function, s.returnPage, 0, kInstructionLimit);
    const uint64_t pc = reg(x64() ? UC_X86_REG_RIP : UC_X86_REG_EIP);
    if (fault.empty() && error != UC_ERR_OK)
        fault = std::string("emulation stopped: ") + uc_strerror(error) + " at " + hex(pc);
    if (fault.empty() && pc != s.returnPage)
        fault = "the routine did not return (at " + hex(pc) + ")";
    const uint64_t expectedSp = entrySp + layout->pointer + (x64() ? 0 : 4 * args.size());
    if (fault.empty() && reg(sp) != expectedSp)
        fault =
            "the routine returned with the stack at " + hex(reg(sp)) + ", not " + hex(expectedSp);
    for (size_t i = 0; i < kept.size() && fault.empty(); ++i)
        if (reg(kept[i]) != (x64() ? 0x5EED000000000000ull : 0x5EED0000u) + i)
            fault = "the routine did not keep a register the convention keeps";
    *completed = fault.empty();
    return reg(x64() ? UC_X86_REG_RAX : UC_X86_REG_EAX);
}

DeviceRecord* NtKernel::State::device(uint64_t object) {
    for (DeviceRecord& d : devices)
        if (d.object == object && !d.deleted)
            return &d;
    return nullptr;
}

NtKernel::NtKernel(HalModel& hal) : m(new State(hal)) {}

NtKernel::~NtKernel() {
    if (m->uc)
        uc_close(m->uc);
}

bool NtKernel::load(const std::vector<uint8_t>& file, uint64_t base, std::string* error) {
    State& k = *m;
    if (!parsePe(file, &k.pe, error))
        return false;
    if (k.pe.machine != (k.pe.pe32Plus ? 0x8664 : 0x14C) || k.pe.subsystem != 1)
        return *error = "not a native image for i386 or x86-64", false;
    k.flavor = k.pe.pe32Plus ? Flavor::X86_64 : Flavor::I686;
    k.layout = k.x64() ? &kLayout64 : &kLayout32;
    const AddressSpace& s = space(k.flavor);
    k.base = base ? base : s.image;
    if (k.base == k.pe.imageBase)
        return *error = "the driver must be loaded away from its preferred base", false;
    std::vector<uint8_t> image;
    const ImportResolver resolve = [&](const std::string& dll,
                                       const std::string& name) -> uint64_t {
        for (size_t i = 0; i < services().size(); ++i)
            if (i != defaultDispatchService() && dll == services()[i].dll &&
                name == services()[i].name)
                return s.stubs + kStubSize * i;
        return 0;
    };
    if (!mapPe(file, k.pe, k.base, resolve, &image, error))
        return false;
    if (uc_open(UC_ARCH_X86, k.x64() ? UC_MODE_64 : UC_MODE_32, &k.uc) != UC_ERR_OK)
        return *error = "Unicorn does not start", false;
    const uint32_t size = static_cast<uint32_t>(pageAlign(image.size()));
    image.resize(size);
    const struct {
        uint64_t address, size;
        uint32_t protection;
    } regions[] = {{k.base, size, UC_PROT_ALL},
                   {s.stubs, pageAlign(kStubSize * services().size()), UC_PROT_READ | UC_PROT_EXEC},
                   {s.heap, kHeapSize, UC_PROT_READ | UC_PROT_WRITE},
                   {s.stack, s.stackSize, UC_PROT_READ | UC_PROT_WRITE},
                   {s.returnPage, kPage, UC_PROT_ALL},
                   {s.systemBuffer, kSystemBufferSize, UC_PROT_READ | UC_PROT_WRITE}};
    for (const auto& r : regions)
        if (uc_mem_map(k.uc, r.address, r.size, r.protection) != UC_ERR_OK)
            return *error = "cannot map " + hex(r.address), false;
    uc_mem_write(k.uc, k.base, image.data(), image.size());
    // Each section as the loader protects it: code and constants are not writable.
    for (const PeSection& section : k.pe.sections) {
        uint32_t protection = UC_PROT_READ;
        if (section.characteristics & 0x20000000)
            protection |= UC_PROT_EXEC;
        if (section.characteristics & 0x80000000)
            protection |= UC_PROT_WRITE;
        const uint64_t start = k.base + (section.virtualAddress & ~(kPage - 1));
        uc_mem_protect(k.uc, start,
                       pageAlign(k.base + section.virtualAddress +
                                 std::max(section.virtualSize, section.rawSize)) -
                           start,
                       protection);
    }
    for (size_t i = 0; i < services().size(); ++i) {
        const uint8_t stub[2] = {0xCD, kStubInterrupt};
        uc_mem_write(k.uc, s.stubs + kStubSize * i, stub, 2);
    }
    uc_hook hook;
    uc_hook_add(k.uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(onInterrupt), &k, 1, 0);
    uc_hook_add(k.uc, &hook, UC_HOOK_MEM_UNMAPPED | UC_HOOK_MEM_WRITE_PROT | UC_HOOK_MEM_FETCH_PROT,
                reinterpret_cast<void*>(onUnmapped), &k, 1, 0);
    k.heapNext = s.heap;
    k.systemBuffer = s.systemBuffer;
    k.windowNext = s.windows;

    // The driver object and registry path as the I/O manager hands them to DriverEntry.
    const Layout& l = *k.layout;
    k.driver = k.allocate(l.drvSize);
    k.write(k.driver, 4, 2); // IO_TYPE_DRIVER
    k.write(k.driver + 2, l.drvSize, 2);
    k.writePointer(k.driver + l.drvDriverStart, k.base);
    k.write(k.driver + l.drvDriverSize, size, 4);
    const uint64_t extension = k.allocate(8 * l.pointer);
    k.writePointer(extension, k.driver);
    k.writePointer(k.driver + l.drvDriverExtension, extension);
    k.defaultDispatch = s.stubs + kStubSize * defaultDispatchService();
    for (uint32_t i = 0; i < IRP_MJ_COUNT; ++i)
        k.writePointer(k.driver + l.drvMajorFunction + l.pointer * i, k.defaultDispatch);
    k.registryPath =
        k.makeUnicodeString(u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\TAVROL");
    return k.fault.empty() || (*error = k.fault, false);
}

uint64_t NtKernel::imageBase() const {
    return m->base;
}
uint32_t NtKernel::imageSize() const {
    return m->pe.sizeOfImage;
}

uint32_t NtKernel::driverEntry(bool* completed) {
    return static_cast<uint32_t>(
        m->call(m->base + m->pe.entryRva, {m->driver, m->registryPath}, completed));
}

} // namespace ntdriver
