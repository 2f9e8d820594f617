// kernel32 of the simulated PC: CreateFileA, DeviceIoControl and CloseHandle for the devices of
// the kernel driver ("\\.\Tavrol") and the Windows 9x virtual device driver ("\\.\TAVROL.VXD");
// CreateFileA hands files on the C: drive to files.cpp.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "kernel32_internal.h"
#include "sim/machine.h"
#include "sim/process.h"
#include "sim/vxd_device.h"

namespace {

const char* const kDriverDevice = "\\\\.\\Tavrol";
const char* const kVxdDevice = "\\\\.\\TAVROL.VXD";

bool sameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

class DeviceObject : public sim::KernelObject {
  public:
    // A VxD's handle holds the loaded driver.
    DeviceObject(const std::string& device, DWORD access, std::unique_ptr<sim::VxdDevice> vxd)
        : m_device(device), m_access(access), m_vxd(std::move(vxd)) {
        sim::machine().noteDeviceOpen(m_device, 1);
    }
    ~DeviceObject() override {
        m_vxd.reset();
        sim::machine().noteDeviceOpen(m_device, -1);
        sim::TraceEntry entry;
        entry.kind = sim::TraceKind::DeviceClose;
        entry.name = m_device;
        sim::machine().record(entry);
    }
    const char* kind() const override { return "device"; }
    const std::string& device() const { return m_device; }
    sim::VxdDevice* vxd() const { return m_vxd.get(); }
    // Whether the handle was opened with the access a control code asks for (bits 15..14 of
    // the code: 1 read, 2 write), as the I/O manager checks before the driver sees the request.
    bool grants(DWORD code) const {
        const DWORD required = (code >> 14) & 3;
        return (!(required & 1) || (m_access & GENERIC_READ)) &&
               (!(required & 2) || (m_access & GENERIC_WRITE));
    }

  private:
    std::string m_device;
    DWORD m_access;
    std::unique_ptr<sim::VxdDevice> m_vxd;
};

HANDLE failOpen(sim::TraceEntry& entry, DWORD error) {
    entry.ok = false;
    entry.error = error;
    sim::machine().record(entry);
    sim::process().setLastError(error);
    return INVALID_HANDLE_VALUE;
}

// The device exists only while the service runs our driver: a foreign file that the service
// loaded runs in its place and serves nothing of ours.
bool kernelDriverLoaded() {
    sim::ServiceManager::Sync sync(sim::machine().services());
    const sim::Service* service = sim::machine().services().find("TAVROL");
    return service && service->state == SERVICE_RUNNING && service->loadedTavrolDriver;
}

// "\\.\Tavrol\NAME": a name below the driver's device, the part after it, with its backslash.
bool belowDriverDevice(const std::string& name, std::string* rest) {
    size_t length = std::strlen(kDriverDevice);
    if (name.size() <= length || name[length] != '\\' ||
        !sameText(name.substr(0, length), kDriverDevice))
        return false;
    *rest = name.substr(length);
    return true;
}

// Windows 9x loads a dynamic VxD from the current directory or the program's directory; "" when
// neither holds the file.
std::string vxdFile() {
    std::string program = sim::process().modulePath();
    program = program.substr(0, program.find_last_of('\\'));
    for (const std::string& folder : {sim::process().currentDirectory(), program})
        if (sim::drive().fileExists(folder + "\\TAVROL.VXD"))
            return folder + "\\TAVROL.VXD";
    return "";
}

// An optional count argument; `fallback` when the directive has none.
uint32_t countArgument(const sim::Directive& d, size_t index, uint32_t fallback) {
    uint32_t value = fallback;
    if (d.args.size() > index)
        sim::parseDirectiveNumber(d.args[index], &value);
    return value;
}

// `#! open-fail DEVICE ERROR [OPENS [FAILURES]]`: opening that device fails with that error,
// after the given number of opens that succeed (none by default), that many times (always by
// default).
bool openFailure(const std::string& name, const std::string& device, DWORD* error) {
    for (const sim::Directive* d : sim::machine().profile().findAll("open-fail")) {
        uint32_t value;
        if (!sameText(d->args[0], name) || !sim::parseDirectiveNumber(d->args[1], &value))
            continue;
        if (sim::machine().deviceOpenTotal(device) < static_cast<int>(countArgument(*d, 2, 0)))
            continue;
        if (sim::machine().directiveMatches(d) >= countArgument(*d, 3, UINT32_MAX))
            continue;
        sim::machine().noteDirectiveMatch(d);
        *error = value;
        return true;
    }
    return false;
}

// Whether a request names the function "BB:DD.F": the kernel driver's configuration requests by
// bus and slot word, the VxD's by PCI address, physical-memory requests by bus alone.
bool namesFunction(DWORD code, const void* in, DWORD inSize, const std::string& function) {
    int bus, device, fn;
    if (!sim::parsePciAddress(function, &bus, &device, &fn) || inSize < 8 || in == nullptr)
        return false;
    uint32_t words[2];
    std::memcpy(words, in, sizeof words);
    if (code == VXD_PCI_READ_CONFIG_SPACE || code == VXD_PCI_READ_CONFIG_DWORD ||
        code == VXD_PCI_WRITE_CONFIG_DWORD)
        return words[0] == static_cast<uint32_t>(bus << 8 | device << 3 | fn);
    bool phys = code == IOCTL_PHYS_READ_DWORD || code == IOCTL_PHYS_WRITE_DWORD ||
                code == VXD_PHYS_READ_DWORD || code == VXD_PHYS_WRITE_DWORD;
    return words[0] == static_cast<uint32_t>(bus) &&
           (phys || words[1] == static_cast<uint32_t>(device | (fn << 5)));
}

// `#! request-fail CODE [ERROR [BB:DD.F|any [SERVED [FAILURES]]]]`: requests with that code
// fail (ERROR_GEN_FAILURE unless another error is given), only those naming that function when
// one is given; with SERVED, the first that many of them are served and the failures (all by
// default) follow.
bool requestFailure(DWORD code, const void* in, DWORD inSize, DWORD* error) {
    for (const sim::Directive* d : sim::machine().profile().findAll("request-fail")) {
        uint32_t failing, value = ERROR_GEN_FAILURE;
        if (!sim::parseDirectiveNumber(d->args[0], &failing) || failing != code)
            continue;
        if (d->args.size() > 1)
            sim::parseDirectiveNumber(d->args[1], &value);
        if (d->args.size() > 2 && d->args[2] != "any" &&
            !namesFunction(code, in, inSize, d->args[2]))
            continue;
        uint32_t index = sim::machine().directiveMatches(d);
        sim::machine().noteDirectiveMatch(d);
        uint32_t served = countArgument(*d, 3, 0);
        if (index < served || index - served >= countArgument(*d, 4, UINT32_MAX))
            continue;
        *error = value;
        return true;
    }
    return false;
}

DWORD errorOfStatus(int status) {
    switch (status) {
    case TAVROL_STATUS_INVALID_REQUEST:
        return ERROR_INVALID_FUNCTION; // STATUS_INVALID_DEVICE_REQUEST
    case TAVROL_STATUS_BAD_LENGTH:
        return ERROR_INVALID_PARAMETER; // STATUS_INVALID_PARAMETER
    case TAVROL_STATUS_ACCESS_DENIED:
        return ERROR_ACCESS_DENIED; // STATUS_ACCESS_DENIED
    default:
        return ERROR_GEN_FAILURE; // STATUS_UNSUCCESSFUL
    }
}

// METHOD_BUFFERED: the I/O manager copies the input into one system buffer that the driver reads
// and overwrites, then copies the bytes the driver reports back to the caller's output.
DWORD kernelDriverRequest(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                          DWORD* returned) {
    std::vector<uint8_t> system(std::max(inSize, outSize) + 1);
    if (inSize)
        std::memcpy(system.data(), in, inSize);
    TavrolBus bus = sim::machine().driverBus();
    uint32_t written = 0;
    int status =
        tavrolHandleRequest(&bus, code, system.data(), inSize, system.data(), outSize, &written);
    if (status != TAVROL_STATUS_OK)
        return errorOfStatus(status);
    std::memcpy(out, system.data(), written);
    *returned = written;
    return ERROR_SUCCESS;
}

} // namespace

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE templateFile) {
    sim::TraceEntry entry;
    entry.kind = sim::TraceKind::DeviceOpen;
    // How the device was asked for, so that tests can hold the program to the way each driver
    // must be opened.
    char how[160];
    std::snprintf(how, sizeof how,
                  "access=0x%08X share=0x%X security=%s disposition=%u flags=0x%08X template=%s",
                  desiredAccess, shareMode, securityAttributes ? "set" : "null",
                  creationDisposition, flagsAndAttributes, templateFile ? "set" : "null");
    entry.detail = how;
    entry.name = fileName ? fileName : "";
    if (fileName == nullptr)
        return failOpen(entry, ERROR_PATH_NOT_FOUND);
    std::string name = fileName;
    DWORD injected;
    bool isDriver = sameText(name, kDriverDevice);
    bool isVxd = sameText(name, kVxdDevice);
    if (isDriver)
        entry.name = kDriverDevice;
    if (isVxd)
        entry.name = kVxdDevice;
    if (openFailure(name, entry.name, &injected))
        return failOpen(entry, injected);
    sim::Machine& machine = sim::machine();
    std::unique_ptr<sim::VxdDevice> vxd;
    std::string below;
    if (belowDriverDevice(name, &below)) {
        // The I/O manager hands the open to the driver with the rest as the file name (UTF-16),
        // and the driver's create rule decides.
        if (!machine.isNt() || !kernelDriverLoaded())
            return failOpen(entry, ERROR_PATH_NOT_FOUND);
        if (!tavrolCreateAllowed(static_cast<uint32_t>(2 * below.size()), 0))
            return failOpen(entry, ERROR_ACCESS_DENIED);
    }
    if (isDriver) {
        if (!machine.isNt() || !kernelDriverLoaded())
            return failOpen(entry, ERROR_FILE_NOT_FOUND);
        // The driver's device is exclusive: one open at a time.
        if (machine.openDeviceCount(kDriverDevice) > 0)
            return failOpen(entry, ERROR_SHARING_VIOLATION);
    } else if (isVxd) {
        std::string file = machine.isNt() ? "" : vxdFile();
        if (file.empty())
            return failOpen(entry, ERROR_FILE_NOT_FOUND);
        std::string why;
        DWORD error = sim::VxdDevice::open(file, &vxd, &why);
        if (error != ERROR_SUCCESS) {
            entry.detail += " (" + why + ")";
            return failOpen(entry, error);
        }
    } else if (name.compare(0, 4, "\\\\.\\") == 0) {
        // Other devices are not part of the simulated PC.
        return failOpen(entry, ERROR_FILE_NOT_FOUND);
    } else {
        DWORD error;
        HANDLE file = sim::openDiskFile(name, desiredAccess, creationDisposition, &error);
        sim::process().setLastError(error);
        return file;
    }
    machine.record(entry);
    return sim::process().addHandle(std::unique_ptr<sim::KernelObject>(
        new DeviceObject(isDriver ? kDriverDevice : kVxdDevice, desiredAccess, std::move(vxd))));
}

BOOL WINAPI DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
                            LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned,
                            LPOVERLAPPED overlapped) {
    sim::KernelObject* object = sim::process().object(device);
    if (object == nullptr || std::strcmp(object->kind(), "device") != 0) {
        sim::process().setLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DeviceObject* target = static_cast<DeviceObject*>(object);
    sim::TraceEntry entry;
    entry.kind = sim::TraceKind::DeviceRequest;
    entry.name = target->device();
    entry.code = ioControlCode;
    if (inBuffer && inBufferSize)
        entry.input.assign(static_cast<uint8_t*>(inBuffer),
                           static_cast<uint8_t*>(inBuffer) + inBufferSize);

    DWORD returned = 0;
    DWORD error;
    if ((inBufferSize && !inBuffer) || (outBufferSize && !outBuffer) ||
        (!bytesReturned && !overlapped))
        error = ERROR_NOACCESS;
    else if (!target->vxd() && !target->grants(ioControlCode))
        error = ERROR_ACCESS_DENIED;
    else if (requestFailure(ioControlCode, inBuffer, inBufferSize, &error))
        ;
    else if (target->vxd()) {
        error = target->vxd()->request(ioControlCode, inBuffer, inBufferSize, outBuffer,
                                       outBufferSize, &returned);
        if (!target->vxd()->fault().empty())
            entry.detail = "VxD fault: " + target->vxd()->fault();
    } else
        error = kernelDriverRequest(ioControlCode, inBuffer, inBufferSize, outBuffer, outBufferSize,
                                    &returned);
    if (bytesReturned)
        *bytesReturned = returned;
    entry.ok = error == ERROR_SUCCESS;
    entry.error = error;
    sim::machine().record(entry);
    if (error != ERROR_SUCCESS) {
        sim::process().setLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE object) {
    // The pseudo handle of the current process closes without effect.
    if (object == GetCurrentProcess())
        return TRUE;
    std::unique_ptr<sim::KernelObject> taken = sim::process().takeHandle(object);
    if (!taken) {
        sim::process().setLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
