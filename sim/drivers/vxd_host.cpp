// A virtual device driver on Unicorn: the loader, the control-procedure call, the VMM services it
// may use, and its view of PCI configuration space and physical memory.
#include "sim/vxd_host.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstdio>
#include <deque>

namespace sim {

namespace {

const uint32_t kPage = 0x1000;
// The emulated address space besides the driver: its stack, the DIOCParams record, the caller's
// buffers (as the caller's linear addresses would be), a page whose address the control procedure
// returns to, and the linear range that _MapPhysToLinear hands out.
const uint32_t kStackBase = 0x00FE0000, kStackSize = 0x10000;
const uint32_t kParams = 0x00E00000;
const uint32_t kInBuffer = 0x00400000, kOutBuffer = 0x00500000, kBufferSize = 0x10000;
const uint32_t kBytesReturned = 0x00600000;
const uint32_t kReturnAddress = 0xFFFFF000;
const uint32_t kPhysWindow = 0xD0000000;
const uint32_t kSystemVm = 0xC1000000; // the handle EBX carries
// A find-class request walks all 256 buses: some 300,000 instructions.
const uint64_t kInstructionLimit = 4000000;

const uint32_t kVmmDevice = 0x0001, kMapPhysToLinear = 0x006C;
const uint32_t kConfigAddressPort = 0x0CF8, kConfigDataPort = 0x0CFC;
const uint32_t kDdbSize = 0x50, kDdbName = 0x0C, kDdbControlProc = 0x18;
// Values in the registers the VMM leaves undefined, so that a driver relying on them fails.
const uint32_t kJunk = 0xCCCCCCCCu;

uint32_t pageAlign(uint64_t size) {
    return static_cast<uint32_t>((size + kPage - 1) & ~static_cast<uint64_t>(kPage - 1));
}

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

} // namespace

struct VxdHost::State {
    TavrolBus bus;
    uc_engine* uc = nullptr;
    uint32_t ddb = 0;
    uint32_t controlProc = 0;
    std::string fault;
    std::vector<Mapping> mappings;
    bool refuseMappings = false;
    uint32_t nextLinear = kPhysWindow;
    uint32_t configAddress = kForeignConfigAddress;
    bool configMechanismAbsent = false;
    uint32_t placed[3] = {0, 0, 0}; // input, output, byte count: 0 for the host's own
    // The physical page behind each mapped window, where the memory callbacks find it.
    std::deque<std::pair<State*, uint32_t>> windows;

    void stop(const std::string& why) {
        if (fault.empty())
            fault = why;
        uc_emu_stop(uc);
    }
    uint32_t reg(int id) {
        uint32_t value = 0;
        uc_reg_read(uc, id, &value);
        return value;
    }
    void setReg(int id, uint32_t value) { uc_reg_write(uc, id, &value); }
    uint32_t dword(uint32_t address) {
        uint32_t value = 0;
        uc_mem_read(uc, address, &value, 4);
        return value;
    }

    // _MapPhysToLinear(PhysAddr, nBytes, flags): a window of whole pages over the range.
    void mapPhysToLinear() {
        uint32_t esp = reg(UC_X86_REG_ESP);
        Mapping m = {dword(esp), dword(esp + 4), dword(esp + 8), 0xFFFFFFFFu};
        uint32_t first = m.physical & ~(kPage - 1);
        uint64_t length = pageAlign(static_cast<uint64_t>(m.physical) + m.size) - first;
        if (!refuseMappings && m.flags == 0 && m.size != 0 && length <= 0x100000 &&
            static_cast<uint64_t>(nextLinear) + length <= 0xF0000000u) {
            windows.emplace_back(this, first);
            if (uc_mmio_map(uc, nextLinear, length, readPhysWindow, &windows.back(),
                            writePhysWindow, &windows.back()) != UC_ERR_OK)
                return stop("cannot map a window for " + hex(m.physical));
            m.linear = nextLinear + (m.physical - first);
            nextLinear += static_cast<uint32_t>(length);
        }
        mappings.push_back(m);
        setReg(UC_X86_REG_EAX, m.linear);
        setReg(UC_X86_REG_ECX, kJunk); // the service uses EAX, ECX, EDX and the flags
        setReg(UC_X86_REG_EDX, kJunk);
    }

    static uint64_t readPhysWindow(uc_engine*, uint64_t offset, unsigned size, void* user) {
        auto* window = static_cast<std::pair<State*, uint32_t>*>(user);
        uint64_t address = window->second + offset;
        uint32_t value = 0;
        if (size != 4 || (address & 3) != 0)
            window->first->stop("a " + std::to_string(size) + "-byte read of physical " +
                                hex(static_cast<uint32_t>(address)));
        else if (!window->first->bus.readPhys(window->first->bus.context, address, &value))
            window->first->stop("the bus refused a read of " + hex(static_cast<uint32_t>(address)));
        return value;
    }

    static void writePhysWindow(uc_engine*, uint64_t offset, unsigned size, uint64_t value,
                                void* user) {
        auto* window = static_cast<std::pair<State*, uint32_t>*>(user);
        uint64_t address = window->second + offset;
        if (size != 4 || (address & 3) != 0)
            window->first->stop("a " + std::to_string(size) + "-byte write of physical " +
                                hex(static_cast<uint32_t>(address)));
        else if (!window->first->bus.writePhys(window->first->bus.context, address,
                                               static_cast<uint32_t>(value)))
            window->first->stop("the bus refused a write of " +
                                hex(static_cast<uint32_t>(address)));
    }

    // int 20h: the dword after it names the service, as the VMM's dynamic linker reads it.
    static void onInterrupt(uc_engine*, uint32_t number, void* user) {
        State* s = static_cast<State*>(user);
        uint32_t eip = s->reg(UC_X86_REG_EIP); // past the int instruction
        if (number != 0x20)
            return s->stop("interrupt " + hex(number) + " before " + hex(eip));
        uint32_t call = s->dword(eip);
        s->setReg(UC_X86_REG_EIP, eip + 4);
        if (call == (kVmmDevice << 16 | kMapPhysToLinear))
            return s->mapPhysToLinear();
        s->stop("service " + hex(call & 0xFFFF) + " of device " + hex(call >> 16));
    }

    // Configuration mechanism #1: a dword address at 0CF8h selects the register that 0CFCh reads.
    static uint32_t onIn(uc_engine*, uint32_t port, int size, void* user) {
        State* s = static_cast<State*>(user);
        if (size == 4 && port == kConfigAddressPort)
            return s->configAddress;
        if (size != 4 || port != kConfigDataPort) {
            s->stop("a " + std::to_string(size) + "-byte read of port " + hex(port));
            return 0xFFFFFFFFu;
        }
        uint32_t a = s->configAddress, value = 0xFFFFFFFFu;
        uint32_t bus = (a >> 16) & 0xFF, device = (a >> 11) & 0x1F, function = (a >> 8) & 7;
        if ((a & 0x80000000u) &&
            !s->bus.readConfig(s->bus.context, bus, device | (function << 5), a & 0xFC, &value, 4))
            value = 0xFFFFFFFFu; // nothing answers: the bus reads all ones
        return value;
    }

    static void onOut(uc_engine*, uint32_t port, int size, uint32_t value, void* user) {
        State* s = static_cast<State*>(user);
        uint32_t a = s->configAddress;
        if (size == 4 && port == kConfigAddressPort) {
            if (!s->configMechanismAbsent)
                s->configAddress = value;
        } else if (size == 4 && port == kConfigDataPort && (a & 0x80000000u) && !(a & 3)) {
            uint32_t bus = (a >> 16) & 0xFF, device = (a >> 11) & 0x1F, function = (a >> 8) & 7;
            s->bus.writeConfig(s->bus.context, bus, device | (function << 5), a & 0xFC, value);
        } else {
            s->stop("a " + std::to_string(size) + "-byte write of port " + hex(port) + " at " +
                    hex(a));
        }
    }

    static bool onUnmapped(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t,
                           void* user) {
        State* s = static_cast<State*>(user);
        const char* what = type == UC_MEM_FETCH_UNMAPPED ? "fetch" : "access";
        s->stop(std::string("a ") + std::to_string(size) + "-byte " + what + " of unmapped " +
                hex(static_cast<uint32_t>(address)));
        return false;
    }

    // Runs the control procedure until it returns to kReturnAddress.
    Result call(uint32_t message, uint32_t esi, uint32_t ecx) {
        Result result;
        fault.clear();
        if (controlProc == 0) {
            fault = "no driver loaded";
            return result;
        }
        const uint32_t kept[][2] = {{UC_X86_REG_EBX, kSystemVm},
                                    {UC_X86_REG_ESI, esi},
                                    {UC_X86_REG_EDI, kJunk},
                                    {UC_X86_REG_EBP, kJunk}};
        for (const auto& k : kept)
            setReg(k[0], k[1]);
        uint32_t esp = kStackBase + kStackSize - 16 - 4;
        uc_mem_write(uc, esp, &kReturnAddress, 4);
        setReg(UC_X86_REG_ESP, esp);
        setReg(UC_X86_REG_EAX, message);
        setReg(UC_X86_REG_ECX, ecx);
        setReg(UC_X86_REG_EDX, kJunk);
        setReg(UC_X86_REG_EFLAGS, 0x202); // interrupts on, direction up
        uc_err error = uc_emu_start(uc, controlProc, kReturnAddress, 0, kInstructionLimit);
        if (fault.empty() && error != UC_ERR_OK)
            fault = std::string("emulation stopped: ") + uc_strerror(error);
        if (fault.empty() && reg(UC_X86_REG_EIP) != kReturnAddress)
            fault = "the control procedure did not return (at " + hex(reg(UC_X86_REG_EIP)) + ")";
        if (fault.empty() && reg(UC_X86_REG_ESP) != esp + 4)
            fault = "the control procedure returned with the stack moved";
        const char* names[] = {"EBX", "ESI", "EDI", "EBP"};
        for (int i = 0; i < 4 && fault.empty(); ++i)
            if (reg(kept[i][0]) != kept[i][1])
                fault = std::string("the control procedure changed ") + names[i];
        uint32_t flags = reg(UC_X86_REG_EFLAGS);
        if (fault.empty() && !(flags & 0x200))
            fault = "the control procedure returned with interrupts off";
        result.completed = fault.empty();
        result.carry = flags & 1;
        result.eax = reg(UC_X86_REG_EAX);
        return result;
    }
};

VxdHost::VxdHost(const TavrolBus& bus) : m(new State) {
    m->bus = bus;
    if (uc_open(UC_ARCH_X86, UC_MODE_32, &m->uc) != UC_ERR_OK) {
        m->uc = nullptr;
        return;
    }
    const uint8_t halt = 0xF4;
    uc_mem_map(m->uc, kStackBase, kStackSize, UC_PROT_READ | UC_PROT_WRITE);
    uc_mem_map(m->uc, kParams, kPage, UC_PROT_READ | UC_PROT_WRITE);
    uc_mem_map(m->uc, kInBuffer, kBufferSize, UC_PROT_READ | UC_PROT_WRITE);
    uc_mem_map(m->uc, kOutBuffer, kBufferSize, UC_PROT_READ | UC_PROT_WRITE);
    uc_mem_map(m->uc, kBytesReturned, kPage, UC_PROT_READ | UC_PROT_WRITE);
    uc_mem_map(m->uc, kReturnAddress, kPage, UC_PROT_ALL);
    uc_mem_write(m->uc, kReturnAddress, &halt, 1);
    uc_hook hook;
    uc_hook_add(m->uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(State::onInterrupt), m.get(), 1,
                0);
    uc_hook_add(m->uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(State::onIn), m.get(), 1, 0,
                UC_X86_INS_IN);
    uc_hook_add(m->uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(State::onOut), m.get(), 1, 0,
                UC_X86_INS_OUT);
    uc_hook_add(m->uc, &hook, UC_HOOK_MEM_UNMAPPED, reinterpret_cast<void*>(State::onUnmapped),
                m.get(), 1, 0);
}

VxdHost::~VxdHost() {
    if (m->uc)
        uc_close(m->uc);
}

bool VxdHost::load(const LeImage& image, uint32_t base, std::string* error) {
    if (!m->uc) {
        *error = "the CPU emulator does not start";
        return false;
    }
    if (m->controlProc != 0 || (base & (kPage - 1)) != 0) {
        *error = "a driver is loaded already, or the base is not page aligned";
        return false;
    }
    std::vector<uint32_t> bases;
    uint64_t next = base;
    for (const LeObject& object : image.objects) {
        uint32_t size = pageAlign(object.virtualSize == 0 ? 1 : object.virtualSize);
        if (next + size > kPhysWindow || next < 0x80000000u ||
            uc_mem_map(m->uc, next, size, UC_PROT_ALL) != UC_ERR_OK) {
            *error = "no room for object " + std::to_string(bases.size() + 1) + " at " +
                     hex(static_cast<uint32_t>(next));
            return false;
        }
        uc_mem_write(m->uc, next, object.data.data(), object.data.size());
        bases.push_back(static_cast<uint32_t>(next));
        next += size;
    }
    for (const LeFixup& fixup : image.fixups) {
        uint32_t target = bases[fixup.targetObject - 1] + fixup.targetOffset;
        uc_mem_write(m->uc, bases[fixup.sourceObject - 1] + fixup.sourceOffset, &target, 4);
    }
    const LeEntry* ddb = image.entry(1);
    if (!ddb || ddb->offset + kDdbSize > image.objects[ddb->object - 1].virtualSize) {
        *error = "no device descriptor block at entry ordinal 1";
        return false;
    }
    m->ddb = bases[ddb->object - 1] + ddb->offset;
    uint32_t control = m->dword(m->ddb + kDdbControlProc);
    bool inside = false;
    for (size_t i = 0; i < bases.size(); ++i)
        inside |= control >= bases[i] && control - bases[i] < image.objects[i].virtualSize;
    if (!inside) {
        *error = "the control procedure " + hex(control) + " lies outside the driver";
        return false;
    }
    m->controlProc = control;
    return true;
}

VxdHost::Result VxdHost::control(uint32_t message, uint32_t esi) {
    return m->call(message, esi, kJunk);
}

VxdHost::Result VxdHost::deviceIoControl(uint32_t code, const void* in, uint32_t inSize, void* out,
                                         uint32_t outSize, uint32_t* bytesReturned) {
    if (!m->uc || m->controlProc == 0) {
        m->fault = "no driver loaded";
        return Result();
    }
    // A buffer larger than the emulated one reaches the driver with its size; what the driver
    // touches past kBufferSize faults.
    if (in)
        uc_mem_write(m->uc, kInBuffer, in, std::min(inSize, kBufferSize));
    if (out)
        uc_mem_write(m->uc, kOutBuffer, out, std::min(outSize, kBufferSize));
    if (bytesReturned)
        uc_mem_write(m->uc, kBytesReturned, bytesReturned, 4);
    auto place = [this](int which, bool given, uint32_t own) {
        return m->placed[which] ? m->placed[which] : given ? own : 0;
    };
    const uint32_t params[12] = {0,
                                 kSystemVm,
                                 m->ddb,
                                 code,
                                 place(0, in != nullptr, kInBuffer),
                                 inSize,
                                 place(1, out != nullptr, kOutBuffer),
                                 outSize,
                                 place(2, bytesReturned != nullptr, kBytesReturned),
                                 0,
                                 0x00010000u,
                                 0};
    uc_mem_write(m->uc, kParams, params, sizeof params);
    Result result = m->call(kW32DeviceIoControl, kParams, code);
    if (out)
        uc_mem_read(m->uc, kOutBuffer, out, std::min(outSize, kBufferSize));
    if (bytesReturned)
        uc_mem_read(m->uc, kBytesReturned, bytesReturned, 4);
    return result;
}

const std::string& VxdHost::fault() const {
    return m->fault;
}

const std::vector<VxdHost::Mapping>& VxdHost::mappings() const {
    return m->mappings;
}

void VxdHost::refuseMappings(bool refuse) {
    m->refuseMappings = refuse;
}

uint32_t VxdHost::configAddress() const {
    return m->configAddress;
}

void VxdHost::withoutConfigMechanism(bool absent) {
    m->configMechanismAbsent = absent;
}

void VxdHost::placeBuffers(uint32_t in, uint32_t out, uint32_t bytesReturned) {
    m->placed[0] = in;
    m->placed[1] = out;
    m->placed[2] = bytesReturned;
}

uint32_t VxdHost::ddbAddress() const {
    return m->ddb;
}

std::string VxdHost::deviceName() const {
    char name[9] = {};
    if (m->ddb)
        uc_mem_read(m->uc, m->ddb + kDdbName, name, 8);
    std::string text = name;
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

} // namespace sim
