// The services TAVROL.sys imports from ntoskrnl.exe and HAL.dll, each answered as the DDK
// documents it, recording what the driver asked for. A service the table lacks makes the load fail.
#include "ntdriver/kernel_state.h"

#include <cstdio>

namespace ntdriver {
namespace {

typedef NtKernel::State K;

const uint32_t STATUS_INVALID_SID = 0xC0000078, STATUS_UNKNOWN_REVISION = 0xC0000058,
               STATUS_ALLOTTED_SPACE_EXCEEDED = 0xC0000099, STATUS_INVALID_HANDLE = 0xC0000008,
               STATUS_OBJECT_NAME_NOT_FOUND = 0xC0000034, STATUS_INVALID_ACL = 0xC0000077;
const uint32_t kAclHeader = 8, kAceHeader = 8, kSidHeader = 8;
const uint32_t SE_DACL_PRESENT = 0x4, SE_DACL_DEFAULTED = 0x8, SE_SELF_RELATIVE = 0x8000;

std::string hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

// A SID at `address` as text, "" when it is not a well-formed SID.
std::string sidText(K& k, uint64_t address, uint32_t* length) {
    const uint32_t revision = static_cast<uint32_t>(k.read(address, 1));
    const uint32_t count = static_cast<uint32_t>(k.read(address + 1, 1));
    *length = kSidHeader + 4 * count;
    if (revision != 1 || count > 15)
        return "";
    uint64_t authority = 0;
    for (int i = 0; i < 6; ++i)
        authority = authority << 8 | k.read(address + 2 + i, 1);
    std::string text = "S-1-" + std::to_string(authority);
    for (uint32_t i = 0; i < count; ++i)
        text += "-" + std::to_string(k.read(address + kSidHeader + 4 * i, 4));
    return text;
}

// The generic rights of a file object's access mask, mapped as the I/O manager's generic mapping
// does when the kernel stores a device's DACL.
uint32_t mapGenericRights(uint32_t mask) {
    const uint32_t genericRead = 0x80000000, genericWrite = 0x40000000, genericExecute = 0x20000000,
                   genericAll = 0x10000000;
    uint32_t rights = mask & 0x0FFFFFFF;
    if (mask & genericRead)
        rights |= 0x00120089; // FILE_GENERIC_READ
    if (mask & genericWrite)
        rights |= 0x00120116; // FILE_GENERIC_WRITE
    if (mask & genericExecute)
        rights |= 0x001200A0; // FILE_GENERIC_EXECUTE
    if (mask & genericAll)
        rights |= 0x001F01FF; // FILE_ALL_ACCESS
    return rights;
}

uint64_t ioCreateDevice(K& k) {
    const uint64_t driver = k.arg(0), name = k.arg(2), out = k.arg(6);
    const uint32_t extensionSize = static_cast<uint32_t>(k.arg(1));
    if (driver != k.driver || !out || extensionSize > 0x10000)
        return k.stop("IoCreateDevice with a bad driver object, size or output"),
               STATUS_UNSUCCESSFUL;
    DeviceRecord record;
    record.name = name ? k.readUnicodeString(name) : "";
    for (const DeviceRecord& d : k.devices)
        if (!d.deleted && !record.name.empty() && d.name == record.name)
            return STATUS_OBJECT_NAME_COLLISION;
    const Layout& l = *k.layout;
    record.object = k.allocate(l.devSize + extensionSize);
    record.type = static_cast<uint32_t>(k.arg(3));
    record.characteristics = static_cast<uint32_t>(k.arg(4));
    record.exclusive = (k.arg(5) & 0xFF) != 0;
    record.extensionSize = extensionSize;
    const uint64_t d = record.object;
    k.write(d, 3, 2); // IO_TYPE_DEVICE
    k.write(d + 2, l.devSize + extensionSize, 2);
    k.writePointer(d + l.devDriverObject, driver);
    k.writePointer(d + l.devNextDevice, k.readPointer(driver + l.drvDeviceObject));
    k.write(d + l.devFlags,
            DO_DEVICE_INITIALIZING | (record.exclusive ? uint32_t(DO_EXCLUSIVE) : 0u), 4);
    k.write(d + l.devCharacteristics, record.characteristics, 4);
    k.writePointer(d + l.devDeviceExtension, extensionSize ? d + l.devSize : 0);
    k.write(d + l.devDeviceType, record.type, 4);
    k.write(d + l.devStackSize, 1, 1);
    k.writePointer(driver + l.drvDeviceObject, d);
    k.writePointer(out, d);
    k.devices.push_back(record);
    return STATUS_SUCCESS;
}

uint64_t ioDeleteDevice(K& k) {
    DeviceRecord* record = k.device(k.arg(0));
    if (!record)
        return k.stop("IoDeleteDevice of " + hex(k.arg(0)) + ", which is no device"), 0;
    record->deleted = true;
    // Unlinks the device from its driver's list.
    const Layout& l = *k.layout;
    uint64_t link = k.driver + l.drvDeviceObject;
    while (k.readPointer(link) && k.readPointer(link) != record->object)
        link = k.readPointer(link) + l.devNextDevice;
    k.writePointer(link, k.readPointer(record->object + l.devNextDevice));
    return 0;
}

uint64_t ioCreateSymbolicLink(K& k) {
    const std::string link = k.readUnicodeString(k.arg(0));
    if (k.links.count(link))
        return STATUS_OBJECT_NAME_COLLISION;
    k.links[link] = k.readUnicodeString(k.arg(1));
    return STATUS_SUCCESS;
}

uint64_t ioDeleteSymbolicLink(K& k) {
    return k.links.erase(k.readUnicodeString(k.arg(0))) ? STATUS_SUCCESS
                                                        : STATUS_OBJECT_NAME_NOT_FOUND;
}

uint64_t iofCompleteRequest(K& k) {
    const uint64_t irp = k.arg(0, true);
    const Layout& l = *k.layout;
    k.completions.push_back({irp, static_cast<uint8_t>(k.arg(1, true)),
                             static_cast<uint32_t>(k.read(irp + l.irpStatus, 4)),
                             k.readPointer(irp + l.irpInformation)});
    return 0;
}

uint64_t physWindowRead(uc_engine*, uint64_t offset, unsigned size, void* user) {
    auto* window = static_cast<std::pair<K*, uint64_t>*>(user);
    const uint64_t address = window->second + offset;
    uint32_t value = 0;
    if (size != 4 || (address & 3))
        window->first->stop("a " + std::to_string(size) + "-byte read of physical " + hex(address));
    else
        window->first->hal.machine().readPhys(address, &value);
    return value;
}

void physWindowWrite(uc_engine*, uint64_t offset, unsigned size, uint64_t value, void* user) {
    auto* window = static_cast<std::pair<K*, uint64_t>*>(user);
    const uint64_t address = window->second + offset;
    if (size != 4 || (address & 3))
        window->first->stop("a " + std::to_string(size) + "-byte write of physical " +
                            hex(address));
    else
        window->first->hal.machine().writePhys(address, static_cast<uint32_t>(value));
}

// A fresh window of whole pages over the range each time, so that a use after the unmap faults.
uint64_t mmMapIoSpace(K& k) {
    Mapping m = {};
    m.physical = k.x64() ? k.arg(0) : (k.arg(0) | k.arg(1) << 32);
    m.size = k.arg(k.x64() ? 1 : 2);
    m.cacheType = static_cast<uint32_t>(k.arg(k.x64() ? 2 : 3));
    const uint64_t first = m.physical & ~0xFFFull;
    const uint64_t length = ((m.physical + m.size + 0xFFF) & ~0xFFFull) - first;
    if (!m.size || length > 0x100000)
        return k.stop("MmMapIoSpace of " + std::to_string(m.size) + " bytes"), 0;
    k.windows.emplace_back(new std::pair<K*, uint64_t>(&k, first));
    if (uc_mmio_map(k.uc, k.windowNext, length, physWindowRead, k.windows.back().get(),
                    physWindowWrite, k.windows.back().get()) != UC_ERR_OK)
        return k.stop("cannot map a window for " + hex(m.physical)), 0;
    m.address = k.windowNext + (m.physical - first);
    k.windowNext += length + 0x1000; // a guard page between windows
    k.mappings.push_back(m);
    return m.address;
}

uint64_t mmUnmapIoSpace(K& k) {
    const uint64_t address = k.arg(0), size = k.arg(1);
    for (Mapping& m : k.mappings)
        if (!m.unmapped && m.address == address && m.size == size) {
            m.unmapped = true;
            const uint64_t first = address & ~0xFFFull;
            uc_mem_unmap(k.uc, first, ((address + size + 0xFFF) & ~0xFFFull) - first);
            return 0;
        }
    return k.stop("MmUnmapIoSpace of " + hex(address) + " (" + std::to_string(size) +
                  " bytes), which no mapping matches"),
           0;
}

uint64_t obOpenObjectByPointer(K& k) {
    const uint64_t object = k.arg(0), out = k.arg(6);
    const uint32_t attributes = static_cast<uint32_t>(k.arg(1)),
                   access = static_cast<uint32_t>(k.arg(3));
    const uint32_t OBJ_KERNEL_HANDLE = 0x200, WRITE_DAC = 0x40000;
    if (!k.device(object) || !out || k.arg(2) || k.arg(4) || (k.arg(5) & 0xFF) != 0 ||
        attributes != OBJ_KERNEL_HANDLE || access != WRITE_DAC)
        return k.stop("ObOpenObjectByPointer other than a kernel handle of a device for WRITE_DAC"),
               STATUS_UNSUCCESSFUL;
    const uint64_t handle = k.x64() ? 0xFFFFFFFF00000000ull | k.nextHandle : k.nextHandle;
    k.nextHandle += 4;
    k.handles[handle] = object;
    k.writePointer(out, handle);
    return STATUS_SUCCESS;
}

uint64_t zwClose(K& k) {
    return k.handles.erase(k.arg(0)) ? STATUS_SUCCESS : STATUS_INVALID_HANDLE;
}

// Decodes the descriptor the driver sets: owner, group and SACL must stay unset, and the DACL's
// entries are recorded with the rights each grants.
uint64_t zwSetSecurityObject(K& k) {
    auto handle = k.handles.find(k.arg(0));
    if (handle == k.handles.end())
        return STATUS_INVALID_HANDLE;
    DeviceRecord& d = *k.device(handle->second);
    const Layout& l = *k.layout;
    const uint64_t sd = k.arg(2);
    d.securityInformation = static_cast<uint32_t>(k.arg(1));
    d.descriptorControl = static_cast<uint32_t>(k.read(sd + 2, 2));
    if (k.read(sd, 1) != 1 || (d.descriptorControl & SE_SELF_RELATIVE))
        return k.stop("a security descriptor that is not an absolute one of revision 1"),
               STATUS_UNKNOWN_REVISION;
    d.ownerOrGroupOrSacl = k.readPointer(sd + l.sdOwner) || k.readPointer(sd + l.sdGroup) ||
                           k.readPointer(sd + l.sdSacl);
    const uint64_t acl = k.readPointer(sd + l.sdDacl);
    d.dacl.clear();
    const uint32_t aceCount = acl ? static_cast<uint32_t>(k.read(acl + 4, 2)) : 0;
    uint64_t ace = acl + kAclHeader;
    for (uint32_t i = 0; i < aceCount; ++i) {
        Ace entry;
        entry.type = static_cast<uint8_t>(k.read(ace, 1));
        entry.flags = static_cast<uint8_t>(k.read(ace + 1, 1));
        entry.mask = static_cast<uint32_t>(k.read(ace + 4, 4));
        entry.rights = mapGenericRights(entry.mask);
        uint32_t sidLength;
        entry.sid = sidText(k, ace + kAceHeader, &sidLength);
        d.dacl.push_back(entry);
        ace += k.read(ace + 2, 2);
    }
    d.secured = true;
    d.securedEarly = (k.read(d.object + l.devFlags, 4) & DO_DEVICE_INITIALIZING) && k.links.empty();
    return STATUS_SUCCESS;
}

uint64_t rtlCreateAcl(K& k) {
    const uint64_t acl = k.arg(0);
    const uint32_t size = static_cast<uint32_t>(k.arg(1)),
                   revision = static_cast<uint32_t>(k.arg(2));
    if (size < kAclHeader || size > 0xFFFF || (size & 3))
        return STATUS_INVALID_PARAMETER;
    if (revision < 2 || revision > 4)
        return STATUS_INVALID_PARAMETER;
    k.write(acl, revision, 1);
    k.write(acl + 1, 0, 1);
    k.write(acl + 2, size, 2);
    k.write(acl + 4, 0, 2);
    k.write(acl + 6, 0, 2);
    return STATUS_SUCCESS;
}

uint64_t rtlLengthSid(K& k) {
    uint32_t length;
    sidText(k, k.arg(0), &length);
    return length;
}

uint64_t rtlAddAccessAllowedAce(K& k) {
    const uint64_t acl = k.arg(0), sid = k.arg(3);
    uint32_t sidLength;
    if (sidText(k, sid, &sidLength).empty())
        return STATUS_INVALID_SID;
    if (k.read(acl, 1) < 2 || k.read(acl, 1) > 4)
        return STATUS_INVALID_ACL;
    const uint32_t size = static_cast<uint32_t>(k.read(acl + 2, 2)),
                   count = static_cast<uint32_t>(k.read(acl + 4, 2));
    uint64_t end = acl + kAclHeader;
    for (uint32_t i = 0; i < count; ++i)
        end += k.read(end + 2, 2);
    const uint32_t aceSize = kAceHeader + sidLength;
    if (end + aceSize > acl + size)
        return STATUS_ALLOTTED_SPACE_EXCEEDED;
    k.write(end, 0, 1); // ACCESS_ALLOWED_ACE_TYPE
    k.write(end + 1, 0, 1);
    k.write(end + 2, aceSize, 2);
    k.write(end + 4, k.arg(2), 4);
    k.writeBytes(end + kAceHeader, k.readBytes(sid, sidLength));
    k.write(acl + 4, count + 1, 2);
    return STATUS_SUCCESS;
}

uint64_t rtlCreateSecurityDescriptor(K& k) {
    if (k.arg(1) != 1)
        return STATUS_UNKNOWN_REVISION;
    const uint64_t sd = k.arg(0);
    k.writeBytes(sd, std::vector<uint8_t>(k.layout->sdDacl + k.layout->pointer, 0));
    k.write(sd, 1, 1);
    return STATUS_SUCCESS;
}

uint64_t rtlSetDaclSecurityDescriptor(K& k) {
    const uint64_t sd = k.arg(0);
    const bool present = (k.arg(1) & 0xFF) != 0, defaulted = (k.arg(3) & 0xFF) != 0;
    uint32_t control =
        static_cast<uint32_t>(k.read(sd + 2, 2)) & ~(SE_DACL_PRESENT | SE_DACL_DEFAULTED);
    control |= present ? SE_DACL_PRESENT | (defaulted ? SE_DACL_DEFAULTED : 0) : 0;
    k.write(sd + 2, control, 2);
    k.writePointer(sd + k.layout->sdDacl, present ? k.arg(2) : 0);
    return STATUS_SUCCESS;
}

uint64_t rtlInitUnicodeString(K& k) {
    const uint64_t string = k.arg(0), source = k.arg(1);
    uint32_t length = 0;
    while (source && k.read(source + length, 2) && length < 0xFFFC)
        length += 2;
    k.write(string, length, 2);
    k.write(string + 2, source ? length + 2 : 0, 2);
    k.writePointer(string + k.layout->usBuffer, source);
    return 0;
}

uint64_t halGetBusDataByOffset(K& k) {
    const uint32_t length = static_cast<uint32_t>(k.arg(5));
    std::vector<uint8_t> buffer = k.readBytes(k.arg(3), length);
    const uint32_t read = k.hal.getBusData(
        static_cast<uint32_t>(k.arg(0)), static_cast<uint32_t>(k.arg(1)),
        static_cast<uint32_t>(k.arg(2)), buffer.data(), static_cast<uint32_t>(k.arg(4)), length);
    k.writeBytes(k.arg(3), buffer);
    if (!k.hal.fault().empty())
        k.stop("HalGetBusDataByOffset: " + k.hal.fault());
    return read;
}

uint64_t halSetBusDataByOffset(K& k) {
    const uint32_t length = static_cast<uint32_t>(k.arg(5));
    const std::vector<uint8_t> buffer = k.readBytes(k.arg(3), length);
    const uint32_t written = k.hal.setBusData(
        static_cast<uint32_t>(k.arg(0)), static_cast<uint32_t>(k.arg(1)),
        static_cast<uint32_t>(k.arg(2)), buffer.data(), static_cast<uint32_t>(k.arg(4)), length);
    if (!k.hal.fault().empty())
        k.stop("HalSetBusDataByOffset: " + k.hal.fault());
    return written;
}

uint64_t defaultDispatch(K& k) {
    return k.stop("the I/O manager's default dispatch routine was called"), 0;
}

} // namespace

const std::vector<Service>& services() {
    static const std::vector<Service> table = {
        {"ntoskrnl.exe", "IoCreateDevice", 7, false, ioCreateDevice},
        {"ntoskrnl.exe", "IoCreateSymbolicLink", 2, false, ioCreateSymbolicLink},
        {"ntoskrnl.exe", "IoDeleteDevice", 1, false, ioDeleteDevice},
        {"ntoskrnl.exe", "IoDeleteSymbolicLink", 1, false, ioDeleteSymbolicLink},
        {"ntoskrnl.exe", "IofCompleteRequest", 0, true, iofCompleteRequest},
        {"ntoskrnl.exe", "MmMapIoSpace", 4, false, mmMapIoSpace},
        {"ntoskrnl.exe", "MmUnmapIoSpace", 2, false, mmUnmapIoSpace},
        {"ntoskrnl.exe", "ObOpenObjectByPointer", 7, false, obOpenObjectByPointer},
        {"ntoskrnl.exe", "RtlAddAccessAllowedAce", 4, false, rtlAddAccessAllowedAce},
        {"ntoskrnl.exe", "RtlCreateAcl", 3, false, rtlCreateAcl},
        {"ntoskrnl.exe", "RtlCreateSecurityDescriptor", 2, false, rtlCreateSecurityDescriptor},
        {"ntoskrnl.exe", "RtlInitUnicodeString", 2, false, rtlInitUnicodeString},
        {"ntoskrnl.exe", "RtlLengthSid", 1, false, rtlLengthSid},
        {"ntoskrnl.exe", "RtlSetDaclSecurityDescriptor", 4, false, rtlSetDaclSecurityDescriptor},
        {"ntoskrnl.exe", "ZwClose", 1, false, zwClose},
        {"ntoskrnl.exe", "ZwSetSecurityObject", 3, false, zwSetSecurityObject},
        {"HAL.dll", "HalGetBusDataByOffset", 6, false, halGetBusDataByOffset},
        {"HAL.dll", "HalSetBusDataByOffset", 6, false, halSetBusDataByOffset},
        {"", "IopInvalidDeviceRequest", 2, false, defaultDispatch},
    };
    return table;
}

size_t defaultDispatchService() {
    return services().size() - 1;
}

} // namespace ntdriver
